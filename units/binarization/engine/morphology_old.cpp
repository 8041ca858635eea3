// The older morphology of the engine, kept for its older filters: a
// separable square window, two-pass labelling on a 32-bit plane and the
// removal of small labelled objects. Labels read from a plane are checked
// against the boxes they index.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "morphology.h"

namespace {

// One pass of the window along rows (dx 1) or columns: a pixel whose whole
// window lies inside the page is 1 when all (erode) or any (dilate) of its
// window is non-zero.
void WindowPass(const uint8_t* in, uint8_t* out, int height, int width, int size, bool erode, bool alongRows) {
  const int a = int(size * 0.5 - 0.5);
  const int length = alongRows ? width : height, lines = alongRows ? height : width;
  const size_t step = alongRows ? 1 : size_t(width), lineStep = alongRows ? size_t(width) : 1;
  for (int l = 0; l < lines; ++l) {
    const uint8_t* from = in + size_t(l) * lineStep;
    uint8_t* to = out + size_t(l) * lineStep;
    for (int p = a; p - a + size <= length; ++p) {
      bool all = true, any = false;
      for (int k = p - a; k < p - a + size; ++k) {
        const bool set = from[size_t(k) * step] != 0;
        all &= set, any |= set;
      }
      to[size_t(p) * step] = (erode ? all : any) ? 1 : 0;
    }
  }
}

int SquareWindow(const uint8_t* src, uint8_t* dst, int height, int width, int size, bool erode) {
  if (size <= 0 || height <= 0 || width <= 0) return 0;
  std::vector<uint8_t> work;
  try {
    work.assign(size_t(height) * width, erode ? 1 : 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  WindowPass(src, work.data(), height, width, size, erode, true);
  WindowPass(work.data(), dst, height, width, size, erode, false);
  return 0;
}

// Union of provisional labels; the smaller number stands for the set.
struct Joins {
  std::vector<uint32_t> parent;
  uint32_t Find(uint32_t a) {
    while (parent[a] != a) a = parent[a] = parent[parent[a]];
    return a;
  }
  void Join(uint32_t a, uint32_t b) {
    a = Find(a), b = Find(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
};

}  // namespace

int imageErodeF(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  return SquareWindow(src, dst, height, width, size, true);
}

int imageDilateF(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  return SquareWindow(src, dst, height, width, size, false);
}

int GetbwlabelOld(const uint8_t* src, uint32_t* labels, int height, int width) {
  if (!labels || height <= 0 || width <= 0) return -1;
  const size_t n = size_t(height) * width;
  // Every label is below 2 + n: the plane's count of pixels must leave room.
  if (n > 0xFFFFFFF0u) return -1;
  if (src)
    for (size_t i = 0; i < n; ++i) labels[i] = src[i] != 0 ? 1 : 0;
  Joins joins;
  try {
    joins.parent = {0, 1};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint32_t& me = labels[size_t(y) * width + x];
        if (me == 1) {
          me = 0;  // background
          continue;
        }
        uint32_t mine = 0;
        const int around[4][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}};
        for (const auto& o : around) {
          const int ny = y + o[0], nx = x + o[1];
          if (ny < 0 || nx < 0 || nx >= width) continue;
          const uint32_t other = labels[size_t(ny) * width + nx];
          if (!other) continue;
          if (!mine)
            mine = other;
          else
            joins.Join(mine, other);
        }
        if (!mine) {
          mine = uint32_t(joins.parent.size());
          joins.parent.push_back(mine);
        }
        me = mine;
      }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (size_t i = 0; i < n; ++i)
    if (labels[i]) labels[i] = joins.Find(labels[i]);
  return 0;
}

int RemoveObject(const uint8_t* src, uint8_t* dst, const uint32_t* labels, int height, int width, int size,
                 _MARGINPTXYSIZE margins) {
  if (!src || !dst || !labels || height <= 0 || width <= 0) return -1;
  const size_t n = size_t(height) * width;
  // Labels come from the caller's plane: none may pass the boxes made for
  // the labels a plane of this size can hold.
  const uint64_t boxes = uint64_t(n) + 2;
  struct Box {
    int x0, y0, x1, y1;
  };
  std::vector<Box> box;
  try {
    uint32_t top = 0;
    for (size_t i = 0; i < n; ++i) top = std::max(top, labels[i]);
    if (top >= boxes) return -1;
    box.assign(size_t(top) + 1, Box{width, height, -1, -1});
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (const uint32_t l = labels[size_t(y) * width + x]) {
        Box& b = box[l];
        b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y), b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
      }
  const int limit = std::min(size, std::max(height, width));
  const int y0 = std::max(margins.top, 0), y1 = std::min(height, height - margins.bottom);
  const int x0 = std::max(margins.left, 0), x1 = std::min(width, width - margins.right);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const size_t at = size_t(y) * width + x;
      dst[at] = src[at];
      if (const uint32_t l = labels[at]) {
        const Box& b = box[l];
        if (b.x1 - b.x0 < limit && b.y1 - b.y0 < limit) dst[at] = 1;
      }
    }
  return 0;
}
