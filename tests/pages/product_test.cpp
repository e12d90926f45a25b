#include "pages/product.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(product_identity, key_name_comes_from_the_table)
{
    EXPECT_EQ(setup::product_key_name(0x601), L"Tilewright");
    EXPECT_EQ(&setup::product_key_name(), &setup::product_key_name(setup::product_code));
    for (std::uint32_t unknown : {0x0u, 0x100u, 0x1FFu, 0x600u, 0x602u, 0x1601u, 0xFFFFFFFFu})
        EXPECT_THROW(setup::product_key_name(unknown), std::out_of_range) << std::hex << unknown;
}

TEST(product_identity, title_and_version)
{
    EXPECT_EQ(setup::product_title, L"Tilewright 1.22a");
    EXPECT_EQ(setup::product_name, L"Tilewright");

    // 16 bits per field, major highest: ordering follows the fields from left to right.
    EXPECT_EQ(setup::setup_version, 0x0001'0016'0001'0001u);
    EXPECT_LT(setup::make_file_version(1, 21, 0xFFFF, 0xFFFF), setup::setup_version);
    EXPECT_LT(setup::setup_version, setup::make_file_version(1, 22, 1, 2));
    EXPECT_LT(setup::make_file_version(1, 0xFFFF, 0xFFFF, 0xFFFF), setup::make_file_version(2, 0, 0, 0));
}

} // namespace
