// The Corvane tone tables: the curve of brightness, contrast, shadow,
// highlight and gamma, and sending it to the scanner before a batch.
#include <cmath>
#include <utility>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

}  // namespace

unsigned char KeloDevCtlCorvane::GetLUTData(unsigned char input, unsigned char white, unsigned char black,
                                            int brightness, int contrast, int shadow, int highlight, int gamma) {
  if (input <= black) return 0;
  if (input >= white) return 255;
  if (black >= white) return 0;
  double r = static_cast<double>(input - black) / (white - black);
  if (shadow != 0 || highlight != 255) {
    double lo = shadow / 255.0, hi = highlight / 255.0;
    if (highlight < shadow) std::swap(lo, hi);
    if (highlight == shadow) {
      if (shadow == 0) {
        lo = 0, hi = 1 / 255.0;
      } else if (shadow == 255) {
        lo = 254 / 255.0, hi = 1;
      } else {
        lo = shadow / 255.0, hi = (shadow + 1) / 255.0;
      }
    }
    if (r < lo)
      r = 0;
    else if (r > hi)
      r = 1;
    else
      r = (r - lo) / (hi - lo);
  }
  if (contrast != 50 && r > 0 && r < 1) {
    const double k = std::tan(3.141592654 * (1 - (100 - contrast) / 200.0) / 3);
    double t;
    if (r < 0.25)
      t = r * (2 - k);
    else if (r > 0.75)
      t = r * (2 - k) + k - 1;
    else
      t = r * k + 0.5 * (1 - k);
    r = t < 0 ? 0 : (t > 1 ? 1 : t);
  }
  double u = 0, v = 1;
  if (brightness != 50) {
    const double w = (brightness - 50) / 50.0;
    r += 0.375 * w;
    r = r < 0 ? 0 : (r > 1 ? 1 : r);
    if (w > 0)
      u = 0.375 * w;
    else
      v = 1 + 0.375 * w;
  }
  if (gamma == 10) return static_cast<unsigned char>(static_cast<int>(0.5 + 255 * r));
  const double exponent = gamma >= 1 && gamma <= 99 ? 10.0 / gamma : (gamma >= 100 ? 0.10101010101010101 : 1);
  if (v > u) {
    const double base = (r - u) / (v - u);
    r = u + (v - u) * (base > 0 ? std::pow(base, exponent) : 0);
  }
  if (r < 0) return 0;
  if (r > 1) return 255;
  int value = static_cast<int>(0.5 + 255 * r);
  return static_cast<unsigned char>(value > 255 ? 255 : value);
}

void KeloDevCtlCorvane::ApplyLutContrastBrightness(int brightness, int contrast, int highlight, int shadow, int gamma,
                                                   unsigned char* table) {
  if (!table) return;
  brightness = (brightness < -128 ? -128 : (brightness > 127 ? 127 : brightness)) + 128;
  contrast = (contrast < -128 ? -128 : (contrast > 127 ? 127 : contrast)) + 128;
  const int b = brightness * 100 / 255, c = contrast * 100 / 255;
  for (int i = 0; i < 256; ++i)
    table[i] = GetLUTData(static_cast<unsigned char>(i), 255, 0, b, c, shadow, highlight, gamma);
}

// The built table as LUT, and with the scanner's colour detection the
// line-art curve as gamma table.
uint32_t KeloDevCtlCorvane::SendToneTables(const char* kTag) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  uint32_t result = SendLUT(8, m_szLUTTable);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = SendLUT(8, m_szLUTTable)) != VK_OK");
    return result;
  }
  if (p.AUTO_COLOR_DETECT == 1) {
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, 10, m_szLUTTable);
    if ((result = SendGamma(8, m_szLUTTable)) != VK_OK) {
      Log(LOG_LEVEL_ERROR, kTag, "(ulError = SendGamma(8, m_szLUTTable)) != VK_OK");
      return result;
    }
  }
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoSendLUTTable() {
  const std::string tag = Tag("DoSendLUTTable");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  // A page that comes in colour for the host to reduce takes the colour curve.
  const bool colourPage = p.AUTO_COLOR_DETECT == 1 && !ScannerDetectsColour();
  if (!p.HARDWARE_PROC)
    for (int i = 0; i < 256; ++i) m_szLUTTable[i] = static_cast<unsigned char>(i);
  else if (colourPage || p.IMAGE_MODE >= 2)
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 230, 10, 16, m_szLUTTable);
  else
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, p.IMAGE_MODE == 0 ? 10 : 16, m_szLUTTable);
  const uint32_t result = SendToneTables(kTag);
  if (result != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

}  // namespace dravnmain
