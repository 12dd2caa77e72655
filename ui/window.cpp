#include "ui/window.h"

namespace {

// The window property that leads from a window to its object.
const char kObjectProperty[] = "Ravelpak.WindowObject";

// The object whose window CreateWindowOfClass is creating on this thread: it is bound to the
// window on the first message, before CreateWindowExA returns.
thread_local WindowBase* creatingWindow = nullptr;

// The module that holds this code: window classes are registered in its name.
HINSTANCE CodeModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&CodeModule), &module);
    return module;
}

// Registers `className` with `proc`, copying the class `baseClass` when one is given; gives
// the procedure that default handling goes to in `baseProc`. A class of the same name left
// behind by an earlier load of this module at another address is replaced: a DLL's classes
// outlive the DLL.
bool RegisterLayerClass(const char* className, const char* baseClass, WNDPROC proc, WNDPROC& baseProc)
{
    HINSTANCE module = CodeModule();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    baseProc = DefWindowProcA;
    if (baseClass) {
        if (!GetClassInfoExA(nullptr, baseClass, &windowClass))
            return false;
        baseProc = windowClass.lpfnWndProc;
    } else {
        windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    }
    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(module, className, &existing)) {
        if (existing.lpfnWndProc == proc)
            return true;
        UnregisterClassA(className, module);
    }
    windowClass.style &= ~CS_GLOBALCLASS;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = className;
    return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

INT_PTR DialogBase::RunModal(HINSTANCE resources, int templateId, HWND parent)
{
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(templateId), parent, DialogProc, reinterpret_cast<LPARAM>(this));
}

void DialogBase::EndDialog(INT_PTR result)
{
    ::EndDialog(hwnd_, result);
}

void DialogBase::CenterWindow()
{
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    const bool overOwner = owner && IsWindowVisible(owner) && !IsIconic(owner);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(overOwner ? owner : hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT area = monitor.rcWork;
    RECT center = area;
    if (overOwner)
        GetWindowRect(owner, &center);

    RECT dialog;
    GetWindowRect(hwnd_, &dialog);
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    int left = (center.left + center.right - width) / 2;
    int top = (center.top + center.bottom - height) / 2;
    if (left + width > area.right)
        left = area.right - width;
    if (left < area.left)
        left = area.left;
    if (top + height > area.bottom)
        top = area.bottom - height;
    if (top < area.top)
        top = area.top;
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        reinterpret_cast<DialogBase*>(lParam)->hwnd_ = dialog;
    }
    auto* self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    LRESULT result = 0;
    const bool handled = self->ProcessMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY)
        self->hwnd_ = nullptr;
    if (!handled)
        return FALSE;
    // These messages are answered through the procedure's result; every other one through
    // DWLP_MSGRESULT.
    switch (message) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_VKEYTOITEM:
    case WM_COMPAREITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

WindowBase::~WindowBase()
{
    if (hwnd_)
        Detach();
}

bool WindowBase::Subclass(HWND window)
{
    if (hwnd_ || !IsWindow(window))
        return false;
    Attach(window);
    defaultProc_ =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    if (!defaultProc_) {
        RemovePropA(window, kObjectProperty);
        hwnd_ = nullptr;
        return false;
    }
    return true;
}

HWND WindowBase::CreateWindowOfClass(const char* className, const char* baseClass, HWND parent, const RECT& rect,
                                     const char* text, DWORD style, DWORD exStyle, UINT id)
{
    WNDPROC baseProc = nullptr;
    if (hwnd_ || !RegisterLayerClass(className, baseClass, WindowProc, baseProc))
        return nullptr;
    defaultProc_ = baseProc;
    creatingWindow = this;
    HWND window = CreateWindowExA(exStyle, className, text, style, rect.left, rect.top, rect.right - rect.left,
                                  rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                  CodeModule(), nullptr);
    creatingWindow = nullptr;
    return window;
}

LRESULT WindowBase::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(defaultProc_, hwnd_, message, wParam, lParam);
}

void WindowBase::Attach(HWND window)
{
    hwnd_ = window;
    SetPropA(window, kObjectProperty, this);
}

void WindowBase::Detach()
{
    RemovePropA(hwnd_, kObjectProperty);
    if (GetWindowLongPtrA(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(WindowProc))
        SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defaultProc_));
    hwnd_ = nullptr;
}

LRESULT CALLBACK WindowBase::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<WindowBase*>(GetPropA(window, kObjectProperty));
    if (!self && creatingWindow) {
        self = creatingWindow;
        creatingWindow = nullptr;
        self->Attach(window);
    }
    if (!self)
        return DefWindowProcA(window, message, wParam, lParam);
    LRESULT result = 0;
    if (message == WM_NCDESTROY) {
        result = self->DefaultProc(message, wParam, lParam);
        self->Detach();
        return result;
    }
    if (!self->ProcessMessage(message, wParam, lParam, result))
        result = self->DefaultProc(message, wParam, lParam);
    return result;
}
