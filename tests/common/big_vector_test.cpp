#include "common/big_vector.hpp"

#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>

namespace tarvel {
namespace {

constexpr std::size_t page = huge_pages::page;

std::byte* take(std::size_t bytes) {
    return static_cast<std::byte*>(huge_pages::take(bytes));
}

void fill(std::byte* data, std::size_t bytes, unsigned char value) {
    std::memset(data, value, bytes);
}

bool all_equal(const std::byte* data, std::size_t bytes, unsigned char value) {
    for (std::size_t i = 0; i < bytes; i += 4096) {
        if (data[i] != std::byte{value} || data[i + 4095] != std::byte{value}) {
            return false;
        }
    }
    return true;
}

// Pages given back are taken again as they are: the same region when one is long enough, a
// longer region made of several kept ones (moved, not copied) otherwise, and a kept region
// longer than asked is cut, its rest kept for later.
TEST(HugePages, PagesGivenBackAreTakenAgainWithTheirContent) {
    huge_pages::release_kept();
    ASSERT_EQ(huge_pages::kept_bytes(), 0U);

    std::byte* first = take(2 * page);
    fill(first, 2 * page, 0x11);
    huge_pages::give_back(first, 2 * page);
    EXPECT_EQ(huge_pages::kept_bytes(), 2 * page);
    std::byte* again = take(2 * page);
    EXPECT_EQ(again, first);
    EXPECT_TRUE(all_equal(again, 2 * page, 0x11));
    EXPECT_EQ(huge_pages::kept_bytes(), 0U);

    // Two kept regions moved into one of their summed length.
    std::byte* other = take(page);
    fill(other, page, 0x22);
    huge_pages::give_back(again, 2 * page);
    huge_pages::give_back(other, page);
    std::byte* merged = take(3 * page);
    EXPECT_EQ(huge_pages::kept_bytes(), 0U);
    EXPECT_TRUE(all_equal(merged, 2 * page, 0x11)) << "the larger kept region comes first";
    EXPECT_TRUE(all_equal(merged + 2 * page, page, 0x22));
    fill(merged, 3 * page, 0x33); // still one writable region

    // A longer kept region is cut; its rest stays kept.
    huge_pages::give_back(merged, 3 * page);
    std::byte* cut = take(page);
    EXPECT_EQ(cut, merged);
    EXPECT_EQ(huge_pages::kept_bytes(), 2 * page);
    std::byte* rest = take(2 * page);
    EXPECT_EQ(rest, merged + page);
    EXPECT_TRUE(all_equal(rest, 2 * page, 0x33));
    huge_pages::give_back(cut, page);
    huge_pages::give_back(rest, 2 * page);
    huge_pages::release_kept();
    EXPECT_EQ(huge_pages::kept_bytes(), 0U);
}

// Pages kept beyond a size go back to the system, the largest regions that fit staying.
TEST(HugePages, KeptPagesAreTrimmedToASizeLargestRegionsFirst) {
    huge_pages::release_kept();
    std::byte* three = take(3 * page);
    std::byte* two = take(2 * page);
    std::byte* one = take(page);
    fill(three, 3 * page, 0x44);
    fill(one, page, 0x55);
    huge_pages::give_back(three, 3 * page);
    huge_pages::give_back(two, 2 * page);
    huge_pages::give_back(one, page);
    ASSERT_EQ(huge_pages::kept_bytes(), 6 * page);
    huge_pages::release_kept_beyond(6 * page);
    EXPECT_EQ(huge_pages::kept_bytes(), 6 * page);
    huge_pages::release_kept_beyond(4 * page + 1); // three and one fit, two does not
    EXPECT_EQ(huge_pages::kept_bytes(), 4 * page);
    std::byte* again = take(3 * page);
    EXPECT_EQ(again, three);
    EXPECT_TRUE(all_equal(again, 3 * page, 0x44));
    std::byte* last = take(page);
    EXPECT_EQ(last, one);
    EXPECT_TRUE(all_equal(last, page, 0x55));
    EXPECT_EQ(huge_pages::kept_bytes(), 0U);
    huge_pages::give_back(again, 3 * page);
    huge_pages::give_back(last, page);
    huge_pages::release_kept_beyond(page / 2);
    EXPECT_EQ(huge_pages::kept_bytes(), 0U);
}

// A region taken for a length that ends inside a huge page does not hold that last page: its
// kept content is given back to the system (it reads as zero), the whole pages before it keep
// theirs.
TEST(HugePages, ALastPartPageIsNotHeldFromTheKeptOnes) {
    huge_pages::release_kept();
    std::byte* region = take(3 * page);
    fill(region, 3 * page, 0x44);
    huge_pages::give_back(region, 3 * page);
    std::byte* shorter = take(2 * page + 100);
    ASSERT_EQ(shorter, region);
    EXPECT_TRUE(all_equal(shorter, 2 * page, 0x44));
    EXPECT_TRUE(all_equal(shorter + 2 * page, page, 0x00));
    huge_pages::give_back(shorter, 2 * page + 100);
    huge_pages::release_kept();
}

} // namespace
} // namespace tarvel
