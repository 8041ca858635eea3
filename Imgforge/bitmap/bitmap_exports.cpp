// The bitmap library's C entries. This file is linked as an object into
// every library that carries the bitmap library, so that libimgforge can
// export these names (symbols pulled from an archive are hidden by
// --exclude-libs); the other carriers hide them with their version scripts.
#include <stdlib.h>
#include <string.h>

#include <climits>

#include "CABitmap.h"
#include "abitmap.h"
#include "bitmap_internal.h"

using abmp::MinRowBytes;

uint8_t* abmp_alloc(ABITMAP* out, int width, int height, int bits, int bpl) {
  if (!out || width < 0 || height < 0 || bpl < 0) return nullptr;
  int64_t row;
  switch (bits) {
    case 1:
      row = (static_cast<int64_t>(width) + 7) >> 3;
      break;
    case 8:
      row = width;
      break;
    case 24:
      row = 3 * static_cast<int64_t>(width);
      break;
    case 4:
    case 16:
      // padded to a multiple of four bytes
      row = ((31 / bits + static_cast<int64_t>(width)) * bits / 32) * 4;
      break;
    default:
      return nullptr;
  }
  if (bpl != 0) {
    // A shorter row would let pixel access run past the buffer.
    if (bpl < MinRowBytes(width, bits)) return nullptr;
    row = bpl;
  }
  if (row > INT_MAX) return nullptr;
  uint64_t size = static_cast<uint64_t>(height) * static_cast<uint64_t>(row);
  auto* buf = static_cast<uint8_t*>(calloc(size ? size : 1, 1));
  if (!buf) return nullptr;
  out->data = buf;
  out->width = width;
  out->height = height;
  out->bpl = static_cast<int32_t>(row);
  out->size = size;
  out->bits = static_cast<uint8_t>(bits);
  return buf;
}

uint8_t* abmp_n_small(ABITMAP* src, ABITMAP* dst, int n, int type) {
  if (!src || !dst) return nullptr;
  return abmp::Reduce(*src, *dst, n, type);
}

namespace {

// x + w - 1 without overflow, kept within int.
int32_t LastOf(int32_t start, int32_t length) {
  int64_t v = static_cast<int64_t>(start) + length - 1;
  return static_cast<int32_t>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
}

// Labels a caller's record inside area (null: the whole image).
int LabelRecord(ABITMAP const* image, ARECT2 const* area, LBL_DATA* out) {
  if (!out) return -1;
  CABitmap bmp;
  if (image) bmp.set(*image);
  // A record that describes no usable pixels is refused rather than read as
  // a blank page.
  if (!image || bmp.m_width != image->width || bmp.m_height != image->height) {
    memset(out, 0, sizeof *out);
    return -1;
  }
  return lbl_main2(bmp, *out, area ? *area : ARECT2{0, 0, bmp.m_width - 1, bmp.m_height - 1});
}

}  // namespace

int lbl_main2(ABITMAP* image, ARECT* area, LBL_DATA* out) {
  if (!area) return LabelRecord(image, nullptr, out);
  ARECT2 r{area->x, area->y, LastOf(area->x, area->w), LastOf(area->y, area->h)};
  return LabelRecord(image, &r, out);
}

int img_mono2label(unsigned char* pixels, int bpl, int width, int height, int x1, int y1, int x2, int y2,
                   LBL_DATA* out) {
  if (!out) return -1;
  ABITMAP image{};
  image.data = pixels;
  image.bits = 1;
  image.width = width;
  image.height = height;
  image.bpl = bpl;
  image.size = static_cast<uint64_t>(height < 0 ? 0 : height) * static_cast<uint64_t>(bpl < 0 ? 0 : bpl);
  ARECT2 area{x1, y1, x2, y2};
  LBL_DATA local{};
  int rc = LabelRecord(&image, &area, &local);
  // the caller's other fields stay as they were
  out->rects = local.rects;
  out->maxlabel = local.maxlabel;
  return rc;
}

int lbl_main2_k(KIMAGE* image, ARECT* area, LBL_DATA* out) {
  if (!image || !area) {
    if (out) {
      out->rects = nullptr;
      out->maxlabel = 0;
    }
    return -1;
  }
  return img_mono2label(image->data, image->bpl, image->width, image->height, area->x, area->y,
                        LastOf(area->x, area->w), LastOf(area->y, area->h), out);
}

int lbl_free(LBL_DATA* data) {
  if (!data) return 0;
  free(data->rects);
  memset(data, 0, sizeof *data);
  return 0;
}

int lbl_free2(LBL_DATA* data) { return lbl_free(data); }
int img_mono2label_free(LBL_DATA* data) { return lbl_free2(data); }
int lbl_free2_k(LBL_DATA* data) { return img_mono2label_free(data); }
