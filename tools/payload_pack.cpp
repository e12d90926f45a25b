#include "tools/payload_pack.hpp"

#include <bzlib.h>
#include <zlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace setup {
namespace {

std::wstring widen_utf8(const std::string& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra)
            cp = c & (0x3F >> extra);
        if (i + extra >= text.size())
            throw std::runtime_error("manifest: truncated UTF-8");
        for (int k = 1; k <= extra; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000 && sizeof(wchar_t) == 2) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    }
    return out;
}

std::uint32_t kind_of(const std::string& name)
{
    static constexpr std::array<const char*, 6> names{"plain",  "main_executable", "uninstaller",
                                                      "module", "sample",          "temporary"};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (name == names[i])
            return static_cast<std::uint32_t>(i);
    throw std::runtime_error("manifest: unknown kind '" + name + "'");
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

} // namespace

std::uint32_t crc32_of(std::string_view data)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!data.empty()) {
        const uInt n = static_cast<uInt>(std::min<std::size_t>(data.size(), 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), n);
        data.remove_prefix(n);
    }
    return static_cast<std::uint32_t>(crc);
}

std::string build_archive(const std::vector<pack_item>& items)
{
    std::vector<payload_entry> entries;
    std::size_t data_size = 0;
    for (const pack_item& item : items) {
        entries.push_back({item.source, item.destination, item.kind, item.bytes.size(), crc32_of(item.bytes)});
        data_size += item.bytes.size();
    }
    std::string archive = write_table(entries);
    archive.reserve(archive.size() + data_size);
    for (const pack_item& item : items)
        archive += item.bytes;
    return archive;
}

std::string bzip2_compress(std::string_view data, int level)
{
    bz_stream stream{};
    if (BZ2_bzCompressInit(&stream, level, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2: cannot initialise");
    std::string out;
    std::array<char, 65536> buffer;
    stream.next_in = const_cast<char*>(data.data());
    stream.avail_in = static_cast<unsigned>(data.size());
    int status = BZ_RUN_OK;
    do {
        stream.next_out = buffer.data();
        stream.avail_out = buffer.size();
        status = BZ2_bzCompress(&stream, BZ_FINISH);
        if (status != BZ_FINISH_OK && status != BZ_STREAM_END) {
            BZ2_bzCompressEnd(&stream);
            throw std::runtime_error("bzip2: compression failed");
        }
        out.append(buffer.data(), buffer.size() - stream.avail_out);
    } while (status != BZ_STREAM_END);
    BZ2_bzCompressEnd(&stream);
    return out;
}

std::vector<pack_item> read_manifest(const std::filesystem::path& manifest_path,
                                     const std::filesystem::path& base_folder)
{
    std::ifstream in(manifest_path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read the manifest");
    std::vector<pack_item> items;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto tab1 = line.find('\t');
        const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos)
            throw std::runtime_error("manifest: expected source, destination and kind: " + line);
        pack_item item;
        const std::string source = line.substr(0, tab1);
        item.source = widen_utf8(source);
        item.destination = widen_utf8(line.substr(tab1 + 1, tab2 - tab1 - 1));
        item.kind = kind_of(line.substr(tab2 + 1));
        item.bytes = read_file(base_folder / std::filesystem::path(std::u8string(source.begin(), source.end())));
        for (wchar_t& c : item.source)
            if (c == L'/')
                c = L'\\';
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace setup
