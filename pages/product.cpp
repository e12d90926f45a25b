#include "pages/product.hpp"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <stdexcept>

namespace setup {
namespace {

struct product_row {
    std::uint32_t code;
    std::wstring key_name;
};

} // namespace

std::wstring version_text(std::uint64_t version)
{
    return fmt::format(L"{}.{}.{}.{}", version >> 48, (version >> 32) & 0xFFFF, (version >> 16) & 0xFFFF,
                       version & 0xFFFF);
}

std::wstring maker_key()
{
    return L"Software\\" + std::wstring(maker_name);
}

const std::wstring& product_key_name(std::uint32_t code)
{
    static const product_row table[] = {
        {product_code, std::wstring(product_name)},
    };
    for (const auto& row : table)
        if (row.code == code)
            return row.key_name;
    throw std::out_of_range(fmt::format("unknown product code {:#x}", code));
}

} // namespace setup
