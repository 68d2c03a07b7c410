#pragma once
// A hidden window and a Direct3D device, published as the process's device, for the commands that
// decode pictures into textures (vpg frames, check). Throws a text when either cannot be made.
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
