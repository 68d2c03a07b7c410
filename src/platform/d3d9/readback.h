#pragma once
// Extensions of the Direct3D 9 layer: read-back and counters for tests and benchmarks, and the pixel scale of
// a picture rendered larger than designed. Not part of the Direct3D API.
#include "platform/d3d9/d3d9.h"

// Copies a surface (the back buffer, a render target or any level of a texture of this layer) into memory:
// width x height pixels of 32 bits laid out as D3DCOLOR (bytes B, G, R, A; 0xAARRGGBB as a little-endian
// DWORD), rows top first, `pitch` bytes apart. Surfaces without alpha (X8R8G8B8) read with alpha 0xFF.
// Pending drawing is finished first. D3DERR_INVALIDCALL for a null or foreign surface or a pitch too small.
HRESULT d3d9_read_surface(IDirect3DSurface9* surface, void* pixels, UINT pitch);

// A back buffer rendered at `scale` times the size its drawing was designed for: Direct3D's rule that pixel
// centres sit at integer coordinates then moves geometry drawn into the back buffer by half a design pixel,
// `scale` / 2 pixels, so that the picture is the designed one sampled more finely. Other render targets keep
// Direct3D's own rule. 1 (the default) is the rule everywhere. D3DERR_INVALIDCALL for a foreign device or a
// scale not above 0.
HRESULT d3d9_set_pixel_scale(IDirect3DDevice9* device, float scale);
// The pixel scale of the current render target (the back buffer's, or 1); 1 for a foreign device.
float d3d9_pixel_scale(IDirect3DDevice9* device);

// Waits until the GL work issued so far has finished (for timing).
void d3d9_finish(IDirect3DDevice9* device);

// Counters of the device's work since creation.
struct d3d9_stats {
    unsigned long long draws;           // draw calls that reached GL
    unsigned long long refusedDraws;    // draw calls refused (bad arguments, missing buffers)
    unsigned long long programBinds;    // shader variant switches
    unsigned long long programsBuilt;   // shader variants compiled (warm-up)
    unsigned long long uniformUploads;  // uniform groups sent
    unsigned long long presents;
    unsigned long long mipRegenerations;  // automatic lower levels regenerated (levels 1 to 8: 8)
};
void d3d9_get_stats(IDirect3DDevice9* device, d3d9_stats* stats);
