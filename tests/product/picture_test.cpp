#include "product/tilewright/picture.hpp"

#include "tests/product/product_support.hpp"
#include "tests/scratch.hpp"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace tilewright;
using product_testing::content_folder;
using product_testing::files_of;
using testing_support::scratch_folder;

class with_com : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

using decode_picture_test = with_com;

// A 24-bit bottom-up BMP file of the given pixels (0xRRGGBB, rows top-down).
std::string bmp_file(int width, int height, const std::vector<std::uint32_t>& pixels)
{
    const int stride = (width * 3 + 3) & ~3;
    std::string data(54 + std::size_t(stride) * height, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<char>(v >> (8 * i));
    };
    data[0] = 'B', data[1] = 'M';
    put32(2, static_cast<std::uint32_t>(data.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    data[26] = 1, data[28] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = pixels[std::size_t(y) * width + x];
            const std::size_t at = 54 + std::size_t(height - 1 - y) * stride + std::size_t(x) * 3;
            data[at] = static_cast<char>(p & 0xFF);
            data[at + 1] = static_cast<char>((p >> 8) & 0xFF);
            data[at + 2] = static_cast<char>(p >> 16);
        }
    return data;
}

TEST_F(decode_picture_test, gives_the_pixels_top_down_as_rgb)
{
    scratch_folder dir;
    const std::vector<std::uint32_t> pixels{0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x000000};
    testing_support::write_bytes(dir.path() / L"p.bmp", bmp_file(3, 2, pixels));
    const picture p = decode_picture(dir / L"p.bmp");
    EXPECT_EQ(p.width, 3);
    EXPECT_EQ(p.height, 2);
    EXPECT_EQ(p.pixels, pixels);
}

TEST_F(decode_picture_test, refuses_what_is_no_picture)
{
    scratch_folder dir;
    testing_support::write_bytes(dir.path() / L"fake.jpg", "tilewright-layout 1\n");
    testing_support::write_bytes(dir.path() / L"cut.jpg",
                                 testing_support::read_bytes(content_folder() / L"Textures" / L"Oak.jpg").substr(0, 300));
    for (const wchar_t* name : {L"fake.jpg", L"missing.jpg", L"cut.jpg"})
        EXPECT_THROW(decode_picture(dir / name), std::system_error) << std::filesystem::path(name);
}

// Mean difference of the colour channels of two columns (or rows) of a picture.
double difference(const picture& p, bool columns, int a, int b)
{
    long long sum = 0;
    const int n = columns ? p.height : p.width;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t x = columns ? p.at(a, i) : p.at(i, a), y = columns ? p.at(b, i) : p.at(i, b);
        for (int shift : {0, 8, 16})
            sum += std::abs(int((x >> shift) & 0xFF) - int((y >> shift) & 0xFF));
    }
    return double(sum) / (3.0 * n);
}

TEST_F(decode_picture_test, decodes_every_texture_and_each_wraps_around_seamlessly)
{
    const auto textures = files_of(content_folder() / L"Textures", L".jpg");
    ASSERT_EQ(textures.size(), 36u);
    for (const auto& path : textures) {
        const picture p = decode_picture(path.wstring());
        ASSERT_GE(p.width, 256) << path;
        ASSERT_EQ(p.width, p.height) << path;
        // Across the wrap (last column to first, last row to first) the picture changes no
        // more than from any column to the next inside it (give or take a grey level of the
        // JPEG coding); a picture that does not wrap shows a seam many times larger.
        for (bool columns : {true, false}) {
            const int last = (columns ? p.width : p.height) - 1;
            double largest_step = 0;
            for (int i = 0; i < last; ++i)
                largest_step = std::max(largest_step, difference(p, columns, i, i + 1));
            EXPECT_LE(difference(p, columns, last, 0), largest_step + 1) << path << (columns ? " left/right" : " top/bottom");
        }
    }
}

// A texture whose pixels tell where they come from: 0x00UUVV.
picture coordinates_texture(int size)
{
    picture t(size, size);
    for (int v = 0; v < size; ++v)
        for (int u = 0; u < size; ++u)
            t.at(u, v) = static_cast<std::uint32_t>(u << 8 | v);
    return t;
}

struct drawing : ::testing::Test {
    drawing_set set;
    drawing()
    {
        set.modules[L"Grid"] = parse_module("tilewright-module 1\nunit 1 1\ntile 0 0 1 1 a\n");
        set.modules[L"Turned"] = parse_module("tilewright-module 1\nunit 1 1\ntile 0 0 1 1 a turned\n");
        set.textures[L"Coordinates"] = coordinates_texture(64);
    }
};

TEST_F(drawing, fills_tiles_with_their_part_of_the_texture_and_leaves_the_grout)
{
    // 20 pixels a cell, grout 2 pixels (10 mm of 100 mm), texture over 2 cells.
    const layout doc = parse_layout("tilewright-layout 1\nsize 3 2\ncell-size 100\ngrout 10 102030\n"
                                    "texture-span 2\narea 0 0 3 2 Grid\nslot a Coordinates\n");
    const placement where{5, 7, 20.0};
    picture target(80, 60, 0xABCDEF);
    draw_layout(doc, set, where, target);
    EXPECT_EQ(grout_pixels(doc, where), 2);
    // Outside the layout nothing is drawn; between tiles lies the grout.
    EXPECT_EQ(target.at(4, 20), 0xABCDEFu);
    EXPECT_EQ(target.at(65, 20), 0xABCDEFu);
    for (int x : {5, 24, 25, 44, 45, 64})
        EXPECT_EQ(target.at(x, 20), 0x102030u) << x;
    // Inside a tile, away from its bevelled edges, each pixel steps one texture pixel
    // along u (64 texture pixels over 40 screen pixels: 1.6 per pixel) and v.
    for (int x = 7; x < 22; ++x) {
        const std::uint32_t here = target.at(x, 15), right = target.at(x + 1, 15), below = target.at(x, 16);
        const int du = (int(right >> 8) - int(here >> 8) + 64) % 64, dv = (int(below & 0xFF) - int(here & 0xFF) + 64) % 64;
        EXPECT_TRUE(du == 1 || du == 2) << x;
        EXPECT_TRUE(dv == 1 || dv == 2) << x;
        EXPECT_EQ(here & 0xFF, target.at(x + 1, 15) & 0xFF) << "v stays along a row";
    }
    // Each tile shows another part of the texture.
    EXPECT_NE(target.at(10, 15), target.at(30, 15));
}

TEST_F(drawing, turns_the_texture_of_turned_tiles)
{
    const layout doc = parse_layout("tilewright-layout 1\nsize 1 1\ngrout 0 000000\ntexture-span 1\n"
                                    "area 0 0 1 1 Turned\nslot a Coordinates\n");
    picture target(64, 64);
    draw_layout(doc, set, placement{0, 0, 64.0}, target);
    // Texture u runs down the tile and v across it.
    for (int i = 2; i < 60; ++i) {
        EXPECT_EQ((target.at(i + 1, 30) & 0xFF), ((target.at(i, 30) & 0xFF) + 1) % 64) << i;
        EXPECT_EQ((target.at(30, i + 1) >> 8), ((target.at(30, i) >> 8) + 1) % 64) << i;
    }
}

TEST_F(drawing, paints_what_is_missing_plainly_and_lays_later_areas_on_top)
{
    const layout doc = parse_layout("tilewright-layout 1\nsize 6 2\ngrout 0 445566\n"
                                    "area 0 0 6 2 Grid\nslot a Coordinates\n"
                                    "area 2 0 2 2 Grid\nslot a Nowhere\n"
                                    "area 4 0 2 2 Unknown_Module\nslot a Coordinates\n");
    picture target(60, 20);
    draw_layout(doc, set, placement{0, 0, 10.0}, target);
    EXPECT_LT(target.at(5, 5), 0x10000u) << "textured";           // a coordinates pixel
    EXPECT_EQ(target.at(25, 5), missing_texture_colour);          // texture missing
    EXPECT_EQ(target.at(45, 5), 0x445566u);                       // module missing: bare grout
}

TEST(fit, centres_the_largest_placement_inside_the_margin)
{
    const layout doc = parse_layout("tilewright-layout 1\nsize 20 10\narea 0 0 20 10 Grid\n");
    const placement p = fit(doc, 500, 300, 10);
    EXPECT_DOUBLE_EQ(p.scale, 24.0);
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.top, 30);
}

} // namespace
