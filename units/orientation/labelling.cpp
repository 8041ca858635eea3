#include "labelling.h"

#include <cstring>
#include <memory>
#include <new>

namespace turnsense {
namespace {

int32_t Root(const int32_t* eq, int32_t a) {
  while (eq[a] != a) a = eq[a];
  return a;
}

void PointPath(int32_t* eq, int32_t a, int32_t root) {
  while (eq[a] != a) {
    const int32_t next = eq[a];
    eq[a] = root;
    a = next;
  }
  eq[a] = root;
}

int32_t Merge(int32_t* eq, int32_t a, int32_t b) {
  const int32_t ra = Root(eq, a), rb = Root(eq, b);
  const int32_t root = ra < rb ? ra : rb;
  PointPath(eq, a, root);
  PointPath(eq, b, root);
  return root;
}

// Provisional label of one foreground pixel from its already labelled
// neighbours; `fg(offset)` tells whether the neighbour at that offset is
// foreground and `lab(offset)` gives its label.
template <typename Fg, typename Lab>
int32_t FirstPassLabel(int32_t* eq, int32_t& next, int w, Fg fg, Lab lab) {
  const long up = -long(w), ur = -long(w) + 1, ul = -long(w) - 1, left = -1;
  if (fg(up)) return eq[lab(up)];
  if (fg(ur)) {
    if (fg(ul)) return Merge(eq, lab(ul), lab(ur));
    if (fg(left)) return Merge(eq, lab(left), lab(ur));
    return eq[lab(ur)];
  }
  if (fg(ul)) return eq[lab(ul)];
  if (fg(left)) return eq[lab(left)];
  eq[next] = next;
  return next++;
}

// Flattens the table and renumbers its roots 1..n in increasing order.
int32_t Renumber(int32_t* eq, int32_t next) {
  for (int32_t i = 1; i < next; ++i) eq[i] = eq[eq[i]];
  int32_t n = 0;
  for (int32_t i = 1; i < next; ++i) eq[i] = eq[i] == i ? ++n : eq[eq[i]];
  return n;
}

}  // namespace

void CLbl::RemoveEdgePixels(int w, int h, uint8_t* image) {
  if (w <= 0 || h <= 0) return;
  std::memset(image, 255, size_t(w));
  std::memset(image + size_t(h - 1) * w, 255, size_t(w));
  for (int y = 0; y < h; ++y) image[size_t(y) * w] = image[size_t(y) * w + w - 1] = 255;
}

int CLbl::LabelingScan8(int w, int h, uint8_t* image, int32_t* labels, int32_t* counts) {
  if (w <= 0 || h <= 0) return 0;
  RemoveEdgePixels(w, h, image);
  const size_t n = size_t(w) * h;
  std::unique_ptr<int32_t[]> eq(new (std::nothrow) int32_t[n + 1]);
  if (!eq) {
    std::memset(labels, 0, n * sizeof(int32_t));
    return 0;
  }
  // Every label is written once, by the scan: background and frame 0.
  std::memset(labels, 0, size_t(w) * sizeof(int32_t));
  std::memset(labels + size_t(h - 1) * w, 0, size_t(w) * sizeof(int32_t));
  int32_t next = 1;
  for (int y = 1; y < h - 1; ++y) {
    labels[size_t(y) * w] = labels[size_t(y) * w + w - 1] = 0;
    for (int x = 1; x < w - 1; ++x) {
      const size_t i = size_t(y) * w + x;
      labels[i] = image[i] != 0 ? 0
                                : FirstPassLabel(
                                      eq.get(), next, w, [&](long o) { return image[i + o] == 0; },
                                      [&](long o) { return labels[i + o]; });
    }
  }
  const int32_t count = Renumber(eq.get(), next);
  if (count == 0) return 0;
  std::memset(counts + 1, 0, size_t(count) * sizeof(int32_t));
  for (size_t i = 0; i < n; ++i) {
    if (labels[i] == 0) continue;
    labels[i] = eq[labels[i]];
    ++counts[labels[i]];
  }
  return count;
}

void CLbl::GetBound(int w, int h, const int32_t* labels, int n, rect* boxes) {
  for (int k = 1; k <= n; ++k) boxes[k] = rect{w, h, 0, 0};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int32_t k = labels[size_t(y) * w + x];
      if (k <= 0 || k > n) continue;
      rect& b = boxes[k];
      if (x < b.left) b.left = x;
      if (y < b.top) b.top = y;
      if (x > b.right) b.right = x;
      b.bottom = y;
    }
  }
}

int CachePixels2(int w, int h, uint8_t* image, uint8_t fg, int32_t* positions) {
  if (w <= 0 || h <= 0) return 0;
  const uint8_t bg = uint8_t(~fg);
  std::memset(image, bg, size_t(w));
  std::memset(image + size_t(h - 1) * w, bg, size_t(w));
  if (h <= 2) return 0;
  for (int y = 0; y < h; ++y) image[size_t(y) * w] = image[size_t(y) * w + w - 1] = bg;
  int count = 0;
  for (size_t i = size_t(w); i < size_t(h - 1) * w; ++i)
    if (image[i] == fg) positions[count++] = int32_t(i);
  return count;
}

int LabelObjects2(int count, const int32_t* positions, int w, const uint8_t* image, int32_t* labels, int32_t* counts) {
  if (count <= 0) return 0;
  const uint8_t fg = image[positions[0]];
  std::unique_ptr<int32_t[]> eq(new int32_t[size_t(count) + 1]);
  int32_t next = 1;
  for (int k = 0; k < count; ++k) {
    const long i = positions[k];
    labels[i] = FirstPassLabel(
        eq.get(), next, w, [&](long o) { return image[i + o] == fg; }, [&](long o) { return labels[i + o]; });
  }
  const int32_t n = Renumber(eq.get(), next);
  std::memset(counts + 1, 0, size_t(n) * sizeof(int32_t));
  for (int k = 0; k < count; ++k) {
    int32_t& l = labels[positions[k]];
    l = eq[l];
    ++counts[l];
  }
  return n;
}

void BoundObjects2(int count, const int32_t* positions, int w, const int32_t* labels, int n, rect* boxes) {
  for (int k = 1; k <= n; ++k) boxes[k] = rect{10000, 10000, 0, 0};
  for (int k = 0; k < count; ++k) {
    const int32_t p = positions[k];
    const int32_t l = labels[p];
    if (l <= 0 || l > n) continue;
    const int x = p % w, y = p / w;
    rect& b = boxes[l];
    if (x < b.left) b.left = x;
    if (y < b.top) b.top = y;
    if (x > b.right) b.right = x;
    b.bottom = y;
  }
}

}  // namespace turnsense
