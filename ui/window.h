// The small window layer under the settings dialog: message maps written as tables, a base
// for modal dialogs and a base for controls that are taken over (subclassed) or created.
#pragma once

#include <windows.h>

#include <cstddef>

// One row of a message map: the message, a condition on its parameters (null: always) and
// the handler. The first row whose message and condition match handles the message.
template <class T> struct MessageEntry {
    UINT message;
    bool (*matches)(WPARAM wParam, LPARAM lParam);
    LRESULT (T::*handler)(WPARAM wParam, LPARAM lParam);
};

// Conditions for message map rows.
template <int Id> bool FromControl(WPARAM wParam, LPARAM)
{
    return LOWORD(wParam) == Id;
}

template <int Id, int Code> bool ControlNotification(WPARAM wParam, LPARAM)
{
    return LOWORD(wParam) == Id && HIWORD(wParam) == Code;
}

template <int Code> bool Notification(WPARAM wParam, LPARAM)
{
    return HIWORD(wParam) == Code;
}

// A key code of WM_KEYDOWN or WM_CHAR, a timer id of WM_TIMER.
template <WPARAM Value> bool WParamIs(WPARAM wParam, LPARAM)
{
    return wParam == Value;
}

// Runs the first matching row of the map from `first` to `last` on `target`; false when no
// row matches.
template <class T>
bool DispatchMessageMap(T* target, const MessageEntry<T>* first, const MessageEntry<T>* last, UINT message,
                        WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    for (const MessageEntry<T>* entry = first; entry != last; ++entry) {
        if (entry->message == message && (!entry->matches || entry->matches(wParam, lParam))) {
            result = (target->*entry->handler)(wParam, lParam);
            return true;
        }
    }
    return false;
}

template <class T, size_t N>
bool DispatchMessageMap(T* target, const MessageEntry<T> (&map)[N], UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT& result)
{
    return DispatchMessageMap(target, map, map + N, message, wParam, lParam, result);
}

// A modal dialog from a dialog template. The object is bound to its window at WM_INITDIALOG;
// messages that ProcessMessage leaves alone get the platform's default dialog handling.
class DialogBase {
public:
    DialogBase() = default;
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;
    virtual ~DialogBase() = default;

    // Runs the dialog; returns the value given to EndDialog, or -1 when it cannot be created.
    INT_PTR RunModal(HINSTANCE resources, int templateId, HWND parent);
    HWND hwnd() const { return hwnd_; }

protected:
    // Answers a message in `result` and returns true, or returns false for the default handling.
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    void EndDialog(INT_PTR result);
    // Centres the dialog over its owner when the owner is visible and not minimised, otherwise
    // over the work area of the nearest monitor, and keeps it inside that work area.
    void CenterWindow();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};

// A window whose messages reach an object: either an existing window taken over by replacing
// its window procedure, or a window created from a class of this layer. Messages that
// ProcessMessage leaves alone go to the previous procedure (taken over) or to the procedure of
// the class that the window class extends (created).
class WindowBase {
public:
    WindowBase() = default;
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;
    // A window that outlives its object gets its previous procedure back.
    virtual ~WindowBase();

    HWND hwnd() const { return hwnd_; }
    bool Subclass(HWND window);

protected:
    // Creates a window of `className`, registered on first use as a class of this layer that
    // extends `baseClass` (null: a class of its own over DefWindowProcA).
    HWND CreateWindowOfClass(const char* className, const char* baseClass, HWND parent, const RECT& rect,
                             const char* text, DWORD style, DWORD exStyle, UINT id);
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Attach(HWND window);
    void Detach();
    HWND hwnd_ = nullptr;
    WNDPROC defaultProc_ = nullptr;
};

// A window that another object handles through a message map of its own, for a child window
// (such as an in-place editor) whose messages belong to the control that owns it.
template <class Owner> class ContainedWindow : public WindowBase {
public:
    template <size_t N>
    ContainedWindow(Owner* owner, const MessageEntry<Owner> (&map)[N]) : owner_(owner), first_(map), last_(map + N)
    {
    }

    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return WindowBase::DefaultProc(message, wParam, lParam);
    }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        return DispatchMessageMap(owner_, first_, last_, message, wParam, lParam, result);
    }

private:
    Owner* owner_;
    const MessageEntry<Owner>* first_;
    const MessageEntry<Owner>* last_;
};
