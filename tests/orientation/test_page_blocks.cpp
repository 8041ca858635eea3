// Kept page blocks: a block given back is handed out again to a page of its
// size, never to a much smaller one, and the cache stays within its bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "page_blocks.h"

using namespace turnsense;

namespace {

constexpr size_t kMB = size_t(1) << 20;

TEST(PageBlocks, AGivenBackBlockServesTheNextPageOfItsSize) {
  ReleasePageBlocks();
  uint8_t* first = nullptr;
  {
    PageBlock a(9 * kMB);
    first = a.get();
    std::memset(first, 7, 9 * kMB);
  }
  {
    PageBlock again(9 * kMB - 5);
    EXPECT_EQ(again.get(), first);
    PageBlock other(9 * kMB);  // the kept one is taken: a new block
    EXPECT_NE(other.get(), first);
  }
  {
    PageBlock small(3 * kMB);  // not half of what is kept: its own block
    EXPECT_NE(small.get(), first);
    PageBlock tiny(100);
    EXPECT_NE(tiny.get(), nullptr);
  }
  ReleasePageBlocks();
}

TEST(PageBlocks, TheCacheKeepsNoMoreThanItsBound) {
  ReleasePageBlocks();
  std::vector<uint8_t*> given;
  {
    std::vector<std::unique_ptr<PageBlock>> blocks;
    for (int i = 0; i < 5; ++i) blocks.emplace_back(new PageBlock(40 * kMB));
    for (auto& b : blocks) given.push_back(b->get());
  }
  // Two of 40 MB fit the 96 MB the cache may hold; the others were freed.
  EXPECT_EQ(KeptPageBlockBytes(), 80 * kMB);
  {
    PageBlock a(40 * kMB), b(40 * kMB);
    EXPECT_NE(std::find(given.begin(), given.end(), a.get()), given.end());
    EXPECT_NE(std::find(given.begin(), given.end(), b.get()), given.end());
    EXPECT_EQ(KeptPageBlockBytes(), 0u);
  }
  ReleasePageBlocks();
  EXPECT_EQ(KeptPageBlockBytes(), 0u);
}

}  // namespace
