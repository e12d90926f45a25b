// What the payload carries, as built: its order and kinds, and the built files' own identity.

#include "engine/payload.hpp"
#include "support/memstream.hpp"

#include "tests/product/product_support.hpp"

#include <windows.h>

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <sstream>

namespace {

using namespace product_testing;

std::wstring lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

struct packed {
    std::wstring name;
    std::wstring destination; // full path
    std::uint32_t kind;
    std::uint64_t size;
    std::uint32_t crc;
};

TEST(payload, carries_the_content_in_name_order_then_the_programs_then_the_languages)
{
    const std::string archive = testing_support::read_bytes(fs::path(L"" MW_BUILT_PAYLOAD));
    ASSERT_FALSE(archive.empty());
    mw::imemstream stream{archive.data(), archive.size()};
    testing_support::scratch_folder dir;
    const std::wstring install = dir / L"Install";
    std::vector<packed> entries;
    const bool ok = setup::extract_payload(stream, install, L"Samples", L"", [&](const setup::notification& n) {
        if (const auto* begin = n.get_if<setup::notification::file_begin>()) {
            const auto& e = begin->entry;
            entries.push_back({setup::source_file_name(e.source), e.destination, e.kind, e.size, e.crc});
            return setup::notification::skip; // read, never written
        }
        return setup::notification::proceed;
    });
    ASSERT_TRUE(ok);
    ASSERT_EQ(entries.size(), 54u);

    // 49 content files, interleaved in the order of their names.
    const std::wstring data = lower(fs::path(_wgetenv(L"ALLUSERSPROFILE")).wstring());
    for (std::size_t i = 0; i < 49; ++i) {
        const packed& e = entries[i];
        const std::wstring extension = lower(fs::path(e.name).extension().wstring());
        const std::wstring folder = lower(fs::path(e.destination).parent_path().wstring());
        if (i > 0) {
            EXPECT_LT(lower(entries[i - 1].name), lower(e.name)) << i;
        }
        if (extension == L".jpg") {
            EXPECT_EQ(e.kind, 0u) << i;
            EXPECT_EQ(folder, data + L"\\marrowind works\\textures\\tilewright") << i;
        } else if (extension == L".lbm") {
            EXPECT_EQ(e.kind, 3u) << i;
            EXPECT_EQ(folder, data + L"\\marrowind works\\modules\\tilewright") << i;
        } else {
            EXPECT_EQ(extension, L".cal") << i;
            EXPECT_EQ(e.kind, 4u) << i;
            EXPECT_EQ(fs::path(folder).filename(), L"samples") << i;
        }
    }
    struct tail_case {
        const wchar_t* name;
        std::uint32_t kind;
        std::wstring folder;
        fs::path built;
    };
    const tail_case tail[] = {
        {L"Uninstall.exe", 2, install, bin_folder() / L"Uninstall.exe"},
        {L"Tilewright.exe", 1, install, bin_folder() / L"Tilewright.exe"},
        {L"Tilewright_de.dll", 0, install + L"\\Lang", bin_folder() / L"Lang" / L"Tilewright_de.dll"},
        {L"Tilewright_es.dll", 0, install + L"\\Lang", bin_folder() / L"Lang" / L"Tilewright_es.dll"},
        {L"Tilewright_fr.dll", 0, install + L"\\Lang", bin_folder() / L"Lang" / L"Tilewright_fr.dll"},
    };
    for (std::size_t i = 0; i < 5; ++i) {
        const packed& e = entries[49 + i];
        EXPECT_EQ(e.name, tail[i].name);
        EXPECT_EQ(e.kind, tail[i].kind) << i;
        EXPECT_EQ(e.destination, tail[i].folder + L"\\" + tail[i].name);
        // The very files this build made.
        EXPECT_EQ(e.size, fs::file_size(tail[i].built)) << i;
        EXPECT_EQ(e.crc, setup::file_crc32(tail[i].built.wstring())) << i;
    }
}

// One line of the payload manifest, as the manifest says it.
struct manifest_line {
    std::wstring file_name;
    std::wstring destination;
    std::uint32_t kind;
};

std::vector<manifest_line> read_manifest_lines()
{
    const std::map<std::string, std::uint32_t> kinds{{"plain", 0},  {"main_executable", 1}, {"uninstaller", 2},
                                                     {"module", 3}, {"sample", 4},          {"temporary", 5}};
    std::istringstream in{testing_support::read_bytes(fs::path(L"" MW_PAYLOAD_MANIFEST))};
    std::vector<manifest_line> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream columns{line};
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(field);
        EXPECT_EQ(fields.size(), 3u) << line;
        if (fields.size() != 3 || !kinds.count(fields[2]))
            continue;
        const std::string name = fields[0].substr(fields[0].find_last_of("/\\") + 1);
        lines.push_back({std::wstring(name.begin(), name.end()), std::wstring(fields[1].begin(), fields[1].end()),
                         kinds.at(fields[2])});
    }
    return lines;
}

// Reads the decompressed archive's table field by field.
class table_cursor {
public:
    explicit table_cursor(const std::string& bytes) : bytes_(bytes) {}
    std::uint64_t number(int width)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < width && at_ + i < bytes_.size(); ++i)
            value |= std::uint64_t(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
        at_ += width;
        return value;
    }
    std::wstring text()
    {
        std::wstring value(number(4), L'\0');
        for (wchar_t& c : value)
            c = static_cast<wchar_t>(number(2));
        return value;
    }
    std::size_t offset() const { return at_; }

private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

TEST(payload, holds_what_the_manifest_lists_in_its_order)
{
    const std::vector<manifest_line> manifest = read_manifest_lines();
    ASSERT_FALSE(manifest.empty());
    std::ifstream compressed(fs::path(L"" MW_BUILT_PAYLOAD), std::ios::binary);
    ASSERT_TRUE(compressed);
    boost::iostreams::filtering_istream decompressed;
    decompressed.push(boost::iostreams::bzip2_decompressor());
    decompressed.push(compressed);
    std::ostringstream archive_stream;
    boost::iostreams::copy(decompressed, archive_stream);
    const std::string archive = archive_stream.str();

    table_cursor table{archive};
    const std::uint64_t table_size = table.number(8);
    ASSERT_LE(table_size, archive.size());
    ASSERT_EQ(table.number(4), manifest.size());
    std::uint64_t data_size = 0;
    for (std::size_t i = 0; i < manifest.size(); ++i) {
        const std::wstring source = table.text();
        const std::wstring destination = table.text();
        const auto kind = static_cast<std::uint32_t>(table.number(4));
        data_size += table.number(8);
        table.number(4);
        ASSERT_LE(table.offset(), table_size) << i;
        EXPECT_EQ(source.substr(source.find_last_of(L"\\/") + 1), manifest[i].file_name) << i;
        EXPECT_EQ(destination, manifest[i].destination) << i;
        EXPECT_EQ(kind, manifest[i].kind) << i;
    }
    EXPECT_EQ(table_size + data_size, archive.size());
}

// The string `name` of a file's version block, translation 1200 of `langid`.
std::wstring version_string(const fs::path& file, const wchar_t* langid, const wchar_t* name)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
        return L"(no version block)";
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring sub = std::wstring(L"\\StringFileInfo\\") + langid + L"04b0\\" + name;
    if (!VerQueryValueW(block.data(), sub.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"(missing)";
    return value;
}

std::uint64_t file_version(const fs::path& file)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        return 0;
    return std::uint64_t(fixed->dwFileVersionMS) << 32 | fixed->dwFileVersionLS;
}

TEST(built_files, tell_the_setup_which_version_is_installed)
{
    const fs::path program = bin_folder() / L"Tilewright.exe";
    EXPECT_EQ(file_version(program), 0x0001001600010001ull);
    EXPECT_EQ(version_string(program, L"0409", L"ProductName"), L"Tilewright");
    EXPECT_EQ(version_string(program, L"0409", L"ProductVersion"), L"1.22a");
    EXPECT_EQ(version_string(program, L"0409", L"ApplicationId"), L"Tilewright");
    const fs::path uninstaller = bin_folder() / L"Uninstall.exe";
    EXPECT_EQ(file_version(uninstaller), 0x0001001600010001ull);
    EXPECT_EQ(version_string(uninstaller, L"0409", L"ProductName"), L"Tilewright");
    const std::pair<const wchar_t*, const wchar_t*> languages[] = {
        {L"Tilewright_fr.dll", L"040c"}, {L"Tilewright_de.dll", L"0407"}, {L"Tilewright_es.dll", L"0c0a"}};
    for (const auto& [file, langid] : languages)
        EXPECT_EQ(version_string(bin_folder() / L"Lang" / file, langid, L"ProductName"), L"Tilewright")
            << fs::path(file);
}

// The link time stamp of a PE file.
DWORD link_time(const fs::path& file)
{
    const std::string bytes = testing_support::read_bytes(file);
    if (bytes.size() < 0x40)
        return 0xFFFFFFFF;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || bytes.size() < std::size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32))
        return 0xFFFFFFFF;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
    return nt->FileHeader.TimeDateStamp;
}

TEST(built_files, carry_no_link_time_so_that_every_build_packs_the_same_bytes)
{
    for (const fs::path& file : {bin_folder() / L"Tilewright.exe", bin_folder() / L"Uninstall.exe",
                                 bin_folder() / L"Lang" / L"Tilewright_fr.dll",
                                 bin_folder() / L"Lang" / L"Tilewright_de.dll",
                                 bin_folder() / L"Lang" / L"Tilewright_es.dll"})
        EXPECT_EQ(link_time(file), 0u) << file;
}

} // namespace
