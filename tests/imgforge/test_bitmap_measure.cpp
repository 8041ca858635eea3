// Bounding box of the ink, projections, bit counts and transitions against
// per-pixel references.
#include <gtest/gtest.h>

#include "CABitmap.h"
#include "bitmap_test_util.h"

using namespace bmptest;

namespace {

constexpr unsigned short kUntouched = 0xBEEF;

// Rectangles with edges on every bit position, one-column ones, and ones
// reaching past the bitmap.
std::vector<ARECT2> Rects(int width, int height) {
  std::vector<ARECT2> v;
  for (int left = 0; left < 16; ++left)
    for (int right = left; right < left + 20; right += 1 + left % 3)
      v.push_back({left, left % 5, right, height - 1 - left % 4});
  v.push_back({-7, -3, width + 5, height + 9});
  v.push_back({width - 3, 2, width + 40, 4});
  v.push_back({13, 0, 13, height - 1});
  return v;
}

void Check(CABitmap const& b, ARECT2 r) {
  SCOPED_TRACE(testing::Message() << "rect " << r.left << "," << r.top << "," << r.right << "," << r.bottom);
  ARECT2 c;
  b.clip(c, r);
  const int W = b.m_width, H = b.m_height;
  std::vector<unsigned short> ex(W, 0), ey(H, 0);
  uint64_t count = 0;
  ARECT2 ink{INT32_MAX, INT32_MAX, -1, -1};
  for (int y = c.top; y <= c.bottom; ++y)
    for (int x = c.left; x <= c.right; ++x)
      if (Px(b, x, y)) {
        ++ex[x], ++ey[y], ++count;
        ink = {std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x), std::max(ink.bottom, y)};
      }
  auto inX = [&](int x) { return x >= c.left && x <= c.right; };
  auto inY = [&](int y) { return y >= c.top && y <= c.bottom; };

  EXPECT_EQ(b.CountBit(r), count);

  std::vector<unsigned short> px(W, kUntouched), py(H, kUntouched);
  b.proj_x(px.data(), r);
  b.proj_y(py.data(), r);
  for (int x = 0; x < W; ++x) ASSERT_EQ(px[x], inX(x) ? ex[x] : kUntouched) << "column " << x;
  for (int y = 0; y < H; ++y) ASSERT_EQ(py[y], inY(y) ? ey[y] : kUntouched) << "row " << y;
  std::fill(px.begin(), px.end(), kUntouched);
  std::fill(py.begin(), py.end(), kUntouched);
  b.proj(px.data(), py.data(), r);
  for (int x = 0; x < W; ++x) ASSERT_EQ(px[x], inX(x) ? ex[x] : kUntouched) << "column " << x;
  for (int y = 0; y < H; ++y) ASSERT_EQ(py[y], inY(y) ? ey[y] : kUntouched) << "row " << y;

  ARECT2 out{9, 9, 9, 9};
  if (count) {
    EXPECT_EQ(b.gaisetu(out, r), 1);
    EXPECT_EQ(std::vector<int>({out.left, out.top, out.right, out.bottom}),
              std::vector<int>({ink.left, ink.top, ink.right, ink.bottom}));
  } else {
    EXPECT_EQ(b.gaisetu(out, r), 0);
    EXPECT_EQ(std::vector<int>({out.left, out.top, out.right, out.bottom}),
              std::vector<int>({c.left, c.top, c.right, c.bottom}));
  }
}

int Crossings(std::vector<bool> const& line) {
  int n = 0;
  bool prev = false;
  for (bool p : line) {
    n += p && !prev;
    prev = p;
  }
  return n;
}

}  // namespace

TEST(Measurements, MatchPerPixelReferences) {
  const struct {
    int width, height;
    double density;
  } cases[] = {{45, 20, 0.5}, {64, 17, 0.03}, {130, 9, 0.9}, {40, 12, 0.0}};
  uint32_t seed = 21;
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << k.width << "x" << k.height << " density " << k.density);
    CABitmap b;
    MakeRandom(b, k.width, k.height, k.density, seed++, 2);
    for (const ARECT2& r : Rects(k.width, k.height)) Check(b, r);
    ARECT2 whole;
    b.gaisetu(whole);
    EXPECT_EQ(b.CountBit(), b.CountBit(ARECT2{0, 0, k.width - 1, k.height - 1}));
  }
}

TEST(Measurements, SinglePixelAndNeighbourBeyondTheEdge) {
  CABitmap b;
  b.alloc(16, 16, 1, 0);
  b.pset(13, 7, 1ul);
  b.pset(9, 3, 1ul);  // left of the rectangle, in its left boundary byte
  ARECT2 out;
  EXPECT_EQ(b.gaisetu(out, ARECT2{10, 0, 15, 15}), 1);
  EXPECT_EQ(std::vector<int>({out.left, out.top, out.right, out.bottom}), std::vector<int>({13, 7, 13, 7}));
  EXPECT_EQ(b.CountBit(ARECT2{10, 0, 15, 15}), 1u);
  EXPECT_EQ(b.CountBit(ARECT2{13, 0, 13, 15}), 1u);
  EXPECT_EQ(b.CountBit(ARECT2{9, 0, 9, 15}), 1u);
}

// A rectangle beside the bitmap used to measure the origin pixel, or bytes
// left of the row.
TEST(Measurements, RectangleOutsideTheBitmap) {
  CABitmap b;
  MakeRandom(b, 24, 10, 1.0, 5);
  const ARECT2 outside[] = {{24, 0, 30, 5}, {0, 10, 5, 12}, {-9, 0, -1, 5}, {0, -8, 5, -2}};
  for (const auto& r : outside) {
    std::vector<unsigned short> px(24, kUntouched), py(10, kUntouched);
    b.proj(px.data(), py.data(), r);
    b.proj_x(px.data(), r);
    b.proj_y(py.data(), r);
    EXPECT_EQ(px, std::vector<unsigned short>(24, kUntouched));
    EXPECT_EQ(py, std::vector<unsigned short>(10, kUntouched));
    EXPECT_EQ(b.CountBit(r), 0u);
    ARECT2 out;
    EXPECT_EQ(b.gaisetu(out, r), 0);
  }
}

TEST(Measurements, Crossings) {
  CABitmap row;
  row.alloc(8, 1, 1, 0);
  row.m_data[0] = 0x67;  // white, black, black, white, white, black, black, black
  EXPECT_EQ(row.cross_x(0, 7, 0), 2);
  row.m_data[0] = 0xFF;
  EXPECT_EQ(row.cross_x(0, 7, 0), 1);
  EXPECT_EQ(row.cross_x(5, 4, 0), 0);

  CABitmap b;
  MakeRandom(b, 37, 29, 0.5, 8, 1);
  std::mt19937 rng(9);
  for (int i = 0; i < 300; ++i) {
    int y = rng() % 29, x1 = static_cast<int>(rng() % 45) - 4, x2 = static_cast<int>(rng() % 45) - 4;
    std::vector<bool> line;
    for (int x = x1; x <= x2; ++x) line.push_back(x >= 0 && x < 37 && Px(b, x, y));
    ASSERT_EQ(b.cross_x(x1, x2, y), Crossings(line)) << x1 << ".." << x2 << " row " << y;
    int x = rng() % 37, y1 = static_cast<int>(rng() % 37) - 4, y2 = static_cast<int>(rng() % 37) - 4;
    line.clear();
    for (int yy = y1; yy <= y2; ++yy) line.push_back(yy >= 0 && yy < 29 && Px(b, x, yy));
    ASSERT_EQ(b.cross_y(y1, y2, x), Crossings(line)) << y1 << ".." << y2 << " column " << x;
  }
}
