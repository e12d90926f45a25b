#pragma once
// Tilewright's documents: layouts (.cal), the modules they tile with (.lbm), and the tiles a
// layout's areas are made of.
//
// Both formats are UTF-8 text, one statement a line, words separated by blanks; '#' starts a
// comment line. A layout:
//
//     tilewright-layout 1
//     title Entrance Hall             (the rest of the line)
//     size 24 16                      (columns and rows of cells)
//     cell-size 150                   (millimetres per cell side)
//     grout 3 C8C0B4                  (joint width in millimetres, colour RRGGBB)
//     texture-span 3                  (cells covered by one texture picture)
//     area 0 0 24 16 Running_Bond     (column, row, width, height, module name)
//     slot a Marble_Black             (texture of the area's slot a)
//
// Later areas are laid over earlier ones. A layout has at most 500 by 500 cells and 64 areas. A module:
//
//     tilewright-module 1
//     name Herringbone
//     unit 4 4                        (the repeating unit, in cells)
//     tile 0 0 2 1 a                  (column, row, width, height, slot)
//     tile 0 1 1 2 a turned           (texture turned by a quarter)
//
// A module's tiles, repeated unit after unit, must cover every cell exactly once.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tilewright {

enum class format_error {
    header,       // the first statement is not the format's header
    version,      // the header names a version this program does not read
    keyword,      // unknown statement
    value,        // a value is malformed or out of range (token)
    missing,      // a statement lacks a value (token: the statement)
    extra,        // text after a statement's last value (token)
    order,        // a statement before the one it depends on (token: the statement)
    duplicate,    // a statement that may appear once appears again (token)
    outside,      // an area leaves the layout, or a tile starts outside its unit
    empty,        // no area, or no tile
    coverage,     // the module's tiles leave a cell empty or cover it twice (column, row)
    encoding,     // not UTF-8 text
    too_many,     // more statements of a kind than a file may hold (token; column: the limit)
};

class parse_error : public std::runtime_error {
public:
    parse_error(format_error code, int line, std::wstring token = {}, int column = 0, int row = 0);
    format_error code() const { return code_; }
    int line() const { return line_; } // 0: the whole file
    const std::wstring& token() const { return token_; }
    int column() const { return column_; }
    int row() const { return row_; }

private:
    format_error code_;
    int line_;
    std::wstring token_;
    int column_;
    int row_;
};

struct module_tile {
    int x = 0, y = 0, width = 1, height = 1;
    wchar_t slot = L'a';
    bool turned = false;
};

struct module {
    std::wstring name;
    int unit_width = 1, unit_height = 1;
    std::vector<module_tile> tiles;
};

struct area {
    int x = 0, y = 0, width = 0, height = 0;
    std::wstring module;                     // module name: the file name without ".lbm"
    std::map<wchar_t, std::wstring> slots;   // slot letter -> texture name (file name without ".jpg")
    int line = 0;                            // where the area starts in its file
};

struct layout {
    std::wstring title;
    int columns = 0, rows = 0;
    int cell_size = 100;                     // millimetres
    int grout_width = 2;                     // millimetres
    std::uint32_t grout_colour = 0xC8C0B4;   // 0xRRGGBB
    int texture_span = 2;                    // cells per texture picture
    std::vector<area> areas;
};

// Parse a file's bytes. Throw parse_error.
layout parse_layout(std::string_view text);
module parse_module(std::string_view text);

// One tile of an area: where the whole tile lies and the part of it inside the area.
struct placed_tile {
    int x, y, width, height;                 // the whole tile, in cells of the layout
    int clip_x, clip_y, clip_width, clip_height;
    wchar_t slot;
    bool turned;
    bool cut;                                // only part of it lies inside the area
    std::uint32_t seed;                      // stable per tile: picks its part of the texture
};

// The tiles of `where` laid with `pattern`, the pattern's unit starting at the area's corner.
std::vector<placed_tile> place_tiles(const area& where, const module& pattern);

// The tiles of area `index` of a layout that show: a tile wholly under a later area is left
// out, a tile partly under one counts as cut.
std::vector<placed_tile> visible_tiles(const layout& doc, std::size_t index, const module& pattern);

// Whole and cut tiles of one texture slot.
struct tile_count {
    int whole = 0;
    int cut = 0;
};
std::map<wchar_t, tile_count> count_tiles(const std::vector<placed_tile>& tiles);

// Whether a name can name a module or texture file: not empty, at most 64 characters,
// letters, digits, '_', '-' and '.' only, not starting with '.'.
bool valid_name(std::wstring_view name);

} // namespace tilewright
