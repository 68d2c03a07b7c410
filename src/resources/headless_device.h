#pragma once
// A hidden 64 by 64 window and a Direct3D device on it, published as the process's device (g_device), for
// programs that make textures without showing anything: the tool's commands that decode pictures (vpg
// frames, check) and the fuzz targets. Throws a text when either cannot be made.
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"

class HeadlessDevice {
public:
    HeadlessDevice();
    ~HeadlessDevice();
    HeadlessDevice(const HeadlessDevice&) = delete;
    HeadlessDevice& operator=(const HeadlessDevice&) = delete;

private:
    HWND window_ = nullptr;
    IDirect3D9* d3d_ = nullptr;
};
