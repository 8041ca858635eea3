// The Corvane device class: identity, property rules, mode pages, the scan
// window, and turning sense data into device-control codes.
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"
#include "model_catalog.h"
#include "process_check.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

// Whole seconds of the wall clock, and microseconds for the finer bounds.
long long NowUs() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// Readiness waits end, like the data wait, after this many tries once this
// much time has passed: a device that stays busy must not hang a front end.
constexpr int kReadyTries = 875;
constexpr long long kReadyUs = 24LL * 1000000;

void PutBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void PutBe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  PutBe16(p + 2, v);
}

// The model table's rows: the qv-series models of the catalogue that the
// Corvane class lists, in catalogue order, take types 0 to 21 and then 35;
// the Docuvane models types 22 to 24.
struct ModelRow {
  int type;
  char text[17];
};

struct ModelTable {
  ModelRow rows[26] = {};
  int count = 0;
  ModelTable() {
    int qv = 0;
    for (const dravn::CatalogModel& m : dravn::kAllModels) {
      if (!(m.tables & dravn::kCorvaneTable) || count >= 26) continue;
      ModelRow& row = rows[count++];
      if (m.family == dravn::Family::Docuvane) {
        row.type = 22 + static_cast<int>(&m - &dravn::kAllModels[0]);
      } else {
        row.type = qv < 22 ? qv : 35;
        ++qv;
      }
      snprintf(row.text, sizeof row.text, "%-16.16s", m.deviceName);
    }
  }
};

const ModelTable& Models() {
  static const ModelTable table;
  return table;
}

struct SenseRow {
  uint8_t key;
  int asc;   // -1 any
  int ascq;  // -1 any
  uint32_t code;
  const char* word;
};

const SenseRow kSenseTable[] = {
    {0x0, -1, -1, QV_ERR_CTL_NO_SENSE, "QV_ERR_CTL_NO_SENSE"},
    {0x2, -1, -1, QV_ERR_CTL_NOT_READY, "QV_ERR_CTL_NOT_READY"},
    {0x3, -1, 0x01, QV_ERR_CTL_PAPER_JAM, "QV_ERR_CTL_PAPER_JAM"},
    {0x3, -1, 0x02, QV_ERR_CTL_COVER_OPEN, "QV_ERR_CTL_COVER_OPEN"},
    {0x3, -1, 0x03, QV_ERR_CTL_NO_PAPER, "QV_ERR_CTL_NO_PAPER"},
    {0x3, -1, 0x07, QV_ERR_CTL_DOUBLE_FEED, "QV_ERR_CTL_DOUBLE_FEED"},
    {0x3, -1, 0x13, QV_ERR_CTL_DATA_NOT_ENOUGH, "QV_ERR_CTL_DATA_NOT_ENOUGH"},
    {0x3, -1, 0x20, QV_ERR_CTL_STOP_QUICKLY, "QV_ERR_CTL_STOP_QUICKLY"},
    {0x4, -1, 0x00, QV_ERR_CTL_INSIDE_DEVICE_EXCEPTION, "QV_ERR_CTL_INSIDE_DEVICE_EXCEPTION"},
    {0x4, -1, 0x03, QV_ERR_CTL_LAMP_FUSE_BLOWN, "QV_ERR_CTL_LAMP_FUSE_BLOWN"},
    {0x4, -1, 0x04, QV_ERR_CTL_ADF_FUSE_DISCONNECT, "QV_ERR_CTL_ADF_FUSE_DISCONNECT"},
    {0x4, -1, 0x05, QV_ERR_CTL_ADF_BG_ALARM, "QV_ERR_CTL_ADF_BG_ALARM"},
    {0x4, -1, 0x06, QV_ERR_CTL_BRIGHTNESS_EXCEPTION, "QV_ERR_CTL_BRIGHTNESS_EXCEPTION"},
    {0x5, 0x00, -1, QV_ERR_CTL_PAPER_JAM, "QV_ERR_CTL_PAPER_JAM"},
    {0x5, 0x20, -1, QV_ERR_CTL_INVALID_COMMAND, "QV_ERR_CTL_INVALID_COMMAND"},
    {0x5, 0x24, -1, QV_ERR_CTL_CDB_INVALIDATION_FIELD, "QV_ERR_CTL_CDB_INVALIDATION_FIELD"},
    {0x5, 0x25, -1, QV_ERR_CTL_UNSUPPORT_LOGIC_UNIT, "QV_ERR_CTL_UNSUPPORT_LOGIC_UNIT"},
    {0x5, 0x26, -1, QV_ERR_CTL_PARALIST_INVALIDATION_FIELD, "QV_ERR_CTL_PARALIST_INVALIDATION_FIELD"},
    {0x5, 0x2C, 0x00, QV_ERR_CTL_COMMAND_SEQUENCE_WRONG, "QV_ERR_CTL_COMMAND_SEQUENCE_WRONG"},
    {0x5, 0x2C, 0x02, QV_ERR_CTL_WINDOW_COMBINATION_WRONG, "QV_ERR_CTL_WINDOW_COMBINATION_WRONG"},
    {0xB, 0x45, -1, QV_ERR_CTL_SELECT_RESELECT_FAIL, "QV_ERR_CTL_SELECT_RESELECT_FAIL"},
    {0xB, 0x48, -1, QV_ERR_CTL_INITIATOR_DETECTED_WRONG, "QV_ERR_CTL_INITIATOR_DETECTED_WRONG"},
    {0xB, 0x80, 0x01, QV_ERR_CTL_IMAGE_TRANSFER_WRONG, "QV_ERR_CTL_IMAGE_TRANSFER_WRONG"},
    {0xB, 0x80, 0x03, QV_ERR_CTL_IMAGE_FLAG_DATA_OVERFLOW, "QV_ERR_CTL_IMAGE_FLAG_DATA_OVERFLOW"},
};

// Whether the open device's row offers that list; no row, no list.
bool HasList(OPTION_INFO OPTION_LIST_INFO::*list) { return g_tpOptListInfo && (g_tpOptListInfo->*list).iPresent; }

}  // namespace

const char* CorvaneModelText(int devType) {
  const ModelTable& table = Models();
  for (int i = 0; i < table.count; ++i)
    if (table.rows[i].type == devType) return table.rows[i].text;
  return nullptr;
}

// An unlisted combination under keys 3, 4, 5 and 0x0B is a failure the
// backend cannot name: treating it as success would report a failed
// command as done.
uint32_t CorvaneSenseCode(const QV_SENSE& sense, bool* listed, const char** word) {
  for (const SenseRow& row : kSenseTable) {
    if (row.key != sense.ucSenseKey) continue;
    if (row.asc >= 0 && row.asc != sense.ucASC) continue;
    if (row.ascq >= 0 && row.ascq != sense.ucASCQ) continue;
    if (listed) *listed = true;
    if (word) *word = row.word;
    return row.code;
  }
  const uint8_t key = sense.ucSenseKey;
  if (listed) *listed = !(key == 0x3 || key == 0x4 || key == 0x5 || key == 0xB);
  if (word) *word = "QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION";
  return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
}

KeloDevCtlCorvane::KeloDevCtlCorvane() = default;
KeloDevCtlCorvane::~KeloDevCtlCorvane() = default;

uint32_t KeloDevCtlCorvane::GetProperError() {
  static const char* const kTag = "KeloDevCtlCorvane::GetProperError";
  QV_SENSE sense{};
  uint32_t result = RequestSense(&sense);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "RequestSense(&Sense)) != VK_OK");
    return result;
  }
  const char* word = nullptr;
  result = CorvaneSenseCode(sense, nullptr, &word);
  Log(LOG_LEVEL_ERROR, kTag, word);
  if (result == QV_ERR_CTL_STOP_QUICKLY) StopQuicklyPause();
  return result;
}

// The process check reads /proc: what it leaves in errno must not colour
// the status that the failure is reported with.
void KeloDevCtlCorvane::StopQuicklyPause() {
  const int saved = errno;
  if (CheckProcess()) sleep(3);
  errno = saved;
}

uint32_t KeloDevCtlCorvane::DoCheckReturnError(uint32_t code) {
  if (code != QV_ERR_CTL_STATUS_NOT_GOOD) return code;
  if (m_ucLastStatus == 0x02) return GetProperError();
  if (m_ucLastStatus == 0x18) return QV_ERR_CTL_RESERVATION_CONFLICT;
  return code;
}

uint32_t KeloDevCtlCorvane::DoCheckDeviceCondition() {
  static const char* const kTag = "KeloDevCtlCorvane::DoCheckDeviceCondition";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  QV_HARDWARE_INFO info{};
  uint32_t result = GetHardwareInfo(&info);
  if (result != VK_OK) return result;
  if (memcmp(info.szVendor, "MORANTI ", 9) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "VENDOR\u3000QV_ERR_CTL_NOT_SUPPORT");
    return QV_ERR_CTL_NOT_SUPPORT;
  }
  const char* row = CorvaneModelText(m_iDevType);
  if (!row || memcmp(info.szProduct, row, 17) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "ProductID\u3000QV_ERR_CTL_NOT_SUPPORT");
    return QV_ERR_CTL_NOT_SUPPORT;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

// Rules on tone, halftone, JPEG, double feed and the listed options, alike
// in the family classes; the JPEG type's failure word differs.
uint32_t KeloDevCtlCorvane::CheckToneAndFeedRules(const char* kTag, const char* jpegWord) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  auto fail = [&](uint32_t code, const char* message) {
    Log(LOG_LEVEL_ERROR, kTag, message);
    return code;
  };
  if (p.BRIGHTNESS < -127 || p.BRIGHTNESS > 127) return fail(QV_ERR_CTL_BRIGHTNESS, "QV_ERR_CTL_BRIGHTNESS");
  if (p.CONTRAST < -127 || p.CONTRAST > 127) return fail(QV_ERR_CTL_CONTRAST, "QV_ERR_CTL_CONTRAST");
  if (p.HALFTONE_TYPE > 1) return fail(QV_ERR_CTL_HT_TYPE, "QV_ERR_CTL_HT_TYPE");
  if (p.HALFTONE_PATTERN > 3) return fail(QV_ERR_CTL_HT_PATTERN, "QV_ERR_CTL_HT_PATTERN");
  if (p.JPEG_TYPE < 0x81 || p.JPEG_TYPE > 0x83) return fail(QV_ERR_CTL_JPEG_TYPE, jpegWord);
  if (p.JPEG_QUALITY < 1 || p.JPEG_QUALITY > 7) return fail(QV_ERR_CTL_JPEG_QUALITY, "QV_ERR_CTL_JPEG_QUALITY");
  if (p.DF_ACTION > 1) return fail(QV_ERR_CTL_DF, "QV_ERR_CTL_DF");
  if (HasList(&OPTION_LIST_INFO::tBackground) && p.BG_COLOR > 1)
    return fail(QV_ERR_CTL_BG_COLOR, "QV_ERR_CTL_BG_COLOR");
  if (p.DROPOUT_COLOR > 5) return fail(QV_ERR_CTL_DROPOUT_COLOR, "QV_ERR_CTL_DROPOUT_COLOR");
  if (HasList(&OPTION_LIST_INFO::tPrepick) && p.PREPICK > 1) return fail(QV_ERR_CTL_PREPICK, "QV_ERR_CTL_PREPICK");
  if (HasList(&OPTION_LIST_INFO::tSleepTimer) && p.SLEEP_TIMER > 60)
    return fail(QV_ERR_CTL_SLEEP_TIMER, "QV_ERR_CTL_SLEEP_TIMER");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoCheckPropList() {
  static const char* const kTag = "KeloDevCtlCorvane::DoCheckPropList";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  const int t = m_iDevType;
  const bool autoSize = p.PAPER_SIZE == 10;
  auto fail = [&](uint32_t code, const char* message) {
    Log(LOG_LEVEL_ERROR, kTag, message);
    return code;
  };
  if (HasList(&OPTION_LIST_INFO::tSource) && p.SCAN_SOURCE > 3)
    return fail(QV_ERR_CTL_SCAN_FACE, "QV_ERR_CTL_SCAN_FACE");
  if (p.IMAGE_MODE > 3) return fail(QV_ERR_CTL_SCAN_MODO, "QV_ERR_CTL_SCAN_MODO");
  if (p.SCAN_RES_X < 50 || p.SCAN_RES_X > 600) return fail(QV_ERR_CTL_RES_X, "QV_ERR_CTL_RES_X");
  if (p.SCAN_RES_Y < 50 || p.SCAN_RES_Y > 600) return fail(QV_ERR_CTL_RES_Y, "QV_ERR_CTL_RES_Y");
  if (!autoSize) {
    const QV_IMAGEDATA_INFO& g = *m_pImgDataInfo;
    if (g.tFront.iPixelsPerLine <= 0 || g.tFront.iLines <= 0 || g.tBack.iPixelsPerLine <= 0 || g.tBack.iLines <= 0)
      return fail(QV_ERR_CTL_PAPER_SIZE, "QV_ERR_CTL_PAPER_SIZE");
    if (p.RIGHT - p.LEFT < 1228.5039653929343 || p.BOTTOM - p.TOP < 1228.5039653929343)
      return fail(QV_ERR_CTL_PAPER_SIZE, "26m check error");
    if (p.PAPER_SIZE == 0 && p.SCAN_SOURCE != 0) {
      if (p.CUST_PAGE_WIDTH > 10206.03893294881)
        return fail(QV_ERR_CTL_PAPER_SIZE, "m_PropInfo.CUST_PAGE_WIDTH > (double) QV_MAX_PAPER_WIDTH");
      const char* high = "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_HIGH_DPI_MAX)";
      if (t != 35 && p.SCAN_RES_X <= 200 && p.CUST_PAGE_LENGTH > 150019.3222782985)
        return fail(QV_ERR_CTL_PAPER_SIZE,
                    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_LOW_DPI_MAX)");
      if (t != 35 && p.SCAN_RES_X > 200 && p.CUST_PAGE_LENGTH > 40805.255948089405)
        return fail(QV_ERR_CTL_PAPER_SIZE, high);
      if (t == 35 && p.CUST_PAGE_LENGTH > 16821.064167267483) return fail(QV_ERR_CTL_PAPER_SIZE, high);
    }
  }
  if (const uint32_t common = CheckToneAndFeedRules(kTag, "JPEG type not 0x81 to 0x83")) return common;
  if ((p.EDGE_PROCESSING & 0x9F) != 0 && p.EDGE_PROCESSING != 0xA0)
    return fail(QV_ERR_CTL_EMPHASIS, "QV_ERR_CTL_EMPHASIS");
  const uint8_t emphasis = p.IMAGE_EMPHASIS & 0x9F;
  if (emphasis != 0 && emphasis != 0x80) return fail(QV_ERR_CTL_EMPHASIS, "QV_ERR_CTL_EMPHASIS1");
  if (autoSize && p.PAGE_AUTO_PRIORITY > 1) return fail(QV_ERR_CTL_PAGE_AUTO_PRIORITY, "QV_ERR_CTL_PAGE_AUTO_PRIORITY");
  if (p.HOLE_PUNCH_REMOVE > 2) return fail(QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE, "QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE");
  if (p.BLANK_PAGE_SENSITIVITY < -2 || p.BLANK_PAGE_SENSITIVITY > 2)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY, "QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY");
  if (p.BLANK_PAGE_BLACK_RATIO > 3)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO, "QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO");
  if (p.BLANK_PAGE_WHITE_RATIO > 3)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO, "QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO");
  if (p.SDTC_VARIANCE != 1 && p.SDTC_VARIANCE != 96 && p.SDTC_VARIANCE != 192)
    return fail(QV_ERR_CTL_BW_SDTC_VARIANCE, "QV_ERR_CTL_BW_SDTC_VARIANCE");
  if (p.HARDWARE_PROC && (autoSize || p.AUTO_COLOR_DETECT)) {
    const bool limit200 = t == 8 || t == 10 || (t >= 12 && t <= 21);
    const bool limit300 = t == 3 || t == 7 || t == 9 || t == 11;
    if (limit200 && p.SCAN_RES_X > 200)
      return fail(QV_ERR_CTL_PAPER_SIZE, "device types 8, 10, 12-21: at most 200 dpi with automatic size or colour");
    if (limit300 && p.SCAN_RES_X > 300)
      return fail(QV_ERR_CTL_PAPER_SIZE, "device types 3, 7, 9, 11: at most 300 dpi with automatic size or colour");
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

// The double-feed page and the pages after it, alike in the family classes.
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
  if (HasList(&OPTION_LIST_INFO::tBackground)) {
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
  if (HasList(&OPTION_LIST_INFO::tPrepick)) {
    const unsigned char prepick[8] = {0x33, 0x06, static_cast<unsigned char>(p.PREPICK == 1 ? 0x80 : 0xC0)};
    if ((result = send(prepick, "(ulError = ModeSelect(szModePrePick)) != VK_OK")) != VK_OK) return result;
  }
  if (HasList(&OPTION_LIST_INFO::tSleepTimer)) {
    const unsigned char sleepMode[8] = {0x34, 0x06, p.SLEEP_TIMER};
    if ((result = send(sleepMode, "(ulError = ModeSelect(szModeSleepMode)) != VK_OK")) != VK_OK) return result;
  }
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoScanModeSetting() {
  static const char* const kTag = "KeloDevCtlCorvane::DoScanModeSetting";
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
  const int t = m_iDevType;
  unsigned char autoColor[8] = {0x32, 0x06, static_cast<unsigned char>(p.AUTO_COLOR_DETECT == 1 ? 0xF0 : 0xA0)};
  if ((result = send(autoColor, "(ulError = ModeSelect(szModeAutoColorDetection)) != VK_OK")) != VK_OK) return result;
  unsigned char pageLength[8] = {0x3C, 0x06};
  if (p.PAPER_SIZE == 10) {
    if (p.SCAN_SOURCE != 0 && p.PAGE_AUTO_PRIORITY) {
      pageLength[3] = 0x80;
      pageLength[5] = 0xC0;
    } else {
      pageLength[2] = 0x81;
      pageLength[3] = 0x80;
      pageLength[4] = 0x80;
    }
  }
  if ((result = send(pageLength, "(ulError = ModeSelect(szModePageLength)) != VK_OK")) != VK_OK) return result;
  unsigned char doubleFeed[8] = {0x38, 0x06, static_cast<unsigned char>(p.DF_ACTION == 0 ? 0xC0 : 0x80)};
  if (p.DF_THICKNESS) doubleFeed[2] |= 0x10;
  if (p.DF_LENGTH) doubleFeed[2] |= 0x08;
  if (t == 3 || (t >= 7 && t <= 21)) doubleFeed[3] = 0xC0;
  if ((result = SendLaterModePages(kTag, doubleFeed)) != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

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

uint32_t KeloDevCtlCorvane::DoSetWindowInfo() {
  static const char* const kTag = "KeloDevCtlCorvane::DoSetWindowInfo";
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
  } else if (p.PAPER_SIZE >= 0 && p.PAPER_SIZE <= 11) {
    FillWindowFromPage();
  } else {
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  w.usThreshold = p.THRESHOLD;
  if (p.HARDWARE_PROC) {
    static const uint8_t kComposition[4] = {0, 1, 2, 5};
    w.ucComposition = kComposition[p.IMAGE_MODE & 3];
    w.usBitsPerPixel = p.IMAGE_MODE <= 1 ? 1 : 8;
  } else {
    w.ucComposition = 5;
    w.usBitsPerPixel = 8;
  }
  FillWindowSettings();

  const uint32_t result = SendWindowBySource(kTag, p.AUTO_COLOR_DETECT == 1);
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

uint32_t KeloDevCtlCorvane::DoTryLampOn() {
  static const char* const kTag = "KeloDevCtlCorvane::DoTryLampOn";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const time_t first = time(nullptr);
  for (;;) {
    uint32_t result = LampControl(true);
    if (result == VK_OK) break;
    if (result != QV_ERR_CTL_STATUS_NOT_GOOD || m_ucLastStatus != 2) {
      Log(LOG_LEVEL_ERROR, kTag, "ulError != VK_OK");
      return result;
    }
    usleep(50000);
    if (time(nullptr) - first > 120) return QV_ERR_CTL_STATUS_NOT_GOOD;
    QV_SENSE sense{};
    if ((result = RequestSense(&sense)) != VK_OK) {
      Log(LOG_LEVEL_ERROR, kTag, "RequestSense(&Sense) != VK_OK");
      return result;
    }
    if (sense.ucSenseKey == 0) break;
    if (sense.ucSenseKey != 2) {
      Log(LOG_LEVEL_ERROR, kTag, "RequestSense(&Sense) == VK_OK other error");
      break;
    }
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoCheckScanReady() {
  static const char* const kTag = "KeloDevCtlCorvane::DoCheckScanReady";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const long long first = NowUs();
  for (int tries = 1;; ++tries) {
    uint32_t result = TestUnitReady();
    if (result == VK_OK) break;
    if (result != QV_ERR_CTL_STATUS_NOT_GOOD) {
      Log(LOG_LEVEL_ERROR, kTag, "other error");
      return result;
    }
    if (m_ucLastStatus != 8) {
      result = DoCheckReturnError(result);
      if (result != QV_ERR_CTL_NOT_READY) {
        Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STATUS_NOT_GOOD");
        return result;
      }
    }
    if (tries > kReadyTries && NowUs() - first > kReadyUs) {
      Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_TIMEOUT");
      return QV_ERR_CTL_TIMEOUT;
    }
    usleep(3000);
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoClearDeviceDataBuf(bool flag) { return flag ? CancelReadImageData() : VK_OK; }

namespace {
bool IsSheetFailure(uint32_t code, bool noPaperFails) {
  return code == QV_ERR_CTL_PAPER_JAM || code == QV_ERR_CTL_COVER_OPEN || code == QV_ERR_CTL_DOUBLE_FEED ||
         code == QV_ERR_CTL_DATA_NOT_ENOUGH || (noPaperFails && code == QV_ERR_CTL_NO_PAPER);
}
}  // namespace

uint32_t KeloDevCtlCorvane::DoADFCheck() {
  static const char* const kTag = "KeloDevCtlCorvane::DoADFCheck";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  QV_HARDWARE_STATUS status{};
  uint32_t result = GetHardwareStatus(&status);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = GetHardwareStatus(&Status)) != VK_OK");
    return result;
  }
  result = GetProperError();
  if (IsSheetFailure(result, true)) {
    Log(LOG_LEVEL_ERROR, kTag, "ulError = GetProperError();");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoCheckPaperJam() {
  static const char* const kTag = "KeloDevCtlCorvane::DoCheckPaperJam";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  QV_HARDWARE_STATUS status{};
  uint32_t result = GetHardwareStatus(&status);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = GetHardwareStatus(&Status)) != VK_OK");
    return result;
  }
  result = GetProperError();
  if (IsSheetFailure(result, false)) {
    Log(LOG_LEVEL_ERROR, kTag, "ulError = GetProperError();");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoLoadPaper() {
  if (m_PropInfo.SCAN_SOURCE == 0) return VK_OK;
  uint32_t result = PaperControl(true);
  if (result == QV_ERR_CTL_STATUS_NOT_GOOD && m_ucLastStatus == 2) return GetProperError();
  return result;
}

uint32_t KeloDevCtlCorvane::DoEjectPaper() {
  if (m_PropInfo.SCAN_SOURCE == 0) return VK_OK;
  uint32_t result = PaperControl(false);
  if (result == QV_ERR_CTL_STATUS_NOT_GOOD && m_ucLastStatus == 2) {
    result = GetProperError();
    if (result == QV_ERR_CTL_NO_PAPER) result = VK_OK;
  }
  return result;
}

uint32_t KeloDevCtlCorvane::DoStartScan() {
  static const char* const kTag = "KeloDevCtlCorvane::DoStartScan";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  if (source > 3) return VK_OK;
  uint32_t result;
  if (m_PropInfo.AUTO_COLOR_DETECT == 1) {
    result = AutoColorDetectScan(source <= 1 ? 0x01 : (source == 2 ? 0x81 : 0xFF));
    if (result != VK_OK) {
      Log(LOG_LEVEL_ERROR, kTag, "AutoColorDetectScan() error");
      return result;
    }
    result = DoGetAutoColorDetectInfo();
    if (result != VK_OK) Log(LOG_LEVEL_ERROR, kTag, "DoGetAutoColorDetectInfo() error");
  } else {
    result = Scan(source <= 1 ? 0x00 : (source == 2 ? 0x80 : 0xFF));
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::DoGetAutoColorDetectInfo() {
  static const char* const kTag = "KeloDevCtlCorvane::DoGetAutoColorDetectInfo";
  QV_AUTO_COLOR_DETECT_INFO info{};
  const long long first = NowUs();
  uint32_t result;
  while ((result = GetAutoColorDetectInfo(&info)) == QV_ERR_CTL_STATUS_NOT_GOOD) {
    Log(LOG_LEVEL_TRACE, kTag, "ulError = GetAutoColorDetectInfo() != VK_OK continue");
    if (NowUs() - first > 120LL * 1000000) return QV_ERR_CTL_TIMEOUT;
    if (m_bIsCancel) return SANE_STATUS_CANCELLED;  // no front end waits two minutes for a cancel
  }
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "ulError = GetAutoColorDetectInfo() != VK_OK");
    Log(LOG_LEVEL_ERROR, kTag, "!m_AutoColorInfo.bFImg");
    return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
  }
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  if (source != 2 && !info.bFImg) {
    Log(LOG_LEVEL_ERROR, kTag, "!m_AutoColorInfo.bFImg");
    return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
  }
  if ((source == 2 || source == 3) && !info.bBImg) {
    Log(LOG_LEVEL_ERROR, kTag, "!m_AutoColorInfo.bBImg");
    return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
  }
  AUTO_COLOR_DETECT_INFO& a = m_AutoColorDetectInfo;
  a.ucFWinID = info.ucFWinID;
  a.ucBWinID = info.ucBWinID;
  a.ucFMode = info.ucFWinID == 0 ? 3 : 0;
  a.ucBMode = info.ucBWinID == 0x80 ? 3 : 0;
  a.iFFail = info.bFlag1 && info.bFlag2 ? 1 : 0;
  a.iBFail = info.bFlag3 && info.bFlag4 ? 1 : 0;
  a.usValue = info.usValue;
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::SetFirstReadDate() {
  static const char* const kTag = "KeloDevCtlCorvane::SetFirstReadDate";
  uint8_t year = 0, month = 0, day = 0;
  uint32_t result = GetSelfTestDate(&year, &month, &day);
  if (result == VK_OK && year && month && day) return VK_OK;
  if (result == VK_OK) {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    result = SetSelfTestDate(static_cast<uint8_t>(local.tm_year % 100), static_cast<uint8_t>(local.tm_mon + 1),
                             static_cast<uint8_t>(local.tm_mday));
  }
  Log(LOG_LEVEL_ERROR, kTag, "err_handle");
  return result;
}

uint32_t KeloDevCtlCorvane::DoCreateDevice() {
  uint32_t result = SetFirstReadDate();
  if (result != VK_OK)
    Log(LOG_LEVEL_ERROR, "KeloDevCtlCorvane::DoCreateDevice", "(ulError = SetFirstReadDate()) != VK_OK");
  return result;
}

uint32_t KeloDevCtlCorvane::DoReleaseDevice() {
  Log(LOG_LEVEL_TRACE, "KeloDevCtlCorvane::DoReleaseDevice", "start");
  Log(LOG_LEVEL_TRACE, "KeloDevCtlCorvane::DoReleaseDevice", "end");
  return VK_OK;
}

}  // namespace dravnmain
