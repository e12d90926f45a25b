#include "product/tilewright/layout.hpp"

#include <windows.h>

#include <algorithm>

namespace tilewright {
namespace {

constexpr int max_cells = 500;
constexpr std::size_t max_areas = 64;

std::wstring widen(std::string_view text, int line)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    if (n <= 0)
        throw parse_error(format_error::encoding, line);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool blank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f';
}

// One statement: its words, and the text after the first word (for titles and names).
struct statement {
    int line = 0;
    std::vector<std::wstring> words;
    std::wstring rest;
};

std::vector<statement> split_statements(std::string_view text)
{
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<statement> out;
    int line_number = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::wstring line = widen(text.substr(pos, end - pos), ++line_number);
        pos = end + 1;
        std::size_t i = 0;
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i == line.size() || line[i] == L'#')
            continue;
        statement s;
        s.line = line_number;
        while (i < line.size()) {
            std::size_t j = i;
            while (j < line.size() && !blank(line[j]))
                ++j;
            s.words.push_back(line.substr(i, j - i));
            if (s.words.size() == 1) {
                std::size_t k = j;
                while (k < line.size() && blank(line[k]))
                    ++k;
                std::size_t e = line.size();
                while (e > k && blank(line[e - 1]))
                    --e;
                s.rest = line.substr(k, e - k);
            }
            i = j;
            while (i < line.size() && blank(line[i]))
                ++i;
        }
        out.push_back(std::move(s));
    }
    return out;
}

class reader {
public:
    explicit reader(const statement& s) : s_(s) {}

    void need(std::size_t count) const
    {
        if (s_.words.size() < count + 1)
            throw parse_error(format_error::missing, s_.line, s_.words[0]);
        if (s_.words.size() > count + 1)
            throw parse_error(format_error::extra, s_.line, s_.words[count + 1]);
    }
    // Between `count` and `count + optional` values.
    void need(std::size_t count, std::size_t optional) const
    {
        if (s_.words.size() < count + 1)
            throw parse_error(format_error::missing, s_.line, s_.words[0]);
        if (s_.words.size() > count + optional + 1)
            throw parse_error(format_error::extra, s_.line, s_.words[count + optional + 1]);
    }
    const std::wstring& word(std::size_t i) const { return s_.words[i]; }

    int number(std::size_t i, int low, int high) const
    {
        const std::wstring& w = s_.words[i];
        long long value = 0;
        bool ok = !w.empty() && w.size() <= 9;
        for (wchar_t c : w) {
            if (c < L'0' || c > L'9') {
                ok = false;
                break;
            }
            value = value * 10 + (c - L'0');
        }
        if (!ok || value < low || value > high)
            throw parse_error(format_error::value, s_.line, w);
        return static_cast<int>(value);
    }

    std::uint32_t colour(std::size_t i) const
    {
        const std::wstring& w = s_.words[i];
        std::uint32_t value = 0;
        bool ok = w.size() == 6;
        for (wchar_t c : w) {
            const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                              : c >= L'a' && c <= L'f' ? c - L'a' + 10
                              : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                       : -1;
            if (digit < 0) {
                ok = false;
                break;
            }
            value = value << 4 | static_cast<std::uint32_t>(digit);
        }
        if (!ok)
            throw parse_error(format_error::value, s_.line, w);
        return value;
    }

    std::wstring name(std::size_t i) const
    {
        if (!valid_name(s_.words[i]))
            throw parse_error(format_error::value, s_.line, s_.words[i]);
        return s_.words[i];
    }

    wchar_t slot(std::size_t i) const
    {
        const std::wstring& w = s_.words[i];
        if (w.size() != 1 || w[0] < L'a' || w[0] > L'z')
            throw parse_error(format_error::value, s_.line, w);
        return w[0];
    }

    std::wstring text() const
    {
        if (s_.rest.empty())
            throw parse_error(format_error::missing, s_.line, s_.words[0]);
        return s_.rest;
    }

private:
    const statement& s_;
};

void check_header(const std::vector<statement>& statements, const wchar_t* header)
{
    if (statements.empty() || statements[0].words[0] != header)
        throw parse_error(format_error::header, statements.empty() ? 0 : statements[0].line, header);
    reader r(statements[0]);
    r.need(1);
    if (r.word(1) != L"1")
        throw parse_error(format_error::version, statements[0].line, r.word(1));
}

// Marks a statement that may appear once.
void once(bool& seen, const statement& s)
{
    if (seen)
        throw parse_error(format_error::duplicate, s.line, s.words[0]);
    seen = true;
}

int floor_div(int a, int b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::uint32_t mix(std::uint32_t h, std::uint32_t v)
{
    h ^= v + 0x9E3779B9u + (h << 6) + (h >> 2);
    h *= 0x85EBCA6Bu;
    return h ^ (h >> 13);
}

} // namespace

parse_error::parse_error(format_error code, int line, std::wstring token, int column, int row)
    : std::runtime_error("tilewright format error"), code_(code), line_(line), token_(std::move(token)),
      column_(column), row_(row)
{
}

bool valid_name(std::wstring_view name)
{
    if (name.empty() || name.size() > 64 || name[0] == L'.')
        return false;
    return std::all_of(name.begin(), name.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
               c == L'-' || c == L'.';
    });
}

layout parse_layout(std::string_view text)
{
    const std::vector<statement> statements = split_statements(text);
    check_header(statements, L"tilewright-layout");
    layout doc;
    bool seen_title = false, seen_size = false, seen_cell = false, seen_grout = false, seen_span = false;
    for (std::size_t i = 1; i < statements.size(); ++i) {
        const statement& s = statements[i];
        const reader r(s);
        const std::wstring& key = s.words[0];
        if (key == L"title") {
            once(seen_title, s);
            doc.title = r.text();
        } else if (key == L"size") {
            once(seen_size, s);
            r.need(2);
            doc.columns = r.number(1, 1, max_cells);
            doc.rows = r.number(2, 1, max_cells);
        } else if (key == L"cell-size") {
            once(seen_cell, s);
            r.need(1);
            doc.cell_size = r.number(1, 1, 10000);
        } else if (key == L"grout") {
            once(seen_grout, s);
            r.need(2);
            doc.grout_width = r.number(1, 0, 100);
            doc.grout_colour = r.colour(2);
        } else if (key == L"texture-span") {
            once(seen_span, s);
            r.need(1);
            doc.texture_span = r.number(1, 1, 100);
        } else if (key == L"area") {
            if (!seen_size)
                throw parse_error(format_error::order, s.line, key);
            if (doc.areas.size() == max_areas)
                throw parse_error(format_error::too_many, s.line, key, static_cast<int>(max_areas));
            r.need(5);
            area a;
            a.x = r.number(1, 0, max_cells);
            a.y = r.number(2, 0, max_cells);
            a.width = r.number(3, 1, max_cells);
            a.height = r.number(4, 1, max_cells);
            a.module = r.name(5);
            a.line = s.line;
            if (a.x + a.width > doc.columns || a.y + a.height > doc.rows)
                throw parse_error(format_error::outside, s.line);
            doc.areas.push_back(std::move(a));
        } else if (key == L"slot") {
            if (doc.areas.empty())
                throw parse_error(format_error::order, s.line, key);
            r.need(2);
            const wchar_t slot = r.slot(1);
            if (!doc.areas.back().slots.emplace(slot, r.name(2)).second)
                throw parse_error(format_error::duplicate, s.line, r.word(1));
        } else {
            throw parse_error(format_error::keyword, s.line, key);
        }
    }
    if (doc.areas.empty())
        throw parse_error(format_error::empty, 0);
    return doc;
}

module parse_module(std::string_view text)
{
    const std::vector<statement> statements = split_statements(text);
    check_header(statements, L"tilewright-module");
    module m;
    bool seen_name = false, seen_unit = false;
    for (std::size_t i = 1; i < statements.size(); ++i) {
        const statement& s = statements[i];
        const reader r(s);
        const std::wstring& key = s.words[0];
        if (key == L"name") {
            once(seen_name, s);
            m.name = r.text();
        } else if (key == L"unit") {
            once(seen_unit, s);
            r.need(2);
            m.unit_width = r.number(1, 1, 64);
            m.unit_height = r.number(2, 1, 64);
        } else if (key == L"tile") {
            if (!seen_unit)
                throw parse_error(format_error::order, s.line, key);
            r.need(5, 1);
            module_tile t;
            t.x = r.number(1, 0, 64);
            t.y = r.number(2, 0, 64);
            t.width = r.number(3, 1, 64);
            t.height = r.number(4, 1, 64);
            t.slot = r.slot(5);
            if (s.words.size() == 7) {
                if (s.words[6] != L"turned")
                    throw parse_error(format_error::value, s.line, s.words[6]);
                t.turned = true;
            }
            if (t.x >= m.unit_width || t.y >= m.unit_height)
                throw parse_error(format_error::outside, s.line);
            m.tiles.push_back(t);
        } else {
            throw parse_error(format_error::keyword, s.line, key);
        }
    }
    if (m.tiles.empty())
        throw parse_error(format_error::empty, 0);
    // Repeated unit after unit, the tiles must fill every cell once: count the cells of one
    // unit that each tile covers, wrapping around the unit's edges.
    std::vector<int> cover(static_cast<std::size_t>(m.unit_width * m.unit_height), 0);
    for (const module_tile& t : m.tiles)
        for (int dy = 0; dy < t.height; ++dy)
            for (int dx = 0; dx < t.width; ++dx)
                ++cover[static_cast<std::size_t>(((t.y + dy) % m.unit_height) * m.unit_width +
                                                 (t.x + dx) % m.unit_width)];
    for (int y = 0; y < m.unit_height; ++y)
        for (int x = 0; x < m.unit_width; ++x)
            if (cover[static_cast<std::size_t>(y * m.unit_width + x)] != 1)
                throw parse_error(format_error::coverage, 0, {}, x, y);
    return m;
}

std::vector<placed_tile> place_tiles(const area& where, const module& pattern)
{
    std::vector<placed_tile> out;
    int reach_x = 0, reach_y = 0; // how far a tile reaches past its unit
    for (const module_tile& t : pattern.tiles) {
        reach_x = std::max(reach_x, t.x + t.width);
        reach_y = std::max(reach_y, t.y + t.height);
    }
    const int first_i = -floor_div(reach_x - 1, pattern.unit_width) - 1;
    const int first_j = -floor_div(reach_y - 1, pattern.unit_height) - 1;
    const int last_i = floor_div(where.width, pattern.unit_width);
    const int last_j = floor_div(where.height, pattern.unit_height);
    for (int j = first_j; j <= last_j; ++j) {
        for (int i = first_i; i <= last_i; ++i) {
            for (std::size_t k = 0; k < pattern.tiles.size(); ++k) {
                const module_tile& t = pattern.tiles[k];
                const int x = where.x + i * pattern.unit_width + t.x;
                const int y = where.y + j * pattern.unit_height + t.y;
                const int x0 = std::max(x, where.x), y0 = std::max(y, where.y);
                const int x1 = std::min(x + t.width, where.x + where.width);
                const int y1 = std::min(y + t.height, where.y + where.height);
                if (x0 >= x1 || y0 >= y1)
                    continue;
                placed_tile p{x, y, t.width, t.height, x0, y0, x1 - x0, y1 - y0, t.slot, t.turned, false, 0};
                p.cut = p.clip_width != t.width || p.clip_height != t.height;
                p.seed = mix(mix(mix(0x7117u, static_cast<std::uint32_t>(i)), static_cast<std::uint32_t>(j)),
                             static_cast<std::uint32_t>(k));
                out.push_back(p);
            }
        }
    }
    return out;
}

std::vector<placed_tile> visible_tiles(const layout& doc, std::size_t index, const module& pattern)
{
    std::vector<placed_tile> tiles = place_tiles(doc.areas.at(index), pattern);
    std::vector<placed_tile> out;
    out.reserve(tiles.size());
    for (placed_tile& t : tiles) {
        bool hidden = false;
        for (std::size_t later = index + 1; later < doc.areas.size() && !hidden; ++later) {
            const area& a = doc.areas[later];
            const int x0 = std::max(t.clip_x, a.x), y0 = std::max(t.clip_y, a.y);
            const int x1 = std::min(t.clip_x + t.clip_width, a.x + a.width);
            const int y1 = std::min(t.clip_y + t.clip_height, a.y + a.height);
            if (x0 >= x1 || y0 >= y1)
                continue;
            if (x1 - x0 == t.clip_width && y1 - y0 == t.clip_height)
                hidden = true;
            else
                t.cut = true;
        }
        if (!hidden)
            out.push_back(t);
    }
    return out;
}

std::map<wchar_t, tile_count> count_tiles(const std::vector<placed_tile>& tiles)
{
    std::map<wchar_t, tile_count> counts;
    for (const placed_tile& t : tiles)
        ++(t.cut ? counts[t.slot].cut : counts[t.slot].whole);
    return counts;
}

} // namespace tilewright
