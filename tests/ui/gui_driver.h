// Drives windows the way a person does: real pointer moves, clicks and key presses through
// SendInput (posted mouse messages would not move the pointer that mouse tracking looks at,
// and focus cannot be set across threads), and waits that give up after a timeout.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Polls `condition` until it holds or `timeoutMs` has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 3000);

// Lets the windows of other threads handle what is queued for them.
void Settle();

// Whether `get` gives `expected` before the wait's timeout; the failure shows the last value.
// Input is handled when the UI thread gets to it, so checks after input wait for their state.
template <typename Get, typename T>::testing::AssertionResult Eventually(Get get, const T& expected)
{
    decltype(get()) last{};
    if (WaitUntil([&] {
            last = get();
            return last == expected;
        }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "last value " << ::testing::PrintToString(last);
}

#define EXPECT_EVENTUALLY_EQ(expression, expected) EXPECT_TRUE(Eventually([&] { return expression; }, expected))

void MovePointer(HWND window, POINT client);
void PressLeft();
void ReleaseLeft();
void Click(HWND window, POINT client);
void DoubleClick(HWND window, POINT client);
void KeyDown(WORD key);
void KeyUp(WORD key);
void PressKey(WORD key);
void TypeText(const std::string& text);

POINT CenterOf(HWND window);
// The middle of row `row` of a list box, in its client coordinates.
POINT RowPoint(HWND list, int row);

std::string WindowText(HWND window);
std::wstring WindowTextW(HWND window);
std::vector<std::string> ListRows(HWND list);

// A thread with a message loop and one top-level window, which hosts the controls under
// test and records what they send to their parent: "command ID CODE" for WM_COMMAND and
// "notify CODE ROW" for WM_NOTIFY from the edit list box.
class UiThread {
public:
    UiThread();
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    HWND host() const { return host_; }
    // Runs `work` on the UI thread and waits for it.
    void Call(const std::function<void()>& work);
    // What the controls sent since the last ClearEvents.
    std::vector<std::string> Events();
    void ClearEvents();
    // The answer that the host gives to WM_NOTIFY with `code` (0 unless set).
    void Answer(int code, LRESULT answer);

private:
    static LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run();

    std::thread thread_;
    std::atomic<HWND> host_{nullptr};
    std::atomic<bool> started_{false};
    std::mutex lock_;
    std::vector<std::string> events_;
    std::map<int, LRESULT> answers_;
};
