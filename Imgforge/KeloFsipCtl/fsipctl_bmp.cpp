// BMP dumps of the control layer's images and of the judges' grey pages.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fsipctl_internal.h"
#include "fsipctl_log_file.h"

namespace fsipctl {

namespace {

void Put16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// File and information headers and the palette of an uncompressed,
// bottom-up BMP.
std::vector<unsigned char> Header(int width, int height, int bitCount, uint32_t offset, uint32_t fileSize,
                                  uint32_t imageSize, uint32_t ppmX, uint32_t ppmY, uint32_t coloursUsed) {
  std::vector<unsigned char> h(offset, 0);
  h[0] = 'B', h[1] = 'M';
  Put32(h, 2, fileSize);
  Put32(h, 10, offset);
  Put32(h, 14, 40);
  Put32(h, 18, static_cast<uint32_t>(width));
  Put32(h, 22, static_cast<uint32_t>(height));
  Put16(h, 26, 1);
  Put16(h, 28, static_cast<uint32_t>(bitCount));
  Put32(h, 34, imageSize);
  Put32(h, 38, ppmX);
  Put32(h, 42, ppmY);
  Put32(h, 46, coloursUsed);
  if (bitCount == 1) {
    memset(&h[54], 0xFF, 3);  // index 0 white, index 1 black
  } else if (bitCount == 8) {
    for (int i = 0; i < 256; ++i) memset(&h[54 + 4 * i], i, 3);
  }
  return h;
}

std::string DumpName(const char* prefix, const char* suffix) {
  const Stamp s = Now();
  char name[96];
  snprintf(name, sizeof name, "/%s_%04d%02d%02d_%02d%02d%02d_%03d%s.bmp", prefix, s.year, s.month, s.day, s.hour,
           s.minute, s.second, static_cast<int>(s.fraction), suffix);
  return std::string(g_szSavePath) + name;
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& header,
               const std::vector<unsigned char>& pixels) {
  const int fd = OpenShared(path, true);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, header.data(), header.size()) && WriteAll(fd, pixels.data(), pixels.size());
  close(fd);
  return ok;
}

}  // namespace

void CreateBMP(const char* path, const FSIP_S_IMAGEINFO_EX* image) try {
  if (!path || !image) return;
  const int depth = image->nDepth;
  const int bitCount = depth == 32 ? 24 : depth;
  const bool known = depth == 1 || depth == 8 || depth == 24 || depth == 32;
  const int64_t width = image->nWidth, height = image->nHeight, bpl = image->nBytesPerLine;
  const int64_t rowLength = known ? (width * bitCount + 31) / 32 * 4 : 0;
  // Rows are read from the end of the block: the block must hold them all,
  // and a colour row must hold its pixels.
  const bool readable = known && image->pImageData && width > 0 && height > 0 && bpl > 0 &&
                        height * bpl <= image->nImageSize && (depth < 24 || width * (depth / 8) <= bpl) &&
                        rowLength * height <= INT32_MAX - 1078;
  if (!readable) {
    const int fd = OpenShared(path, true);  // the empty file, as for other depths
    if (fd >= 0) close(fd);
    return;
  }
  const uint32_t offset = depth == 1 ? 62 : depth == 8 ? 1078 : 54;
  const uint32_t imageSize = static_cast<uint32_t>(rowLength * height);
  auto ppm = [](int32_t dpi) { return static_cast<uint32_t>(static_cast<int64_t>(dpi * 1000.0 / 25.4)); };
  const std::vector<unsigned char> header = Header(image->nWidth, image->nHeight, bitCount, offset, offset + imageSize,
                                                   imageSize, ppm(image->nXResolution), ppm(image->nYResolution),
                                                   depth == 1   ? 2
                                                   : depth == 8 ? 256
                                                                : 0);
  std::vector<unsigned char> pixels(imageSize, 0);
  for (int64_t j = 1; j <= height; ++j) {
    const unsigned char* src = image->pImageData + image->nImageSize - j * bpl;
    unsigned char* dst = &pixels[static_cast<size_t>((j - 1) * rowLength)];
    if (depth <= 8) {
      memcpy(dst, src, static_cast<size_t>(std::min(rowLength, bpl)));
    } else {
      const int step = depth / 8, r = depth == 32 ? 1 : 0;
      for (int64_t x = 0; x < width; ++x, src += step, dst += 3) {
        dst[0] = src[r + 2], dst[1] = src[r + 1], dst[2] = src[r];
      }
    }
  }
  WriteFile(path, header, pixels);
} catch (...) {
}

void SaveBitmap(const FSIP_S_IMAGEINFO_EX* image, const char* suffix) try {
  if (!image) return;
  CreateBMP(DumpName("FSIPCTL", suffix).c_str(), image);
} catch (...) {
}

void SaveCropOutputBitmap(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* inputs,
                          const FSIP_S_IMAGEINFO_EX* outputs) try {
  struct Dump {
    const FSIP_S_IMAGEINFO_EX* image;
    const char* suffix;
    const char* saved;
    int savedLine;
    const char* missing;
    int missingLine;
  };
  const FSIP_S_IMAGEINFO_EX* in2 = inputs ? inputs + 1 : nullptr;
  const FSIP_S_IMAGEINFO_EX* out2 = outputs ? outputs + 1 : nullptr;
  std::vector<Dump> dumps;
  switch (mode ? mode->nType : 0) {
    case 1:
    case 3:
      dumps.push_back({outputs, "_crp", "FSIP Crop SaveResultImage", 590, "FSIP Crop NotResultImage", 593});
      break;
    case 2:
      dumps.push_back({inputs, "_phr", "FSIP PHRmv SaveResultImage", 603, "FSIP PHRmv NotOutputImage", 606});
      break;
    case 4:
      dumps.push_back(
          {outputs, "_dupcrp1", "FSIP DupCrop SaveResultImage_1st", 617, "FSIP DupCrop NotResultImage_1st", 620});
      dumps.push_back(
          {out2, "_dupcrp2", "FSIP DupCrop SaveResultImage_2st", 629, "FSIP DupCrop NotResultImage_2st", 632});
      break;
    case 5:
      dumps.push_back(
          {inputs, "_dupphr1", "FSIP DupPHRmv SaveResultImage_1st", 643, "FSIP DupPHRmv NotResultImage_1st", 646});
      dumps.push_back(
          {in2, "_dupphr2", "FSIP DupPHRmv SaveResultImage_2st", 655, "FSIP DupPHRmv NotResultImage_2st", 658});
      break;
    case 9:
    case 10:
      dumps.push_back({outputs, "_crp", "FSIP CropWB SaveResultImage", 670, "FSIP CropWB NotResultImage", 673});
      break;
    default:
      return;
  }
  for (const Dump& d : dumps) {
    const bool present = d.image && d.image->pImageData;
    if (present) SaveBitmap(d.image, d.suffix);
    if (g_bLogProc) OutputLog(kSrcCtl, present ? d.savedLine : d.missingLine, present ? d.saved : d.missing);
  }
} catch (...) {
}

}  // namespace fsipctl

int P2iBmp(const _P2IIMG* image) try {
  if (!image || !image->pImageData || image->nBitsPerPixel != 8) return 0;
  const int64_t width = image->nWidth, height = image->nHeight, bpl = image->nBytesPerLine;
  const int64_t rowLength = (width + 3) / 4 * 4;
  if (width <= 0 || height <= 0 || bpl < width || height * bpl > image->nImageSize ||
      rowLength * height > INT32_MAX - 1078)
    return 0;
  const uint32_t imageSize = static_cast<uint32_t>(rowLength * height);
  const uint32_t ppm = static_cast<uint32_t>(static_cast<int64_t>(image->nXResolution) * 3937 / 100);
  const std::vector<unsigned char> header =
      fsipctl::Header(image->nWidth, image->nHeight, 8, 1078, imageSize + 1078, imageSize, ppm, ppm, 0);
  std::vector<unsigned char> pixels(imageSize, 0);
  for (int64_t j = 1; j <= height; ++j)
    memcpy(&pixels[static_cast<size_t>((j - 1) * rowLength)], image->pImageData + image->nImageSize - j * bpl,
           static_cast<size_t>(width));
  return fsipctl::WriteFile(fsipctl::DumpName("KELOBPD", ""), header, pixels) ? 1 : 0;
} catch (...) {
  return 0;
}
