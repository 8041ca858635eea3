#include "post_bands.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "band_threads.h"

namespace {

struct Span {
  int s0 = 0, s1 = 0;  // rows of the page the band worked on
  std::vector<uint8_t> page;
};

// op(span of src, span copy to change, span rows, rows above own, rows below
// own) per band; own rows go to dst. The spans stay in `spans` for a merge.
template <typename Op>
int Banded(const uint8_t* src, uint8_t* dst, int height, int width, int n, int reach, std::vector<Span>& spans,
           Op op) {
  if (n <= 0) return 0;
  spans.assign(size_t(std::min(n, kMaxBands)), Span{});
  return RunBands(n, height, [&](int y0, int y1, int i) {
    Span& s = spans[size_t(i)];
    s.s0 = std::max(0, y0 - reach);
    s.s1 = std::min(height, y1 + reach);
    const size_t w = size_t(width);
    try {
      s.page.assign(src + size_t(s.s0) * w, src + size_t(s.s1) * w);
    } catch (const std::bad_alloc&) {
      return -1;
    }
    const int rc = op(src + size_t(s.s0) * w, s.page.data(), s.s1 - s.s0, y0 - s.s0, s.s1 - y1);
    if (rc != 0) return rc;
    std::memcpy(dst + size_t(y0) * w, s.page.data() + size_t(y0 - s.s0) * w, size_t(y1 - y0) * w);
    return 0;
  });
}

// Stain removal in bands over either form of the step: stain(span, span
// copy, span rows, rows above own, rows below own).
template <typename Stain>
int StainBands(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n, Stain stain) {
  if (size == 0) return n <= 0 ? 0 : -1;
  // A speck that starts in a band's own rows lies within `size` rows below
  // them; one that starts above them is the band above's.
  const int reach = std::min(std::max(size, 1), height);
  std::vector<Span> spans;
  const int rc = Banded(src, dst, height, width, n, reach, spans, stain);
  if (rc != 0) return rc;
  // A speck whitened by one band may reach into the next band's rows: its
  // pixels there are whitened now, after every band has written.
  for (const Span& s : spans)
    for (int y = s.s0; y < s.s1; ++y) {
      const uint8_t* from = s.page.data() + size_t(y - s.s0) * width;
      const uint8_t* orig = src + size_t(y) * width;
      uint8_t* to = dst + size_t(y) * width;
      for (int x = 0; x < width; ++x)
        if (from[x] && !orig[x]) to[x] = 1;
    }
  return 0;
}

}  // namespace

int RemoveStainNewEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins,
                     int n) {
  return StainBands(src, dst, height, width, size, n, [&](const uint8_t* s, uint8_t* d, int h, int above, int below) {
    _MARGINPTXYSIZE m = margins;
    m.top = std::max(m.top, above);
    // Specks that start below the band's own rows are the next band's.
    m.bottom = std::max(m.bottom, below > 0 ? below + 1 : 0);
    return RemoveStainNew(s, d, h, width, size, m);
  });
}

int RemoveStainEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins, int n) {
  // The older form's margins bound the rows it cleans: the band's own.
  return StainBands(src, dst, height, width, size, n, [&](const uint8_t* s, uint8_t* d, int h, int above, int below) {
    _MARGINPTXYSIZE m = margins;
    m.top = std::max(m.top, above);
    m.bottom = std::max(m.bottom, below);
    const PostBandJob job{s, d, h, width, size, m};
    return RemoveStainThr(&job);
  });
}

int CouplayFilterIppEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n) {
  std::vector<Span> spans;
  // An opening reads the erosion's window around every pixel of the dilation's.
  return Banded(src, dst, height, width, n, 2 * std::abs(size) + 2, spans,
                [&](const uint8_t* s, uint8_t* d, int h, int, int) { return CouplayFilterIpp(s, d, h, width, size); });
}

int LineFilterIppEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n) {
  std::vector<Span> spans;
  return Banded(src, dst, height, width, n, std::abs(size) + 2, spans,
                [&](const uint8_t* s, uint8_t* d, int h, int, int) { return LineFilterIpp(s, d, h, width, size); });
}

// The older filters' bands reach as far as their window does twice (the
// opening) or once, so that each band's own rows come out as on the whole page.
int CouplayFilterEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n) {
  std::vector<Span> spans;
  return Banded(src, dst, height, width, n, 2 * std::abs(size) + 2, spans,
                [&](const uint8_t* s, uint8_t* d, int h, int, int) {
                  const PostBandJob job{s, d, h, width, size, {}};
                  return CouplayFilterThr(&job);
                });
}

int LineFilterEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n) {
  std::vector<Span> spans;
  return Banded(src, dst, height, width, n, std::abs(size) + 2, spans,
                [&](const uint8_t* s, uint8_t* d, int h, int, int) {
                  const PostBandJob job{s, d, h, width, size, {}};
                  return LineFilterThr(&job);
                });
}

void Set4SideByteMemery2(uint8_t* data, int height, int width, int n, int value) {
  if (n <= 0) return;
  const int rows = std::min(n, height), cols = std::min(n, width);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = data + size_t(y) * width;
    if (y < rows || y >= height - rows) {
      std::memset(row, value, size_t(width));
    } else {
      std::memset(row, value, size_t(cols));
      std::memset(row + width - cols, value, size_t(cols));
    }
  }
}
