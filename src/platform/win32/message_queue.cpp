// The thread's message queue and window creation messages, the same for every build (message_queue.h).
#include "platform/win32/message_queue.h"

#include <cstdint>

namespace win32 {

namespace {

bool matches(const MSG& m, HWND hWnd, UINT min, UINT max) {
    if (hWnd == reinterpret_cast<HWND>(intptr_t{-1})) {
        if (m.hwnd) return false;  // thread messages only
    } else if (hWnd && m.hwnd != hWnd) {
        return false;
    }
    if (min == 0 && max == 0) return true;
    return m.message >= min && m.message <= max;
}

}  // namespace

MessageQueue& messageQueue() {
    static MessageQueue q;
    return q;
}

void post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = messageTime();
    messageQueue().messages.push_back(m);
}

void dropMessages(HWND hwnd) {
    auto& q = messageQueue().messages;
    for (auto it = q.begin(); it != q.end();) it = it->hwnd == hwnd ? q.erase(it) : it + 1;
}

bool sendCreateMessages(HWND hwnd, DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID param) {
    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cy = height;
    cs.cx = width;
    cs.y = y;
    cs.x = x;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    const LPARAM createParam = reinterpret_cast<LPARAM>(&cs);
    return SendMessageA(hwnd, WM_NCCREATE, 0, createParam) &&
           SendMessageA(hwnd, WM_CREATE, 0, createParam) != -1;
}

}  // namespace win32

using namespace win32;

BOOL WINAPI PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    pumpEvents();
    MessageQueue& q = messageQueue();
    for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
        if (!matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
        *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE) q.messages.erase(it);
        return TRUE;
    }
    // WM_QUIT comes once the queue holds nothing else, whatever the filter.
    if (q.quitPending) {
        *lpMsg = MSG{};
        lpMsg->message = WM_QUIT;
        lpMsg->wParam = static_cast<WPARAM>(q.quitCode);
        lpMsg->time = messageTime();
        if (wRemoveMsg & PM_REMOVE) q.quitPending = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    // Key messages count as translated; no character messages are made, the system reads none.
    if (!lpMsg) return FALSE;
    switch (lpMsg->message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd || !IsWindow(lpMsg->hwnd)) return 0;
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    post(hWnd, Msg, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    MessageQueue& q = messageQueue();
    q.quitPending = true;
    q.quitCode = nExitCode;
}
