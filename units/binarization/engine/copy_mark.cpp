#include "copy_mark.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kW = 160, kH = 76, kSize = kW * kH;

// A neutral mark of our own: a frame with a bar through its middle and a
// disc at each end of the bar.
bool UprightPixel(int x, int y) {
  if (x < 4 || x >= kW - 4 || y < 4 || y >= kH - 4) return true;
  if (y >= kH / 2 - 3 && y < kH / 2 + 3 && x >= 30 && x < kW - 30) return true;
  for (int cx : {22, kW - 23}) {
    const int dx = x - cx, dy = y - kH / 2;
    if (dx * dx + dy * dy <= 100) return true;
  }
  return false;
}

struct Templates {
  uint8_t turned[4 * kSize];
  std::vector<uint8_t> packed[3];
  Templates() {
    for (int o = 0; o < 4; ++o) {
      uint8_t* t = turned + size_t(o) * kSize;
      const int tw = o % 2 ? kH : kW;
      for (int y = 0; y < (o % 2 ? kW : kH); ++y)
        for (int x = 0; x < tw; ++x) {
          // Orientation o is the upright mark turned o quarter turns clockwise.
          int ux = x, uy = y;
          if (o == 1) ux = y, uy = kH - 1 - x;
          if (o == 2) ux = kW - 1 - x, uy = kH - 1 - y;
          if (o == 3) ux = kW - 1 - y, uy = x;
          t[y * tw + x] = UprightPixel(ux, uy) ? 1 : 0;
        }
    }
    for (int s = 0; s < 3; ++s) {
      const int w = kW * (1 << s) / 2, h = kH * (1 << s) / 2, bpl = w / 8;
      packed[s].assign(size_t(bpl) * h, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (UprightPixel(x * 2 / (1 << s), y * 2 / (1 << s)))
            packed[s][size_t(y) * bpl + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
  }
};

const Templates& All() {
  static const Templates t;
  return t;
}

CopyMarkArea FromParams(const int* params) {
  CopyMarkArea a{};
  a.resolution = params[16];
  a.hOffset = params[21];
  a.vOffset = params[22];
  a.marginFlag = params[26];
  a.marginTop = params[27];
  a.marginBottom = params[28];
  a.marginLeft = params[29];
  a.marginRight = params[30];
  return a;
}

// Moves [pos, pos + size) inside [lo, hi]; false when it cannot fit.
bool Within(int& pos, int size, int lo, int hi) {
  if (size > hi - lo + 1) return false;
  if (pos < lo) pos = lo;
  if (pos + size - 1 > hi) pos = hi - size + 1;
  return true;
}

}  // namespace

const uint8_t* CopyMarkTemplate(int orientation) { return All().turned + size_t(orientation & 3) * kSize; }

const uint8_t* CopyMarkPacked(int scale, int* width, int* height) {
  scale = std::clamp(scale, 0, 2);
  *width = kW * (1 << scale) / 2;
  *height = kH * (1 << scale) / 2;
  return All().packed[scale].data();
}

int GetCopyMarkArea(CopyMarkArea* a, int height, int width, int rotation, int corner) {
  int mh = kH, mw = kW;
  a->scale = 1;
  a->orientation = 0;
  a->tlX = a->blX = 0, a->tlY = a->trY = 0;
  a->trX = a->brX = width - 1, a->blY = a->brY = height - 1;
  if (corner == 999) return -1;
  const int dpi = a->resolution;
  int h = a->hOffset > 0 ? a->hOffset : 50, v = a->vOffset > 0 ? a->vOffset : 50;
  h = int(double(h) * dpi / 254), v = int(double(v) * dpi / 254);
  if (dpi > 300) mh = 2 * kH, mw = 2 * kW, a->scale = 2;
  if (dpi <= 150) mh = kH / 2, mw = kW / 2, a->scale = 0;
  if (a->marginFlag == 1) {
    int32_t* margins[4] = {&a->marginTop, &a->marginBottom, &a->marginLeft, &a->marginRight};
    bool tooFar = false;
    for (int32_t* m : margins) {
      const long long product = (long long)dpi * *m;
      tooFar |= product < -3809;
      *m = int32_t((product / 254 + 5) / 10);
    }
    if (tooFar) a->marginFlag = 0;
    if (a->marginTop + a->marginBottom >= height) a->marginTop = height, a->marginBottom = 0;
    if (a->marginLeft + a->marginRight >= width) a->marginLeft = width, a->marginRight = 0;
  }
  if (rotation == 2 || rotation == 4) std::swap(mh, mw), std::swap(h, v);
  a->markHeight = mh, a->markWidth = mw, a->hOffset = h, a->vOffset = v;
  if (mw >= width || mh >= height) return -1;
  // The corner of each rotation: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
  static const int kCorners[4][4] = {{3, 2, 0, 1}, {1, 3, 2, 0}, {0, 1, 3, 2}, {2, 0, 1, 3}};
  static const int kOrientation[4] = {0, 3, 2, 1};
  const int row = rotation >= 1 && rotation <= 3 ? rotation - 1 : 3;
  const int c = kCorners[row][corner >= 0 && corner <= 3 ? corner : 0];
  a->orientation = kOrientation[row];
  int x = c == 1 || c == 3 ? width - h - mw : h;
  int y = c >= 2 ? height - v - mh : v;
  if (x < 0 || y < 0 || x + mw - 1 > width - 1 || y + mh - 1 > height - 1) return -1;
  if (a->marginFlag == 1) {
    int top = a->marginTop, bottom = a->marginBottom, left = a->marginLeft, right = a->marginRight;
    if (row == 1) top = a->marginRight, bottom = a->marginLeft, left = a->marginTop, right = a->marginBottom;
    if (row == 2) top = a->marginBottom, bottom = a->marginTop, left = a->marginRight, right = a->marginLeft;
    if (row == 3) top = a->marginLeft, bottom = a->marginRight, left = a->marginBottom, right = a->marginTop;
    a->marginTop = top, a->marginBottom = bottom, a->marginLeft = left, a->marginRight = right;
    if (!Within(y, mh, top, height - 1 - bottom) || !Within(x, mw, left, width - 1 - right)) return -1;
  }
  a->tlX = a->blX = x, a->trX = a->brX = x + mw - 1;
  a->tlY = a->trY = y, a->blY = a->brY = y + mh - 1;
  return 0;
}

int MergeCopyMark(uint8_t* page, int height, int width, const int* params) {
  CopyMarkArea a = FromParams(params);
  if (GetCopyMarkArea(&a, height, width, params[23], params[20]) != 0) return -1;
  const uint8_t* t = CopyMarkTemplate(a.orientation);
  const int tw = a.orientation % 2 ? kH : kW, th = a.orientation % 2 ? kW : kH;
  for (int y = 0; y < a.markHeight; ++y)
    for (int x = 0; x < a.markWidth; ++x) {
      // Scale 0 takes every second template pixel, scale 2 each one twice.
      const int tx = a.scale == 0 ? 2 * x : a.scale == 2 ? x / 2 : x;
      const int ty = a.scale == 0 ? 2 * y : a.scale == 2 ? y / 2 : y;
      if (tx >= tw || ty >= th || !t[ty * tw + tx]) continue;
      uint8_t& p = page[size_t(a.tlY + y) * width + a.tlX + x];
      p = p == 0 ? 1 : 0;
    }
  return 0;
}

int MergeCopyMarkPost(uint8_t* packed, int height, int width, const int* params, int bytesPerLine) {
  CopyMarkArea a = FromParams(params);
  if (GetCopyMarkArea(&a, height, width, params[23], params[20]) != 0) return -1;
  int tw, th;
  const uint8_t* t = CopyMarkPacked(a.scale, &tw, &th);
  const int tbpl = tw / 8, shift = a.tlX % 8;
  std::vector<uint8_t> shifted;
  const uint8_t* rows = t;
  int rowBytes = tbpl;
  if (shift) {
    try {
      shifted.assign(size_t(tbpl + 1) * th, 0);
    } catch (const std::bad_alloc&) {
      return -2;
    }
    for (int y = 0; y < th; ++y)
      for (int b = 0; b < tbpl; ++b) {
        const uint8_t v = t[size_t(y) * tbpl + b];
        shifted[size_t(y) * (tbpl + 1) + b] |= uint8_t(v >> shift);
        shifted[size_t(y) * (tbpl + 1) + b + 1] |= uint8_t(v << (8 - shift));
      }
    rows = shifted.data(), rowBytes = tbpl + 1;
  }
  const int first = a.tlX / 8;
  for (int y = 0; y < th && a.tlY + y < height; ++y) {
    uint8_t* row = packed + size_t(a.tlY + y) * bytesPerLine;
    for (int b = 0; b < rowBytes && first + b < bytesPerLine; ++b) row[first + b] ^= rows[size_t(y) * rowBytes + b];
  }
  return 0;
}
