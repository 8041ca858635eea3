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
  constexpr int kLeft = 2;        // entries before pixel 0
  std::vector<unsigned> rows[3];  // carries are never negative
  try {
    for (auto& r : rows) r.assign(width + 4, 128u);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  std::vector<unsigned> fromAbove;
  try {
    fromAbove.resize(width);
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
    unsigned* c = rows[cur].data() + kLeft;
    const unsigned* a = rows[prev].data() + kLeft;
    const unsigned* b = rows[before].data() + kLeft;
    // The two lines above are known before the line starts; only the two
    // carries to the left are serial.
    for (int x = 0; x < width; ++x)
      fromAbove[x] = 2 * a[x - 2] / 32 + 4 * a[x - 1] / 32 + 4 * a[x] / 32 + 3 * a[x + 1] / 32 + 2 * a[x + 2] / 32 +
                     b[x - 2] / 32 + 2 * b[x - 1] / 32 + 3 * b[x] / 32 + 2 * b[x + 1] / 32 + b[x + 2] / 32;
    for (int x = 0; x < width; ++x) {
      const int e = static_cast<int>(5 * c[x - 1] / 32 + 3 * c[x - 2] / 32 + fromAbove[x]);
      const int pixel = p[x];
      const bool middle = pixel >= 112 && pixel <= 144;
      int v = e + pixel;
      if (levels && pixel > high && !middle) {
        SetBit(o, x, true);
        c[x] = static_cast<unsigned>(e >= 255 ? e - 255 : e);
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
      c[x] = static_cast<unsigned>(next < 0 ? 0 : next);
    }
    FinishLine(o, width, false);
    // The rows move down by one; the freed one becomes the new current row.
    std::swap(before, prev);
    std::swap(prev, cur);
    std::fill(rows[cur].begin(), rows[cur].end(), 128u);
  }
  return FSIP_C_ERR_NOERROR;
}

namespace {

// One line of the dynamic threshold's per-pixel terms, all independent of
// the threshold carried along the line: the threshold is
// (bias + s x scale) / 16 with s the carried sum, i.e. s / 2 where the
// neighbourhood is flat and (2 L (8 - w) + s w) / 16 elsewhere.
struct DtcLine {
  std::vector<unsigned char> maxCol, minCol;  // padded by 2 each side
  std::vector<unsigned char> rows[4];         // lines y-2, y-1, y+1, y+2 padded by 2
  std::vector<unsigned char> level;           // L, the local level
  std::vector<int16_t> bias, scale;
  std::vector<int> partial;
};

// Padded copy of a line: two repeated edge pixels each side.
void PadLine(std::vector<unsigned char>& to, const unsigned char* from, int width) {
  memcpy(to.data() + 2, from, width);
  to[0] = to[1] = from[0];
  to[width + 2] = to[width + 3] = from[width - 1];
}

struct DtcParams {
  int reach, limit, weight;
  bool family2;
  const unsigned char* tone;
};

// The terms of one line from the column extremes and padded lines.
__attribute__((target_clones("avx2", "default"))) void DtcTerms(DtcLine& d, int width, const DtcParams& q) {
  const unsigned char* mx = d.maxCol.data() + 2;
  const unsigned char* mn = d.minCol.data() + 2;
  unsigned char* level = d.level.data();
  int16_t* bias = d.bias.data();
  int16_t* scale = d.scale.data();
  if (q.reach == 1) {
    for (int x = 0; x < width; ++x) {
      const int t = std::max(std::max(mx[x - 1], mx[x]), mx[x + 1]);
      const int m = std::min(std::min(mn[x - 1], mn[x]), mn[x + 1]);
      level[x] = static_cast<unsigned char>((t + m) >> 1);
      scale[x] = static_cast<int16_t>(t - m);  // the contrast, for the plain flat test
    }
  } else {
    for (int x = 0; x < width; ++x) {
      const int t = std::max(std::max(std::max(mx[x - 2], mx[x - 1]), std::max(mx[x], mx[x + 1])), mx[x + 2]);
      const int m = std::min(std::min(std::min(mn[x - 2], mn[x - 1]), std::min(mn[x], mn[x + 1])), mn[x + 2]);
      level[x] = static_cast<unsigned char>((t + m) >> 1);
      scale[x] = static_cast<int16_t>(t - m);
    }
  }
  if (q.family2) {
    // The eight cells of the 5x5 patch that the test reads; x + 2 is the
    // patch's centre column in the padded lines.
    const unsigned char *r0 = d.rows[0].data(), *r1 = d.rows[1].data(), *r3 = d.rows[2].data(), *r4 = d.rows[3].data();
    for (int x = 0; x < width; ++x) {
      const int P1 = r0[x + 1], P3 = r0[x + 3], P5 = r1[x], P9 = r1[x + 4];
      const int P15 = r3[x], P19 = r3[x + 4], P21 = r4[x + 1], P23 = r4[x + 3];
      const int D = P1 + P3 - P21, E = P5 + P15 - P9, I = P1 + P5 - P19, J = P3 + P9 - P15;
      scale[x] =
          static_cast<int16_t>((std::abs(D - P23) + std::abs(E - P19) + std::abs(I - P23) + std::abs(J - P21)) >> 3);
    }
  }
  if (q.tone)
    for (int x = 0; x < width; ++x) level[x] = q.tone[level[x]];
  const int w = q.weight;
  for (int x = 0; x < width; ++x) {
    const bool flat = scale[x] < q.limit;
    bias[x] = static_cast<int16_t>(flat ? 0 : 2 * level[x] * (8 - w));
    scale[x] = static_cast<int16_t>(flat ? 8 : w);
  }
}

}  // namespace

int CConv::SimpleDTC(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_SDTCEX* dtc,
                     const unsigned char* toneBlock, bool highResolution, bool newStyle) const {
  const int width = out->nWidth, height = out->nHeight;
  // The blend weight is 0 to 8 and the offsets are not negative; held
  // there, every threshold term stays positive.
  const int weight = std::min(8, std::max(0, dtc->values[2])), base = dtc->values[3];
  const int up = std::max(0, dtc->values[4]), down = std::max(0, dtc->values[5]);
  // The neighbourhood comes from the page before the pre-filter when it is
  // there and has this page's geometry.
  const FSIP_S_IMAGEINFO* source = in;
  const auto* before = static_cast<const FSIP_S_IMAGEINFO*>(dtc->pInfo);
  if (before && before->pImageData && before->nWidth >= width && before->nHeight >= height &&
      before->nBytesPerLine >= before->nWidth && before->nDepth == 8)
    source = before;
  const DtcParams q{highResolution ? 2 : 1, dtc->values[1], weight, m_nScannerType == 2,
                    toneBlock ? toneBlock + 10 : nullptr};
  std::vector<int> above;
  DtcLine d;
  try {
    above.assign(width, base);  // the first line's "above" is the base level
    d.maxCol.resize(width + 4);
    d.minCol.resize(width + 4);
    for (auto& r : d.rows) r.resize(width + 4);
    d.level.resize(width);
    d.bias.resize(width);
    d.scale.resize(width);
    d.partial.resize(width);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  auto line = [&](int y) {
    y = y < 0 ? 0 : y >= height ? height - 1 : y;
    return source->pImageData + static_cast<size_t>(y) * source->nBytesPerLine;
  };
  for (int y = 0; y < height; ++y) {
    // Column extremes over the lines in reach, padded by repeating the
    // edge columns (which is the clipping at the page's edges).
    unsigned char* mx = d.maxCol.data() + 2;
    unsigned char* mn = d.minCol.data() + 2;
    const unsigned char* l0 = line(y);
    for (int x = 0; x < width; ++x) mx[x] = mn[x] = l0[x];
    for (int r = 1; r <= q.reach; ++r) {
      const unsigned char* a = line(y - r);
      const unsigned char* b = line(y + r);
      for (int x = 0; x < width; ++x) {
        mx[x] = std::max(mx[x], std::max(a[x], b[x]));
        mn[x] = std::min(mn[x], std::min(a[x], b[x]));
      }
    }
    mx[-2] = mx[-1] = mx[0], mn[-2] = mn[-1] = mn[0];
    mx[width] = mx[width + 1] = mx[width - 1], mn[width] = mn[width + 1] = mn[width - 1];
    if (q.family2) {
      PadLine(d.rows[0], line(y - 2), width);
      PadLine(d.rows[1], line(y - 1), width);
      PadLine(d.rows[2], line(y + 1), width);
      PadLine(d.rows[3], line(y + 2), width);
    }
    DtcTerms(d, width, q);

    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    const int16_t* bias = d.bias.data();
    const int16_t* scale = d.scale.data();
    if (newStyle) {
      // The carried threshold is the only serial part: what the line above
      // gives is summed first. With the offsets not negative the pull
      // toward the base is max(t - down, base) + min(t + up, base) - base.
      // On plain paper (flat, base above and to the left) the threshold
      // stays the base: marked -1, such pixels skip the arithmetic.
      int* partial = d.partial.data();
      for (int x = 0; x < width; ++x)
        partial[x] = bias[x] == 0 && scale[x] == 8 && above[x] == base ? -1 : bias[x] + above[x] * scale[x];
      int left = base;
      for (int x = 0; x < width; ++x) {
        int known = partial[x];
        if (known < 0) {
          if (left != base) known = 8 * base;
        }
        if (known >= 0) {
          const int threshold = (known + left * scale[x]) >> 4;
          left = std::max(threshold - down, base) + std::min(threshold + up, base) - base;
        }
        above[x] = left;
      }
      const int* thresholds = above.data();
      PackLine(o, width, [p, thresholds](int x) { return p[x] >= thresholds[x]; });
      if (width & 7) o[width >> 3] = static_cast<unsigned char>(o[width >> 3] & ~(0xFFu >> (width & 7)));
    } else {
      int left = 0;
      for (int x = 0; x < width; ++x) {
        int threshold;
        if (y == 0 || x == 0)
          threshold = y == 0 && x == 0 ? 2 * base / 16 : y == 0 ? (base + 8 * left) / 16 : (base + 8 * above[x]) / 16;
        else
          threshold = (bias[x] + (left + above[x]) * scale[x]) / 16;
        const int pulled = threshold > base ? std::max(threshold - down, base) : std::min(threshold + up, base);
        above[x] = left = threshold;
        SetBit(o, x, p[x] + base - pulled >= 128);
      }
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
