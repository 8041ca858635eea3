#include "line_patches.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "labelling.h"

namespace turnsense {

std::vector<CropComponent> CropComponents(uint8_t* crop, int w, int h) {
  std::vector<CropComponent> out;
  if (w <= 0 || h <= 0) return out;
  const size_t n = size_t(w) * h;
  std::unique_ptr<int32_t[]> positions(new int32_t[n]);
  std::unique_ptr<int32_t[]> labels(new int32_t[n]);
  std::unique_ptr<int32_t[]> counts(new int32_t[n + 1]);
  const int listed = CachePixels2(w, h, crop, 0, positions.get());
  const int k = LabelObjects2(listed, positions.get(), w, crop, labels.get(), counts.get());
  std::unique_ptr<rect[]> boxes(new rect[size_t(k) + 1]);
  BoundObjects2(listed, positions.get(), w, labels.get(), k, boxes.get());
  for (int i = 1; i <= k; ++i) {
    const rect& b = boxes[size_t(i)];
    out.push_back(CropComponent{b.left, b.top, b.right - b.left + 1, b.bottom - b.top + 1});
  }
  return out;
}

namespace {

using Component = CropComponent;

void PatchPos(uint8_t* crop, int w, int h, int& start, int mode, int target) {
  const int pw = (81 * h) / 21;
  std::vector<Component> kept;
  for (const Component& c : CropComponents(crop, w, h))
    if (c.width >= h / 6 && c.height >= h / 3) kept.push_back(c);
  start = target;
  if (mode == 0) {
    int best = 100000;
    for (const Component& c : kept)
      if (c.x0 + pw < w && std::abs(c.x0 - target) < best) best = std::abs(c.x0 - target), start = c.x0;
  } else if (mode == 1) {
    // A window scores the ink widths of the components wholly inside it.
    int best = 0;
    for (const Component& c : kept) {
      if (c.x0 + pw >= w) continue;
      int score = 0;
      for (const Component& d : kept)
        if (d.x0 >= c.x0 && d.x0 + d.width <= c.x0 + pw) score += d.width;
      if (score > best) best = score, start = c.x0;
    }
  }
}

}  // namespace

void GetPatchPos(uint8_t* crop, int width, int height, int& start, int mode) {
  PatchPos(crop, width, height, start, mode, (width - (81 * height) / 21) / 2);
}

void GetPatchPos_left(uint8_t* crop, int width, int height, int& start, int mode) {
  PatchPos(crop, width, height, start, mode, width / 6 - (81 * height) / 42);
}

void GetPatchPos_right(uint8_t* crop, int width, int height, int& start, int mode) {
  PatchPos(crop, width, height, start, mode, (2 * width) / 3 - (81 * height) / 42);
}

bool CheckTextvalidate(uint8_t* crop, int width, int height, int& flag) {
  const int w = width, h = height;
  int64_t S = 0;
  for (const Component& c : CropComponents(crop, w, h))
    if (c.width < (3 * c.height) / 2 && c.height >= (2 * h) / 7) S += c.width;
  if (S >= w / 3) flag = 1;
  return (w > 10 * h && h != 13) || (S >= w / 5 && w >= 3 * h && h > 13);
}

bool CheckTextvalidate_v1(const uint8_t*, int, int height, int&) { return height > 17; }

}  // namespace turnsense
