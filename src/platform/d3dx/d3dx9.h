#pragma once
// The D3DX 9 utility call the system makes: decoding an image file held in memory into a texture.
#include "platform/d3d9/d3d9.h"

#define D3DXERR_INVALIDDATA MAKE_D3DHRESULT(2905)

// Decodes PNG, JPEG, BMP, TGA (and the other formats stb_image reads) from memory into a new managed
// texture of the image's own size with a full mip chain made with a box filter: A8R8G8B8 when the
// image has alpha, X8R8G8B8 (alpha read as 1) when it has none. D3DXERR_INVALIDDATA for data it
// cannot decode, D3DERR_INVALIDCALL for missing arguments; *ppTexture is left null on failure.
HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture);
