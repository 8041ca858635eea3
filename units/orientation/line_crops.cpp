#include "line_crops.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "local_binarise.h"

namespace turnsense {
namespace {

int64_t BoxWidth(const tagRECT& b) { return b.right - b.left + 1; }
int64_t BoxHeight(const tagRECT& b) { return b.bottom - b.top + 1; }

void Stretch(uint8_t* p, size_t n) {
  if (n == 0) return;
  const auto mm = std::minmax_element(p, p + n);
  const int lo = *mm.first, hi = *mm.second;
  if (lo == hi) return;
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t((p[i] - lo) * 255 / (hi - lo));
}

// Crop validity from its shape: long along the line, not empty across it.
bool LongEnough(int crop_w, int crop_h, bool horizontal) {
  const int along = horizontal ? crop_w : crop_h, across = horizontal ? crop_h : crop_w;
  return across != 0 && !(along < 2.5 * across);
}

// The least-ink position among `start` and the listed positions; a later
// position wins only with strictly less ink. Positions outside 0 .. size - 1
// (a box already at the crop's edge) are not lines of the crop.
template <typename Ink>
int64_t LeastInk(int64_t start, int64_t from, int64_t to, int64_t size, Ink ink) {
  int64_t best = start, best_ink = ink(start);
  const int64_t step = to >= from ? 1 : -1;
  for (int64_t p = from; step > 0 ? p <= to : p >= to; p += step) {
    if (p < 0 || p >= size) continue;
    const int64_t v = ink(p);
    if (v < best_ink) best = p, best_ink = v;
  }
  return best;
}

bool SetCrop(TEXT_IMAGE* out, int w, int h) {
  release_text_image(out);
  out->width = w;
  out->height = h;
  const size_t n = size_t(std::max(w, 0)) * std::max(h, 0);
  out->binary = new (std::nothrow) uint8_t[n ? n : 1];
  out->grey = new (std::nothrow) uint8_t[n ? n : 1];
  if (out->binary && out->grey) return true;
  release_text_image(out);
  return false;
}

// Matches ink of `from` at scaled positions in `to` (or a 4-neighbour).
template <typename FromInk, typename ToInk>
double MatchRatio(int64_t fw, int64_t fh, int64_t tw, int64_t th, FromInk from_ink, ToInk to_ink, int64_t num,
                  int64_t den, int64_t* inked) {
  int64_t n = 0, matched = 0;
  for (int64_t y = 0; y < fh; ++y)
    for (int64_t x = 0; x < fw; ++x) {
      if (!from_ink(x, y)) continue;
      ++n;
      const int64_t tx = x * num / den, ty = y * num / den;
      static const int dx[5] = {0, -1, 1, 0, 0}, dy[5] = {0, 0, 0, -1, 1};
      for (int k = 0; k < 5; ++k) {
        const int64_t ax = tx + dx[k], ay = ty + dy[k];
        if (ax < 0 || ay < 0 || ax >= tw || ay >= th) continue;
        if (to_ink(ax, ay)) {
          ++matched;
          break;
        }
      }
    }
  *inked = n;
  return n ? double(matched) / double(n) : 0.0;
}

int OverSegmented(int w, int h, int limit, const std::function<bool(int, int)>& ink);

}  // namespace

void release_text_image(TEXT_IMAGE* crop) {
  delete[] crop->binary;
  delete[] crop->grey;
  crop->binary = crop->grey = nullptr;
}

int binary_simliarity_samesize(uint8_t** reference, uint8_t** other, int, int, tagRECT box, const uint8_t* crop,
                               int crop_width, int crop_height, float* similarity, const char*, const char*) {
  const int64_t bw = std::min<int64_t>(BoxWidth(box), crop_width);
  const int64_t bh = std::min<int64_t>(BoxHeight(box), crop_height);
  int64_t j = 0, k = 0, c = 0, q = 0, S = 0;
  for (int64_t y = 0; y < bh; ++y)
    for (int64_t x = 0; x < bw; ++x) {
      const int ref = reference[box.top + y][box.left + x];
      const bool ref_ink = ref == 0, crop_ink = crop[y * crop_width + x] == 0;
      S += int(other[box.top + y][box.left + x]) - ref;
      j += ref_ink;
      k += ref_ink && crop_ink;
      c += crop_ink;
      q += crop_ink && ref_ink;
    }
  *similarity = 0.0f;
  if (double(S / 255) >= 0.6 * double(j)) return 0;
  if ((k >= 0.6 * j && q >= 0.6 * c) || double(k + q) >= 1.4 * double(j + c) || j == k) *similarity = 1.0f;
  return 0;
}

int binary_simliarity(uint8_t** reference, uint8_t** other, int, int, tagRECT box, int s, const uint8_t* crop,
                      int crop_width, int crop_height, int r, float* similarity, const char*, const char*) {
  *similarity = 0.0f;
  if (s <= r) return kLimitExceeded;
  const int64_t bw = BoxWidth(box), bh = BoxHeight(box);
  int64_t S = 0;
  for (int64_t y = 0; y < bh; ++y)
    for (int64_t x = 0; x < bw; ++x) S += int(other[box.top + y][box.left + x]) - reference[box.top + y][box.left + x];
  auto ref_ink = [&](int64_t x, int64_t y) { return reference[box.top + y][box.left + x] == 0; };
  auto crop_ink = [&](int64_t x, int64_t y) { return crop[y * crop_width + x] == 0; };
  int64_t j = 0, c = 0;
  const double ref_ratio = MatchRatio(bw, bh, crop_width, crop_height, ref_ink, crop_ink, s, r, &j);
  if (double(S / 255) >= 0.6 * double(j)) return 0;
  const double crop_ratio = MatchRatio(crop_width, crop_height, bw, bh, crop_ink, ref_ink, r, s, &c);
  if ((ref_ratio > 0.9 && crop_ratio > 0.9) || ref_ratio == 1.0 || crop_ratio == 1.0) *similarity = 1.0f;
  return 0;
}

namespace {

int OverSegmented(int w, int h, int limit, const std::function<bool(int, int)>& ink) {
  const bool wide = w > h;
  const int n_pos = wide ? w : h, n_across = wide ? h : w;
  std::vector<std::pair<int, int>> segs;
  int start = -1;
  for (int p = 0; p <= n_pos; ++p) {
    bool any = false;
    for (int a = 0; p < n_pos && a < n_across && !any; ++a) any = wide ? ink(p, a) : ink(a, p);
    if (any && start < 0) start = p;
    if (!any && start >= 0) {
      segs.emplace_back(start, p - 1);
      start = -1;
    }
  }
  const int n = int(segs.size());
  if (n <= 4) return 0;
  int windows = 0;
  for (int i = 0; i + 4 < n; ++i)
    if (segs[size_t(i + 4)].second - segs[size_t(i)].first < 1.5 * n_across) ++windows;
  return windows > limit || windows > 0.5 * n ? -1 : 0;
}

}  // namespace

int is_over_segmented(const uint8_t* image, int width, int height) {
  return OverSegmented(width, height, 10, [&](int x, int y) { return image[size_t(y) * width + x] == 0; });
}

int is_over_segmented(uint8_t** rows, int width, int height, tagRECT box) {
  box.left = std::max<int64_t>(box.left, 0);
  box.top = std::max<int64_t>(box.top, 0);
  box.right = std::min<int64_t>(box.right, width - 1);
  box.bottom = std::min<int64_t>(box.bottom, height - 1);
  if (box.right < box.left || box.bottom < box.top) return 0;
  return OverSegmented(int(BoxWidth(box)), int(BoxHeight(box)), 5,
                       [&](int x, int y) { return rows[box.top + y][box.left + x] == 0; });
}

bool is_bad_layer(uint8_t** d1, uint8_t** d2, int64_t left, int64_t right, int64_t top, int64_t bottom) {
  int64_t ink1 = 0, ink2 = 0;
  for (int64_t y = top; y <= bottom; ++y)
    for (int64_t x = left; x <= right; ++x) {
      ink1 += d1[y][x] == 0;
      ink2 += d2[y][x] == 0;
    }
  return 2 * ink1 < ink2;
}

namespace {

// Pushes the area's far edge (bottom, or right when `columns`) past ink
// that touches it, to the first band of `margin` clear lines.
void PushBoundary(uint8_t** rows, int width, int height, tagRECT& area, const tagRECT& box, int64_t margin,
                  bool columns) {
  if (margin <= 0) return;
  const int64_t extent = columns ? width : height;
  int64_t& edge = columns ? area.right : area.bottom;
  const int64_t box_end = columns ? box.right : box.bottom;
  const int64_t c0 = columns ? box.top : box.left, c1 = columns ? box.bottom : box.right;
  auto clear = [&](int64_t from, int64_t n) {
    for (int64_t l = from; l < from + n && l < extent; ++l)
      for (int64_t c = c0; c <= c1; ++c)
        if ((columns ? rows[c][l] : rows[l][c]) == 0) return false;
    return true;
  };
  const int64_t a = edge;
  if (clear(a, margin)) return;
  for (int64_t y = a + 1; y <= box_end + 1; ++y) {
    const int64_t n = y + margin < extent ? margin : extent - 1 - y;
    if (clear(y, n)) {
      edge = y + n;
      return;
    }
  }
  edge = box_end;
}

}  // namespace

void botboundary_check_margin(uint8_t** rows, int width, int height, tagRECT& area, tagRECT box, int64_t margin) {
  PushBoundary(rows, width, height, area, box, margin, false);
}

void rightboundary_check_margin(uint8_t** rows, int width, int height, tagRECT& area, tagRECT box, int64_t margin) {
  PushBoundary(rows, width, height, area, box, margin, true);
}

int original_text_line_extraction(void*, uint8_t** full, void*, int full_width, int full_height, uint8_t** d1,
                                  uint8_t** d2, uint8_t** grey, int width, int height, int s, TEXTLINE line,
                                  TEXT_IMAGE* out, const char*, const char*, int) {
  const tagRECT box = line.box;
  out->box = box;
  out->vertical = BoxHeight(box) >= BoxWidth(box);
  const bool horizontal = BoxWidth(box) > BoxHeight(box);
  const int64_t t = std::min(BoxWidth(box), BoxHeight(box));
  int r = s - 1;
  while (r > 1 && int64_t(s) * t <= 20 * r) --r;
  r = std::max(r, 1);
  try {
    if (t < 20 && s != 1) {
      const int64_t m = t / 3;
      const int64_t page_w = full_width / s, page_h = full_height / s;
      tagRECT wb{box.left - m, box.top - m, box.right + m, box.bottom + m};
      if (horizontal && BoxWidth(box) > 10 * t) wb.right = box.left + 10 * t + m;
      if (!horizontal && BoxHeight(box) > 10 * t) wb.bottom = box.top + 10 * t + m;
      wb.left = std::max<int64_t>(wb.left, 0);
      wb.top = std::max<int64_t>(wb.top, 0);
      wb.right = std::min<int64_t>(wb.right, page_w - 1);
      wb.bottom = std::min<int64_t>(wb.bottom, page_h - 1);
      // Crop grid: s / r crop pixels per decimated pixel, each the mean of an
      // r x r block of the full page.
      const int64_t x0 = wb.left * s / r, y0 = wb.top * s / r;
      const int64_t x1 = std::min((wb.right + 1) * s / r, int64_t(full_width / r)) - 1;
      const int64_t y1 = std::min((wb.bottom + 1) * s / r, int64_t(full_height / r)) - 1;
      const int cw = int(std::max<int64_t>(x1 - x0 + 1, 0)), ch = int(std::max<int64_t>(y1 - y0 + 1, 0));
      std::vector<uint8_t> g(size_t(cw) * ch), bin(size_t(cw) * ch);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
          int sum = 0;
          for (int yy = 0; yy < r; ++yy)
            for (int xx = 0; xx < r; ++xx) sum += full[(y0 + y) * r + yy][(x0 + x) * r + xx];
          g[size_t(y) * cw + x] = uint8_t(sum / (r * r));
        }
      Stretch(g.data(), g.size());
      if (AdaptiveSurface(cw, ch, g.data(), bin.data(), argZheng{5, 1.0f, 20}) != 0) {
        release_text_image(out);
        return kNoMemory;
      }
      float similarity = 0;
      binary_simliarity(d2, d1, width, height, wb, s, bin.data(), cw, ch, r, &similarity);
      // Trim each edge of the box to the emptiest line within L outside it.
      const int64_t bl = std::max<int64_t>(box.left * s / r - x0, 0);
      const int64_t bt = std::max<int64_t>(box.top * s / r - y0, 0);
      const int64_t br = std::min<int64_t>((box.right + 1) * s / r - 1 - x0, cw - 1);
      const int64_t bb = std::min<int64_t>((box.bottom + 1) * s / r - 1 - y0, ch - 1);
      const int64_t L = ((2 * m * s) / r) / 3;
      auto col_ink = [&](int64_t x) {
        int64_t n = 0;
        for (int64_t y = bt; y <= bb; ++y) n += bin[size_t(y) * cw + x] == 0;
        return n;
      };
      auto row_ink = [&](int64_t y) {
        int64_t n = 0;
        for (int64_t x = bl; x <= br; ++x) n += bin[size_t(y) * cw + x] == 0;
        return n;
      };
      int64_t nl = bl, nr = br, nt = bt, nb = bb;
      if (cw > 0 && ch > 0 && bl <= br && bt <= bb) {
        nl = LeastInk(bl, bl - 1, std::max<int64_t>(bl - L, 0), cw, col_ink);
        nr = LeastInk(br, br + 1, std::min<int64_t>(br + L, cw - 1), cw, col_ink);
        nt = LeastInk(bt, bt - 1, std::max<int64_t>(bt - L, 0), ch, row_ink);
        nb = LeastInk(bb, bb + 1, std::min<int64_t>(bb + L, ch - 1), ch, row_ink);
      }
      const int ow = int(std::max<int64_t>(nr - nl + 1, 0)), oh = int(std::max<int64_t>(nb - nt + 1, 0));
      if (!SetCrop(out, ow, oh)) return kNoMemory;
      for (int y = 0; y < oh; ++y) {
        std::memcpy(out->binary + size_t(y) * ow, &bin[size_t(nt + y) * cw + nl], size_t(ow));
        std::memcpy(out->grey + size_t(y) * ow, &g[size_t(nt + y) * cw + nl], size_t(ow));
      }
      out->factor = r;
      out->validity = LongEnough(ow, oh, horizontal) ? similarity : 0.0f;
    } else {
      tagRECT cut = box;
      if (horizontal && BoxWidth(box) > 10 * t) cut.right = box.left + 10 * t - 1;
      if (!horizontal && BoxHeight(box) > 10 * t) cut.bottom = box.top + 10 * t - 1;
      cut.right = std::min<int64_t>(cut.right, width - 1);
      cut.bottom = std::min<int64_t>(cut.bottom, height - 1);
      const int cw = int(BoxWidth(cut)), ch = int(BoxHeight(cut));
      if (!SetCrop(out, cw, ch)) return kNoMemory;
      for (int y = 0; y < ch; ++y) {
        std::memcpy(out->binary + size_t(y) * cw, d1[cut.top + y] + cut.left, size_t(cw));
        std::memcpy(out->grey + size_t(y) * cw, grey[cut.top + y] + cut.left, size_t(cw));
      }
      std::vector<uint8_t> g(out->grey, out->grey + size_t(cw) * ch), bin(g.size());
      Stretch(g.data(), g.size());
      GlobalOtsu(cw, ch, g.data(), bin.data());
      float similarity = 0;
      binary_simliarity_samesize(d2, d1, width, height, cut, bin.data(), cw, ch, &similarity);
      out->factor = s;
      out->validity = similarity;
    }
  } catch (const std::bad_alloc&) {
    release_text_image(out);
    return kNoMemory;
  }
  if (out->validity != 0.0f && is_over_segmented(out->binary, out->width, out->height) == -1) out->validity = 0.0f;
  return 0;
}

int original_text_line_extraction_Pavix_nline_v1(void*, uint8_t** full, void*, void*, int full_width, int full_height,
                                                 uint8_t** d1, uint8_t** d2, uint8_t** grey, int width, int height,
                                                 int s, TEXTLINE line, TEXT_IMAGE* out, int length_selector,
                                                 const char*, const char*, int) {
  const tagRECT box = line.box;
  out->box = box;
  out->vertical = BoxHeight(box) >= BoxWidth(box);
  out->mark = line.taken;
  const bool horizontal = BoxWidth(box) > BoxHeight(box);
  const int64_t t = std::min(BoxWidth(box), BoxHeight(box));
  const int64_t F = length_selector < 3 ? 20 : 10;
  auto clamp = [&](tagRECT& b) {
    b.left = std::max<int64_t>(b.left, 0);
    b.top = std::max<int64_t>(b.top, 0);
    b.right = std::min<int64_t>(b.right, width - 1);
    b.bottom = std::min<int64_t>(b.bottom, height - 1);
  };
  int result;
  if (t > 19 || s == 1) {
    result = 1;
    tagRECT b = box;
    clamp(b);
    if (horizontal && BoxWidth(b) > F * t) b.right = std::min<int64_t>(b.left + F * t - 1, width - 1);
    if (!horizontal && BoxHeight(b) > F * t) b.bottom = std::min<int64_t>(b.top + F * t - 1, height - 1);
    const int cw = int(BoxWidth(b)), ch = int(BoxHeight(b));
    if (!SetCrop(out, cw, ch)) return result;
    for (int y = 0; y < ch; ++y) {
      std::memcpy(out->binary + size_t(y) * cw, d1[b.top + y] + b.left, size_t(cw));
      std::memcpy(out->grey + size_t(y) * cw, grey[b.top + y] + b.left, size_t(cw));
    }
    out->validity = 1.0f;
    out->factor = s;
  } else {
    result = 2;
    const int64_t m = t / 3;
    tagRECT a{box.left - m, box.top - m, box.right + m, box.bottom + m};
    clamp(a);
    bool cut = false;
    if (horizontal && BoxWidth(box) > F * t) a.right = std::min<int64_t>(box.left + F * t + m, width - 1), cut = true;
    if (!horizontal && BoxHeight(box) > F * t)
      a.bottom = std::min<int64_t>(box.top + F * t + m, height - 1), cut = true;
    if (!horizontal && cut) botboundary_check_margin(d1, width, height, a, box, m);
    a.bottom = std::min<int64_t>(a.bottom, height - 1);
    if (is_bad_layer(d1, d2, a.left, a.right, a.top, a.bottom)) {
      out->validity = 0.0f;
      return 0;
    }
    const int64_t fx = a.left * s, fy = a.top * s;
    const int fw = int(std::min<int64_t>(BoxWidth(a) * s, full_width - fx));
    const int fh = int(std::min<int64_t>(BoxHeight(a) * s, full_height - fy));
    try {
      cv::Mat g(fh, fw, CV_8UC1);
      for (int y = 0; y < fh; ++y) std::memcpy(g.ptr(y), full[fy + y] + fx, size_t(fw));
      cv::Mat bin;
      cv::threshold(g, bin, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
      bin /= 255;  // ink 0, paper 1
      // Trim, told for a horizontal line: X runs along it, Y across it.
      const int X = horizontal ? fw : fh, Y = horizontal ? fh : fw;
      auto ink = [&](int64_t x, int64_t y) {
        return (horizontal ? bin.at<uint8_t>(int(y), int(x)) : bin.at<uint8_t>(int(x), int(y))) == 0;
      };
      const int64_t b = s * m, L = (2 * b) / 3;
      const int64_t along_len = horizontal ? a.right - a.left : a.bottom - a.top;
      const int64_t across_len = horizontal ? a.bottom - a.top : a.right - a.left;
      const int64_t ec = std::min<int64_t>(s * (along_len - m), X - 1),
                    er = std::min<int64_t>(s * (across_len - m), Y - 1);
      const bool wide = s > 2 && BoxHeight(box) <= 6;
      auto col_ink = [&](int64_t x) {
        int64_t n = 0;
        for (int64_t y = b; y <= er; ++y) n += ink(x, y);
        return n;
      };
      auto row_ink = [&](int64_t y) {
        int64_t n = 0;
        for (int64_t x = b; x <= ec; ++x) n += ink(x, y);
        return n;
      };
      const int64_t bx = std::min<int64_t>(b, X - 1), by = std::min<int64_t>(b, Y - 1);
      const int64_t left = LeastInk(bx, bx - 1, wide ? 0 : std::max<int64_t>(0, bx - L), X, col_ink);
      const int64_t right = LeastInk(ec, ec + 1, wide ? X - 1 : std::min<int64_t>(ec + L, X - 1), X, col_ink);
      const int64_t top = LeastInk(by, Y / 2 - 1, wide ? 0 : std::max<int64_t>(0, by - L), Y, row_ink);
      const int64_t bottom = LeastInk(er, Y / 2 + 1, wide ? Y - 1 : std::min<int64_t>(er + L, Y - 1), Y, row_ink);
      const int along = int(std::max<int64_t>(right - left + 1, 0)),
                across = int(std::max<int64_t>(bottom - top + 1, 0));
      const int cw = horizontal ? along : across, ch = horizontal ? across : along;
      const int64_t ox = horizontal ? left : top, oy = horizontal ? top : left;
      if (!SetCrop(out, cw, ch)) return result;
      for (int y = 0; y < ch; ++y) {
        std::memcpy(out->binary + size_t(y) * cw, bin.ptr(int(oy + y)) + ox, size_t(cw));
        std::memcpy(out->grey + size_t(y) * cw, g.ptr(int(oy + y)) + ox, size_t(cw));
      }
      out->validity = LongEnough(cw, ch, horizontal) ? 1.0f : 0.0f;
      out->factor = 1;
    } catch (const std::bad_alloc&) {
      release_text_image(out);
      return result;
    } catch (const cv::Exception&) {
      release_text_image(out);
      return result;
    }
  }
  if (out->validity != 0.0f && out->binary && is_over_segmented(out->binary, out->width, out->height) == -1)
    out->validity = 0.0f;
  return result;
}

}  // namespace turnsense
