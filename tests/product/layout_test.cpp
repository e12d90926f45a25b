#include "product/tilewright/document.hpp"
#include "product/tilewright/layout.hpp"

#include "tests/product/product_support.hpp"
#include "tests/scratch.hpp"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace tilewright;
using product_testing::content_folder;
using product_testing::files_of;

const char* const small_layout = "# a comment\n"
                                 "tilewright-layout 1\r\n"
                                 "title   Small Hall  \n"
                                 "size 6 4\n"
                                 "\n"
                                 "cell-size 150\n"
                                 "grout 3 c8C0b4\n"
                                 "texture-span 3\n"
                                 "area 0 0 6 4 Grid\n"
                                 "slot a Oak\n"
                                 "area 1 1 4 2 Checkerboard\n"
                                 "slot a Marble_White\n"
                                 "slot b Marble_Black\n";

TEST(parse_layout, reads_every_statement)
{
    const layout doc = parse_layout(small_layout);
    EXPECT_EQ(doc.title, L"Small Hall");
    EXPECT_EQ(doc.columns, 6);
    EXPECT_EQ(doc.rows, 4);
    EXPECT_EQ(doc.cell_size, 150);
    EXPECT_EQ(doc.grout_width, 3);
    EXPECT_EQ(doc.grout_colour, 0xC8C0B4u);
    EXPECT_EQ(doc.texture_span, 3);
    ASSERT_EQ(doc.areas.size(), 2u);
    EXPECT_EQ(doc.areas[1].x, 1);
    EXPECT_EQ(doc.areas[1].width, 4);
    EXPECT_EQ(doc.areas[1].module, L"Checkerboard");
    EXPECT_EQ(doc.areas[1].line, 11);
    const std::map<wchar_t, std::wstring> slots{{L'a', L"Marble_White"}, {L'b', L"Marble_Black"}};
    EXPECT_EQ(doc.areas[1].slots, slots);
}

TEST(parse_layout, accepts_a_byte_order_mark_and_utf8_titles)
{
    const layout doc = parse_layout("\xEF\xBB\xBFtilewright-layout 1\ntitle Salle d\xC3\xA9j\xC3\xA0 vue\nsize 1 1\n"
                                    "area 0 0 1 1 Grid\n");
    EXPECT_EQ(doc.title, L"Salle d\u00e9j\u00e0 vue");
}

TEST(parse_layout, reports_the_fault_and_its_line)
{
    struct fault_case {
        const char* text;
        format_error code;
        int line;
        const wchar_t* token;
    };
    const fault_case cases[] = {
        {"", format_error::header, 0, L"tilewright-layout"},
        {"# only a comment\n", format_error::header, 0, L"tilewright-layout"},
        {"tilewright-module 1\n", format_error::header, 1, L"tilewright-layout"},
        {"tilewright-layout 2\n", format_error::version, 1, L"2"},
        {"tilewright-layout\n", format_error::missing, 1, L"tilewright-layout"},
        {"tilewright-layout 1\nsize 10\n", format_error::missing, 2, L"size"},
        {"tilewright-layout 1\nsize 10 8 2\n", format_error::extra, 2, L"2"},
        {"tilewright-layout 1\nsize 10 -8\n", format_error::value, 2, L"-8"},
        {"tilewright-layout 1\nsize 0 8\n", format_error::value, 2, L"0"},
        {"tilewright-layout 1\nsize 501 8\n", format_error::value, 2, L"501"},
        {"tilewright-layout 1\nsize 99999999999 8\n", format_error::value, 2, L"99999999999"},
        {"tilewright-layout 1\nsize 10 8\nsize 10 8\n", format_error::duplicate, 3, L"size"},
        {"tilewright-layout 1\ntitle\n", format_error::missing, 2, L"title"},
        {"tilewright-layout 1\narea 0 0 1 1 Grid\n", format_error::order, 2, L"area"},
        {"tilewright-layout 1\nsize 10 8\nslot a Oak\n", format_error::order, 3, L"slot"},
        {"tilewright-layout 1\nsize 10 8\nfloor 3\n", format_error::keyword, 3, L"floor"},
        {"tilewright-layout 1\nsize 10 8\ngrout 3 12345\n", format_error::value, 3, L"12345"},
        {"tilewright-layout 1\nsize 10 8\ngrout 3 12345G\n", format_error::value, 3, L"12345G"},
        {"tilewright-layout 1\nsize 10 8\narea 0 0 11 8 Grid\n", format_error::outside, 3, L""},
        {"tilewright-layout 1\nsize 10 8\narea 4 7 2 2 Grid\n", format_error::outside, 3, L""},
        // Names become file names: no folders, no climbing out of the content folder.
        {"tilewright-layout 1\nsize 10 8\narea 0 0 1 1 ..\\..\\Grid\n", format_error::value, 3, L"..\\..\\Grid"},
        {"tilewright-layout 1\nsize 10 8\narea 0 0 1 1 Grid\nslot a C:/Oak\n", format_error::value, 4, L"C:/Oak"},
        {"tilewright-layout 1\nsize 10 8\narea 0 0 1 1 Grid\nslot A Oak\n", format_error::value, 4, L"A"},
        {"tilewright-layout 1\nsize 10 8\narea 0 0 1 1 Grid\nslot a Oak\nslot a Ash\n", format_error::duplicate, 5,
         L"a"},
        {"tilewright-layout 1\nsize 10 8\n", format_error::empty, 0, L""},
        {"tilewright-layout 1\ntitle Caf\xC3\n", format_error::encoding, 2, L""},
    };
    for (const auto& c : cases) {
        try {
            parse_layout(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const parse_error& e) {
            EXPECT_EQ(e.code(), c.code) << c.text;
            EXPECT_EQ(e.line(), c.line) << c.text;
            EXPECT_EQ(e.token(), c.token) << c.text;
        }
    }
}

TEST(parse_layout, holds_at_most_64_areas)
{
    std::string text = "tilewright-layout 1\nsize 500 500\n";
    for (int i = 0; i < 64; ++i)
        text += "area 0 0 500 500 Grid\n";
    EXPECT_EQ(parse_layout(text).areas.size(), 64u);
    try {
        parse_layout(text + "area 0 0 1 1 Grid\n");
        ADD_FAILURE() << "a 65th area was accepted";
    } catch (const parse_error& e) {
        EXPECT_EQ(e.code(), format_error::too_many);
        EXPECT_EQ(e.line(), 67);
        EXPECT_EQ(e.column(), 64);
    }
}

TEST(parse_module, reads_the_unit_and_its_tiles)
{
    const module m = parse_module("tilewright-module 1\nname Two Rows\nunit 2 2\ntile 0 0 2 1 a\n"
                                  "tile 1 1 2 1 b turned\n");
    EXPECT_EQ(m.name, L"Two Rows");
    EXPECT_EQ(m.unit_width, 2);
    ASSERT_EQ(m.tiles.size(), 2u);
    EXPECT_EQ(m.tiles[1].x, 1);
    EXPECT_EQ(m.tiles[1].slot, L'b');
    EXPECT_TRUE(m.tiles[1].turned);
    EXPECT_FALSE(m.tiles[0].turned);
}

TEST(parse_module, refuses_tiles_that_do_not_cover_the_unit_once)
{
    struct fault_case {
        const char* tiles;
        format_error code;
        int column, row;
    };
    const fault_case cases[] = {
        {"unit 2 2\ntile 0 0 2 1 a\n", format_error::coverage, 0, 1},                        // a hole
        {"unit 2 2\ntile 0 0 2 2 a\ntile 1 1 1 1 b\n", format_error::coverage, 1, 1},         // an overlap
        {"unit 2 2\ntile 0 0 2 1 a\ntile 1 1 3 1 a\n", format_error::coverage, 1, 1},         // wraps onto itself
        {"unit 2 2\ntile 0 0 2 1 a\ntile 0 2 2 1 a\n", format_error::outside, 0, 0},          // starts outside
        {"unit 2 2\n", format_error::empty, 0, 0},
        {"tile 0 0 1 1 a\n", format_error::order, 0, 0},
        {"unit 1 1\ntile 0 0 1 1 a sideways\n", format_error::value, 0, 0},
    };
    for (const auto& c : cases) {
        try {
            parse_module(std::string("tilewright-module 1\n") + c.tiles);
            ADD_FAILURE() << "accepted: " << c.tiles;
        } catch (const parse_error& e) {
            EXPECT_EQ(e.code(), c.code) << c.tiles;
            EXPECT_EQ(e.column(), c.column) << c.tiles;
            EXPECT_EQ(e.row(), c.row) << c.tiles;
        }
    }
}

area area_at(int x, int y, int width, int height)
{
    area a;
    a.x = x, a.y = y, a.width = width, a.height = height;
    return a;
}

// Every cell of the area is covered by exactly one placed tile.
void expect_area_covered_once(const area& a, const std::vector<placed_tile>& tiles, const std::string& what)
{
    std::vector<int> cover(static_cast<std::size_t>(a.width * a.height), 0);
    for (const placed_tile& t : tiles) {
        ASSERT_GE(t.clip_x, a.x) << what;
        ASSERT_LE(t.clip_x + t.clip_width, a.x + a.width) << what;
        ASSERT_GE(t.clip_y, a.y) << what;
        ASSERT_LE(t.clip_y + t.clip_height, a.y + a.height) << what;
        for (int y = t.clip_y; y < t.clip_y + t.clip_height; ++y)
            for (int x = t.clip_x; x < t.clip_x + t.clip_width; ++x)
                ++cover[static_cast<std::size_t>((y - a.y) * a.width + (x - a.x))];
    }
    for (std::size_t i = 0; i < cover.size(); ++i)
        ASSERT_EQ(cover[i], 1) << what << " cell " << i % a.width << "," << i / a.width;
}

TEST(committed_content, every_module_is_valid_and_tiles_any_area)
{
    const auto modules = files_of(content_folder() / L"Modules", L".lbm");
    ASSERT_EQ(modules.size(), 7u);
    for (const auto& path : modules) {
        const module m = parse_module(testing_support::read_bytes(path));
        EXPECT_FALSE(m.name.empty()) << path;
        // Areas of odd sizes and offsets, so that units are cut on every side.
        for (const area& a : {area_at(0, 0, 7, 5), area_at(3, 2, 11, 9), area_at(1, 4, 1, 1)}) {
            const auto tiles = place_tiles(a, m);
            expect_area_covered_once(a, tiles, path.string());
        }
    }
}

TEST(committed_content, every_sample_opens_with_the_installed_modules_and_textures)
{
    const auto samples = files_of(content_folder() / L"Samples", L".cal");
    ASSERT_EQ(samples.size(), 6u);
    std::set<std::wstring> used_modules;
    for (const auto& path : samples) {
        const layout doc = parse_layout(testing_support::read_bytes(path));
        EXPECT_FALSE(doc.title.empty()) << path;
        for (const area& a : doc.areas) {
            used_modules.insert(a.module);
            const auto module_path = content_folder() / L"Modules" / (a.module + L".lbm");
            ASSERT_TRUE(std::filesystem::exists(module_path)) << path << " " << module_path;
            const module m = parse_module(testing_support::read_bytes(module_path));
            // Every slot the module uses has a texture, and every texture exists.
            for (const module_tile& t : m.tiles)
                EXPECT_TRUE(a.slots.count(t.slot)) << path << " slot " << char(t.slot);
            for (const auto& [slot, texture] : a.slots)
                EXPECT_TRUE(std::filesystem::exists(content_folder() / L"Textures" / (texture + L".jpg")))
                    << path << " " << std::filesystem::path(texture);
        }
    }
    EXPECT_EQ(used_modules.size(), 7u) << "each module is shown by a sample";
}

TEST(place_tiles, cuts_the_tiles_at_the_area_edges)
{
    const module bond = parse_module("tilewright-module 1\nunit 2 2\ntile 0 0 2 1 a\ntile 1 1 2 1 a\n");
    // Five cells wide, two rows: row 0 holds 2 whole bricks and a half; row 1 a half, 2 whole.
    const area a = area_at(2, 3, 5, 2);
    const auto tiles = place_tiles(a, bond);
    expect_area_covered_once(a, tiles, "running bond");
    const auto counts = count_tiles(tiles);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts.at(L'a').whole, 4);
    EXPECT_EQ(counts.at(L'a').cut, 2);
    for (const placed_tile& t : tiles) {
        EXPECT_EQ(t.width, 2);
        if (t.cut) {
            EXPECT_EQ(t.clip_width, 1);
        }
    }
}

TEST(visible_tiles, leaves_out_tiles_under_later_areas_and_counts_partly_hidden_ones_as_cut)
{
    const module grid = parse_module("tilewright-module 1\nunit 1 1\ntile 0 0 1 1 a\n");
    const module big = parse_module("tilewright-module 1\nunit 2 2\ntile 0 0 2 2 a\n");
    layout doc = parse_layout("tilewright-layout 1\nsize 6 4\narea 0 0 6 4 Big\narea 1 1 3 2 Grid\n");
    // Six tiles of 2x2 cells; the second area (columns 1-3, rows 1-2) lies partly over four
    // of them and wholly over none.
    const auto counts = count_tiles(visible_tiles(doc, 0, big));
    EXPECT_EQ(counts.at(L'a').whole, 2);
    EXPECT_EQ(counts.at(L'a').cut, 4);
    const auto second = count_tiles(visible_tiles(doc, 1, grid));
    EXPECT_EQ(second.at(L'a').whole, 6);
    EXPECT_EQ(second.at(L'a').cut, 0);

    // A later area that covers tiles wholly hides them.
    doc = parse_layout("tilewright-layout 1\nsize 6 4\narea 0 0 6 4 Big\narea 2 0 2 4 Grid\n");
    const auto hidden = count_tiles(visible_tiles(doc, 0, big));
    EXPECT_EQ(hidden.at(L'a').whole, 4);
    EXPECT_EQ(hidden.at(L'a').cut, 0);
}

} // namespace

namespace {

TEST(first_sample_in, takes_the_first_layout_of_the_first_tilewright_folder)
{
    testing_support::scratch_folder public_desktop, user_desktop;
    testing_support::write_bytes(public_desktop.path() / L"Plans" / L"Aaa.cal", "x");                 // not ours
    testing_support::write_bytes(public_desktop.path() / L"Old Tilewright" / L"readme.txt", "x");     // first, but no layout
    testing_support::write_bytes(public_desktop.path() / L"Tilewright Examples" / L"zeta.cal", "x");
    testing_support::write_bytes(public_desktop.path() / L"Tilewright Examples" / L"Beta.cal", "x");
    testing_support::write_bytes(public_desktop.path() / L"Tilewright Examples" / L"alpha.cal", "x");
    testing_support::write_bytes(user_desktop.path() / L"Exemples Tilewright" / L"Aaa.cal", "x");
    EXPECT_EQ(tilewright::first_sample_in({public_desktop.path().wstring(), user_desktop.path().wstring()}),
              (public_desktop.path() / L"Tilewright Examples" / L"alpha.cal").wstring());
    EXPECT_EQ(tilewright::first_sample_in({L"", user_desktop.path().wstring()}),
              (user_desktop.path() / L"Exemples Tilewright" / L"Aaa.cal").wstring());
    EXPECT_EQ(tilewright::first_sample_in({(public_desktop.path() / L"Plans").wstring()}), L"");
}

} // namespace
