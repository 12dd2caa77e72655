// Drives windows the way a person does: real pointer moves, clicks and key presses through
// SendInput (posted mouse messages would not move the pointer that mouse tracking looks at,
// and focus cannot be set across threads), and waits that give up after a timeout.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Polls `condition` until it holds or `timeoutMs` has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 3000);

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

void Click(HWND window, POINT client);
void PressKey(WORD key);
void TypeText(const std::string& text);

POINT CenterOf(HWND window);

std::string WindowText(HWND window);
std::vector<std::string> ListRows(HWND list);

// A thread with a message loop and one top-level window, which stands for the host's main
// window when a dialog needs an owner.
class UiThread {
public:
    UiThread();
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    HWND host() const { return host_; }

private:
    static LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run();

    std::thread thread_;
    std::atomic<HWND> host_{nullptr};
    std::atomic<bool> started_{false};
};
