#include "resources/device.h"

IDirect3DDevice9* g_device = nullptr;
