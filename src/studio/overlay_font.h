#pragma once
// The overlay's built-in font: 5 by 7 pixel glyphs for the printable ASCII characters (32 to 126).
#include <cstdint>

constexpr int kOverlayGlyphs = 95;
constexpr int kOverlayGlyphRows = 7;
constexpr int kOverlayGlyphColumns = 5;
extern const uint8_t kOverlayFont[kOverlayGlyphs][kOverlayGlyphRows];

// The glyph's rows for a character; '?' for anything outside printable ASCII.
inline const uint8_t* overlayGlyph(char c) {
    const unsigned u = static_cast<unsigned char>(c);
    return kOverlayFont[(u >= 32 && u <= 126 ? u : unsigned('?')) - 32];
}
