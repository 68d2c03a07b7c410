#pragma once
// Text over the picture, drawn through the Direct3D layer after the production's own passes: the studio's
// time, cut, frame rate, last reload and errors. A small built-in font (overlay_font.h) in one texture,
// one textured rectangle per character over a dark panel per line. Every state it sets is put back
// afterwards, so the next frame draws as if the overlay had never been there.
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

struct OverlayLine {
    std::string text;
    D3DCOLOR color;  // the glyphs' colour, alpha included
};

class Overlay {
public:
    // The pixel size of one character cell at scale 1 (the glyph and its spacing).
    static constexpr int kCellWidth = 6;
    static constexpr int kCellHeight = 9;

    // Makes the font texture on the process-wide device; without it (the device refused) draw() does nothing.
    Overlay();
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    // Draws the lines from the top-left corner of the back buffer down, each `scale` pixels a font pixel,
    // inside its own BeginScene and EndScene. Characters past the back buffer's right edge are left out.
    void draw(const std::vector<OverlayLine>& lines, int scale = 1);

private:
    IDirect3DTexture9* font_ = nullptr;
};

// Splits a text into lines of at most `columns` characters, at spaces where it can.
std::vector<std::string> wrapText(const std::string& text, size_t columns);
