// Helpers shared by the layout sources; not part of the library's interface.
#ifndef IMGFORGE_LAYOUT_INTERNAL_H
#define IMGFORGE_LAYOUT_INTERNAL_H

#include <climits>
#include <cstdint>

#include "CABitmap.h"
#include "layout.h"

namespace layout {

// First column in x..x2 of a 1-bit row whose pixel is black (or white), or
// x2 + 1 when there is none; whole bytes without the pixel are skipped.
inline int NextPixel(const uint8_t* row, int x, int x2, bool black) {
  while (x <= x2) {
    const int b = x >> 3;
    unsigned v = black ? row[b] : (~row[b] & 0xFFu);
    v &= 0xFFu >> (x & 7);
    if (v) {
      const int p = (b << 3) + __builtin_clz(v << 24);
      return p <= x2 ? p : x2 + 1;
    }
    x = (b + 1) << 3;
  }
  return x2 + 1;
}

inline const uint8_t* Row(CABitmap const& b, int y) { return b.m_data + static_cast<ptrdiff_t>(y) * b.m_bpl; }

inline bool Black(CABitmap const& b, int x, int y) { return Row(b, y)[x >> 3] & (0x80 >> (x & 7)); }

// x + w - 1 without overflow.
inline int32_t LastOf(int32_t start, int32_t length) {
  int64_t v = static_cast<int64_t>(start) + length - 1;
  return static_cast<int32_t>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
}

// The page as a borrowed 1-bit bitmap; false when the record cannot be read
// safely as one (wrong depth, row too short, sizes beyond 16-bit results).
bool Wrap1Bit(ABITMAP const* image, CABitmap& out);

// Owner of a labelling result.
class CLbl_data {
 public:
  CLbl_data() : m_data{} {}
  ~CLbl_data() { Free(); }
  CLbl_data(CLbl_data const&) = delete;
  CLbl_data& operator=(CLbl_data const&) = delete;
  void Free() { lbl_free(&m_data); }
  LBL_DATA m_data;
};

// Table-candidate answers.
enum : int {
  HYOU_TABLE = 0x1 | 0x2,
  HYOU_NONE = 0x4,
  HYOU_BORDERED = 0x20,
  HYOU_JOINED = 0x200,
};

}  // namespace layout

#endif
