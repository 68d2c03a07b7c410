#pragma once
// Window classes and windows for tests of the Win32 layer and what sits on it, in the program's module.
//
//     ASSERT_NE(qvtest::registerClass("keys", keyProc), 0);
//     HWND hwnd = qvtest::showWindow("keys");       // a visible 64 x 48 pop-up, or null
#include "platform/win32/win32.h"

namespace qvtest {

// Registers a class of that name with that procedure; its atom, or 0 (GetLastError says why).
inline ATOM registerClass(const char* name, WNDPROC proc) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    return RegisterClassA(&wc);
}

// A visible pop-up window of a registered class at the desktop's corner, titled with the class's name;
// null when it cannot be made.
inline HWND showWindow(const char* className, int width = 64, int height = 48) {
    return CreateWindowExA(0, className, className, WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace qvtest
