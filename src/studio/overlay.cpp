#include "studio/overlay.h"

#include <cstring>

#include "resources/device.h"
#include "studio/overlay_font.h"

namespace {

// The font texture: 16 by 6 cells of 8 by 8 texels, the glyph of character 32 + i in cell i, and one
// solid cell (the last) that the panels are drawn with.
constexpr int kCell = 8;
constexpr int kColumns = 16;
constexpr int kRows = 6;
constexpr int kTextureWidth = kColumns * kCell;
constexpr int kTextureHeight = kRows * kCell;
constexpr int kSolidCell = kColumns * kRows - 1;
static_assert(kOverlayGlyphs <= kSolidCell, "the glyphs and the solid cell fit the texture");

constexpr DWORD kVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
struct Vertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

constexpr D3DCOLOR kPanel = 0xA0000000;  // black, 5/8 opaque

// Two triangles covering pixels [x0, x1) by [y0, y1) (pixel centres sit at whole coordinates, hence the
// half-pixel shift) with the texels [u0, u1) by [v0, v1) of the font texture.
void addQuad(std::vector<Vertex>& out, float x0, float y0, float x1, float y1, float u0, float v0, float u1,
             float v1, D3DCOLOR color) {
    x0 -= 0.5f, y0 -= 0.5f, x1 -= 0.5f, y1 -= 0.5f;
    u0 /= kTextureWidth, u1 /= kTextureWidth, v0 /= kTextureHeight, v1 /= kTextureHeight;
    const Vertex a{x0, y0, 0, 1, color, u0, v0}, b{x1, y0, 0, 1, color, u1, v0};
    const Vertex c{x0, y1, 0, 1, color, u0, v1}, d{x1, y1, 0, 1, color, u1, v1};
    out.insert(out.end(), {a, b, c, b, d, c});
}

void setOverlayStates(IDirect3DDevice9* dev, IDirect3DTexture9* font) {
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    dev->SetTexture(0, font);
    dev->SetFVF(kVertexFvf);
}

}  // namespace

Overlay::Overlay() {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(g_device->CreateTexture(kTextureWidth, kTextureHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                       &texture, nullptr)) ||
        !texture)
        return;
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
        texture->Release();
        return;
    }
    auto* bytes = static_cast<unsigned char*>(locked.pBits);
    for (int y = 0; y < kTextureHeight; ++y) std::memset(bytes + y * locked.Pitch, 0, kTextureWidth * 4);
    auto setTexel = [&](int x, int y) { std::memset(bytes + y * locked.Pitch + x * 4, 0xFF, 4); };
    for (int g = 0; g < kOverlayGlyphs; ++g)
        for (int row = 0; row < kOverlayGlyphRows; ++row)
            for (int col = 0; col < kOverlayGlyphColumns; ++col)
                if (kOverlayFont[g][row] & (0x10 >> col))
                    setTexel(g % kColumns * kCell + col, g / kColumns * kCell + row);
    for (int y = 0; y < kCell; ++y)
        for (int x = 0; x < kCell; ++x)
            setTexel(kSolidCell % kColumns * kCell + x, kSolidCell / kColumns * kCell + y);
    texture->UnlockRect(0);
    font_ = texture;
}

Overlay::~Overlay() {
    if (font_) font_->Release();
}

void Overlay::draw(const std::vector<OverlayLine>& lines, int scale) {
    if (!font_ || lines.empty()) return;
    IDirect3DDevice9* dev = g_device;
    IDirect3DSurface9* backBuffer = nullptr;
    D3DSURFACE_DESC desc{};
    if (FAILED(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) || !backBuffer) return;
    backBuffer->GetDesc(&desc);
    backBuffer->Release();
    const size_t columns = size_t(desc.Width) / size_t(kCellWidth * scale);

    std::vector<Vertex> vertices;
    const float s = float(scale);
    const float su = float(kSolidCell % kColumns * kCell + kCell / 2);
    const float sv = float(kSolidCell / kColumns * kCell + kCell / 2);
    for (size_t row = 0; row < lines.size(); ++row) {
        const std::string& text = lines[row].text;
        const size_t n = std::min(text.size(), columns);
        const float top = float(row * kCellHeight) * s;
        addQuad(vertices, 0, top, float(n * kCellWidth + 1) * s, top + kCellHeight * s, su, sv, su, sv,
                kPanel);
        for (size_t i = 0; i < n; ++i) {
            if (text[i] == ' ') continue;
            const uint8_t* glyph = overlayGlyph(text[i]);
            const int g = int(glyph - kOverlayFont[0]) / kOverlayGlyphRows;
            const float u = float(g % kColumns * kCell), v = float(g / kColumns * kCell);
            const float left = float(i * kCellWidth + 1) * s, y = top + s;
            addQuad(vertices, left, y, left + kOverlayGlyphColumns * s, y + kOverlayGlyphRows * s, u, v,
                    u + kOverlayGlyphColumns, v + kOverlayGlyphRows, lines[row].color);
        }
    }

    // Everything set here goes back as it was: the next frame must not depend on the overlay.
    IDirect3DStateBlock9* saved = nullptr;
    if (FAILED(dev->CreateStateBlock(D3DSBT_ALL, &saved)) || !saved) return;
    dev->BeginScene();
    setOverlayStates(dev, font_);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(vertices.size() / 3), vertices.data(), sizeof(Vertex));
    dev->EndScene();
    saved->Apply();
    saved->Release();
}

std::vector<std::string> wrapText(const std::string& text, size_t columns) {
    std::vector<std::string> lines;
    if (columns == 0) return lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = std::min(text.size(), at + columns);
        const size_t newline = text.find('\n', at);
        if (newline != std::string::npos && newline < end) {
            lines.push_back(text.substr(at, newline - at));
            at = newline + 1;
            continue;
        }
        if (end < text.size()) {
            const size_t space = text.rfind(' ', end);
            if (space != std::string::npos && space > at) end = space;
        }
        lines.push_back(text.substr(at, end - at));
        at = end;
        while (at < text.size() && text[at] == ' ') ++at;
    }
    return lines;
}
