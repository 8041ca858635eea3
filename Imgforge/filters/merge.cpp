// Front/back merge: the two faces of a sheet joined into one image, one
// above the other or side by side, the back optionally turned 180 degrees
// and the smaller face extended with a fill.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "I3ipImageInfo.h"
#include "conv.h"

namespace {

size_t RowBytes(const I3ipImageInfo& image) { return (static_cast<size_t>(image.Width) * image.Bpp + 7) / 8; }

// A face the merge can read as it describes itself.
bool FaceValid(const I3ipImageInfo* face) {
  constexpr uint32_t kLimit = 1u << 24;  // pixels a side; keeps every size in range
  if (!face || !face->Data || face->Width == 0 || face->Height == 0 || face->Width > kLimit || face->Height > kLimit)
    return false;
  if (face->Bpp != 1 && face->Bpp != 8 && face->Bpp != 24) return false;
  const size_t row = RowBytes(*face);
  return face->Bpl >= row && static_cast<uint64_t>(face->Bpl) * (face->Height - 1) + row <= face->DataSize;
}

// Turns a 1-bit image by 180 degrees in place; its rows become tight.
int RotateImageBW180(I3ipImageInfo* image) {
  if (image->Bpp != 1) return 1;
  const size_t w = image->Width, h = image->Height, row = (w + 7) / 8;
  unsigned char* block = static_cast<unsigned char*>(calloc(row * h > 0 ? row * h : 1, 1));
  if (!block) return I3IP_ERR_MEMORY;
  for (size_t y = 0; y < h; ++y) {
    const unsigned char* from = image->Data + (h - 1 - y) * image->Bpl;
    unsigned char* to = block + y * row;
    for (size_t x = 0; x < w; ++x) {
      const size_t sx = w - 1 - x;
      if (from[sx >> 3] & (0x80 >> (sx & 7))) to[x >> 3] = static_cast<unsigned char>(to[x >> 3] | (0x80 >> (x & 7)));
    }
  }
  // Tight rows never need more room than the face's own rows had.
  memcpy(image->Data, block, row * h);
  free(block);
  image->Bpl = static_cast<uint32_t>(row);
  return I3IP_OK;
}

// 180-degree turn in place: row k exchanged with row h - 1 - k, each
// reversed pixel by pixel.
int FlipImage(I3ipImageInfo* image) {
  if (image->Bpp == 1) return RotateImageBW180(image);
  if (image->Bpp != 8 && image->Bpp != 24) return I3IP_OK;
  const size_t bytes = image->Bpp / 8, w = image->Width, h = image->Height, row = RowBytes(*image);
  std::vector<unsigned char> scratch;
  try {
    scratch.resize(row);
  } catch (const std::bad_alloc&) {
    return I3IP_ERR_MEMORY;
  }
  auto reverseInto = [&](unsigned char* to, const unsigned char* from) {
    for (size_t x = 0; x < w; ++x) memcpy(to + x * bytes, from + (w - 1 - x) * bytes, bytes);
  };
  for (size_t k = 0; k < h / 2; ++k) {
    unsigned char* top = image->Data + k * image->Bpl;
    unsigned char* bottom = image->Data + (h - 1 - k) * image->Bpl;
    memcpy(scratch.data(), top, row);
    reverseInto(top, bottom);
    reverseInto(bottom, scratch.data());
  }
  if (h % 2) {
    unsigned char* middle = image->Data + (h / 2) * image->Bpl;
    memcpy(scratch.data(), middle, row);
    reverseInto(middle, scratch.data());
  }
  return I3IP_OK;
}

// A copy of the face in a new block of `width` x `height` tight rows, the
// face at the top left and the rest filled.
int Extended(const I3ipImageInfo& face, uint32_t width, uint32_t height, bool fill, I3ipImageInfo* out) {
  *out = face;
  out->Width = width;
  out->Height = height;
  out->Bpl = static_cast<uint32_t>(RowBytes(*out));
  const uint64_t size = static_cast<uint64_t>(out->Bpl) * height;
  out->Data = nullptr;
  if (size > UINT32_MAX) return I3IP_ERR_ARGUMENT;
  out->DataSize = static_cast<uint32_t>(size);
  out->Data = static_cast<unsigned char*>(malloc(out->DataSize));
  if (!out->Data) return I3IP_ERR_MEMORY;
  memset(out->Data, fill ? 0xFF : 0x00, out->DataSize);
  const size_t row = RowBytes(face);
  const unsigned spare = face.Bpp == 1 ? (8 - face.Width % 8) % 8 : 0;
  for (uint32_t y = 0; y < face.Height; ++y) {
    unsigned char* to = out->Data + static_cast<size_t>(y) * out->Bpl;
    memcpy(to, face.Data + static_cast<size_t>(y) * face.Bpl, row);
    // A 1-bit fill starts right after the last pixel.
    if (spare && width > face.Width) {
      const unsigned mask = (1u << spare) - 1;
      to[row - 1] = static_cast<unsigned char>(fill ? to[row - 1] | mask : to[row - 1] & ~mask);
    }
  }
  return I3IP_OK;
}

int MakeImageWider(const I3ipImageInfo& face, uint32_t width, bool fill, I3ipImageInfo* out) {
  return Extended(face, width, face.Height, fill, out);
}

int MakeImageLonger(const I3ipImageInfo& face, uint32_t height, bool fill, I3ipImageInfo* out) {
  return Extended(face, face.Width, height, fill, out);
}

int MergeImageCore(const I3ipImageInfo& first, const I3ipImageInfo& second, int layout, I3ipImageInfo* out) {
  const bool vertical = layout < 2;
  const bool swap = layout == 1 || layout >= 3;
  const I3ipImageInfo& a = swap ? second : first;  // upper or left
  const I3ipImageInfo& b = swap ? first : second;
  I3ipImageInfo result = first;
  result.Width = vertical ? first.Width : first.Width + second.Width;
  result.Height = vertical ? first.Height + second.Height : first.Height;
  result.Bpl = static_cast<uint32_t>(RowBytes(result));
  const uint64_t size = static_cast<uint64_t>(result.Bpl) * result.Height;
  if (size > UINT32_MAX) return I3IP_ERR_ARGUMENT;
  result.DataSize = static_cast<uint32_t>(size);
  result.Data = static_cast<unsigned char*>(calloc(size ? size : 1, 1));
  if (!result.Data) return I3IP_ERR_MEMORY;
  const size_t rowA = RowBytes(a), rowB = RowBytes(b);
  if (vertical) {
    for (uint32_t y = 0; y < a.Height; ++y)
      memcpy(result.Data + static_cast<size_t>(y) * result.Bpl, a.Data + static_cast<size_t>(y) * a.Bpl, rowA);
    for (uint32_t y = 0; y < b.Height; ++y)
      memcpy(result.Data + static_cast<size_t>(a.Height + y) * result.Bpl, b.Data + static_cast<size_t>(y) * b.Bpl,
             rowB);
  } else {
    const unsigned shift = a.Bpp == 1 ? a.Width % 8 : 0;
    for (uint32_t y = 0; y < result.Height; ++y) {
      unsigned char* to = result.Data + static_cast<size_t>(y) * result.Bpl;
      const unsigned char* left = a.Data + static_cast<size_t>(y) * a.Bpl;
      const unsigned char* right = b.Data + static_cast<size_t>(y) * b.Bpl;
      memcpy(to, left, rowA);
      if (!shift) {
        memcpy(to + rowA, right, rowB);
        continue;
      }
      // The right face's pixels follow the left face's last pixel at once.
      to[rowA - 1] = static_cast<unsigned char>(to[rowA - 1] & (0xFF << (8 - shift)));
      size_t at = rowA - 1;
      for (size_t k = 0; k < rowB; ++k, ++at) {
        const unsigned r = right[k];
        to[at] = static_cast<unsigned char>(to[at] | (r >> shift));
        if (at + 1 < result.Bpl) to[at + 1] = static_cast<unsigned char>((r & ((1u << shift) - 1)) << (8 - shift));
      }
    }
  }
  *out = result;
  return I3IP_OK;
}

int Merge(I3ipImageInfo* first, I3ipImageInfo* second, int layout, int flipSecond, int fill, I3ipImageInfo* out) {
  if (!out) return I3IP_ERR_ARGUMENT;
  memset(out, 0, sizeof *out);
  if (!FaceValid(first) || !FaceValid(second) || first->Bpp != second->Bpp || layout < 0) return I3IP_ERR_ARGUMENT;
  const bool fillOn = fill & 0xFF;
  if (flipSecond & 0xFF) {
    const int rc = FlipImage(second);
    if (rc != 0) return rc;
  }
  I3ipImageInfo extended{};
  const I3ipImageInfo* a = first;
  const I3ipImageInfo* b = second;
  int rc = I3IP_OK;
  if (layout < 2 && first->Width != second->Width) {
    I3ipImageInfo* narrow = first->Width < second->Width ? first : second;
    rc = MakeImageWider(*narrow, first->Width < second->Width ? second->Width : first->Width, fillOn, &extended);
    (narrow == first ? a : b) = &extended;
  } else if (layout >= 2 && first->Height != second->Height) {
    I3ipImageInfo* shorter = first->Height < second->Height ? first : second;
    rc = MakeImageLonger(*shorter, first->Height < second->Height ? second->Height : first->Height, fillOn, &extended);
    (shorter == first ? a : b) = &extended;
  }
  if (rc == I3IP_OK) rc = MergeImageCore(*a, *b, layout, out);
  free(extended.Data);
  if (rc != I3IP_OK) memset(out, 0, sizeof *out);
  return rc;
}

}  // namespace

FSIP_EXPORT int MergeImage(I3ipImageInfo* first, I3ipImageInfo* second, int layout, int flipSecond, int fill,
                           I3ipImageInfo* out) {
  try {
    return Merge(first, second, layout, flipSecond, fill, out);
  } catch (...) {
    if (out) memset(out, 0, sizeof *out);
    return I3IP_ERR_MEMORY;
  }
}
