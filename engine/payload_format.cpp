#include "engine/payload_format.hpp"

#include <cstring>

namespace setup {
namespace {

template <class T>
void put(std::string& out, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xFF));
}

// The text as UTF-16 code units, whatever the width of wchar_t: where wchar_t holds whole
// code points (the build machine's tools), those above U+FFFF become surrogate pairs.
std::u16string utf16_units(const std::wstring& text)
{
    std::u16string units;
    units.reserve(text.size());
    for (wchar_t c : text) {
        const auto cp = static_cast<std::uint32_t>(c);
        if (cp > 0xFFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    return units;
}

void put_string(std::string& out, const std::wstring& text)
{
    const std::u16string units = utf16_units(text);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(units.size()));
    for (char16_t c : units)
        put<std::uint16_t>(out, static_cast<std::uint16_t>(c));
}

class table_reader {
public:
    explicit table_reader(std::string_view bytes) : bytes_(bytes) {}

    template <class T>
    bool get(T& value)
    {
        if (bytes_.size() - offset_ < sizeof(T))
            return false;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[offset_ + i])) << (8 * i);
        value = static_cast<T>(v);
        offset_ += sizeof(T);
        return true;
    }

    bool get_string(std::wstring& text)
    {
        std::uint32_t length = 0;
        if (!get(length) || (bytes_.size() - offset_) / 2 < length)
            return false;
        text.resize(length);
        for (std::uint32_t i = 0; i < length; ++i) {
            std::uint16_t c = 0;
            get(c);
            text[i] = static_cast<wchar_t>(c);
        }
        return true;
    }

    std::size_t remaining() const { return bytes_.size() - offset_; }

private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
};

// The smallest record: two empty strings.
constexpr std::size_t min_entry_size = 4 + 4 + 4 + 8 + 4;

} // namespace

std::string write_table(const std::vector<payload_entry>& entries)
{
    std::string out;
    put<std::uint64_t>(out, 0);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(entries.size()));
    for (const payload_entry& e : entries) {
        put_string(out, e.source);
        put_string(out, e.destination);
        put<std::uint32_t>(out, e.kind);
        put<std::uint64_t>(out, e.size);
        put<std::uint32_t>(out, e.crc);
    }
    const std::uint64_t size = out.size();
    for (std::size_t i = 0; i < 8; ++i)
        out[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    return out;
}

std::optional<std::vector<payload_entry>> read_table(std::string_view table)
{
    table_reader in{table};
    std::uint64_t table_size = 0;
    std::uint32_t count = 0;
    if (!in.get(table_size) || table_size != table.size() || !in.get(count))
        return std::nullopt;
    if (count > in.remaining() / min_entry_size)
        return std::nullopt;
    std::vector<payload_entry> entries(count);
    for (payload_entry& e : entries) {
        if (!in.get_string(e.source) || !in.get_string(e.destination) || !in.get(e.kind) || !in.get(e.size) ||
            !in.get(e.crc))
            return std::nullopt;
    }
    return entries;
}

std::wstring source_file_name(const std::wstring& source)
{
    const auto slash = source.find_last_of(L"\\/");
    return slash == std::wstring::npos ? source : source.substr(slash + 1);
}

} // namespace setup
