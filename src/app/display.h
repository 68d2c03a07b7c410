#pragma once
// The one window of the program and the Direct3D 9 objects behind it.
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"

class Display {
public:
    // Opens the caption-less window "title" at the top-left corner and creates the device on it: a
    // width by height back buffer of backBufferFormat in full screen, of the desktop's format in a window.
    // In full screen a width or height of 0 takes the display's resolution (the back buffer then covers the
    // screen pixel for pixel); in a window, the window's size.
    // Throws the failing step's text; whatever was built by then is released first.
    Display(const char* title, int width, int height, D3DFORMAT backBufferFormat, bool fullScreen);
    // The same with another source of the Direct3D object (tests give a stand-in for the graphics) and,
    // for rendering to files, another presentation interval than the vertical retrace.
    Display(const char* title, int width, int height, D3DFORMAT backBufferFormat, bool fullScreen,
            IDirect3D9* (*direct3DCreate)(UINT sdkVersion),
            UINT presentationInterval = D3DPRESENT_INTERVAL_DEFAULT);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Turns a close request into the end of the run and refuses screen-saver and monitor power-off requests.
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance;
    IDirect3D9* direct3d;
    IDirect3DDevice9* device;
    HWND window;

private:
    void release(bool showCursor);
};
