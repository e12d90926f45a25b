#pragma once
// The payload archive: one bzip2 stream in the setup's resources, unpacked file by file to
// the destinations its install variables name, every written file verified by its CRC-32,
// every step reported to a callback.

#include "engine/compress_error.hpp"
#include "engine/payload_format.hpp"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <system_error>
#include <variant>

namespace setup {

class notification {
public:
    enum result : std::uint32_t { proceed = 0, abort = 1, skip = 2 };

    struct started {};
    struct finished {
        std::uint64_t moved; // compressed bytes the copy moved into the decompressor
        std::uint64_t total; // decompressed size of the archive
    };
    struct file_begin {
        const payload_entry& entry; // destination already resolved to the full path
    };
    struct file_end {
        const payload_entry& entry;
    };
    struct progress {
        std::uint64_t position;
        std::uint64_t total;
    };
    struct failed {
        std::error_code code;
        std::wstring path; // the file being written; empty while the table is read
    };

    using alternatives = std::variant<started, finished, file_begin, file_end, progress, failed>;

    template <class T>
    notification(T value) : value_(std::move(value))
    {
    }

    std::size_t index() const noexcept { return value_.index(); }
    template <class T>
    const T* get_if() const noexcept
    {
        return std::get_if<T>(&value_);
    }
    const alternatives& value() const noexcept { return value_; }

private:
    alternatives value_;
};

using extract_callback = std::function<notification::result(const notification&)>;

// A seekable input stream over a resource of this executable; empty when the resource is
// missing or empty. The bytes are read from the executable's own file as the program holds it
// (mw::own_image_file: the file the image was mapped from, which nobody can change while it is
// held), not from its image in memory: an archive of megabytes read twice would otherwise stay
// in the process's working set page by page. Where the program holds no such file, the
// image's bytes are read in place. Nothing is read by the program's path.
std::unique_ptr<std::istream> open_payload_resource(int type, int id);

// Decompresses the whole stream into a discarding device; true when it is a complete,
// intact bzip2 stream and was read to its end. Never throws.
bool test_payload(std::istream& stream);

// Unpacks every entry of the archive. True when all entries were written and verified and
// the data ended exactly after the last one. Failures are reported as one `failed`
// notification followed by false; nothing escapes.
bool extract_payload(std::istream& stream, const std::wstring& install_folder, const std::wstring& sample_folder,
                     const std::wstring& temp_folder, const extract_callback& callback);

// The CRC-32 of a file's content. A sharing violation is tried again after a second, three
// times at most. Throws std::system_error on failure.
std::uint32_t file_crc32(const std::wstring& path);

// Whether an entry cannot be extracted safely: its file name is empty, "." or "..", or holds
// a character not allowed in file names; its destination folder holds a ".." component; or
// the folder's first component is in angle brackets but names no install variable.
bool is_unsafe_entry(const payload_entry& entry);

} // namespace setup

