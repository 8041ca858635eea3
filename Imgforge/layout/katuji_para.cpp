// Layout parameters of the splitter and its table-candidate test.
#include <string.h>

#include <algorithm>
#include <vector>

#include "CABunsyoKiridasi.h"

using namespace layout;

namespace {

// Until katuji_set_para runs, the block holds its defaults.
constexpr std::array<int32_t, CABunsyoKiridasi::kParaWords> kDefaults = {
    6,   45, 13, 150, 5,  3,  6,  0,   0,  150, 10, 1,  4,  60, 10, 4,  10, 5,  5,  2,
    70, 200, 10, 150, 5,  5,  120, 90, 7,  4,   150, 150, 70, 8, 70, 80, 50, 50, 0, 0,
    0,   0,  0,  0,   0,  0,  0,  0,   0,  0,   0,   0,   0,  0,  0,  0,  0,  0,  0, 0,
    0,   0,  0,  0,   0,  0,  0,  0,   0,  0,   0,   0,   0,  0,  0,  7,  4};

constexpr int kScaled[] = {0, 1, 2, 4, 5, 11, 12, 13, 18, 19, 20, 21, 23, 24, 25, 30, 31, 33, 36, 37};

// Black-pixel maximum over the columns x1..x2 of rows y1..y2 (or over the
// rows when byRow), counts written relative to the band's start.
int BandMax(CABitmap const& bmp, int x1, int x2, int y1, int y2, bool byRow, uint16_t* buf) {
  const int n = byRow ? y2 - y1 + 1 : x2 - x1 + 1;
  std::fill(buf, buf + n, 0);
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      if (layout::Black(bmp, x, y)) ++buf[byRow ? y - y1 : x - x1];
  return *std::max_element(buf, buf + n);
}

// Sum of the band's maxima over strips of s rows (columns when horizontal)
// along the block, and of the remainder.
int Coverage(CABitmap const& bmp, ARECT2 const& band, int s, bool horizontal, uint16_t* buf) {
  const int from = horizontal ? band.left : band.top, to = horizontal ? band.right : band.bottom;
  int sum = 0;
  for (int a = from; a <= to; a += s) {
    const int b = std::min(a + s - 1, to);
    sum += horizontal ? BandMax(bmp, a, b, band.top, band.bottom, true, buf)
                      : BandMax(bmp, band.left, band.right, a, b, false, buf);
  }
  return sum;
}

int64_t ColumnBlack(CABitmap const& bmp, int x) { return bmp.CountBit(ARECT2{x, 0, x, bmp.m_height - 1}); }

}  // namespace

std::array<int32_t, CABunsyoKiridasi::kParaWords> CABunsyoKiridasi::m_katuji_c_org = kDefaults;
char CABunsyoKiridasi::m_para_path[256] = {};

int CABunsyoKiridasi::set_para(const char* path) {
  if (path) {
    strncpy(m_para_path, path, sizeof m_para_path - 1);
    m_para_path[sizeof m_para_path - 1] = '\0';
  } else {
    m_para_path[0] = '\0';
  }
  m_katuji_c_org = kDefaults;
  return 0;
}

bool CABunsyoKiridasi::adjust_para() {
  memcpy(m_para, m_katuji_c_org.data(), sizeof m_para);
  bool usable = m_dpi > 0;
  for (int i : kScaled) {
    m_para[i] = static_cast<int32_t>(static_cast<int64_t>(m_katuji_c_org[i]) * m_dpi / 100);
    // A length that vanishes at this resolution would divide by zero.
    if (m_katuji_c_org[i] > 0 && m_para[i] <= 0) usable = false;
  }
  return usable;
}

int CABunsyoKiridasi::hyou_ka_douka(CABitmap const& bmp, ARECT2 const& blockIn, ARECT2& inner, uint16_t* proj,
                                    int n) const {
  ARECT2 block;
  bmp.clip(block, blockIn);
  if (block.left > block.right || block.top > block.bottom) return HYOU_NONE;
  const int64_t W = block.right - block.left + 1, H = block.bottom - block.top + 1;
  if (static_cast<int64_t>(bmp.CountBit(block)) > W * H / 2) return HYOU_NONE;

  // The projections never reach beyond the block's longer side.
  std::vector<uint16_t> own;
  if (!proj || n < std::max(W, H)) {
    own.assign(static_cast<size_t>(std::max(W, H)), 0);
    proj = own.data();
  }
  const int S = std::max(m_para[37], 1), E = m_para[36], P = m_para[35];
  const ARECT2 leftBand{block.left, block.top, std::min(block.left + E, block.right), block.bottom};
  const ARECT2 rightBand{std::max(block.left, block.right - E), block.top, block.right, block.bottom};
  const ARECT2 topBand{block.left, block.top, block.right, std::min(block.top + E, block.bottom)};
  const ARECT2 bottomBand{block.left, std::max(block.top, block.bottom - E), block.right, block.bottom};
  const int64_t left = Coverage(bmp, leftBand, S, false, proj), right = Coverage(bmp, rightBand, S, false, proj);
  const int64_t top = Coverage(bmp, topBand, S, true, proj), bottom = Coverage(bmp, bottomBand, S, true, proj);

  if (bottom >= W * P / 100 && std::min(left, right) >= P * H / 100 && top >= W * P / 100) {
    // Fully ruled: look at the white areas inside.
    bmp.donot(block);
    layout::CLbl_data lbl;
    int rc = lbl_main2(bmp, lbl.m_data, block);
    bmp.donot(block);
    int64_t best = 0;
    ARECT2 bestBox{};
    for (int64_t k = 1; rc == 0 && k <= lbl.m_data.maxlabel; ++k) {
      KRECT const& b = lbl.m_data.rects[k];
      if (b.xmin <= block.left || b.ymin <= block.top || b.xmax >= block.right || b.ymax >= block.bottom) continue;
      const int64_t a = int64_t{b.xmax - b.xmin + 1} * (b.ymax - b.ymin + 1);
      if (a > best) best = a, bestBox = ARECT2{b.xmin, b.ymin, b.xmax, b.ymax};
    }
    if (best * 100 > 75 * W * H) {
      inner = bestBox;
      return 3;
    }
    return HYOU_BORDERED;
  }

  const int imgW = bmp.m_width, imgH = bmp.m_height;
  const bool above = block.top == 0 || static_cast<int64_t>(bmp.CountBit(ARECT2{block.left, block.top - 1, block.right,
                                                                                  block.top - 1})) >= imgW / 10;
  const bool below =
      block.bottom == imgH - 1 ||
      static_cast<int64_t>(bmp.CountBit(ARECT2{block.left, block.bottom + 1, block.right, block.bottom + 1})) >= imgW / 10;
  int leftCross = 1;
  if (block.left > 0)
    leftCross = ColumnBlack(bmp, block.left - 1) >= imgH / 10 ? bmp.cross_y(0, imgH - 1, block.left - 1) : 0;
  if (block.right == imgW - 1) return HYOU_JOINED;
  const bool rightRule = ColumnBlack(bmp, block.right + 1) >= imgH / 10;
  return above || below || leftCross || rightRule ? HYOU_JOINED : HYOU_NONE;
}

int katuji_set_para(const char* path) { return CABunsyoKiridasi::set_para(path); }

void insertion_sort(void* base, size_t count, size_t size, int (*compare)(const void*, const void*)) {
  if (!base || !compare || size == 0) return;
  auto* a = static_cast<unsigned char*>(base);
  for (size_t i = 1; i < count; ++i)
    for (size_t j = i; j > 0 && compare(a + (j - 1) * size, a + j * size) > 0; --j)
      for (size_t b = 0; b < size; ++b) std::swap(a[(j - 1) * size + b], a[j * size + b]);
}
