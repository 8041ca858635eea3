// The batch's mode pages and each sheet's scan window of the Corvane
// class, with the Corvane5 class's family rules for both.
#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

// Dots of 1/1200 inch in n millimetres.
constexpr double Mm(double n) { return n * 65536.0 / 1387.0; }

void PutBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void PutBe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  PutBe16(p + 2, v);
}

}  // namespace

// --- mode pages ----------------------------------------------------------------

// Family rule: page-auto on the feeder with priority, else automatic length.
void KeloDevCtlCorvane::FillPageLengthPage(unsigned char* page) const {
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (p.SCAN_SOURCE != 0 && p.PAGE_AUTO_PRIORITY) {
    page[3] = 0x80, page[5] = 0xC0;
  } else {
    page[2] = 0x81, page[3] = 0x80, page[4] = 0x80;
  }
}

// Family rule: the Corvane5 page also carries the index tab and crop margin.
void KeloDevCtlCorvane5::FillPageLengthPage(unsigned char* page) const {
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (p.SCAN_SOURCE == 0) {
    page[2] = 0x81, page[3] = 0x80, page[4] = 0x80;
  } else if (p.PAGE_AUTO_PRIORITY) {
    page[2] = 0x04, page[3] = 0x80, page[5] = 0xCC;
  } else {
    page[2] = 0x87, page[3] = 0x80, page[4] = 0x80;
    page[5] = p.IMAGE_INDEX_TAB ? 0x08 : 0x0C;
    const int m = p.CROPPING_MARGIN;
    if (m != 0) {
      page[5] |= m > 0 ? 0xE0 : 0xD0;
      page[6] = static_cast<unsigned char>((m > 0 ? m : -m) * 10);
    }
  }
}

// Family rule: qv types 3 and 7-21 switch on the protection byte.
void KeloDevCtlCorvane::FillDoubleFeedProtection(unsigned char* page) const {
  const int t = m_iDevType;
  if (t == 3 || (t >= 7 && t <= 21)) page[3] = 0xC0;
}

// Family rule: paper protection in byte 3, and in byte 5 for types 31-34.
void KeloDevCtlCorvane5::FillDoubleFeedProtection(unsigned char* page) const {
  static const unsigned char kProtection[3] = {0xC8, 0x88, 0x08};
  static const unsigned char kProtectionFirstGroup[3] = {0xC0, 0x80, 0x00};
  const int protection = m_PropInfo.PAPER_PROTECTION <= 2 ? m_PropInfo.PAPER_PROTECTION : 2;
  page[3] = kProtection[protection];
  if (m_iDevType >= 31 && m_iDevType <= 34) page[5] = kProtectionFirstGroup[protection];
}

uint32_t KeloDevCtlCorvane::SendLaterModePages(const char* kTag, const unsigned char* doubleFeed) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  uint32_t result;
  auto send = [&](const unsigned char* page, const char* message) {
    uint32_t r = ModeSelect(page);
    if (r != VK_OK) Log(LOG_LEVEL_ERROR, kTag, message);
    return r;
  };
  if ((result = send(doubleFeed, "(ulError = ModeSelect(szModeDoubleFeed)) != VK_OK")) != VK_OK) return result;
  const unsigned char doubleSide[8] = {0x35, 0x06, 0x00, 0x81};
  if ((result = send(doubleSide, "(ulError = ModeSelect(szModeDoubleSideForward)) != VK_OK")) != VK_OK) return result;
  const unsigned char baffard[8] = {0x3A, 0x06, static_cast<unsigned char>(p.AUTOFEED ? 0xC0 : 0x80)};
  if ((result = send(baffard, "(ulError = ModeSelect(szModeBaffardScan)) != VK_OK")) != VK_OK) return result;
  if (RowHasList(&OPTION_LIST_INFO::tBackground)) {
    const unsigned char bg[8] = {0x37, 0x06,
                                 static_cast<unsigned char>(p.BG_COLOR ? 0xB0 : (p.PAPER_SIZE == 10 ? 0x84 : 0x80))};
    if ((result = send(bg, "(ulError = ModeSelect(szModeBackGround)) != VK_OK")) != VK_OK) return result;
  }
  if (p.HARDWARE_PROC && (p.IMAGE_MODE != 3 || p.AUTO_COLOR_DETECT == 1)) {
    unsigned char dropout[10] = {0x39, 0x08};
    switch (p.DROPOUT_COLOR) {
      case 2:
        dropout[2] = 0x99;
        break;
      case 3:
        dropout[2] = 0x88;
        break;
      case 4:
        dropout[2] = 0xBB;
        break;
      case 5:
        dropout[2] = 0xDD;
        break;
      default:
        break;
    }
    if ((result = send(dropout, "(ulError = ModeSelect(szModeDropOutColor)) != VK_OK")) != VK_OK) return result;
  }
  if (RowHasList(&OPTION_LIST_INFO::tPrepick)) {
    const unsigned char prepick[8] = {0x33, 0x06, static_cast<unsigned char>(p.PREPICK == 1 ? 0x80 : 0xC0)};
    if ((result = send(prepick, "(ulError = ModeSelect(szModePrePick)) != VK_OK")) != VK_OK) return result;
  }
  if (RowHasList(&OPTION_LIST_INFO::tSleepTimer)) {
    const unsigned char sleepMode[8] = {0x34, 0x06, p.SLEEP_TIMER};
    if ((result = send(sleepMode, "(ulError = ModeSelect(szModeSleepMode)) != VK_OK")) != VK_OK) return result;
  }
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoScanModeSetting() {
  const std::string tag = Tag("DoScanModeSetting");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool flatbed = p.SCAN_SOURCE == 0;
  uint32_t result = ScannerControl(flatbed);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag,
        flatbed ? "(ulError = ScannerControl(true)) != VK_OK" : "(ulError = ScannerControl(false)) != VK_OK");
    return result;
  }
  if (p.AUTO_COLOR_DETECT == 1 && (result = SetAutoColor()) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = SetAutoColor()) != VK_OK");
    return result;
  }
  auto send = [&](const unsigned char* page, const char* message) {
    uint32_t r = ModeSelect(page);
    if (r != VK_OK) Log(LOG_LEVEL_ERROR, kTag, message);
    return r;
  };
  const unsigned char autoColor[8] = {0x32, 0x06,
                                      p.AUTO_COLOR_DETECT == 1 ? AutoColourPageByte() : static_cast<unsigned char>(0xA0)};
  if ((result = send(autoColor, "(ulError = ModeSelect(szModeAutoColorDetection)) != VK_OK")) != VK_OK) return result;
  unsigned char pageLength[8] = {0x3C, 0x06};
  if (p.PAPER_SIZE == 10) FillPageLengthPage(pageLength);
  if ((result = send(pageLength, "(ulError = ModeSelect(szModePageLength)) != VK_OK")) != VK_OK) return result;
  unsigned char doubleFeed[8] = {0x38, 0x06};
  doubleFeed[2] = static_cast<unsigned char>(0x80 | (p.DF_ACTION == 0 ? 0x40 : 0) | (p.DF_THICKNESS ? 0x10 : 0) |
                                             (p.DF_LENGTH ? 0x08 : 0));
  FillDoubleFeedProtection(doubleFeed);
  if ((result = SendLaterModePages(kTag, doubleFeed)) != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

// --- the scan window -------------------------------------------------------------

// The smallest number of units that covers the whole blocks.
uint32_t KeloDevCtlCorvane::CutToBlocks(double value, int resolution, bool roundUp) {
  long long count = static_cast<long long>(value * resolution / 1200);
  count = roundUp ? (count + 7) / 8 * 8 : count / 8 * 8;
  return static_cast<uint32_t>((count * 1200 + resolution - 1) / resolution);
}

uint32_t KeloDevCtlCorvane::SendWindowBySource(const char* kTag, bool autoColor) {
  QV_WINDOW_INFO& w = m_WindowInfo;
  uint32_t result = VK_OK;
  const char* message = nullptr;
  switch (m_PropInfo.SCAN_SOURCE) {
    case 0:
    case 1:
      result = autoColor ? SetAutoColorDetectWindow(&w, nullptr) : SetWindow(&w, nullptr);
      message = autoColor ? "SetAutoColorDetectWindow( &m_WindowInfo , &NULL)) != VK_OK"
                          : "SetWindow( &m_WindowInfo , &NULL)) != VK_OK";
      break;
    case 2:
      result = autoColor ? SetAutoColorDetectWindow(nullptr, &w) : SetWindow(nullptr, &w);
      message = autoColor ? "SetAutoColorDetectWindow( &NULL , &m_WindowInfo)) != VK_OK"
                          : "SetWindow( &NULL , &m_WindowInfo)) != VK_OK";
      break;
    case 3:
      result = autoColor ? SetAutoColorDetectWindow(&w, &w) : SetWindow(&w, &w);
      message = autoColor ? "SetAutoColorDetectWindow( &m_WindowInfo , &m_WindowInfo)) != VK_OK"
                          : "SetWindow( &m_WindowInfo , &m_WindowInfo)) != VK_OK";
      break;
    default:
      break;
  }
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, message);
    return result;
  }
  return VK_OK;
}

// The window of a page of fixed size; JPEG cuts it to whole blocks.
void KeloDevCtlCorvane::FillWindowFromPage() {
  const SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.ulWidth = static_cast<uint32_t>(p.RIGHT - p.LEFT);
  w.ulLength = static_cast<uint32_t>(p.BOTTOM - p.TOP);
  w.ulDocWidth = static_cast<uint32_t>(p.CUST_PAGE_WIDTH);
  w.ulDocLength = static_cast<uint32_t>(p.CUST_PAGE_LENGTH);
  if (p.JPEG_TRANSFER) {
    w.ulLength = CutToBlocks(w.ulLength, w.usResY, false);
    w.ulDocLength = CutToBlocks(w.ulDocLength, w.usResY, false);
    if (p.JPEG_TYPE == 0x81) {
      w.ulWidth = CutToBlocks(w.ulWidth, w.usResX, true);
      w.ulDocWidth = CutToBlocks(w.ulDocWidth, w.usResX, true);
    }
  }
}

// The window's halftone, polarity, compression, emphasis and SDTC settings.
void KeloDevCtlCorvane::FillWindowSettings() {
  const SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.usHalftoneType = p.HALFTONE_TYPE;
  w.usHalftonePattern = p.HALFTONE_PATTERN;
  w.ucReverse = p.RIF ? 1 : 0;
  w.ucCompressionType = p.JPEG_TRANSFER ? p.JPEG_TYPE : 0;
  w.ucCompressionArg = p.JPEG_TRANSFER ? p.JPEG_QUALITY : 0;
  w.ucEdgeProcessing = p.EDGE_PROCESSING;
  w.ucImageEmphasis = p.IMAGE_EMPHASIS;
  w.ucSdtcMode = p.SDTC_MODE;
  w.ucSdtcVariance = p.SDTC_VARIANCE;
}

// Family rule: the qv-series automatic window, narrower on type 35.
void KeloDevCtlCorvane::FillAutoSizeWindow() {
  SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.ulWidth = w.ulDocWidth = m_iDevType == 35 ? 10432 : 10624;
  p.RIGHT = w.ulWidth;
  double bottom;
  if (p.SCAN_SOURCE == 0)
    bottom = 14032;
  else if (p.AUTO_COLOR_DETECT == 1)
    bottom = 16802.16409516943;
  else if (m_iDevType == 35)
    bottom = 17445.064167267483;
  else
    bottom = p.SCAN_RES_X <= 200 ? 151504 : 42304;
  w.ulLength = w.ulDocLength = static_cast<uint32_t>(bottom);
  p.BOTTOM = bottom;
}

// Family rule: 216 mm wide, as long as the resolution band allows.
void KeloDevCtlCorvane5::FillAutoSizeWindow() {
  SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.ulWidth = w.ulDocWidth = 10206;
  p.RIGHT = Mm(216);
  const unsigned x = p.SCAN_RES_X;
  double bottom;
  if (p.SCAN_SOURCE == 0)
    bottom = 14032;
  else if (p.AUTO_COLOR_DETECT == 1)
    bottom = Mm(355.6);
  else
    bottom = Mm(x <= 200 ? 5588 : (x <= 300 ? 5461 : (x <= 400 ? 4064 : 2700))) + 1504;
  w.ulLength = w.ulDocLength = static_cast<uint32_t>(bottom);
  p.BOTTOM = bottom;
}

uint32_t KeloDevCtlCorvane::DoSetWindowInfo() {
  const std::string tag = Tag("DoSetWindowInfo");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.usResX = p.SCAN_RES_X;
  w.usResY = p.SCAN_RES_Y;
  w.ulLeft = static_cast<uint32_t>(p.LEFT);
  w.ulTop = static_cast<uint32_t>(p.TOP);
  if (p.PAPER_SIZE == 10) {
    p.LEFT = p.TOP = 0;
    w.ulLeft = w.ulTop = 0;
    FillAutoSizeWindow();
  } else if (p.PAPER_SIZE >= 0 && p.PAPER_SIZE <= 11) {
    FillWindowFromPage();
  } else {
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  w.usThreshold = p.THRESHOLD;
  const bool autoColor = p.AUTO_COLOR_DETECT == 1;
  const bool hostReduces = autoColor && !ScannerDetectsColour();
  if (p.HARDWARE_PROC && !hostReduces) {
    static const uint8_t kComposition[4] = {0, 1, 2, 5};
    if (p.IMAGE_MODE <= 3) {
      w.ucComposition = kComposition[p.IMAGE_MODE];
      w.usBitsPerPixel = p.IMAGE_MODE <= 1 ? 1 : 8;
    }
  } else {
    // The page comes in colour; libimgforge or the host reduces it.
    w.ucComposition = 5;
    w.usBitsPerPixel = 8;
  }
  FillWindowSettings();
  const uint32_t result = SendWindowBySource(kTag, autoColor && ScannerDetectsColour());
  if (result != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

void KeloDevCtlCorvane::MakeWindowDescriptor(const QV_WINDOW_INFO& w, bool hardware, uint8_t autoColor, uint8_t mode,
                                             unsigned char* d) {
  PutBe16(d + 2, w.usResX);
  PutBe16(d + 4, w.usResY);
  PutBe32(d + 6, w.ulLeft);
  PutBe32(d + 10, w.ulTop);
  PutBe32(d + 14, w.ulWidth);
  PutBe32(d + 18, w.ulLength);
  d[25] = w.ucComposition;
  d[26] = static_cast<unsigned char>(w.usBitsPerPixel);
  d[29] = 0;
  d[32] = w.ucCompressionType;
  d[33] = w.ucCompressionArg;
  d[53] = 0xC0;
  PutBe32(d + 54, w.ulDocWidth);
  PutBe32(d + 58, w.ulDocLength);
  enum { kColour, kHalftoneGrey, kLineArt } form;
  if (!hardware)
    form = kColour;
  else if (autoColor == 1)
    form = w.ucComposition == 5 ? kColour : kLineArt;
  else
    form = mode == 3 ? kColour : (mode == 0 ? kLineArt : kHalftoneGrey);
  switch (form) {
    case kColour:
      d[40] = 0xC1, d[41] = 0x80, d[42] = 0x01, d[43] = 0x05;
      d[46] = w.ucImageEmphasis;
      break;
    case kHalftoneGrey:
      d[27] = static_cast<unsigned char>(w.usHalftoneType);
      d[28] = static_cast<unsigned char>(w.usHalftonePattern);
      d[40] = 0x00, d[41] = 0x80;
      break;
    case kLineArt:
      d[23] = static_cast<unsigned char>(w.usThreshold);
      d[43] = w.ucEdgeProcessing;
      d[40] = 0x00, d[41] = 0x80;
      d[46] = w.ucSdtcVariance;
      d[62] = w.ucSdtcMode ? 0x80 : 0;
      break;
  }
}

}  // namespace dravnmain
