#pragma once
// The engine's own error category, "compress": what the payload extraction reports beside
// system (Win32) and C runtime codes.

#include <system_error>

namespace setup {

// Codes of the "compress" error category.
enum class compress_error {
    invalid_checksum = 3,
    test_failed = 4,
    interrupted = 5,
    bzip2_error = 6,
    unexpected_error = 7,
};

const std::error_category& compress_category() noexcept;
std::error_code make_error_code(compress_error e) noexcept;

} // namespace setup

template <>
struct std::is_error_code_enum<setup::compress_error> : std::true_type {};
