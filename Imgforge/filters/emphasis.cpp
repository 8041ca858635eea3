// Emphasis: each pixel's 5x5 neighbourhood is put in one of four classes by
// edge measures, and the class's Laplacian step sharpens or smooths it. The
// same measures split text from pictures for the area-selective bilevel page.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "conv.h"

namespace {

struct ClassRow {
  int strength[4];
  int divisor[4];
  int threshold[3];  // grey levels; 0 always, 255 never
};

#define S4(s) \
  { s, s, s, s }
const ClassRow tblNormalTOLLET2[8] = {
    {S4(4), S4(1), {0, 0, 0}},
    {S4(2), S4(1), {0, 0, 0}},
    {S4(1), S4(1), {0, 0, 0}},
    {S4(0), S4(1), {0, 0, 0}},
    {S4(-1), {8, 8, 4, 4}, {45, 35, 20}},
    {S4(-1), S4(4), {0, 0, 0}},
    {S4(-1), {4, 4, 2, 2}, {45, 35, 20}},
    {S4(-1), S4(2), {0, 0, 0}},
};
const ClassRow (&tblHighResoTOLLET2)[8] = tblNormalTOLLET2;
const ClassRow tblSdtcTOLLET2[8] = {
    {S4(7), S4(1), {0, 0, 0}},
    {S4(6), S4(1), {0, 0, 0}},
    {S4(5), S4(1), {0, 0, 0}},
    {S4(4), S4(1), {0, 0, 0}},
    {S4(-1), {8, 8, 4, 4}, {45, 35, 20}},
    {S4(-1), S4(4), {0, 0, 0}},
    {S4(-1), {4, 4, 2, 2}, {45, 35, 20}},
    {S4(-1), S4(2), {0, 0, 0}},
};
const ClassRow tblNormalQUESSAR[8] = {
    {S4(5), S4(1), {0, 0, 0}},  {S4(3), S4(1), {0, 0, 0}},  {S4(2), S4(1), {0, 0, 0}},  {S4(0), S4(1), {0, 0, 0}},
    {S4(-1), S4(8), {0, 0, 0}}, {S4(-1), S4(4), {0, 0, 0}}, {S4(-1), S4(2), {0, 0, 0}}, {S4(-1), S4(1), {0, 0, 0}},
};
const ClassRow tblSdtcQUESSAR[8] = {
    {S4(4), S4(1), {0, 0, 0}}, {S4(3), S4(1), {0, 0, 0}}, {S4(2), S4(1), {0, 0, 0}}, {S4(2), S4(1), {0, 0, 0}},
    {S4(0), S4(1), {0, 0, 0}}, {S4(0), S4(1), {0, 0, 0}}, {S4(0), S4(1), {0, 0, 0}}, {S4(0), S4(1), {0, 0, 0}},
};
const ClassRow tblSelectEmphaQUESSAR[8] = {
    {S4(5), S4(1), {0, 0, 0}},  {S4(3), S4(1), {0, 0, 0}},
    {S4(2), S4(1), {0, 0, 0}},  {{4, 4, 4, 0}, S4(1), {255, 255, 20}},
    {S4(-1), S4(2), {0, 0, 0}}, {S4(-1), S4(2), {0, 0, 0}},
    {S4(-1), S4(2), {0, 0, 0}}, {S4(-1), S4(2), {0, 0, 0}},
};
const ClassRow tblExtractQUESSAR = {S4(0), S4(1), {255, 255, 48}};
#undef S4

// Class actions: 1 the Laplacian step, 2 black, 3 white.
const int kActionsNormal[4] = {1, 1, 1, 1};
const int kActionsExtract[4] = {2, 2, 2, 3};

// Five padded lines around the line in hand, kept as copies of the source
// so that the page can be written in place.
class Window {
 public:
  Window(const FSIP_S_IMAGEINFO* in) : m_in(in), m_width(in->nWidth), m_stride(in->nWidth + 4) {
    m_lines.resize(static_cast<size_t>(5) * m_stride);
    for (int k = 0; k < 5; ++k) Load(k, k - 2);
  }
  // Moves the window down to centre on line y (called with y = 0, 1, ...).
  void Centre(int y) {
    if (y == 0) return;
    m_first = (m_first + 1) % 5;
    Load(4, y + 2);
  }
  const unsigned char* Row(int r) const { return &m_lines[static_cast<size_t>((m_first + r) % 5) * m_stride]; }

 private:
  void Load(int r, int line) {
    const int h = m_in->nHeight;
    line = line < 0 ? 0 : line >= h ? h - 1 : line;
    unsigned char* to = &m_lines[static_cast<size_t>((m_first + r) % 5) * m_stride];
    const unsigned char* from = m_in->pImageData + static_cast<size_t>(line) * m_in->nBytesPerLine;
    memcpy(to + 2, from, m_width);
    to[0] = to[1] = from[0];
    to[m_width + 2] = to[m_width + 3] = from[m_width - 1];
  }
  const FSIP_S_IMAGEINFO* m_in;
  int m_width, m_stride;
  int m_first = 0;
  std::vector<unsigned char> m_lines;
};

struct Rows {
  const unsigned char* r[5];
  int W(int row, int col, int x) const { return r[row][x + col]; }
};

inline int Abs(int v) { return v < 0 ? -v : v; }

int M0(const Rows& w, int x) {
  const int s = w.W(1, 1, x) + w.W(1, 2, x) + w.W(1, 3, x) + w.W(2, 1, x) + w.W(2, 3, x) + w.W(3, 1, x) + w.W(3, 2, x) +
                w.W(3, 3, x);
  return Abs(s - 8 * w.W(2, 2, x));
}
int M1(const Rows& w, int x) {
  const int s = w.W(0, 0, x) + w.W(0, 2, x) + w.W(0, 4, x) + w.W(2, 0, x) + w.W(2, 4, x) + w.W(4, 0, x) + w.W(4, 2, x) +
                w.W(4, 4, x);
  return Abs(s - 8 * w.W(2, 2, x));
}
int M2(const Rows& w, int x) {
  return Abs(w.W(2, 3, x) + w.W(3, 2, x) - w.W(2, 1, x) - w.W(1, 2, x)) +
         Abs(w.W(3, 1, x) + w.W(3, 3, x) - w.W(1, 1, x) - w.W(1, 3, x)) +
         Abs(w.W(1, 1, x) + w.W(3, 1, x) - w.W(1, 3, x) - w.W(3, 3, x)) +
         Abs(w.W(2, 3, x) + w.W(1, 2, x) - w.W(2, 1, x) - w.W(3, 2, x));
}
int M3(const Rows& w, int x) {
  return Abs(w.W(0, 1, x) + w.W(0, 3, x) - w.W(4, 1, x) - w.W(4, 3, x)) +
         Abs(w.W(1, 0, x) + w.W(0, 1, x) - w.W(3, 4, x) - w.W(4, 3, x)) +
         Abs(w.W(1, 0, x) + w.W(3, 0, x) - w.W(1, 4, x) - w.W(3, 4, x)) +
         Abs(w.W(0, 3, x) + w.W(1, 4, x) - w.W(3, 0, x) - w.W(4, 1, x));
}

// Laplacian response of the kernel: the ring's sum less 8 x the centre.
int F3(const Rows& w, int x) {
  return w.W(1, 1, x) + w.W(1, 2, x) + w.W(1, 3, x) + w.W(2, 1, x) + w.W(2, 3, x) + w.W(3, 1, x) + w.W(3, 2, x) +
         w.W(3, 3, x) - 8 * w.W(2, 2, x);
}
int F5(const Rows& w, int x) {
  return w.W(0, 0, x) + w.W(0, 2, x) + w.W(0, 4, x) + w.W(2, 0, x) + w.W(2, 4, x) + w.W(4, 0, x) + w.W(4, 2, x) +
         w.W(4, 4, x) - 8 * w.W(2, 2, x);
}

// One line where every pixel takes the same step: the common case, kept
// simple enough for the compiler to vectorise.
template <bool kWide>
void UniformLine(const Rows& w, int width, int s, int d, unsigned char* out) {
  if (s == 0) {
    memcpy(out, w.r[2] + 2, width);
    return;
  }
  if (d == 1) {
    for (int x = 0; x < width; ++x) {
      const int f = kWide ? F5(w, x) : F3(w, x);
      out[x] = static_cast<unsigned char>(Clamp255(w.W(2, 2, x) + (s * -f) / 8));
    }
    return;
  }
  for (int x = 0; x < width; ++x) {
    const int f = kWide ? F5(w, x) : F3(w, x);
    out[x] = static_cast<unsigned char>(Clamp255(w.W(2, 2, x) + (s * -f) / d / 8));
  }
}

struct Plan {
  const ClassRow* row;
  const int* actions;
  bool wide;  // above 300 dpi: m0, m1, m3 and the 5x5 kernel
};

int ClassOf(const Plan& p, const Rows& w, int x) {
  for (int k = 0; k < 3; ++k) {
    const int t = p.row->threshold[k];
    if (t == 0) return k;
    if (t == 255) continue;
    int m;
    if (k == 0)
      m = M0(w, x);
    else if (k == 1)
      m = p.wide ? M1(w, x) : M0(w, x);
    else
      m = p.wide ? M3(w, x) : M2(w, x);
    if (m >= 8 * t) return k;
  }
  return 3;
}

void GeneralLine(const Plan& p, const Rows& w, int width, unsigned char* out) {
  for (int x = 0; x < width; ++x) {
    const int c = ClassOf(p, w, x);
    const int C = w.W(2, 2, x);
    switch (p.actions[c]) {
      case 2:
        out[x] = 0;
        break;
      case 3:
        out[x] = 255;
        break;
      default: {
        const int s = p.row->strength[c];
        if (s == 0) {
          out[x] = static_cast<unsigned char>(C);
          break;
        }
        const int f = p.wide ? F5(w, x) : F3(w, x);
        out[x] = static_cast<unsigned char>(Clamp255(C + (s * -f) / p.row->divisor[c] / 8));
      }
    }
  }
}

bool Uniform(const Plan& p) {
  if (p.row->threshold[0] == 0) return p.actions[0] == 1;
  for (int c = 1; c < 4; ++c)
    if (p.actions[c] != p.actions[0] || p.row->strength[c] != p.row->strength[0] ||
        p.row->divisor[c] != p.row->divisor[0])
      return false;
  return p.actions[0] == 1;
}

void Emphasise(FSIP_S_IMAGEINFO* in, const Plan& p, unsigned char* dest) {
  Window window(in);
  const int width = in->nWidth;
  std::vector<unsigned char> line(width);
  const bool uniform = Uniform(p);
  for (int y = 0; y < in->nHeight; ++y) {
    window.Centre(y);
    const Rows w{{window.Row(0), window.Row(1), window.Row(2), window.Row(3), window.Row(4)}};
    unsigned char* out = dest + static_cast<size_t>(y) * in->nBytesPerLine;
    if (uniform) {
      const int s = p.row->strength[0], d = p.row->divisor[0];
      if (p.wide)
        UniformLine<true>(w, width, s, d, out);
      else
        UniformLine<false>(w, width, s, d, out);
    } else {
      GeneralLine(p, w, width, out);
    }
  }
}

bool PlaneFits(const FSIP_S_IMAGEINFO* in) {
  return in->nWidth > 0 && in->nHeight > 0 && in->nBytesPerLine >= in->nWidth;
}

}  // namespace

int CConv::ImageEmphasis(FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEEMPHASIS* params, FSIP_S_IMAGEINFO* out) const {
  if (!in || !in->pImageData || !params || !PlaneFits(in)) return FSIP_C_ERR_PARAMETER;
  const int flags = params->nKind;
  const bool valid = flags == 1 || (flags == 2 && params->nEmphasisLevel >= 0 && params->nEmphasisLevel <= 2) ||
                     (flags == 4 && params->nDescreenLevel >= 0 && params->nDescreenLevel <= 3) ||
                     (flags == 16 && params->nLast == 1);
  if (!valid || params->nLevel < 0 || params->nLevel > 7) return FSIP_C_ERR_PARAMETER;

  Plan plan;
  plan.actions = kActionsNormal;
  plan.wide = in->nXResolution > 300;
  if (flags == 16) {
    plan.row = &tblExtractQUESSAR;
    plan.actions = kActionsExtract;
  } else {
    const ClassRow* table;
    if (m_nScannerType == 2)
      table = params->nLevel == 1 ? tblSdtcTOLLET2 : in->nXResolution <= 300 ? tblNormalTOLLET2 : tblHighResoTOLLET2;
    else
      table = params->nLevel == 1                          ? tblSdtcQUESSAR
              : params->nLevel == 4 || params->nLevel == 5 ? tblSelectEmphaQUESSAR
                                                           : tblNormalQUESSAR;
    const int row = flags == 2 ? 2 - params->nEmphasisLevel : flags == 1 ? 3 : 4 + params->nDescreenLevel;
    plan.row = &table[row];
  }
  unsigned char* dest = out && out->pImageData ? out->pImageData : in->pImageData;
  try {
    Emphasise(in, plan, dest);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  if (out && out->pImageData) {
    unsigned char* pixels = out->pImageData;
    FillFrom(out, in);
    out->pImageData = pixels;
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::PreImageEmphasis(FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEEMPHASIS* params, FSIP_S_IMAGEINFO* out) const {
  if (!params) return FSIP_C_ERR_PARAMETER;
  const int flags = params->nKind;
  const int main = flags & 2 ? 2 : flags & 4 ? 4 : flags & 1 ? 1 : 0;
  FSIP_S_IMAGEEMPHASIS pass = *params;
  if (main == 0) {
    if (!(flags & 16)) return FSIP_C_ERR_PARAMETER;
    pass.nKind = 16;
    return ImageEmphasis(in, &pass, out);
  }
  pass.nKind = main;
  if (!(flags & 16)) return ImageEmphasis(in, &pass, out);
  const int rc = ImageEmphasis(in, &pass, nullptr);
  if (rc != 0) return rc;
  pass.nKind = 16;
  return ImageEmphasis(in, &pass, out);
}

int CConv::ImageAreaSeparateJudge(const FSIP_S_IMAGEINFO* in, unsigned char* labels) const {
  if (!in || !in->pImageData || !labels || !PlaneFits(in)) return FSIP_C_ERR_PARAMETER;
  try {
    Window window(in);
    for (int y = 0; y < in->nHeight; ++y) {
      window.Centre(y);
      const Rows w{{window.Row(0), window.Row(1), window.Row(2), window.Row(3), window.Row(4)}};
      unsigned char* out = labels + static_cast<size_t>(y) * in->nWidth;
      for (int x = 0; x < in->nWidth; ++x) out[x] = M2(w, x) >= 160 ? 2 : 3;
    }
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::SelectEmphasize(FSIP_S_IMAGEINFO* in, const FSIP_S_SELECTEMPHA* params, FSIP_S_IMAGEINFO* out) const {
  if (!in || !in->pImageData || in->nPixelType != 1 || in->nDepth != 8) return FSIP_C_ERR_PARAMETER;
  if (in->nColorSeq != 0 && in->nColorSeq != 1 && in->nColorSeq != 6) return FSIP_C_ERR_NOTSUPPORT;
  if (!params || !params->pFilter || !out || !out->pImageData || !PageFits(in)) return FSIP_C_ERR_PARAMETER;
  if (!(params->nMethod == 1 && params->pbyDither) && !(params->nMethod == 2 && params->pErrorDiffusion))
    return FSIP_C_ERR_PARAMETER;

  // The caller's option record stays as it was given.
  FSIP_S_IMAGEFILTER filter = *params->pFilter;
  const auto* gamma = static_cast<const FSIP_S_GAMMA*>(filter.pGamma);
  if ((filter.dwOption & 4) && gamma && (gamma->byPass & 1)) {
    filter.dwOption = 4;
    const int rc = fsip_ImageFilter(in, &filter, nullptr, nullptr);
    if (rc != 0) return rc;
    filter.dwOption = 1;
  }
  const int lineBytes = (in->nBytesPerLine + 31) / 32 * 4;
  const size_t pageBytes = static_cast<size_t>(lineBytes) * in->nHeight;
  std::vector<unsigned char> labels, fixed, halftone;
  try {
    labels.resize(static_cast<size_t>(in->nWidth) * in->nHeight);
    fixed.assign(pageBytes, 0);
    halftone.assign(pageBytes, 0);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  int rc = ImageAreaSeparateJudge(in, labels.data());
  if (rc != 0) return rc;
  rc = fsip_ImageFilter(in, &filter, nullptr, nullptr);
  if (rc != 0) return rc;

  FSIP_S_IMAGEINFO page = *in;
  page.nPixelType = 0;
  page.nDepth = 1;
  page.nBytesPerLine = lineBytes;
  page.nImageSize = static_cast<int>(pageBytes);
  page.pImageData = fixed.data();
  FixThreshold(in, &page, params->nThreshold);
  page.pImageData = halftone.data();
  rc = params->nMethod == 1 ? Dither(in, &page, params->pbyDither)
                            : ErrorDiffusion(in, &page, params->pErrorDiffusion, false);
  if (rc != 0) return rc;

  unsigned char* pixels = out->pImageData;
  *out = page;
  out->cbSize = sizeof(FSIP_S_IMAGEINFO);
  out->pImageData = pixels;
  out->nColorSeq = in->nColorSeq;
  for (int y = 0; y < in->nHeight; ++y) {
    const unsigned char* label = &labels[static_cast<size_t>(y) * in->nWidth];
    const size_t at = static_cast<size_t>(y) * lineBytes;
    for (int b = 0; b < lineBytes; ++b) {
      unsigned mask = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int x = 8 * b + bit;
        if (x < in->nWidth && label[x] == 3) mask |= 0x80u >> bit;
      }
      pixels[at + b] = static_cast<unsigned char>((halftone[at + b] & mask) | (fixed[at + b] & ~mask));
    }
  }
  return FSIP_C_ERR_NOERROR;
}

FSIP_EXPORT int fsip_SelectEmphasize(FSIP_S_IMAGEINFO* in, FSIP_S_SELECTEMPHA* params, FSIP_S_IMAGEINFO* out) {
  return FsipGuarded([&] {
    CConv conv;
    return conv.SelectEmphasize(in, params, out);
  });
}
