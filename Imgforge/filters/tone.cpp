// Tone tables: the pass that applies a table block to a page, and the
// builders of tables from brightness, contrast, shadow, highlight and gamma.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "conv.h"

namespace {

constexpr int kHeader = 10;

bool BlockHeaderValid(const unsigned char* block) {
  return block && block[4] == 1 && block[5] == 0 && block[6] == 1 && block[7] == 0;
}

// Which of the three tables red, green and blue take, by arrangement code.
void Arrangement(const unsigned char* block, bool threeTables, const unsigned char* tables[3]) {
  static const int kUse[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {2, 0, 1}, {1, 2, 0}, {2, 1, 0}};
  const unsigned char* first = block + kHeader;
  const int code = block[2];
  for (int c = 0; c < 3; ++c) tables[c] = threeTables && code <= 5 ? first + 256 * kUse[code][c] : first;
}

struct CurveSettings {
  int brightness = 50;  // percent, 50 neutral
  int contrast = 50;
  int shadow = 0;
  int highlight = 255;
  int gamma = 10;  // tenths
};

// Steps 1 to 3 of the curve: the shadow/highlight window and the contrast.
double WindowAndContrast(int x, const CurveSettings& s) {
  double g = x / 255.0;
  const double t = tan(M_PI * (1.0 - (100.0 - s.contrast) / 200.0) / 3.0);
  if (!(s.shadow == 0 && s.highlight == 255)) {
    double lo = s.shadow / 255.0, hi = s.highlight / 255.0;
    if (s.highlight < s.shadow) std::swap(lo, hi);
    if (s.shadow == s.highlight) {
      if (s.shadow == 0)
        lo = 0, hi = 1 / 255.0;
      else if (s.shadow == 255)
        lo = 254 / 255.0, hi = 1;
      else
        lo = s.shadow / 255.0, hi = (s.shadow + 1) / 255.0;
    }
    if (g < lo) return 0;
    if (g > hi) return 1;
    g = (g - lo) / (hi - lo);
  }
  if (s.contrast != 50) {
    if (g < 0.25)
      g = g * (2 - t);
    else if (g <= 0.75)
      g = g * t + (1 - t) / 2;
    else
      g = g * (2 - t) + t - 1;
    g = std::min(1.0, std::max(0.0, g));
  }
  return g;
}

int CurveEntry(int x, const CurveSettings& s) {
  double g = WindowAndContrast(x, s);
  if (s.brightness != 50) g = std::min(1.0, std::max(0.0, g + 0.375 * (s.brightness - 50) / 50.0));
  if (s.gamma != 10) g = pow(g, 10.0 / std::min(std::max(s.gamma, 1), 99));
  return Clamp255(static_cast<int>(g * 255 + 0.5));
}

int BrightnessPercent(int brightness) { return brightness == 0 ? 50 : (256 - brightness) * 100 / 255; }
int ContrastPercent(int contrast) { return contrast == 0 ? 50 : contrast * 100 / 255; }

void MakeLUT(const FSIP_S_GAMMACURVE* c, unsigned char* table, double scale, double offset, int gammaAdd) {
  CurveSettings s;
  s.brightness = BrightnessPercent(c->nBrightness);
  s.contrast = ContrastPercent(c->nContrast);
  s.shadow = static_cast<int>(c->nShadow * scale + offset);
  s.highlight = static_cast<int>(c->nHighlight * scale + offset);
  s.gamma = c->nGamma + gammaAdd;
  for (int x = 0; x < 256; ++x) table[x] = static_cast<unsigned char>(CurveEntry(x, s));
}

// The fixed-point tables of the table-arithmetic method: a byte expanded to
// a 16-bit level, a contrast slope in 1/256, and the level (>> 6) back to a
// byte.
struct FixedTables {
  uint16_t level[256];
  uint16_t slope[256];
  unsigned char back[1024];
  FixedTables() {
    static const uint16_t head[] = {0, 103, 207, 312};
    for (int i = 0; i < 4; ++i) level[i] = head[i];
    for (int i = 4; i < 255; ++i) level[i] = static_cast<uint16_t>(312 + (64362 - 312) * (i - 3) / 251);
    level[255] = 65280;
    for (int c = 0; c < 256; ++c) {
      const double v = floor(256 * tan(c * M_PI / 510));
      slope[c] = static_cast<uint16_t>(std::min(65535.0, v));
    }
    slope[128] = 256;
    slope[255] = 65535;
    int b = 0;
    for (int k = 0; k < 1024; ++k) {
      while (b < 255 && level[b + 1] <= k * 64 + 63) ++b;
      back[k] = static_cast<unsigned char>(b);
    }
  }
};

int TableArithmetic(int old, int brightness, int contrast) {
  static const FixedTables t;
  const long slope = contrast == 0 ? 256 : t.slope[contrast & 0xFF];
  const long offset = brightness == 0 ? 0 : static_cast<long>(t.level[brightness & 0xFF]) - t.level[128];
  const long level = static_cast<long>(t.level[old]) * slope / 256 + 0x4400 + offset - 68 * slope;
  if (level < 0) return 0;
  if (level > 0xFFFF) return t.back[1023];
  return t.back[level >> 6];
}

}  // namespace

int CConv::Gamma(FSIP_S_IMAGEINFO* image, const FSIP_S_GAMMA* gamma) const {
  if (!image || !gamma || !image->pImageData || gamma->cbSize != sizeof(FSIP_S_GAMMA) ||
      !BlockHeaderValid(gamma->pbyTable))
    return FSIP_C_ERR_PARAMETER;
  if (image->nDepth != 8 && image->nDepth != 24) return FSIP_C_ERR_NOERROR;
  const unsigned char* first = gamma->pbyTable + kHeader;
  const int width = image->nWidth, height = image->nHeight;
  if (image->nDepth == 8) {
    for (int y = 0; y < height; ++y) {
      unsigned char* p = image->pImageData + static_cast<size_t>(y) * image->nBytesPerLine;
      for (int x = 0; x < width; ++x) p[x] = first[p[x]];
    }
    return FSIP_C_ERR_NOERROR;
  }
  const ChannelOrder o = OrderOf(image->nColorSeq);
  if (gamma->byMode & 2) {
    for (int y = 0; y < height; ++y) {
      unsigned char* p = image->pImageData + static_cast<size_t>(y) * image->nBytesPerLine;
      for (int x = 0; x < width; ++x, p += 3) {
        const int r = p[o.r], g = p[o.g], b = p[o.b];
        const int Y = first[(77 * r + 150 * g + 29 * b) / 256] * 256;
        const int cr = (128 * r - 107 * g - 21 * b) >> 8;
        const int cb = (128 * b - 85 * g - 43 * r) >> 8;
        p[o.r] = static_cast<unsigned char>(Clamp255((Y + 360 * cr) >> 8));
        p[o.g] = static_cast<unsigned char>(Clamp255((Y - 88 * cb - 184 * cr) >> 8));
        p[o.b] = static_cast<unsigned char>(Clamp255((Y + 455 * cb) >> 8));
      }
    }
    return FSIP_C_ERR_NOERROR;
  }
  const unsigned char* t[3];
  Arrangement(gamma->pbyTable, gamma->byTransferDataType == 0x83, t);
  for (int y = 0; y < height; ++y) {
    unsigned char* p = image->pImageData + static_cast<size_t>(y) * image->nBytesPerLine;
    for (int x = 0; x < width; ++x, p += 3) {
      p[o.r] = t[0][p[o.r]];
      p[o.g] = t[1][p[o.g]];
      p[o.b] = t[2][p[o.b]];
    }
  }
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int Gam_MakeLUTFront(const FSIP_S_GAMMACURVE* settings, unsigned char* table) {
  if (!settings || !table) return FSIP_C_ERR_PARAMETER;
  MakeLUT(settings, table, 0.75, 12.5, 1);
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int Gam_MakeLUTBack(const FSIP_S_GAMMACURVE* settings, unsigned char* table) {
  if (!settings || !table) return FSIP_C_ERR_PARAMETER;
  MakeLUT(settings, table, 0.84, 11.6, 0);
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int fsip_GammaCalculate(FSIP_S_GAMMACALC* record) {
  if (!record || record->cbSize <= 75 || !BlockHeaderValid(record->pbyTable)) return FSIP_C_ERR_PARAMETER;
  unsigned char* table = record->pbyTable + kHeader;
  unsigned char old[256];
  memcpy(old, table, sizeof old);
  CurveSettings s;
  s.brightness = BrightnessPercent(record->nBrightness);
  s.contrast = ContrastPercent(record->nContrast);
  s.shadow = record->nShadow & 0xFF;
  s.highlight = record->nHighlight & 0xFF;
  const double gammaTenths = record->dGamma * 10 + 0.555;
  s.gamma = gammaTenths > 0 && gammaTenths < 1e6 ? static_cast<int>(gammaTenths) : 0;
  for (int x = 0; x < 256; ++x) {
    if (record->nMethod == 2) {
      table[x] = static_cast<unsigned char>(TableArithmetic(old[x], record->nBrightness, record->nContrast));
      continue;
    }
    double u = WindowAndContrast(x, s);
    double lo = 0, hi = 1;
    if (s.brightness != 50) {
      const double b = 0.375 * (s.brightness - 50) / 50.0;
      u = std::min(1.0, std::max(0.0, u + b));
      if (b > 0)
        lo = b;
      else
        hi = 1 + b;
    }
    if (s.gamma != 10 && hi > lo) {
      const double power = s.gamma == 0 ? 1.0 : 10.0 / s.gamma;
      const double r = std::min(1.0, std::max(0.0, (u - lo) / (hi - lo)));
      u = lo + (hi - lo) * pow(r, power);
    }
    const int at = static_cast<int>(u * 255 + 0.5);
    table[x] = old[at < 0 ? 0 : at > 255 ? 255 : at];
  }
  if (record->bKeepEnds) {
    table[0] = old[0];
    table[255] = old[255];
  }
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int fsip_GammaForCombineImage() { return FSIP_C_ERR_NOERROR; }

FSIP_EXPORT int Gam_LUTProc(FSIP_S_IMAGEINFO* image, const unsigned char* table) {
  if (!image || !image->pImageData || !table || image->nImageSize < 0) return FSIP_C_ERR_PARAMETER;
  for (int i = 0; i < image->nImageSize; ++i) image->pImageData[i] = table[image->pImageData[i]];
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int Gam_CombineLUTProc(FSIP_S_IMAGEINFO* image, const char* text, const unsigned char* a,
                                   const unsigned char* b) {
  if (!image || !image->pImageData || !text || !a || !b || !PageFits(image)) return FSIP_C_ERR_PARAMETER;
  int kind = 0, left = 0, right = 0;
  if (sscanf(text, "%d,%d,%d", &kind, &left, &right) != 3) return FSIP_C_ERR_PARAMETER;
  if ((kind != 1 && kind != 2) || left < 0 || right < 0 || left + right > image->nWidth ||
      image->nBytesPerLine < 3 * image->nWidth)
    return FSIP_C_ERR_PARAMETER;
  const unsigned char* first = kind == 1 ? a : b;
  const unsigned char* second = kind == 1 ? b : a;
  for (int y = 0; y < image->nHeight; ++y) {
    unsigned char* p = image->pImageData + static_cast<size_t>(y) * image->nBytesPerLine;
    for (int i = 0; i < 3 * left; ++i) p[i] = first[p[i]];
    for (int i = 3 * (image->nWidth - right); i < 3 * image->nWidth; ++i) p[i] = second[p[i]];
  }
  return FSIP_C_ERR_NOERROR;
}
