#pragma once
// The payload archive's decompressed layout, shared by the reader and the build-time packer.
//
//   u64 table size (bytes from offset 0 to the first byte of file data, this field included)
//   u32 entry count
//   entries, back to back: u32 source length, UTF-16LE source path, u32 destination length,
//                          UTF-16LE destination folder, u32 kind, u64 size, u32 CRC-32
//   the files' bytes, in table order
// All integers little-endian; strings without terminator, lengths in UTF-16 code units.
// The writer does not depend on the width of wchar_t: where it holds whole code points (the
// packer built for the build machine), those above U+FFFF are written as surrogate pairs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

enum class entry_kind : std::uint32_t {
    plain = 0,
    main_executable = 1,
    uninstaller = 2,
    module = 3,
    sample = 4,
    temporary = 5,
};

struct payload_entry {
    std::wstring source;      // path the file had when the archive was built
    std::wstring destination; // destination folder; after parsing by the extractor, the full path
    std::uint32_t kind = 0;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

inline constexpr std::uint64_t table_header_size = 12;

// Bytes of the table for `entries`, table-size field first.
std::string write_table(const std::vector<payload_entry>& entries);

// Parses a complete table (all table-size bytes). Returns nothing when the bytes are not a
// well-formed table: sizes out of range, an entry running past the table.
std::optional<std::vector<payload_entry>> read_table(std::string_view table);

// The final component of a source path (after the last '\\' or '/').
std::wstring source_file_name(const std::wstring& source);

} // namespace setup
