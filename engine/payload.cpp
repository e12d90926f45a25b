#include "engine/payload.hpp"

#include "engine/install_variables.hpp"
#include "engine/security.hpp"
#include "support/guarded_files.hpp"
#include "support/hresult.hpp"
#include "support/image_file.hpp"
#include "support/memstream.hpp"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>

#include <boost/core/ref.hpp>
#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/null.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/iostreams/positioning.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/system/system_error.hpp>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

namespace setup {
namespace {

namespace fs = std::filesystem;
namespace io = boost::iostreams;

constexpr std::streamsize chunk_size = 4096;
// Written files are read back in larger blocks: under Wine a read costs far more than the
// bytes it moves.
constexpr DWORD read_back_block = 65536;
// The archive is read from the program's file in blocks of this size, for the same reason.
constexpr std::streamsize file_buffer_size = 65536;

[[noreturn]] void fail(compress_error e) { throw std::system_error(make_error_code(e)); }

[[noreturn]] void throw_last_error()
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
}

// Closes a file, reporting a failure.
void close_file(mw::unique_hfile& file)
{
    HANDLE h = file.release();
    if (h != INVALID_HANDLE_VALUE && !CloseHandle(h))
        throw_last_error();
}

// The output file of the entry being extracted: others may read it while it is open, but
// not write it.
// It is opened through a handle checked to be at its place (no link on the way, no second
// name), and emptied through that handle.
class output_file {
public:
    explicit output_file(const std::wstring& path)
        : file_(mw::open_guarded(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN))
    {
        if (!SetEndOfFile(file_.get()))
            throw_last_error();
    }

    void write(const char* bytes, std::size_t n)
    {
        while (n > 0) {
            DWORD written = 0;
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
            if (!WriteFile(file_.get(), bytes, ask, &written, nullptr))
                throw_last_error();
            bytes += written;
            n -= written;
        }
    }

    void close() { close_file(file_); }

private:
    mw::unique_hfile file_;
};

bool invalid_file_name(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..")
        return true;
    for (wchar_t c : name)
        if (c < 32 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos)
            return true;
    return false;
}

bool has_parent_component(const std::wstring& folder)
{
    std::size_t start = 0;
    while (start <= folder.size()) {
        const std::size_t end = std::min(folder.find_first_of(L"\\/", start), folder.size());
        if (folder.compare(start, end - start, L"..") == 0 && end - start == 2)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace


bool is_unsafe_entry(const payload_entry& entry)
{
    return invalid_file_name(source_file_name(entry.source)) || has_parent_component(entry.destination) ||
           destination_resolver::names_unknown_variable(entry.destination);
}

// The sink at the end of the decompression chain: parses the table, then splits the data
// into the entries' files.
class payload_extractor {
public:
    using char_type = char;
    using category = io::sink_tag;

    payload_extractor(const std::wstring& install_folder, const std::wstring& sample_folder,
                      const std::wstring& temp_folder, extract_callback callback)
        : resolver_(install_folder, sample_folder, temp_folder), callback_(std::move(callback))
    {
    }

    std::streamsize write(const char* bytes, std::streamsize n)
    {
        if (latched_)
            return n;
        try {
            return consume(bytes, n);
        } catch (...) {
            // The chain's stream buffers may swallow or replace what escapes here: keep it.
            latched_ = true;
            failure_ = std::current_exception();
            throw;
        }
    }

    // After the data ended: empty entries at the end receive no bytes; process them now.
    void finish()
    {
        if (!latched_ && current_ != 0)
            step_over_empty_entries();
    }

    // What escaped the write operation, if anything did.
    std::exception_ptr failure() const { return failure_; }
    bool complete() const { return total_ != 0 && position_ == total_; }
    std::uint64_t total() const { return total_; }
    // The destination of the entry whose bytes are being processed; empty in the table phase.
    std::wstring current_path() const
    {
        if (current_ == 0 || current_ - 1 >= entries_.size() || !started_)
            return {};
        return entries_[current_ - 1].destination;
    }

private:
    notification::result notify(const notification& n) const
    {
        return callback_ ? callback_(n) : notification::proceed;
    }

    void notify_or_abort(const notification& n) const
    {
        if (notify(n) == notification::abort)
            fail(compress_error::interrupted);
    }

    std::streamsize consume(const char* bytes, std::streamsize n)
    {
        std::streamsize done = 0;
        if (current_ == 0) {
            done = consume_table(bytes, n);
            if (current_ == 0)
                return done;
        }
        for (;;) {
            step_over_empty_entries();
            if (done == n)
                return done;
            if (current_ - 1 >= entries_.size())
                fail(compress_error::unexpected_error); // bytes after the last entry
            done += consume_entry(bytes + done, n - done);
        }
    }

    // Entries of size 0 take no bytes: they are processed as soon as they are reached.
    void step_over_empty_entries()
    {
        while (current_ - 1 < entries_.size() && entries_[current_ - 1].size == 0)
            consume_entry(nullptr, 0);
    }

    std::streamsize consume_table(const char* bytes, std::streamsize n)
    {
        if (discarding_)
            return n;
        const std::uint64_t have = table_.size();
        const std::uint64_t want = have < 8 ? 8 - have : table_size_ - have;
        const std::streamsize take = static_cast<std::streamsize>(std::min<std::uint64_t>(want, n));
        table_.append(bytes, static_cast<std::size_t>(take));
        if (have < 8 && table_.size() == 8) {
            for (int i = 7; i >= 0; --i)
                table_size_ = (table_size_ << 8) | static_cast<unsigned char>(table_[i]);
            if (table_size_ < table_header_size)
                fail(compress_error::unexpected_error);
            if (table_size_ >= (std::uint64_t{1} << 32)) {
                // Such a table never completes: the data then ends too early.
                discarding_ = true;
                table_.clear();
                return n;
            }
            return take + consume_table(bytes + take, n - take);
        }
        if (table_.size() == table_size_)
            open_table();
        return take;
    }

    void open_table()
    {
        auto entries = read_table(table_);
        if (!entries)
            fail(compress_error::unexpected_error);
        entries_ = std::move(*entries);
        for (const payload_entry& e : entries_)
            if (is_unsafe_entry(e))
                fail(compress_error::unexpected_error);
        for (payload_entry& e : entries_) {
            const fs::path folder = resolver_.resolve_destination(e.destination);
            e.destination = (folder / source_file_name(e.source)).wstring();
        }
        table_.clear();
        table_.shrink_to_fit();
        position_ = table_size_;
        total_ = table_size_;
        for (const payload_entry& e : entries_)
            total_ += e.size;
        notify_or_abort(notification::progress{position_, total_});
        current_ = 1;
    }

    std::streamsize consume_entry(const char* bytes, std::streamsize n)
    {
        const payload_entry& entry = entries_[current_ - 1];
        if (!started_) {
            // Nothing is decided, backed up or written for a destination reached through a link
            // (a folder users may write, replaced by a link to another): the extraction fails.
            mw::check_unlinked(entry.destination);
            const auto answer = notify(notification::file_begin{entry});
            if (answer == notification::abort)
                fail(compress_error::interrupted);
            remaining_ = entry.size;
            skip_ = answer == notification::skip;
            started_ = true;
            if (!skip_)
                open_output(entry.destination);
        }
        const std::uint64_t m = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), remaining_);
        if (!skip_ && m)
            output_->write(bytes, static_cast<std::size_t>(m));
        remaining_ -= m;
        position_ += m;
        if (m || entry.size == 0)
            notify_or_abort(notification::progress{position_, total_});
        if (remaining_ == 0) {
            if (!skip_) {
                output_->close();
                output_.reset();
                if (file_crc32(entry.destination) != entry.crc)
                    fail(compress_error::invalid_checksum);
                notify_or_abort(notification::file_end{entry});
            }
            ++current_;
            started_ = false;
            skip_ = false;
        }
        return static_cast<std::streamsize>(m);
    }

    void open_output(const std::wstring& destination)
    {
        const fs::path path{destination};
        const DWORD attributes = GetFileAttributesW(destination.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(destination.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        } else if (path.has_parent_path()) {
            std::error_code ec;
            if (!fs::is_directory(path.parent_path(), ec))
                mw::create_folders_guarded(path.parent_path().wstring());
        }
        open_shared_folders(path.parent_path());
        output_.emplace(destination);
    }

    // Grants the Users group access to every shared folder not yet granted that `folder` is
    // in (or is): walks from `folder` upward while each step is an existing folder. File-system
    // identities are costly: the shared folders' are looked up once they exist (once per walk
    // until then), a step's only when some shared folder it could be exists and differs from it
    // in text; a folder walked before, with no shared folder granted since, gives the same
    // answer and is not walked again.
    void open_shared_folders(const fs::path& folder)
    {
        auto& shared = resolver_.shared_folders();
        const bool pending = std::any_of(shared.begin(), shared.end(), [](const auto& s) { return !s.granted; });
        if (!pending || !walked_.insert(folder.native()).second)
            return;
        for (shared_folder& s : shared)
            if (!s.granted && !s.identity)
                s.identity = mw::identity_of(s.path);
        std::error_code ec;
        bool granted = false;
        for (fs::path step = folder; !step.empty() && fs::is_directory(step, ec); step = step.parent_path()) {
            std::optional<std::optional<mw::file_identity>> step_identity;
            for (shared_folder& s : shared) {
                if (s.granted)
                    continue;
                bool same = step.native() == s.path || mw::same_path_lexically(step.native(), s.path);
                if (!same && s.identity) {
                    if (!step_identity)
                        step_identity = mw::identity_of(step.native());
                    same = *step_identity == s.identity;
                }
                if (same) {
                    grant_users_access(s.path, 0x1F01FF, 3);
                    s.granted = granted = true;
                }
            }
            if (step.parent_path() == step)
                break;
        }
        if (granted)
            walked_.clear();
    }

    destination_resolver resolver_;
    std::set<std::wstring> walked_;
    extract_callback callback_;
    std::vector<payload_entry> entries_;
    std::string table_;
    std::uint64_t table_size_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t total_ = 0;
    std::size_t current_ = 0;
    std::uint64_t remaining_ = 0;
    bool started_ = false;
    bool skip_ = false;
    std::optional<output_file> output_;
    bool latched_ = false;
    std::exception_ptr failure_;
    bool discarding_ = false;
};

namespace {

// The error code of an exception that escaped extraction, and the path it names if any.
std::error_code error_of(std::exception_ptr failure, std::wstring& path)
{
    try {
        std::rethrow_exception(failure);
    } catch (const io::bzip2_error&) {
        return make_error_code(compress_error::bzip2_error);
    } catch (const std::ios_base::failure& e) {
        if (_doserrno != 0)
            return {static_cast<int>(_doserrno), std::system_category()};
        return e.code();
    } catch (const fs::filesystem_error& e) {
        if (path.empty())
            path = e.path1().wstring();
        return e.code();
    } catch (const std::system_error& e) {
        // Known kinds: system, C runtime and the engine's own codes. Anything else (an
        // HRESULT from a refused access grant, say) is an unexpected error.
        const auto& category = e.code().category();
        if (category == std::system_category() || category == std::generic_category() ||
            category == compress_category())
            return e.code();
        return make_error_code(compress_error::unexpected_error);
    } catch (const boost::system::system_error& e) {
        const auto& category = e.code().category();
        if (category == boost::system::system_category())
            return {e.code().value(), std::system_category()};
        if (category == boost::system::generic_category())
            return {e.code().value(), std::generic_category()};
        return make_error_code(compress_error::unexpected_error);
    } catch (...) {
        return make_error_code(compress_error::unexpected_error);
    }
}

// Where `size` bytes at `bytes` in the image of `module` lie in its file: the section holding
// them maps their address to a file position. Nothing when no section holds them whole.
std::optional<std::streamoff> file_offset_of(HMODULE module, const char* bytes, DWORD size) noexcept
{
    const auto* base = reinterpret_cast<const char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto address = static_cast<std::uint64_t>(bytes - base);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const std::uint64_t start = section->VirtualAddress;
        if (address >= start && address + size <= start + section->SizeOfRawData)
            return static_cast<std::streamoff>(section->PointerToRawData + (address - start));
    }
    return std::nullopt;
}

// `size` bytes of a file from `offset` on, read at explicit positions: the file's own position
// is neither used nor moved, so that any number of these read one handle at once. The handle
// is borrowed, never closed.
class file_range_source {
public:
    using char_type = char;
    struct category : io::input_seekable, io::device_tag {};

    file_range_source(HANDLE file, std::uint64_t offset, std::uint64_t size) noexcept
        : file_(file), offset_(offset), size_(size)
    {
    }

    std::streamsize read(char* s, std::streamsize n)
    {
        if (n <= 0 || position_ >= size_)
            return -1;
        const auto ask = static_cast<DWORD>(std::min<std::uint64_t>({static_cast<std::uint64_t>(n), size_ - position_, 1u << 30}));
        const std::uint64_t at = offset_ + position_;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!ReadFile(file_, s, ask, &got, &where) && GetLastError() != ERROR_HANDLE_EOF)
            throw_last_error();
        if (got == 0)
            return -1;
        position_ += got;
        return static_cast<std::streamsize>(got);
    }

    std::streampos seek(io::stream_offset off, std::ios_base::seekdir way)
    {
        const auto from = way == std::ios_base::beg   ? io::stream_offset{0}
                          : way == std::ios_base::cur ? static_cast<io::stream_offset>(position_)
                                                      : static_cast<io::stream_offset>(size_);
        const io::stream_offset next = from + off;
        if (next < 0 || static_cast<std::uint64_t>(next) > size_)
            throw std::ios_base::failure("bad seek offset");
        position_ = static_cast<std::uint64_t>(next);
        return io::offset_to_position(next);
    }

private:
    HANDLE file_;
    std::uint64_t offset_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

} // namespace

std::unique_ptr<std::istream> open_payload_resource(int type, int id)
{
    HMODULE module = GetModuleHandleW(nullptr);
    const char* bytes = nullptr;
    DWORD size = 0;
    if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type))) {
        if (HGLOBAL loaded = LoadResource(module, info)) {
            bytes = static_cast<const char*>(LockResource(loaded));
            size = bytes ? SizeofResource(module, info) : 0;
        }
    }
    if (size > 0) {
        const HANDLE image_file = mw::own_image_file();
        const auto offset = file_offset_of(module, bytes, size);
        if (image_file != INVALID_HANDLE_VALUE && offset)
            return std::make_unique<io::stream<file_range_source>>(file_range_source(image_file, *offset, size),
                                                                   file_buffer_size);
    }
    return std::make_unique<mw::imemstream>(bytes, size);
}

bool test_payload(std::istream& stream)
{
    try {
        io::filtering_ostream chain;
        chain.push(io::bzip2_decompressor());
        chain.push(io::null_sink());
        io::copy(stream, chain, chunk_size);
        chain.reset();
        return !stream.bad() && !(stream.fail() && !stream.eof()) &&
               std::istream::traits_type::eq_int_type(stream.rdbuf()->sgetc(), std::istream::traits_type::eof());
    } catch (...) {
        return false;
    }
}

bool extract_payload(std::istream& stream, const std::wstring& install_folder, const std::wstring& sample_folder,
                     const std::wstring& temp_folder, const extract_callback& callback)
{
    auto notify = [&](const notification& n) { return callback ? callback(n) : notification::proceed; };
    std::optional<payload_extractor> extractor;
    try {
        _doserrno = 0;
        notify(notification::started{});
        extractor.emplace(install_folder, sample_folder, temp_folder, callback);
        std::streamsize moved = 0;
        {
            io::filtering_ostream chain;
            chain.push(io::bzip2_decompressor());
            chain.push(boost::ref(*extractor));
            moved = io::copy(stream, chain, chunk_size);
            chain.reset();
        }
        if (extractor->failure())
            std::rethrow_exception(extractor->failure());
        extractor->finish();
        if (!extractor->complete())
            fail(compress_error::unexpected_error);
        notify(notification::finished{static_cast<std::uint64_t>(moved), extractor->total()});
        return true;
    } catch (...) {
        std::wstring path = extractor ? extractor->current_path() : std::wstring{};
        std::error_code code;
        try {
            const std::exception_ptr cause =
                extractor && extractor->failure() ? extractor->failure() : std::current_exception();
            code = error_of(cause, path);
            notify(notification::failed{code, path});
        } catch (...) {
            // The callback failed while being told of the failure: the extraction has failed
            // already, and its result says so; nothing of the callback's may escape here.
        }
        return false;
    }
}

std::uint32_t file_crc32(const std::wstring& path)
{
    for (int attempt = 0;; ++attempt) {
        const mw::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            const DWORD error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION && attempt < 3) {
                Sleep(1000);
                continue;
            }
            throw std::system_error(static_cast<int>(error), std::system_category());
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        static thread_local std::vector<char> block(read_back_block);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), block.data(), read_back_block, &got, nullptr))
                throw_last_error();
            if (got == 0)
                break;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), got);
        }
        return static_cast<std::uint32_t>(crc);
    }
}

} // namespace setup
