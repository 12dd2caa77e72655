#include "tests/ui/gui_driver.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

void SendMouse(DWORD flags, LONG x = 0, LONG y = 0)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = x;
    input.mi.dy = y;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void SendKey(WORD key, WCHAR unicode, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = unicode;
    input.ki.dwFlags = (unicode ? KEYEVENTF_UNICODE : 0) | (up ? KEYEVENTF_KEYUP : 0);
    SendInput(1, &input, sizeof input);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return condition();
        Sleep(10);
    }
    return true;
}

// Moves the pointer onto a point of the window's client area and waits until it is there.
static void MovePointer(HWND window, POINT client)
{
    ClientToScreen(window, &client);
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (client.x * 65535 + width / 2) / (width - 1),
              (client.y * 65535 + height / 2) / (height - 1));
    WaitUntil([&] {
        POINT cursor;
        GetCursorPos(&cursor);
        return cursor.x == client.x && cursor.y == client.y;
    });
    Sleep(50);  // lets the windows of other threads handle what is queued for them
}

void Click(HWND window, POINT client)
{
    MovePointer(window, client);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(50);
    SendMouse(MOUSEEVENTF_LEFTUP);
    Sleep(50);
}

void PressKey(WORD key)
{
    SendKey(key, 0, false);
    SendKey(key, 0, true);
    Sleep(50);
}

void TypeText(const std::string& text)
{
    for (char c : text) {
        SendKey(0, static_cast<unsigned char>(c), false);
        SendKey(0, static_cast<unsigned char>(c), true);
    }
    Sleep(50);
}

POINT CenterOf(HWND window)
{
    RECT rect;
    GetClientRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<std::string> ListRows(HWND list)
{
    std::vector<std::string> rows;
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; ++row) {
        std::vector<char> text(SendMessageA(list, LB_GETTEXTLEN, row, 0) + 1);
        SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
        rows.push_back(text.data());
    }
    return rows;
}

UiThread::UiThread()
{
    thread_ = std::thread([this] { Run(); });
    WaitUntil([this] { return started_.load(); }, 10000);
    if (!host_) {
        thread_.join();
        throw std::runtime_error("the test window did not appear");
    }
}

UiThread::~UiThread()
{
    if (host_)
        PostMessageA(host_, WM_CLOSE, 0, 0);
    thread_.join();
}

void UiThread::Run()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = "RavelpakTestHost";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Ravelpak test host", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                  100, 100, 400, 300, nullptr, nullptr, windowClass.hInstance, this);
    if (window)
        SetForegroundWindow(window);
    host_ = window;
    started_ = true;
    if (!window)
        return;
    // The window holds no controls, and the dialogs it owns run on threads of their own: no
    // dialog messages to handle here.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// WM_CLOSE, which the destructor posts, destroys the window by default.
LRESULT CALLBACK UiThread::HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}
