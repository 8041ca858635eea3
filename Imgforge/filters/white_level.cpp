// White-level following: a per-column paper level learnt down the page, by
// which every pixel is divided so that the paper comes out white.
#include <cstring>
#include <new>
#include <vector>

#include "conv.h"

namespace {

enum Rule { kFollow, kSmooth, kScale };

struct Stage {
  Rule rule;
  int weight, lo, hi;
};

// Stages 1 to 8 (index 0 unused).
const Stage kStages[9] = {{kFollow, 0, 0, 0},     {kFollow, 16, 96, 510}, {kSmooth, 0, 0, 0},
                          {kFollow, 2, 96, 510},  {kScale, 2, 96, 510},   {kFollow, 64, 256, 276},
                          {kFollow, 2, 242, 510}, {kFollow, 2, 242, 256}, {kFollow, 8, 256, 510}};

// The stage that updates after each line: 0 for a wait line. The opening
// run is fixed; stages 5 to 8 then repeat to the end of the page.
class Schedule {
 public:
  Schedule() {
    m_opening.assign(16, 0);
    m_opening.insert(m_opening.end(), 32, 1);
    m_opening.insert(m_opening.end(), {0, 2, 0});
    for (int i = 0; i < 17; ++i) m_opening.insert(m_opening.end(), {3, 4, 0});
    m_cycle = {5, 0, 6, 0, 7, 0, 8};
    m_cycle.insert(m_cycle.end(), 32, 0);
  }
  int At(size_t line) const {
    if (line < m_opening.size()) return m_opening[line];
    return m_cycle[(line - m_opening.size()) % m_cycle.size()];
  }

 private:
  std::vector<int> m_opening, m_cycle;
};

int Normalised(int p, int b) {
  const int n = b > 0 ? p * 255 / b : 510;
  return n > 509 ? 508 : n & ~1;
}

int Follow(const FSIP_S_IMAGEINFO* in, unsigned char* dest) {
  const int width = in->nWidth, height = in->nHeight, stride = in->nBytesPerLine;
  static const Schedule schedule;
  std::vector<int> bg(width + 2, 255), smooth(width + 2);
  std::vector<unsigned char> line(width);
  int previousLevel = 256;
  long debug = 0;
  for (int y = 0; y < height; ++y) {
    memcpy(line.data(), in->pImageData + static_cast<size_t>(y) * stride, width);
    unsigned char* o = dest + static_cast<size_t>(y) * stride;
    long sum = 0;
    for (int x = 0; x < width; ++x) {
      const int p = line[x], b = bg[x + 1];
      if (b == 255) ++debug;
      if (b > 0) {
        const int v = p * 255 / b;
        o[x] = static_cast<unsigned char>(v > 255 ? 255 : v);
      } else {
        o[x] = static_cast<unsigned char>(p);
      }
      sum += Normalised(p, b);
    }
    const int level = static_cast<int>(sum / width);
    const int stage = schedule.At(static_cast<size_t>(y));
    if (stage != 0) {
      const Stage& s = kStages[stage];
      if (s.rule == kFollow) {
        for (int x = 0; x < width; ++x) {
          const int p = line[x], b = bg[x + 1];
          const int n = b > 0 ? p * 255 / b : 510;
          if (n < s.lo || n > s.hi || b == p) continue;
          const int t = p * s.weight + b * (128 - s.weight);
          int nb;
          if (b < p)
            nb = t >= 32768 ? 255 : (t / 128 == b ? b + 1 : t / 128);
          else
            nb = t / 128 < 1 ? 1 : t / 128;
          bg[x + 1] = nb > 255 ? 255 : nb;
        }
      } else if (s.rule == kSmooth) {
        bg[0] = bg[1];
        bg[width + 1] = bg[width];
        smooth = bg;
        for (int x = 1; x <= width; ++x) {
          const int v = (smooth[x - 1] + 2 * smooth[x] + smooth[x + 1]) / 4;
          bg[x] = v < 1 ? 1 : v;
        }
      } else if (previousLevel >= s.lo && previousLevel <= s.hi) {
        const long H = previousLevel;
        for (int x = 1; x <= width; ++x) {
          const long b = bg[x];
          const long t = (H / 2) * b * 128 >= 8372223 ? 510 : H * b / 256;
          const long u = s.weight * t + b * (128 - s.weight);
          long nb = b;
          if (b < t) {
            nb = u / 128;
            if (nb == b) ++nb;
            if (nb > 255) nb = 255;
          } else if (b > t) {
            nb = u / 128 < 1 ? 1 : u / 128;
          }
          bg[x] = static_cast<int>(nb);
        }
      }
    }
    previousLevel = level;
  }
  g_lWhiteLvDebug += debug;
  return FSIP_C_ERR_NOERROR;
}

}  // namespace

int CConv::WhiteLvFollow(FSIP_S_IMAGEINFO* in, const FSIP_S_WHITELVFOLLOW* params, FSIP_S_IMAGEINFO* out) const {
  if (!in || !in->pImageData || !params || params->nFollow != 1 || params->nMode != 1) return FSIP_C_ERR_PARAMETER;
  if (in->nWidth <= 0 || in->nHeight <= 0 || in->nBytesPerLine < in->nWidth) return FSIP_C_ERR_PARAMETER;
  try {
    Follow(in, out && out->pImageData ? out->pImageData : in->pImageData);
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
