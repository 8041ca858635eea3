// JPEG compression of pages and reading of JPEG streams into pages.
// clang-format off
#include <cstddef>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "dravn_export.h"
#include "page_record.h"
#include "vk_compress.h"

using namespace Tools;
using namespace imageops;

namespace {

// Quality codes to libjpeg qualities, in the order 0, 286, 389, 450, 788.
constexpr int kCodes[5] = {0, 286, 389, 450, 788};
constexpr int kQualityJPEG[5] = {15, 50, 67, 80, 95};
constexpr int kQualityIPP[5] = {15, 45, 67, 80, 95};
constexpr int kQualityEx[5] = {14, 35, 55, 70, 95};

int QualityOf(int32_t code, const int (&table)[5]) {
  for (int i = 0; i < 5; ++i)
    if (kCodes[i] == code) return table[i];
  return -1;
}

enum class Tables { Custom, Standard };

OSErr CompressPage(const VKIMG* image, int vertical, int horizontal, int quality, Tables tables, uint8_t** out,
                   uint32_t* outSize) {
  if (!out || !outSize) return paramErr;
  *out = nullptr;
  *outSize = 0;
  if (!image || !image->baseAddr || image->width <= 0 || image->height <= 0 || quality < 0) return paramErr;
  if (image->depth != 8 && image->depth != 24) return paramErr;
  if (int64_t(image->rowBytes) < int64_t(image->width) * (image->depth / 8)) return paramErr;
  if (image->width > JPEG_MAX_DIMENSION || image->height > JPEG_MAX_DIMENSION) return paramErr;
  std::vector<uint8_t> data;
  try {
    data.reserve(size_t(image->width) * image->height * (image->depth / 8) / 8);
  } catch (...) {
  }
  const bool custom = tables == Tables::Custom;
  bool done;
  if (image->depth == 8)
    done = CompressGray2Gray444(image->baseAddr, image->rowBytes, image->width, image->height, data, quality, vertical,
                                horizontal, custom);
  else if (custom)
    done = CompressRGB2YCbCr444(image->baseAddr, image->rowBytes, image->width, image->height, data, quality, vertical,
                                horizontal, true);
  else
    done = CompressRGB2YCbCr411(image->baseAddr, image->rowBytes, image->width, image->height, data, quality, vertical,
                                horizontal);
  if (!done || data.size() > UINT32_MAX) return memFullErr;
  auto* block = static_cast<uint8_t*>(std::malloc(data.size()));
  if (!block) return memFullErr;
  std::memcpy(block, data.data(), data.size());
  *out = block;
  *outSize = uint32_t(data.size());
  return noErr;
}

OSErr CompressWithRecord(const VKIMG* image, VkImageDesc** resolution, int32_t code, const int (&table)[5],
                         uint8_t** out, uint32_t* outSize) {
  if (!resolution || !*resolution) {
    if (out) *out = nullptr;
    if (outSize) *outSize = 0;
    return paramErr;
  }
  return CompressPage(image, (*resolution)->vRes, (*resolution)->hRes, QualityOf(code, table), Tables::Standard, out,
                      outSize);
}

// A libjpeg decompression whose errors jump back and whose warnings (bad or
// missing data) are counted.
struct Reader {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  jmp_buf jump;
  int warnings = 0;

  static void ErrorExit(j_common_ptr c) { std::longjmp(static_cast<Reader*>(c->client_data)->jump, 1); }
  static void EmitMessage(j_common_ptr c, int level) {
    if (level < 0) ++static_cast<Reader*>(c->client_data)->warnings;
  }
};

OSErr ReadStream(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out, bool split) {
  if (!out) return paramErr;
  *out = nullptr;
  if (!data || length == 0 || !desc || !*desc) return paramErr;
  Reader r;
  r.cinfo.err = jpeg_std_error(&r.error);
  r.error.error_exit = Reader::ErrorExit;
  r.error.emit_message = Reader::EmitMessage;
  r.cinfo.client_data = &r;
  // Set before the jump point, read after it: held in volatile storage.
  VKIMG* volatile page = nullptr;
  volatile OSErr failure = paramErr;
  if (setjmp(r.jump)) {
    jpeg_destroy_decompress(&r.cinfo);
    DisposeVKIMG(page);
    return failure;
  }
  jpeg_create_decompress(&r.cinfo);
  r.cinfo.client_data = &r;
  jpeg_mem_src(&r.cinfo, data, length);
  if (jpeg_read_header(&r.cinfo, TRUE) != JPEG_HEADER_OK || r.warnings) longjmp(r.jump, 1);
  const int components = r.cinfo.num_components;
  if (components != 1 && components != 3) longjmp(r.jump, 1);
  const bool grey = components == 1 && !split;
  r.cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  const int64_t width = r.cinfo.image_width, height = r.cinfo.image_height, channels = grey ? 1 : 3;
  if (split && (width != (*desc)->width || height != (*desc)->height)) longjmp(r.jump, 1);
  if (width * channels * height > INT32_MAX) longjmp(r.jump, 1);
  failure = memFullErr;
  page = static_cast<VKIMG*>(std::calloc(1, sizeof(VKIMG)));
  if (!page) longjmp(r.jump, 1);
  page->baseAddr = static_cast<uint8_t*>(std::malloc(size_t(width * channels * height)));
  if (!page->baseAddr) longjmp(r.jump, 1);
  failure = paramErr;
  page->depth = int32_t(8 * channels);
  page->width = int32_t(width);
  page->height = int32_t(height);
  page->rowBytes = int32_t(width * channels);
  page->size = int32_t(width * channels * height);
  jpeg_start_decompress(&r.cinfo);
  JSAMPROW rows[16];
  while (r.cinfo.output_scanline < r.cinfo.output_height) {
    const int n = std::min<int>(16, int(r.cinfo.rec_outbuf_height));
    for (int i = 0; i < n; ++i)
      rows[i] = page->baseAddr +
                size_t(std::min<JDIMENSION>(r.cinfo.output_scanline + i, r.cinfo.output_height - 1)) * page->rowBytes;
    jpeg_read_scanlines(&r.cinfo, rows, JDIMENSION(n));
  }
  jpeg_finish_decompress(&r.cinfo);
  if (r.warnings) longjmp(r.jump, 1);
  jpeg_destroy_decompress(&r.cinfo);
  if (!split) {
    (*desc)->width = page->width;
    (*desc)->height = page->height;
    (*desc)->depth = int16_t(page->depth);
  }
  *out = page;
  return noErr;
}

}  // namespace

DRAVN_C_EXPORT int16_t CompressJPEG(const VKIMG* image, int32_t resolution, int32_t quality, uint8_t** out,
                                    uint32_t* outSize) {
  return CompressPage(image, resolution, resolution, QualityOf(quality, kQualityJPEG), Tables::Custom, out, outSize);
}

DRAVN_C_EXPORT int16_t CompressJPEGWithIPP(const VKIMG* image, VkImageDesc** resolution, int32_t quality, uint8_t** out,
                                           uint32_t* outSize) {
  return CompressWithRecord(image, resolution, quality, kQualityIPP, out, outSize);
}

DRAVN_C_EXPORT int16_t CompressJPEGEx(const VKIMG* image, VkImageDesc** resolution, int32_t quality, uint8_t** out,
                                      uint32_t* outSize) {
  return CompressWithRecord(image, resolution, quality, kQualityEx, out, outSize);
}

DRAVN_C_EXPORT int16_t CompressJPEGWithIPPEx(const VKIMG* image, VkImageDesc** resolution, int32_t quality,
                                             uint8_t** out, uint32_t* outSize) {
  return CompressJPEGEx(image, resolution, quality, out, outSize);
}

DRAVN_C_EXPORT int16_t ReadJPEG(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out) {
  return ReadStream(data, length, desc, out, false);
}

DRAVN_C_EXPORT int16_t ReadJPEGWithIPP(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out) {
  return ReadJPEG(data, length, desc, out);
}

DRAVN_C_EXPORT int16_t ReadSplitJPEG(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out) {
  return ReadStream(data, length, desc, out, true);
}
