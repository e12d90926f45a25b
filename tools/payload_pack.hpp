#pragma once
// Building payload archives: the table and data, compressed as one bzip2 stream.

#include "engine/payload_format.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

struct pack_item {
    std::wstring source;      // stored in the table; only its file name is used when unpacking
    std::wstring destination; // destination folder, may start with an install variable
    std::uint32_t kind = 0;
    std::string bytes;        // the file's content
};

// The decompressed archive: table, then every item's bytes. Sizes and CRC-32s are computed.
std::string build_archive(const std::vector<pack_item>& items);

// The block size the payload is compressed at: blocks of 100 kB. The payload is mostly data
// compressed already (programs aside, images), so larger blocks hardly make it smaller (0.7 %
// for 900 kB blocks), while the decompressor's memory grows with them: 0.5 MB for 100 kB
// blocks, 3.7 MB for 900 kB, in the setup's working set while it installs.
inline constexpr int payload_block_level = 1;

// One bzip2 stream of `data` at block size `level` (1 to 9). Throws std::runtime_error.
std::string bzip2_compress(std::string_view data, int level = payload_block_level);

// The CRC-32 of a byte range.
std::uint32_t crc32_of(std::string_view data);

// Reads a manifest: one entry a line, "source<TAB>destination<TAB>kind", UTF-8; blank lines
// and lines starting with '#' are skipped. Kinds by name (plain, main_executable, uninstaller,
// module, sample, temporary). Sources are read relative to `base_folder`. Throws on errors.
std::vector<pack_item> read_manifest(const std::filesystem::path& manifest_path,
                                     const std::filesystem::path& base_folder);

} // namespace setup
