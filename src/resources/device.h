#pragma once
// The process-wide device: set by the entry from the Display right after construction,
// valid until the Display is destroyed at the very end. Every drawer uses this one pointer.
#include "platform/d3d9/d3d9.h"

extern IDirect3DDevice9* g_device;
