#pragma once
// The platform-neutral part of the Win32 layer, shared by the desktop and browser builds: the thread's
// message queue with the calls that read and post it, and the creation messages of a new window. Each build
// supplies the clock that stamps messages and the pump that brings the platform's input into the queue.
#include <deque>

#include "platform/win32/win32.h"

namespace win32 {

struct MessageQueue {
    std::deque<MSG> messages;  // posted and input messages, in arrival order
    bool quitPending = false;  // PostQuitMessage was called; WM_QUIT comes once nothing else is queued
    int quitCode = 0;
};

MessageQueue& messageQueue();

// Queues a message, stamped with the build's clock.
void post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Drops the messages still queued for a window that is going away.
void dropMessages(HWND hwnd);

// Sends WM_NCCREATE and WM_CREATE to a new window, with a CREATESTRUCTA of CreateWindowExA's arguments;
// false when the window's procedure refuses either.
bool sendCreateMessages(HWND hwnd, DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID param);

// Supplied by each build: the time of a message in milliseconds, and moving the platform's pending input
// into the queue (where input arrives through callbacks instead, there is nothing to do).
DWORD messageTime();
void pumpEvents();

}  // namespace win32
