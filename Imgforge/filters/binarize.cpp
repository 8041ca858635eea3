// Grey to one bit per pixel: fixed threshold, ordered dither, error
// diffusion (narrow and wide kernels) and a dynamic threshold that follows
// the local contrast. A bit is 1 where the pixel is light.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "conv.h"

namespace {

// The pseudo-random term of error diffusion: its own generator, seeded
// per call, so that a page always gives the same bits.
class Random {
 public:
  int Next() {
    m_state = m_state * 1103515245u + 12345u;
    return static_cast<int>((m_state >> 16) & 0x7FFF);
  }

 private:
  uint32_t m_state = 1;
};

// Bits beyond the width: 1 with padding on, else kept (or 0 when asked).
void FinishLine(unsigned char* row, int width, bool zeroTail) {
  if (width % 8 == 0) return;
  const unsigned tail = 0xFFu >> (width % 8);
  unsigned char& last = row[width / 8];
  if (g_nBinPadding)
    last = static_cast<unsigned char>(last | tail);
  else if (zeroTail)
    last = static_cast<unsigned char>(last & ~tail);
}

// Writes one line's bits; bit(x) says whether pixel x is light.
template <class Bit>
void PackLine(unsigned char* row, int width, Bit bit) {
  const int whole = width / 8;
  for (int b = 0; b < whole; ++b) {
    unsigned v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 1) | (bit(8 * b + k) ? 1u : 0u);
    row[b] = static_cast<unsigned char>(v);
  }
  if (width % 8) {
    const int n = width % 8;
    unsigned v = 0;
    for (int k = 0; k < n; ++k) v = (v << 1) | (bit(8 * whole + k) ? 1u : 0u);
    v <<= 8 - n;
    const unsigned keep = 0xFFu >> n;
    row[whole] = static_cast<unsigned char>((row[whole] & keep) | v);
  }
}

inline void SetBit(unsigned char* row, int x, bool on) {
  const unsigned m = 0x80u >> (x & 7);
  row[x >> 3] = static_cast<unsigned char>(on ? row[x >> 3] | m : row[x >> 3] & ~m);
}

}  // namespace

int CConv::FixThreshold(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, int threshold) const {
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    if (threshold <= 0) {
      PackLine(o, out->nWidth, [](int) { return true; });
    } else if (threshold > 255) {
      PackLine(o, out->nWidth, [](int) { return false; });
    } else {
      const unsigned char t = static_cast<unsigned char>(threshold);
      PackLine(o, out->nWidth, [p, t](int x) { return p[x] >= t; });
    }
    FinishLine(o, out->nWidth, false);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::Dither(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const unsigned char* matrix) const {
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    const unsigned char* m = matrix + (y % 8) * 8;
    PackLine(o, out->nWidth, [p, m](int x) { return p[x] >= m[x & 7]; });
    FinishLine(o, out->nWidth, false);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ErrorDiffusion(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_ERROR_DIFFUSION* ed,
                          bool newStyle) const {
  const int width = out->nWidth;
  // Carries stored one place right of their pixel, with a spare each side.
  std::vector<int> previous, current;
  try {
    previous.assign(width + 2, newStyle ? 128 : 0);
    current.assign(width + 2, 128);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  const bool levels = ed->nLevelMode == 2;
  const int high = ed->nHigh & 0xFF, low = ed->nLow & 0xFF;
  Random random;
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    const int* above = previous.data();
    int* carry = current.data();
    for (int x = 0; x < width; ++x) {
      const unsigned e = static_cast<unsigned>(carry[x]) / 2 + static_cast<unsigned>(above[x]) / 8 +
                         static_cast<unsigned>(above[x + 1]) / 4 + static_cast<unsigned>(above[x + 2]) / 8;
      const int pixel = p[x];
      int value = pixel;
      if (levels) value = pixel > high ? 255 : pixel < low ? 0 : pixel;
      int v = static_cast<int>(e) + value;
      if (pixel >= 112 && pixel <= 144) v += random.Next() & 31;
      int next;
      if (v < 255) {
        SetBit(o, x, false);
        next = v;
      } else {
        SetBit(o, x, true);
        next = newStyle && v >= 510 ? v - 510 : v - 255;
      }
      carry[x + 1] = next < 0 ? 0 : next;
    }
    FinishLine(o, width, false);
    previous.swap(current);
    std::fill(current.begin(), current.end(), 128);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ErrorDiffusionWide(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out,
                              const FSIP_S_ERROR_DIFFUSION* ed) const {
  const int width = out->nWidth;
  constexpr int kLeft = 2;  // entries before pixel 0
  std::vector<int> rows[3];
  try {
    for (auto& r : rows) r.assign(width + 4, 128);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  const bool levels = ed->nLevelMode == 2;
  const int high = ed->nHigh & 0xFF, low = ed->nLow & 0xFF;
  Random random;
  int cur = 0, prev = 1, before = 2;
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    int* c = rows[cur].data() + kLeft;
    const int* a = rows[prev].data() + kLeft;
    const int* b = rows[before].data() + kLeft;
    for (int x = 0; x < width; ++x) {
      const int e = 5 * c[x - 1] / 32 + 3 * c[x - 2] / 32 + 2 * a[x - 2] / 32 + 4 * a[x - 1] / 32 + 4 * a[x] / 32 +
                    3 * a[x + 1] / 32 + 2 * a[x + 2] / 32 + b[x - 2] / 32 + 2 * b[x - 1] / 32 + 3 * b[x] / 32 +
                    2 * b[x + 1] / 32 + b[x + 2] / 32;
      const int pixel = p[x];
      const bool middle = pixel >= 112 && pixel <= 144;
      int v = e + pixel;
      if (levels && pixel > high && !middle) {
        SetBit(o, x, true);
        c[x] = e >= 255 ? e - 255 : e;
        continue;
      }
      if (levels && pixel > high) v = e + 255;
      if (levels && pixel < low) v = e;
      if (middle) v += random.Next() & 31;
      int next;
      if (v < 255) {
        SetBit(o, x, false);
        next = v;
      } else {
        SetBit(o, x, true);
        next = v - 255 < 255 ? v - 255 : v - 510;
      }
      c[x] = next < 0 ? 0 : next;
    }
    FinishLine(o, width, false);
    // The rows move down by one; the freed one becomes the new current row.
    std::swap(before, prev);
    std::swap(prev, cur);
    std::fill(rows[cur].begin(), rows[cur].end(), 128);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::SimpleDTC(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_SDTCEX* dtc,
                     const unsigned char* toneBlock, bool highResolution, bool newStyle) const {
  const int width = out->nWidth, height = out->nHeight;
  const int limit = dtc->values[1], weight = dtc->values[2], base = dtc->values[3];
  const int up = dtc->values[4], down = dtc->values[5];
  const unsigned char* tone = toneBlock ? toneBlock + 10 : nullptr;
  // The neighbourhood comes from the page before the pre-filter when it is
  // there and has this page's geometry.
  const FSIP_S_IMAGEINFO* source = in;
  const auto* before = static_cast<const FSIP_S_IMAGEINFO*>(dtc->pInfo);
  if (before && before->pImageData && before->nWidth >= width && before->nHeight >= height &&
      before->nBytesPerLine >= before->nWidth && before->nDepth == 8)
    source = before;
  const int reach = highResolution ? 2 : 1;
  std::vector<int> above;
  std::vector<unsigned char> colMax, colMin;
  try {
    above.assign(width, 0);
    colMax.resize(width);
    colMin.resize(width);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - reach), y1 = std::min(height - 1, y + reach);
    for (int x = 0; x < width; ++x) {
      int hi = 0, lo = 255;
      for (int r = y0; r <= y1; ++r) {
        const int v = source->pImageData[static_cast<size_t>(r) * source->nBytesPerLine + x];
        hi = std::max(hi, v), lo = std::min(lo, v);
      }
      colMax[x] = static_cast<unsigned char>(hi);
      colMin[x] = static_cast<unsigned char>(lo);
    }
    // Lines y - 2 .. y + 2 of the neighbourhood page, clamped to it.
    const unsigned char* row[5];
    for (int r = 0; r < 5; ++r) {
      const int line = std::min(height - 1, std::max(0, y + r - 2));
      row[r] = source->pImageData + static_cast<size_t>(line) * source->nBytesPerLine;
    }
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    int left = 0;
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - reach), x1 = std::min(width - 1, x + reach);
      int t = 0, m = 255;
      for (int c = x0; c <= x1; ++c) t = std::max(t, static_cast<int>(colMax[c])), m = std::min(m, static_cast<int>(colMin[c]));
      bool flat;
      if (m_nScannerType == 2) {
        // The eight cells of the 5x5 patch that the test reads.
        int c0 = x - 2, c1 = x - 1, c3 = x + 1, c4 = x + 2;
        if (x < 2 || x + 2 >= width) {
          auto clampX = [width](int c) { return c < 0 ? 0 : c >= width ? width - 1 : c; };
          c0 = clampX(c0), c1 = clampX(c1), c3 = clampX(c3), c4 = clampX(c4);
        }
        const int P1 = row[0][c1], P3 = row[0][c3], P5 = row[1][c0], P9 = row[1][c4];
        const int P15 = row[3][c0], P19 = row[3][c4], P21 = row[4][c1], P23 = row[4][c3];
        const int D = P1 + P3 - P21, E = P5 + P15 - P9, I = P1 + P5 - P19, J = P3 + P9 - P15;
        flat = (abs(D - P23) + abs(E - P19) + abs(I - P23) + abs(J - P21)) / 8 < limit;
      } else {
        flat = t - m < limit;
      }
      int L = (t + m) / 2;
      if (tone) L = tone[L];
      int threshold;
      if (newStyle) {
        const int s = (x == 0 ? base : left) + (y == 0 ? base : above[x]);
        threshold = flat ? s * 8 / 16 : (2 * L * (8 - weight) + s * weight) / 16;
      } else if (y == 0 || x == 0) {
        threshold = y == 0 && x == 0 ? 2 * base / 16 : y == 0 ? (base + 8 * left) / 16 : (base + 8 * above[x]) / 16;
      } else {
        threshold = flat ? 8 * (left + above[x]) / 16 : (2 * L * (8 - weight) + weight * (left + above[x])) / 16;
      }
      int pulled = threshold;
      if (pulled > base)
        pulled = std::max(pulled - down, base);
      else
        pulled = std::min(pulled + up, base);
      const int kept = newStyle ? pulled : threshold;
      above[x] = kept;
      left = kept;
      SetBit(o, x, newStyle ? p[x] >= pulled : p[x] + base - pulled >= 128);
    }
    FinishLine(o, width, true);
  }
  return FSIP_C_ERR_NOERROR;
}

namespace {

bool GreyPageValid(const FSIP_S_IMAGEINFO* in) { return PageFits(in) && in->nDepth == 8; }

// The output page's own geometry, which the methods read the input by.
bool BilevelOutValid(const FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEINFO* out) {
  return out->nWidth > 0 && out->nHeight > 0 && out->nWidth <= in->nWidth && out->nHeight <= in->nHeight &&
         out->nBytesPerLine >= (out->nWidth + 7) / 8;
}

int Binarization2(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATIONEX* params, FSIP_S_IMAGEINFO* out) {
  if (!in || !in->pImageData) return FSIP_C_ERR_PARAMETER;
  if (in->nPixelType != 1) return kFsipErrPixelType;
  if (in->nColorSeq != 0) return FSIP_C_ERR_NOTSUPPORT;
  if (!out || !params || !GreyPageValid(in) || !BilevelOutValid(in, out)) return FSIP_C_ERR_PARAMETER;
  if (out->pImageData && out->nImageSize < out->nBytesPerLine * out->nHeight) return FSIP_C_ERR_PARAMETER;
  const int method = params->dwMethod & 0xFF;
  const bool preFilter = (params->dwMethod >> 8) & 0x10;
  if ((method == 1 && !params->pDither) || (method == 2 && !params->pErrorDiffusion) ||
      (method == 3 && !params->pSdtc) || method > 3 || (preFilter && !params->pPreFilter))
    return FSIP_C_ERR_PARAMETER;

  CConv conv;
  conv.m_nScannerType = 2;
  // The page to binarize: the pre-filtered copy when a filter runs.
  FSIP_S_IMAGEINFO filtered;
  std::vector<unsigned char> filteredPixels;
  int32_t carried[4];
  const FSIP_S_IMAGEINFO* page = in;
  const unsigned char* toneBlock = nullptr;
  if (preFilter) {
    const FSIP_S_IMAGEFILTER* filter = params->pPreFilter;
    if (!(filter->pEmphasis && filter->pEmphasis->nKind == 1)) {
      try {
        filteredPixels.resize(static_cast<size_t>(in->nImageSize));
      } catch (const std::bad_alloc&) {
        return FSIP_C_ERR_OUTOFMEMORY;
      }
      filtered = *in;
      filtered.pImageData = filteredPixels.data();
      int32_t* values = nullptr;
      memcpy(&values, in->reserved, sizeof values);
      if (values) memcpy(carried, values, sizeof carried);
      const int rc = fsip_ImageFilter(in, params->pPreFilter, &filtered, nullptr);
      if (rc != 0) return rc;
      if (values) {
        int32_t* copy = carried;
        memcpy(filtered.reserved, &copy, sizeof copy);
      }
      page = &filtered;
    }
    const auto* gamma = static_cast<const FSIP_S_GAMMA*>(filter->pGamma);
    if ((filter->dwOption & 4) && gamma) toneBlock = gamma->pbyTable;
  }

  bool allocated = false;
  if (!out->pImageData) {
    out->pImageData = static_cast<unsigned char*>(calloc(static_cast<size_t>(out->nBytesPerLine), out->nHeight));
    if (!out->pImageData) return FSIP_C_ERR_OUTOFMEMORY;
    allocated = true;
  }
  g_nBinPadding = ((params->dwBoundary >> 8) & 0xFF) == 1;
  out->nPixelType = 0;
  out->nDepth = 1;
  int rc = FSIP_C_ERR_NOERROR;
  switch (method) {
    case 0:
      rc = conv.FixThreshold(page, out, params->nThreshold);
      break;
    case 1:
      rc = conv.Dither(page, out, static_cast<const unsigned char*>(params->pDither) + 2);
      break;
    case 2: {
      const FSIP_S_ERROR_DIFFUSION* ed = params->pErrorDiffusion;
      const bool wide = ed->nKernel == 2 || (ed->nKernel == 0 && in->nXResolution > 300);
      rc = wide ? conv.ErrorDiffusionWide(page, out, ed) : conv.ErrorDiffusion(page, out, ed, true);
      break;
    }
    default: {
      FSIP_S_SDTCEX* dtc = params->pSdtc;
      dtc->pInfo = in;
      const int selector = dtc->values[6];
      const bool high = selector == 2 || (selector == 0 && in->nXResolution > 300);
      rc = conv.SimpleDTC(page, out, dtc, toneBlock, high, true);
      break;
    }
  }
  if (rc != 0 && allocated) {
    free(out->pImageData);
    out->pImageData = nullptr;
  }
  return rc;
}

int Binarization(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out) {
  if (!in || !in->pImageData) return FSIP_C_ERR_PARAMETER;
  if (in->nPixelType != 1) return kFsipErrPixelType;
  if (in->nColorSeq != 0) return FSIP_C_ERR_NOTSUPPORT;
  if (!out || !out->pImageData || !params || !GreyPageValid(in) || !BilevelOutValid(in, out))
    return FSIP_C_ERR_PARAMETER;
  const int method = params->byMethod;
  if (method > 3 || (method == 1 && !params->pbyDither) || (method == 3 && !params->pnSdtc))
    return FSIP_C_ERR_PARAMETER;
  CConv conv;
  g_nBinPadding = ((params->dwBoundary >> 8) & 0xFF) == 1;
  out->nPixelType = 0;
  out->nDepth = 1;
  switch (method) {
    case 0:
      return conv.FixThreshold(in, out, params->nThreshold);
    case 1:
      return conv.Dither(in, out, params->pbyDither + 2);
    case 2: {
      const FSIP_S_ERROR_DIFFUSION ed{sizeof(FSIP_S_ERROR_DIFFUSION), 1, 2, 200, 40};
      return conv.ErrorDiffusion(in, out, &ed, false);
    }
    default: {
      FSIP_S_SDTCEX dtc{{static_cast<int32_t>(sizeof(FSIP_S_SDTCEX)), params->pnSdtc[0], params->pnSdtc[1],
                         params->pnSdtc[2], params->pnSdtc[3], params->pnSdtc[4], 1},
                        in};
      return conv.SimpleDTC(in, out, &dtc, nullptr, false, false);
    }
  }
}

}  // namespace

FSIP_EXPORT int fsip_BinarizationEx(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATIONEX* params, FSIP_S_IMAGEINFO* out,
                                    void* /*reserved*/) {
  return FsipGuarded([&] { return Binarization2(in, params, out); });
}

FSIP_EXPORT int fsip_Binarization(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out,
                                  void* /*reserved*/) {
  return FsipGuarded([&] { return Binarization(in, params, out); });
}

FSIP_EXPORT int fsip_BinarizationExport(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out,
                                        void* reserved) {
  return fsip_Binarization(in, params, out, reserved);
}
