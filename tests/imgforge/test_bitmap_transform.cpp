// Reduction, linear transform and quarter turns against per-pixel references.
#include <gtest/gtest.h>

#include "CABitmap.h"
#include "bitmap_internal.h"
#include "bitmap_test_util.h"

using namespace bmptest;

namespace {

// The reduced pixel (X, Y): OR or AND of its n x n block (columns beyond the
// width white, rows beyond the height left out), or its top-left pixel.
bool Reduced(CABitmap const& s, int X, int Y, int n, int type) {
  if (type == 3) return Px(s, X * n, Y * n);
  if (type != 1 && type != 2) return false;
  bool any = false, every = true;
  for (int y = Y * n; y < std::min(Y * n + n, s.m_height); ++y)
    for (int x = X * n; x < X * n + n; ++x) {
      bool p = x < s.m_width && Px(s, x, y);
      any = any || p;
      every = every && p;
    }
  return type == 2 && n != 8 ? every : any;
}

void ExpectPaddingClear(CABitmap const& b) {
  if (b.m_width % 8 == 0) return;
  uint8_t pad = 0xFF >> (b.m_width % 8);
  for (int y = 0; y < b.m_height; ++y) ASSERT_EQ(b.m_data[y * b.m_bpl + b.m_bpl - 1] & pad, 0) << "row " << y;
}

void FillRandom(CABitmap& b, uint32_t seed) {
  std::mt19937 rng(seed);
  for (uint64_t i = 0; i < b.m_size; ++i) b.m_data[i] = static_cast<uint8_t>(rng());
}

}  // namespace

// Sources with rows longer than their width used to overflow the reduced
// rows, which were sized from the source's bpl.
TEST(Reduction, MatchesBlockReference) {
  const struct {
    int width, height, pad;
  } sizes[] = {{37, 23, 0}, {64, 16, 5}, {5, 5, 1}, {1, 1, 0}, {130, 17, 9}, {8, 9, 3}, {71, 3, 0}};
  uint32_t seed = 40;
  for (const auto& s : sizes)
    for (int n : {2, 4, 8})
      for (int type : {0, 1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " pad " << s.pad << " n " << n << " type "
                                        << type);
        CABitmap src;
        MakeRandom(src, s.width, s.height, 0.6, seed++, s.pad);
        auto before = Bytes(src);
        ABITMAP in, out{};
        src.getABITMAP(in);
        uint8_t* buf = abmp_n_small(&in, &out, n, type);
        ASSERT_NE(buf, nullptr);
        EXPECT_EQ(out.data, buf);
        CABitmap dst;
        dst.set(out);
        EXPECT_EQ(dst.m_width, (s.width + n - 1) / n);
        EXPECT_EQ(dst.m_height, (s.height + n - 1) / n);
        EXPECT_EQ(dst.m_bpl, (dst.m_width + 7) / 8);
        EXPECT_EQ(dst.m_bits, 1);
        for (int Y = 0; Y < dst.m_height; ++Y)
          for (int X = 0; X < dst.m_width; ++X) ASSERT_EQ(Px(dst, X, Y), Reduced(src, X, Y, n, type)) << X << "," << Y;
        ExpectPaddingClear(dst);
        EXPECT_EQ(Bytes(src), before);

        CABitmap member;
        ASSERT_EQ(member.n_small(src, n, type), 0);
        EXPECT_EQ(member.m_owner, 1);
        EXPECT_EQ(Bytes(member), Bytes(dst));
        free(buf);
      }
}

TEST(Reduction, RefusedFactorsAndSources) {
  CABitmap src;
  MakeRandom(src, 20, 20, 0.5, 1);
  ABITMAP in, out{};
  src.getABITMAP(in);
  out.width = 77;
  for (int n : {0, 1, 3, 16}) {
    EXPECT_EQ(abmp_n_small(&in, &out, n, 1), nullptr);
    EXPECT_EQ(out.width, 77);
  }
  ABITMAP grey = in;
  grey.bits = 8;
  EXPECT_EQ(abmp_n_small(&grey, &out, 2, 1), nullptr);
  ABITMAP shortRows = in;
  shortRows.bpl = 2;
  EXPECT_EQ(abmp_n_small(&shortRows, &out, 2, 1), nullptr);
  EXPECT_EQ(abmp_n_small(nullptr, &out, 2, 1), nullptr);

  CABitmap dst;
  dst.alloc(4, 4, 1, 0);
  EXPECT_EQ(dst.n_small(src, 3, 1), -1);
  EXPECT_EQ(dst.m_data, nullptr);
  // reducing a bitmap into itself
  CABitmap self(src);
  CABitmap expected;
  expected.n_small(src, 2, 1);
  ASSERT_EQ(self.n_small(self, 2, 1), 0);
  EXPECT_EQ(Bytes(self), Bytes(expected));
}

TEST(LinearTransform, CopyAndShift) {
  CABitmap src;
  MakeRandom(src, 50, 20, 0.5, 3, 1);
  CABitmap dst;
  dst.alloc(40, 25, 1, 0);
  memset(dst.m_data, 0xFF, dst.m_size);
  const double copy[6] = {1, 0, 0, 1, 0, 0};
  abmp_linear_trans(dst, src, copy);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Px(dst, x, y), y < 20 && Px(src, x, y)) << x << "," << y;
  const double shift[6] = {1, 0, 0, 1, 10, 0};
  abmp_linear_trans(dst, src, shift);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Px(dst, x, y), x >= 10 && y < 20 && Px(src, x - 10, y)) << x << "," << y;
}

// 16.16 fixed point in 32 bits overflowed from 32768 pixels on.
TEST(LinearTransform, PagesWiderThan32767Pixels) {
  CABitmap src;
  MakeRandom(src, 70000, 3, 0.3, 5);
  CABitmap dst;
  dst.alloc(70000, 3, 1, 0);
  const double copy[6] = {1, 0, 0, 1, 0, 0};
  abmp_linear_trans(dst, src, copy);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 70000; ++x) ASSERT_EQ(Px(dst, x, y), Px(src, x, y)) << x << "," << y;

  CABitmap sampled;
  ASSERT_EQ(sampled.n_small(src, 4, 3), 0);
  for (int X = 0; X < sampled.m_width; ++X) ASSERT_EQ(Px(sampled, X, 0), Px(src, 4 * X, 0)) << X;
}

namespace {

// Where source pixel (x, y) of rectangle r lands after the turn.
std::pair<int, int> Turned(ARECT2 r, int x, int y, int quarters) {
  switch (quarters) {
    case 1:
      return {r.bottom - y, x - r.left};
    case 2:
      return {r.right - x, r.bottom - y};
    default:
      return {y - r.top, r.right - x};
  }
}

int Turn(CABitmap& dst, CABitmap const& src, ARECT2 const& r, int quarters) {
  return quarters == 1 ? dst.rotate90(src, r) : quarters == 2 ? dst.rotate180(src, r) : dst.rotate270(src, r);
}

}  // namespace

TEST(Rotation, EveryDepthMatchesThePixelMapping) {
  uint32_t seed = 60;
  for (int bits : {1, 4, 8, 16, 24}) {
    CABitmap src;
    src.alloc(37, 21, bits, 0);
    FillRandom(src, seed++);
    auto before = Bytes(src);
    std::vector<ARECT2> rects = {{0, 0, 36, 20}, {-4, -2, 100, 100}, {3, 2, 5, 19}, {9, 1, 30, 6}, {16, 4, 16, 4}};
    for (int l = 0; l < 8; ++l) rects.push_back({l, l, 20 + l, 15});
    for (const ARECT2& r : rects)
      for (int q = 1; q <= 3; ++q) {
        SCOPED_TRACE(testing::Message() << bits << " bits, quarters " << q << ", rect " << r.left << "," << r.top << ","
                                        << r.right << "," << r.bottom);
        ARECT2 c;
        src.clip(c, r);
        const int W = c.right - c.left + 1, H = c.bottom - c.top + 1;
        CABitmap dst;
        ASSERT_EQ(Turn(dst, src, r, q), 0);
        EXPECT_EQ(dst.m_width, q == 2 ? W : H);
        EXPECT_EQ(dst.m_height, q == 2 ? H : W);
        EXPECT_EQ(dst.m_bits, bits);
        for (int y = c.top; y <= c.bottom; ++y)
          for (int x = c.left; x <= c.right; ++x) {
            auto [dx, dy] = Turned(c, x, y, q);
            unsigned long a = 1, b = 2;
            src.pget(x, y, a);
            ASSERT_EQ(dst.pget(dx, dy, b), 0);
            ASSERT_EQ(a != 0, b != 0) << x << "," << y;
            if (bits != 1) {
              ASSERT_EQ(a, b) << x << "," << y;
            }
          }
        EXPECT_EQ(Bytes(src), before);
        if (bits == 1) {
          // the 8 x 8 block path and the pixel-by-pixel path agree to the byte
          CABitmap generic;
          generic.alloc(dst);
          abmp::RotateByPixels(generic, src, c, q);
          EXPECT_EQ(Bytes(dst), Bytes(generic));
        }
      }
  }
}

TEST(Rotation, TurnsUndoEachOther) {
  CABitmap src;
  MakeRandom(src, 83, 45, 0.5, 70);
  // padding bits of the source are set; a turned-back image has them clear
  for (int y = 0; y < 45; ++y) src.m_data[y * src.m_bpl + 10] &= 0xE0;
  CABitmap a, b;
  ASSERT_EQ(a.rotate90(src), 0);
  ASSERT_EQ(b.rotate270(a), 0);
  EXPECT_EQ(Bytes(b), Bytes(src));
  ASSERT_EQ(a.rotate180(src), 0);
  ASSERT_EQ(b.rotate180(a), 0);
  EXPECT_EQ(Bytes(b), Bytes(src));
  // turning a bitmap into itself
  CABitmap self(src);
  ASSERT_EQ(self.rotate90(self), 0);
  ASSERT_EQ(a.rotate90(src), 0);
  EXPECT_EQ(Bytes(self), Bytes(a));
}

TEST(Rotation, RefusedTurnsLeaveTheBitmapEmpty) {
  std::vector<uint8_t> pixels(4 * 4 * 3, 7);
  CABitmap deep;
  deep.set(4, 3, 32, 16, pixels.data());
  CABitmap dst;
  dst.alloc(2, 2, 8, 0);
  EXPECT_EQ(dst.rotate90(deep), -1);
  EXPECT_EQ(dst.m_data, nullptr);

  // an area beside the source has nothing to turn
  CABitmap src;
  MakeRandom(src, 16, 8, 0.5, 71);
  const ARECT2 outside[] = {{16, 0, 20, 4}, {0, 8, 4, 9}, {-6, 0, -1, 4}, {0, -5, 4, -1}};
  for (const auto& r : outside) {
    EXPECT_EQ(dst.rotate90(src, r), -1);
    EXPECT_EQ(dst.m_data, nullptr);
  }
  CABitmap empty;
  EXPECT_EQ(dst.rotate180(empty), -1);
}
