// Crop operations of the per-line scorers and the driver's texture step.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "line_patches.h"
#include "line_scorers.h"
#include "unit_log.h"

namespace turnsense {
namespace {

bool InsidePage(const tagRECT& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right < width && r.bottom < height;
}

}  // namespace

int GetBaseLine(const uint8_t* grey, int width, int height, const tagRECT& in, tagRECT& out, int orientation) {
  out = in;
  if (!InsidePage(in, width, height)) return 0;
  const bool vertical = orientation == 1;
  // Positions run across the line: rows of a horizontal line, columns of a vertical one.
  const int64_t first = vertical ? in.left : in.top, last = vertical ? in.right : in.bottom;
  const int64_t from = vertical ? in.top : in.left, to = vertical ? in.bottom : in.right;
  const int64_t n = last - first + 1;
  try {
    std::unique_ptr<int64_t[]> dark(new int64_t[size_t(n)]);
    int64_t total = 0;
    for (int64_t p = 0; p < n; ++p) {
      int64_t sum = 0;
      for (int64_t q = from; q <= to; ++q) {
        const int64_t x = vertical ? first + p : q, y = vertical ? q : first + p;
        sum += 255 - grey[size_t(y) * size_t(width) + size_t(x)];
      }
      dark[size_t(p)] = sum;
      total += sum;
    }
    const int64_t mean = total / n;
    int64_t lo = 0, hi = n - 1;
    while (lo <= n / 3 && dark[size_t(lo)] <= mean) ++lo;
    while (hi >= n - 1 - n / 3 && dark[size_t(hi)] <= mean) --hi;
    (vertical ? out.left : out.top) = first + lo;
    (vertical ? out.right : out.bottom) = first + hi;
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "bad memory allocation");
    return kNoMemory;
  }
  return 0;
}

int ImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t* grey, int width, int height, tagRECT rect,
            int orientation) {
  crop = nullptr;
  if (!InsidePage(rect, width, height)) {
    cropWidth = cropHeight = 0;
    return kLimitExceeded;
  }
  const int rw = int(rect.right - rect.left + 1), rh = int(rect.bottom - rect.top + 1);
  const bool vertical = orientation == 1;
  cropWidth = vertical ? rh : rw;
  cropHeight = vertical ? rw : rh;
  try {
    crop = new uint8_t[size_t(rw) * size_t(rh)];
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "bad memory allocation");
    crop = nullptr;
    return kNoMemory;
  }
  for (int i = 0; i < cropHeight; ++i) {
    uint8_t* row = crop + size_t(i) * size_t(cropWidth);
    if (!vertical) {
      std::copy_n(grey + size_t(rect.top + i) * size_t(width) + size_t(rect.left), size_t(cropWidth), row);
      continue;
    }
    // A quarter turn clockwise: output row i is page column left + i read upwards.
    for (int j = 0; j < cropWidth; ++j) row[j] = grey[size_t(rect.bottom - j) * size_t(width) + size_t(rect.left + i)];
  }
  return 0;
}

float ResizeImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t* grey, int width, int height,
                    tagRECT rect, int targetHeight, int orientation) {
  crop = nullptr;
  if (!InsidePage(rect, width, height) || targetHeight <= 0 || width < 2 || height < 2) {
    cropWidth = cropHeight = 0;
    return 65535.0f;
  }
  const bool vertical = orientation == 1;
  const float across = float(vertical ? rect.right - rect.left + 1 : rect.bottom - rect.top + 1);
  const float along = float(vertical ? rect.bottom - rect.top + 1 : rect.right - rect.left + 1);
  const float f = float(targetHeight) / across;
  cropHeight = targetHeight;
  cropWidth = std::max(1, int(f * along));
  const float step = 1.0f / f;
  try {
    crop = new uint8_t[size_t(cropWidth) * size_t(cropHeight)];
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "bad memory allocation");
    crop = nullptr;
    return 65535.0f;
  }
  auto px = [&](int x, int y) { return float(grey[size_t(y) * size_t(width) + size_t(x)]); };
  // Running positions: the one across the line per output row, the one along it per output pixel.
  float outer = vertical ? float(rect.left) : float(rect.top);
  for (int i = 0; i < cropHeight; ++i, outer += step) {
    float inner = vertical ? float(rect.bottom) : float(rect.left);
    for (int j = 0; j < cropWidth; ++j, inner += vertical ? -step : step) {
      if (outer < 0) outer = 0;
      if (inner < 0) inner = 0;
      const float x = std::min(vertical ? outer : inner, float(width - 2));
      const float y = std::min(vertical ? inner : outer, float(height - 2));
      const int x0 = int(x), y0 = int(y), x1 = int(x + 1), y1 = int(y + 1);
      const float fx = x - float(x0), fy = y - float(y0);
      const float w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
      const float v =
          (px(x0, y0) * w00 + px(x1, y0) * w10 + px(x0, y1) * w01 + px(x1, y1) * w11) / (w00 + w10 + w01 + w11);
      crop[size_t(i) * size_t(cropWidth) + size_t(j)] = uint8_t(std::min(255.0f, v));
    }
  }
  return f;
}

void Iscomplex_background(const uint8_t* grey, const uint8_t*, const uint8_t* mask, int width, int height,
                          int* backgroundClass) {
  const size_t n = size_t(std::max(0, width)) * size_t(std::max(0, height));
  double sum = 0, squares = 0;
  size_t paper = 0;
  for (size_t i = 0; i < n; ++i)
    if (mask[i]) ++paper, sum += grey[i], squares += double(grey[i]) * grey[i];
  if (paper == 0) {
    *backgroundClass = 2;
    return;
  }
  const double m = sum / double(paper), v = squares / double(paper) - m * m;
  if (v > 1600 || m < 70)
    *backgroundClass = 2;
  else if (v > 400)
    *backgroundClass = 1;
}

int BinNoiseNumber(uint8_t* binary, int width, int height) {
  int specks = 0;
  for (const CropComponent& c : CropComponents(binary, width, height)) specks += c.width <= 4 && c.height <= 4;
  return specks;
}

}  // namespace turnsense
