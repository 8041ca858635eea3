// The older post-processing operations over the older morphology: stain
// removal by a labelled 32-bit plane, the couplay (opening) and line
// filters over the separable window, and the frame painter that goes with
// them.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "morphology.h"
#include "post_bands.h"

int RemoveStain(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins) {
  if (!src || !dst || height <= 0 || width <= 0) return -1;
  std::vector<uint32_t> plane;
  try {
    plane.resize(size_t(height) * width);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  // The plane is filled from the page itself: white (1) is the background.
  if (GetbwlabelOld(src, plane.data(), height, width) != 0) return -1;
  return RemoveObject(src, dst, plane.data(), height, width, size, margins);
}

int LineFilter(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size == 0) return -1;
  std::memcpy(dst, src, size_t(height) * width);
  return size > 0 ? imageErodeF(src, dst, height, width, size) : imageDilateF(src, dst, height, width, -size);
}

int CouplayFilter(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size == 0) return -1;
  const size_t n = size_t(height) * width;
  std::vector<uint8_t> work;
  try {
    work.assign(src, src + n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (imageErodeF(src, work.data(), height, width, size) != 0) return -1;
  std::memcpy(dst, work.data(), n);
  return imageDilateF(work.data(), dst, height, width, size);
}

void Set4SideMemery(uint8_t* data, int height, int width, int size, int value) {
  if (!data || height <= 0 || width <= 0) return;
  const int c = int(size * 0.5 - 0.5);
  const int top = std::clamp(c + 1, 0, height), bottom = std::clamp(size - c - 1, 0, height);
  const int left = std::clamp(c + 1, 0, width), right = std::clamp(size - c - 1, 0, width);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = data + size_t(y) * width;
    if (y < top || y >= height - bottom) {
      std::memset(row, value, size_t(width));
      continue;
    }
    std::memset(row, value, size_t(left));
    std::memset(row + width - right, value, size_t(right));
  }
}

int RemoveStainThr(const PostBandJob* job) {
  return RemoveStain(job->src, job->dst, job->height, job->width, job->size, job->margins);
}

int CouplayFilterThr(const PostBandJob* job) {
  return CouplayFilter(job->src, job->dst, job->height, job->width, job->size);
}

int LineFilterThr(const PostBandJob* job) { return LineFilter(job->src, job->dst, job->height, job->width, job->size); }
