#include "product/tilewright/picture.hpp"
#include "engine/com.hpp"
#include "support/hresult.hpp"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <system_error>

namespace tilewright {
namespace {

using setup::com_ptr;

void check(HRESULT hr)
{
    if (FAILED(hr))
        throw std::system_error(mw::make_hresult_code(hr), "WIC");
}

int edge(const placement& where, int cells, bool horizontal)
{
    return (horizontal ? where.left : where.top) + static_cast<int>(std::lround(cells * where.scale));
}

std::uint32_t shade(std::uint32_t colour, int percent)
{
    auto channel = [&](int shift) {
        const int c = static_cast<int>((colour >> shift) & 0xFF);
        const int v = percent >= 0 ? c + (255 - c) * percent / 100 : c + c * percent / 100;
        return static_cast<std::uint32_t>(std::clamp(v, 0, 255)) << shift;
    };
    return channel(16) | channel(8) | channel(0);
}

void fill(picture& target, int x0, int y0, int x1, int y1, std::uint32_t colour)
{
    x0 = std::max(x0, 0), y0 = std::max(y0, 0);
    x1 = std::min(x1, target.width), y1 = std::min(y1, target.height);
    for (int y = y0; y < y1; ++y)
        std::fill_n(&target.pixels[std::size_t(y) * target.width + x0], std::max(0, x1 - x0), colour);
}

} // namespace

picture decode_picture(const std::wstring& path)
{
    com_ptr<IWICImagingFactory> factory;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           factory.put_void()));
    com_ptr<IWICBitmapDecoder> decoder;
    check(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                             decoder.put()));
    com_ptr<IWICBitmapFrameDecode> frame;
    check(decoder->GetFrame(0, frame.put()));
    com_ptr<IWICFormatConverter> converter;
    check(factory->CreateFormatConverter(converter.put()));
    check(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom));
    UINT width = 0, height = 0;
    check(converter->GetSize(&width, &height));
    if (width == 0 || height == 0 || width > 4096 || height > 4096)
        throw std::system_error(mw::make_hresult_code(WINCODEC_ERR_IMAGESIZEOUTOFRANGE), "WIC");
    picture out(static_cast<int>(width), static_cast<int>(height));
    check(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(out.pixels.size() * 4),
                                reinterpret_cast<BYTE*>(out.pixels.data())));
    for (std::uint32_t& p : out.pixels)
        p &= 0xFFFFFF;
    return out;
}

placement fit(const layout& doc, int width, int height, int margin)
{
    placement p;
    const int room_x = std::max(1, width - 2 * margin), room_y = std::max(1, height - 2 * margin);
    p.scale = std::min(double(room_x) / std::max(1, doc.columns), double(room_y) / std::max(1, doc.rows));
    p.left = (width - static_cast<int>(std::lround(doc.columns * p.scale))) / 2;
    p.top = (height - static_cast<int>(std::lround(doc.rows * p.scale))) / 2;
    return p;
}

int grout_pixels(const layout& doc, const placement& where)
{
    if (doc.grout_width == 0)
        return 0;
    return std::max(1, static_cast<int>(std::lround(doc.grout_width * where.scale / doc.cell_size)));
}

void draw_layout(const layout& doc, const drawing_set& set, const placement& where, picture& target)
{
    const int grout = grout_pixels(doc, where);
    const int inset_before = grout / 2, inset_after = grout - grout / 2;
    const double span_pixels = doc.texture_span * where.scale;
    for (std::size_t index = 0; index < doc.areas.size(); ++index) {
        const area& a = doc.areas[index];
        fill(target, edge(where, a.x, true), edge(where, a.y, false), edge(where, a.x + a.width, true),
             edge(where, a.y + a.height, false), doc.grout_colour);
        const auto found = set.modules.find(a.module);
        if (found == set.modules.end())
            continue;
        for (const placed_tile& t : place_tiles(a, found->second)) {
            const auto slot = a.slots.find(t.slot);
            const picture* texture = nullptr;
            if (slot != a.slots.end()) {
                const auto tex = set.textures.find(slot->second);
                if (tex != set.textures.end() && tex->second.width > 0)
                    texture = &tex->second;
            }
            // The whole tile's face, then the part of it inside the area.
            const int fx0 = edge(where, t.x, true) + inset_before, fy0 = edge(where, t.y, false) + inset_before;
            const int fx1 = edge(where, t.x + t.width, true) - inset_after;
            const int fy1 = edge(where, t.y + t.height, false) - inset_after;
            const int x0 = std::max({fx0, edge(where, t.clip_x, true) + inset_before, 0});
            const int y0 = std::max({fy0, edge(where, t.clip_y, false) + inset_before, 0});
            const int x1 = std::min({fx1, edge(where, t.clip_x + t.clip_width, true) - inset_after, target.width});
            const int y1 =
                std::min({fy1, edge(where, t.clip_y + t.clip_height, false) - inset_after, target.height});
            if (x0 >= x1 || y0 >= y1)
                continue;
            const bool bevel = fx1 - fx0 >= 12 && fy1 - fy0 >= 12;
            for (int y = y0; y < y1; ++y) {
                std::uint32_t* row = &target.pixels[std::size_t(y) * target.width];
                for (int x = x0; x < x1; ++x) {
                    std::uint32_t colour = missing_texture_colour;
                    if (texture) {
                        // Position inside the tile face, in texture pixels, plus the tile's own offset.
                        const int along = t.turned ? y - fy0 : x - fx0;
                        const int across = t.turned ? x - fx0 : y - fy0;
                        const int u = static_cast<int>((along * texture->width) / span_pixels + (t.seed & 0xFFFF)) %
                                      texture->width;
                        const int v = static_cast<int>((across * texture->height) / span_pixels + (t.seed >> 16)) %
                                      texture->height;
                        colour = texture->at(u, v);
                    }
                    if (bevel) {
                        if (x == fx0 || y == fy0)
                            colour = shade(colour, 35);
                        else if (x == fx1 - 1 || y == fy1 - 1)
                            colour = shade(colour, -35);
                    }
                    row[x] = colour;
                }
            }
        }
    }
}

} // namespace tilewright
