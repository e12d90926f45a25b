#include "support/temp_names.hpp"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <windows.h>

#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

namespace mw {
namespace {

std::mt19937& name_generator()
{
    static std::mt19937 generator{std::random_device{}()};
    return generator;
}

std::mutex& name_generator_lock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

std::uint32_t next_random_u32()
{
    std::lock_guard guard{name_generator_lock()};
    return static_cast<std::uint32_t>(name_generator()());
}

std::wstring unique_temp_path(const std::wstring& pattern)
{
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int tries = 0; tries < unique_temp_path_tries; ++tries) {
        std::wstring name = pattern;
        for (wchar_t& c : name)
            if (c == L'%')
                c = digits[next_random_u32() >> 28];
        std::filesystem::path candidate = folder / name;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)))
            return candidate.wstring();
    }
    throw std::system_error(static_cast<int>(ERROR_FILE_EXISTS), std::system_category(), "unique_temp_path");
}

bool choose_temp_folder(std::wstring& path, std::wstring& error_text)
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) {
        error_text = fmt::format(L"{:08x} ({})", static_cast<std::uint32_t>(ec.value()), L"temp_directory_path");
        return false;
    }
    // Every bit from the system's random source (rand_s behind std::random_device), not from
    // the cryptographic providers Boost.UUID would load otherwise (with their libraries, several
    // megabytes of working set where the system brings its own TLS stack) for sixteen bytes.
    static std::random_device device;
    static boost::uuids::basic_random_generator<std::random_device> generator(device);
    static std::mutex lock;
    boost::uuids::uuid id;
    {
        std::lock_guard guard{lock};
        id = generator();
    }
    path = (folder / (L"marrowind_{" + boost::uuids::to_wstring(id) + L"}")).wstring();
    return true;
}

} // namespace mw
