#include "production/production.h"

#include "resources/device.h"

Production::Production(HWND window) : music(window) {
    music.load("ferrowake.mp3", 0.0);
}

void Production::start() {
    music.play();
}

double Production::time() {
    return music.time();
}

void Production::frame(float) {
    g_device->BeginScene();
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
    g_device->EndScene();
}
