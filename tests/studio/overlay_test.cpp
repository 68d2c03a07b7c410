// The overlay on the production's own display: every character comes out as its glyph in the font table,
// pixel for pixel, at scale 1 and 2, over its panel; and the frame drawn after it is the frame drawn
// without it (every state it set was put back).
#include "studio/overlay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loaded_show.h"
#include "studio/overlay_font.h"
#include "studio_support.h"

namespace {

std::vector<uint32_t> backBuffer() {
    std::vector<uint32_t> argb(640 * 480);
    IDirect3DSurface9* back = nullptr;
    g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    if (!back || FAILED(d3d9_read_surface(back, argb.data(), 640 * 4))) argb.clear();
    if (back) back->Release();
    return argb;
}

}  // namespace

TEST(StudioOverlay, CharactersAreTheirGlyphsAndTheNextFrameDoesNotSeeTheOverlay) {
    if (!studiotest::haveDefaultData()) GTEST_SKIP() << "the default data set (assets/data) is absent";
    studiotest::DataCopy data;
    ASSERT_TRUE(data.ok());
    try {
        studiotest::LoadedShow show(data.folder());
        const std::vector<uint32_t> plain = show.picture(17.05);
        Overlay overlay;
        const std::vector<OverlayLine> lines = {
            {"12.345 s cut 7 of 11 [loop] ~ Quorvane!", 0xFFFFFFFF},
            {"error: stone.mat:8: invalid cull mode \"xyz\"", 0xFFFF0000}};
        for (int scale : {1, 2}) {
            g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            overlay.draw(lines, scale);
            const std::vector<uint32_t> pixels = backBuffer();
            ASSERT_EQ(pixels.size(), 640u * 480u);
            int wrong = 0;
            for (size_t row = 0; row < lines.size(); ++row) {
                const std::string& text = lines[row].text;
                const uint32_t ink = lines[row].color & 0xFFFFFF;
                // The panel reaches one pixel past the last character cell; the glyph sits one pixel in.
                for (int y = 0; y < Overlay::kCellHeight * scale; ++y)
                    for (int x = 0; x < int(text.size() + 1) * Overlay::kCellWidth * scale; ++x) {
                        const int fx = x / scale - 1, fy = y / scale - 1;  // font pixel within the line
                        const size_t i = size_t(fx < 0 ? 0 : fx / Overlay::kCellWidth);
                        const int gx = fx - int(i) * Overlay::kCellWidth;
                        bool set = fx >= 0 && fy >= 0 && i < text.size() && gx < kOverlayGlyphColumns &&
                                   fy < kOverlayGlyphRows && (overlayGlyph(text[i])[fy] & (0x10 >> gx));
                        const uint32_t got =
                            pixels[size_t(row * Overlay::kCellHeight * scale + y) * 640 + size_t(x)] &
                            0xFFFFFF;
                        if (got != (set ? ink : 0u) && ++wrong <= 5)
                            ADD_FAILURE() << "scale " << scale << " line " << row << " pixel " << x << ","
                                          << y << ": " << std::hex << got;
                    }
            }
            EXPECT_EQ(wrong, 0) << "scale " << scale;
        }
        // A glyph table that drew nothing would pass the loop above only with blank characters.
        EXPECT_NE(overlayGlyph('Q')[0], 0);
        EXPECT_EQ(overlayGlyph('\x7f'), overlayGlyph('?'));

        // Over the production's own frame, then the same frame again: the same picture as before the overlay.
        show.picture(17.05);
        overlay.draw(lines);
        EXPECT_NE(backBuffer(), plain) << "the overlay did not draw over the frame";
        EXPECT_TRUE(show.picture(17.05) == plain) << "a state the overlay set changed the next frame";
    } catch (const std::string& text) {
        FAIL() << text;
    }
}
