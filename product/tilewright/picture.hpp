#pragma once
// Pictures: texture images decoded through the system's imaging component (WIC), and the
// drawing of a layout's tiles into a picture.

#include "product/tilewright/layout.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tilewright {

// 32-bit pixels 0x00RRGGBB, rows top-down, no padding (the layout of a top-down 32-bit DIB).
struct picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    picture() = default;
    picture(int w, int h, std::uint32_t fill = 0) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    std::uint32_t& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
};

// Decodes an image file (JPEG, PNG, BMP, ... whatever WIC decodes) of at most 4096 by 4096
// pixels into a picture. COM must be initialised on the calling thread. Throws
// std::system_error with the HRESULT.
picture decode_picture(const std::wstring& path);

// Everything a layout is drawn with. A missing module leaves its area bare (grout colour);
// a missing texture paints its tiles flat grey.
struct drawing_set {
    std::map<std::wstring, module> modules;   // by module name
    std::map<std::wstring, picture> textures; // by texture name
};

inline constexpr std::uint32_t missing_texture_colour = 0x909090;

// Where the layout lands in the target: the pixel of every cell boundary is
// left + round(column * scale), top + round(row * scale).
struct placement {
    int left = 0, top = 0;
    double scale = 1.0; // pixels per cell
};

// The largest placement of the layout centred in a box of the given size, with `margin`
// pixels kept free on each side.
placement fit(const layout& doc, int width, int height, int margin);

// Draws the layout's areas in order into `target`: each area in the grout colour, then its
// visible tiles, each inset by half the grout width on every side and filled with its part
// of the slot's texture (the texture picture spans `texture_span` cells; `turned` tiles show
// it turned by a quarter), with a light top-left and a dark bottom-right edge.
void draw_layout(const layout& doc, const drawing_set& set, const placement& where, picture& target);

// The width in pixels of the grout at a placement (at least 1 when the layout has grout).
int grout_pixels(const layout& doc, const placement& where);

} // namespace tilewright
