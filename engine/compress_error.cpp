#include "engine/compress_error.hpp"

#include <string>

namespace setup {
namespace {

class compress_category_impl final : public std::error_category {
public:
    const char* name() const noexcept override { return "compress"; }
    std::string message(int code) const override
    {
        switch (static_cast<compress_error>(code)) {
        case compress_error::invalid_checksum: return "invalid checksum";
        case compress_error::interrupted: return "interrupted";
        case compress_error::bzip2_error: return "bzip2 error";
        case compress_error::unexpected_error: return "unexpected error";
        default: return "unknown error";
        }
    }
};

} // namespace

const std::error_category& compress_category() noexcept
{
    static const compress_category_impl category;
    return category;
}

std::error_code make_error_code(compress_error e) noexcept { return {static_cast<int>(e), compress_category()}; }

} // namespace setup
