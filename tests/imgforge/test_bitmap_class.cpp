// Bitmap record and class: allocation, ownership, clipping, pixel access,
// inversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "CABitmap.h"
#include "bitmap_test_util.h"

using namespace bmptest;

// The allocation-failure cases ask for more memory than exists: the sanitizer
// build must report that as a null result, as the system allocator does.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}

TEST(BitmapAlloc, RowSizes) {
  struct Case {
    int bits, width, bpl, expectBpl;
  };
  const Case cases[] = {
      {1, 9, 0, 2},  {4, 9, 0, 8}, {16, 3, 0, 8}, {24, 5, 0, 15},  {8, 7, 0, 7},
      {1, 16, 0, 2}, {4, 8, 0, 4}, {16, 2, 0, 4}, {1, 9, 5, 5},    {24, 5, 20, 20},  // larger rows are kept
      {1, 9, 2, 2},  {4, 9, 5, 5}, {16, 3, 6, 6}, {24, 5, 15, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, width " << c.width << ", bpl " << c.bpl);
    ABITMAP a{};
    uint8_t* buf = abmp_alloc(&a, c.width, 3, c.bits, c.bpl);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(a.data, buf);
    EXPECT_EQ(a.bpl, c.expectBpl);
    EXPECT_EQ(a.size, 3u * c.expectBpl);
    EXPECT_EQ(a.bits, c.bits);
    EXPECT_EQ(a.width, c.width);
    EXPECT_EQ(a.height, 3);
    for (uint64_t i = 0; i < a.size; ++i) ASSERT_EQ(buf[i], 0);
    free(buf);
  }
}

// A row shorter than width pixels used to be accepted, and pixel access then
// ran past the buffer.
TEST(BitmapAlloc, RefusedRequestsLeaveTheRecordAlone) {
  struct Case {
    const char* why;
    int width, height, bits, bpl;
  };
  const Case cases[] = {
      {"32 bits", 4, 4, 32, 0},
      {"2 bits", 4, 4, 2, 0},
      {"1-bit row too short", 17, 4, 1, 2},
      {"24-bit row too short", 5, 4, 24, 14},
      {"16-bit row too short", 3, 4, 16, 5},
      {"negative width", -1, 4, 8, 0},
      {"negative bpl", 4, 4, 8, -4},
      {"no such memory", 1 << 30, 1 << 30, 8, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ABITMAP a{};
    a.width = 1234;
    EXPECT_EQ(abmp_alloc(&a, c.width, c.height, c.bits, c.bpl), nullptr);
    EXPECT_EQ(a.width, 1234);
    EXPECT_EQ(a.data, nullptr);

    CABitmap b;
    b.alloc(8, 8, 8, 0);
    EXPECT_EQ(b.alloc(c.width, c.height, c.bits, c.bpl), -1);
    EXPECT_EQ(b.m_data, nullptr);
    EXPECT_EQ(b.m_width, 0);
    EXPECT_EQ(b.m_owner, 0);
  }
}

TEST(BitmapClass, OwnershipAndCopies) {
  CABitmap a;
  ASSERT_EQ(a.alloc(20, 5, 8, 0), 0);
  EXPECT_EQ(a.m_owner, 1);
  EXPECT_EQ(a.m_buffer, a.m_data);
  a.pset(3, 2, 0x5Aul);

  CABitmap copy(a);
  EXPECT_NE(copy.m_data, a.m_data);
  EXPECT_EQ(Bytes(copy), Bytes(a));
  CABitmap assigned;
  assigned = a;
  EXPECT_EQ(Bytes(assigned), Bytes(a));
  uint8_t* before = a.m_data;
  a = a;  // self-assignment keeps the pixels
  EXPECT_EQ(a.m_data, before);
  unsigned long v = 0;
  EXPECT_EQ(a.pget(3, 2, v), 0);
  EXPECT_EQ(v, 0x5Aul);

  // Detach: the caller frees; the object still describes the pixels.
  void* buf = a.Detach();
  EXPECT_EQ(buf, before);
  EXPECT_EQ(a.m_owner, 0);
  EXPECT_EQ(a.m_data, before);
  EXPECT_EQ(a.m_width, 20);
  a.Free();
  EXPECT_EQ(a.m_data, nullptr);
  free(buf);

  // borrowed pixels are never freed (a stack buffer would upset the allocator)
  uint8_t pixels[4 * 3] = {};
  {
    CABitmap borrowed;
    borrowed.set(4, 3, 8, 4, pixels);
    EXPECT_EQ(borrowed.m_owner, 0);
    EXPECT_EQ(borrowed.m_size, 12u);
    borrowed.pset(1, 1, 7ul);
    ABITMAP rec;
    borrowed.getABITMAP(rec);
    EXPECT_EQ(rec.data, pixels);
    EXPECT_EQ(rec.size, 12u);
    EXPECT_EQ(rec.bits, 8);
    EXPECT_EQ(rec.bpl, 4);
  }
  EXPECT_EQ(pixels[5], 7);

  // set on an owning bitmap frees its buffer first (the sanitizer build
  // reports a leak otherwise)
  CABitmap owner;
  owner.alloc(100, 100, 24, 0);
  owner.set(4, 3, 8, 4, pixels);
  EXPECT_EQ(owner.m_owner, 0);
  EXPECT_EQ(owner.m_buffer, nullptr);
}

// A borrowed geometry whose rows are too short for its width would let every
// pixel operation read or write past the caller's buffer.
TEST(BitmapClass, SetRefusesRowsShorterThanTheWidth) {
  uint8_t pixels[64] = {};
  struct Case {
    int width, height, bits, bpl;
    const void* data;
    bool accepted;
  };
  const Case cases[] = {
      {17, 2, 1, 3, pixels, true},   {17, 2, 1, 2, pixels, false}, {5, 2, 24, 15, pixels, true},
      {5, 2, 24, 14, pixels, false}, {4, 2, 32, 16, pixels, true}, {4, 2, 32, 15, pixels, false},
      {3, 2, 16, 6, pixels, true},   {3, 2, 16, 5, pixels, false}, {-3, 2, 8, 4, pixels, false},
      {4, 2, 8, 4, nullptr, false},  {0, 0, 1, 0, nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bits " << c.bits << " bpl " << c.bpl);
    CABitmap b;
    b.set(c.width, c.height, c.bits, c.bpl, c.data);
    if (c.accepted) {
      EXPECT_EQ(b.m_width, c.width);
      EXPECT_EQ(b.m_bpl, c.bpl);
    } else {
      EXPECT_EQ(b.m_width, 0);
      EXPECT_EQ(b.m_data, nullptr);
      unsigned long v = 0;
      EXPECT_EQ(b.pget(0, 0, v), -1);
    }
  }
}

TEST(BitmapClass, PixelRoundTripsPerDepth) {
  struct Case {
    int bits;
    int x;
    unsigned long written, read;
  };
  const Case cases[] = {
      {1, 2, 1, 0x20},
      {1, 13, 0xFF00, 0x04},
      {1, 13, 0, 0},
      {4, 4, 0x1B, 0x0B},
      {4, 5, 0x7, 0x7},
      {8, 6, 0x1AB, 0xAB},
      {16, 3, 0x12345, 0x2345},
      {24, 2, 0x123456, 0x123456},
      {32, 1, 0x12345678, 0x12345678},
      {32, 2, 0x80000001ul, 0xFFFFFFFF80000001ul},  // read back as a signed 32-bit value
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, x " << c.x << ", value " << c.written);
    std::vector<uint8_t> pixels(64 * 4, 0xEE);
    CABitmap b;
    b.set(16, 4, c.bits, 64, pixels.data());
    b.pset(c.x, 1, c.written);
    unsigned long v = 0;
    EXPECT_EQ(b.pget(c.x, 1, v), 0);
    EXPECT_EQ(v, c.read);
    // neighbours untouched
    if (c.x > 0) {
      unsigned long n = 0, expected = 0;
      CABitmap ref;
      std::vector<uint8_t> fresh(64 * 4, 0xEE);
      ref.set(16, 4, c.bits, 64, fresh.data());
      ref.pget(c.x - 1, 1, expected);
      b.pget(c.x - 1, 1, n);
      EXPECT_EQ(n, expected);
    }
  }

  // byte layouts
  uint8_t p[12] = {};
  CABitmap b16, b24, b32;
  b16.set(2, 1, 16, 4, p);
  b16.pset(1, 0, 0xA1B2ul);
  EXPECT_EQ(p[2], 0xB2);
  EXPECT_EQ(p[3], 0xA1);
  b24.set(2, 1, 24, 6, p);
  b24.pset(1, 0, 0x010203ul);
  EXPECT_EQ(p[3], 0x01);
  EXPECT_EQ(p[5], 0x03);
  b32.set(2, 1, 32, 8, p);
  b32.pset(1, 0, 0x0A0B0C0Dul);
  EXPECT_EQ(p[4], 0x0A);
  EXPECT_EQ(p[7], 0x0D);
}

TEST(BitmapClass, PixelsOutsideAreNeitherReadNorWritten) {
  std::vector<uint8_t> pixels(8 * 3, 0);
  CABitmap b;
  b.set(8, 3, 8, 8, pixels.data());
  const int outside[][2] = {{-1, 0}, {0, -1}, {8, 0}, {0, 3}};
  for (auto& o : outside) {
    unsigned long v = 99;
    EXPECT_EQ(b.pget(o[0], o[1], v), -1);
    EXPECT_EQ(v, 99ul);
    b.pset(o[0], o[1], 0xFFul);
    unsigned char c2 = 1, c1 = 1, c0 = 1;
    EXPECT_EQ(b.pget(o[0], o[1], c2, c1, c0), -1);
    b.pset(o[0], o[1], 5, 5, 5);
  }
  b.pset(std::nan(""), 1.0, 0xFFul);
  b.pset(1e300, 1.0, 0xFFul);
  b.pset(-1.6, 1.0, 0xFFul);
  EXPECT_EQ(pixels, std::vector<uint8_t>(8 * 3, 0));

  // rounding: 0.5 added, then truncated toward zero
  b.pset(-0.7, 3.2 - 2, 0x11ul);
  unsigned long v = 0;
  b.pget(0, 1, v);
  EXPECT_EQ(v, 0x11ul);
  b.pset(4.49, 0.5, 0x22ul);
  b.pget(4, 1, v);
  EXPECT_EQ(v, 0x22ul);
}

TEST(BitmapClass, ThreeByteAccessors) {
  std::vector<uint8_t> pixels(12 * 2, 0);
  CABitmap b;
  b.set(4, 2, 24, 12, pixels.data());
  b.pset(2, 1, 0xC2, 0xC1, 0xC0);
  EXPECT_EQ(pixels[12 + 6], 0xC0);
  EXPECT_EQ(pixels[12 + 7], 0xC1);
  EXPECT_EQ(pixels[12 + 8], 0xC2);
  unsigned char c2, c1, c0;
  EXPECT_EQ(b.pget(2, 1, c2, c1, c0), 0);
  EXPECT_EQ(c2, 0xC2);
  EXPECT_EQ(c0, 0xC0);
  // they ignore the depth, so the row length bounds them
  CABitmap narrow;
  narrow.set(8, 2, 8, 8, pixels.data());
  EXPECT_EQ(narrow.pget(1, 0, c2, c1, c0), 0);
  EXPECT_EQ(narrow.pget(2, 0, c2, c1, c0), -1);
}

TEST(BitmapClass, Clip) {
  CABitmap b;
  b.alloc(100, 50, 1, 0);
  ARECT2 r;
  b.clip(r, ARECT2{-5, -5, 10000, 10000});
  EXPECT_EQ(std::vector<int>({r.left, r.top, r.right, r.bottom}), std::vector<int>({0, 0, 99, 49}));
  b.clip(r, ARECT2{100, 0, 120, 10});
  EXPECT_EQ(std::vector<int>({r.left, r.top, r.right, r.bottom}), std::vector<int>({0, 0, 0, 0}));
  ARECT a;
  b.clip(a, ARECT{-10, 3, 5, 4});
  EXPECT_EQ(std::vector<int>({a.x, a.y, a.w, a.h}), std::vector<int>({0, 3, -5, 4}));
  b.clip(a, ARECT{90, 40, 20, 20});
  EXPECT_EQ(std::vector<int>({a.x, a.y, a.w, a.h}), std::vector<int>({90, 40, 10, 10}));
  b.clip(a, ARECT{20, 60, 5, 5});
  EXPECT_EQ(std::vector<int>({a.x, a.y, a.w, a.h}), std::vector<int>({0, 0, 0, 0}));
}

TEST(BitmapClass, DonotInvertsOnlyTheRectangle) {
  CABitmap b;
  MakeRandom(b, 45, 12, 0.5, 3, 2);
  for (int left = 0; left < 16; ++left)
    for (int right = left; right < 40; right += 3) {
      SCOPED_TRACE(testing::Message() << "columns " << left << ".." << right);
      CABitmap ref(b);
      ARECT2 r{left, 2, right, 9};
      ASSERT_EQ(b.donot(r), 0);
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 45; ++x) {
          bool inside = x >= left && x <= right && y >= 2 && y <= 9;
          ASSERT_EQ(Px(b, x, y), inside ? !Px(ref, x, y) : Px(ref, x, y)) << x << "," << y;
        }
      // padding bits stay as they were
      for (int y = 0; y < 12; ++y)
        for (int k = 45 / 8; k < b.m_bpl; ++k) {
          uint8_t pad = k == 45 / 8 ? 0x07 : 0xFF;
          ASSERT_EQ(b.m_data[y * b.m_bpl + k] & pad, ref.m_data[y * ref.m_bpl + k] & pad);
        }
      b = ref;
    }
}

// A rectangle beside the bitmap used to invert the origin pixel (or bytes
// left of the row).
TEST(BitmapClass, DonotOutsideOrOnOtherDepths) {
  CABitmap b;
  MakeRandom(b, 30, 10, 0.5, 4);
  auto before = Bytes(b);
  const ARECT2 outside[] = {{30, 0, 40, 5}, {0, 10, 5, 12}, {-20, 0, -10, 5}, {0, -8, 5, -2}};
  for (const auto& r : outside) EXPECT_EQ(b.donot(r), 0);
  EXPECT_EQ(Bytes(b), before);

  CABitmap g;
  g.alloc(4, 2, 8, 0);
  EXPECT_EQ(g.donot(ARECT2{0, 0, 3, 1}), -1);
  EXPECT_EQ(g.donot(), 0);
  EXPECT_EQ(Bytes(g), std::vector<uint8_t>(8, 0xFF));
}

TEST(BitmapClass, ClassTables) {
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(CABitmap::m_on_mask[k], 0x80 >> k);
    EXPECT_EQ(CABitmap::m_off_mask[k], static_cast<uint8_t>(~(0x80 >> k)));
  }
  const int bytes[][3] = {{0x00, 0, 0x00}, {0xFF, 8, 0xFF}, {0x01, 1, 0x80}, {0xB4, 4, 0x2D}, {0x67, 5, 0xE6}};
  for (auto [b, count, reversed] : bytes) {
    EXPECT_EQ(CABitmap::m_cbit[b], count) << b;
    EXPECT_EQ(CABitmap::m_rbit[b], reversed) << b;
  }
  EXPECT_EQ(CABitmap::m_drawMode, 0);
}
