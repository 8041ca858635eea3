// The Corvane device class: identity, the model and sense tables, the
// property rules and the open-time steps; the Corvane5 class's family rules
// of identity and properties.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

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

// Dots of 1/1200 inch in n millimetres.
constexpr double Mm(double n) { return n * 65536.0 / 1387.0; }

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

// The longest Corvane5 feeder page by horizontal resolution, in millimetres.
double Corvane5AdfHeightMm(unsigned resX) {
  if (resX <= 200) return 5588;
  if (resX <= 300) return 5461;
  if (resX <= 400) return 4064;
  return 2700;
}

const char* const kCorvane5LengthWords[4] = {
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_50_200)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_201_300)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_301_400)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_401_600)",
};

// Product texts of Corvane5 types 31-34 (first group) and 36-45 (second).
struct Corvane5Texts {
  char text[14][17];
  Corvane5Texts() {
    for (int i = 0; i < 14; ++i) {
      const char* name = i < 4 ? dravn::kTavrin5Models[i].deviceName : dravn::kTavrin5EModels[i - 4].deviceName;
      memset(text[i], ' ', 16);
      memcpy(text[i], name, strnlen(name, 16));
      text[i][16] = '\0';
    }
  }
};

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

const char* Corvane5ModelText(int devType) {
  static const Corvane5Texts texts;
  if (devType >= 31 && devType <= 34) return texts.text[devType - 31];
  if (devType >= 36 && devType <= 45) return texts.text[devType - 36 + 4];
  return nullptr;
}

KeloDevCtlCorvane::KeloDevCtlCorvane() = default;
KeloDevCtlCorvane::~KeloDevCtlCorvane() = default;
KeloDevCtlCorvane5::KeloDevCtlCorvane5() = default;
KeloDevCtlCorvane5::~KeloDevCtlCorvane5() = default;

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

const char* KeloDevCtlCorvane::ExpectedProduct() const { return CorvaneModelText(m_iDevType); }
const char* KeloDevCtlCorvane5::ExpectedProduct() const { return Corvane5ModelText(m_iDevType); }

uint32_t KeloDevCtlCorvane::DoCheckDeviceCondition() {
  const std::string tag = Tag("DoCheckDeviceCondition");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  QV_HARDWARE_INFO info{};
  uint32_t result = GetHardwareInfo(&info);
  if (result != VK_OK) {
    Log(LOG_LEVEL_TRACE, kTag, "end");
    return result;
  }
  if (memcmp(info.szVendor, "MORANTI ", 9) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "VENDOR\u3000QV_ERR_CTL_NOT_SUPPORT");
    return QV_ERR_CTL_NOT_SUPPORT;
  }
  const char* expected = ExpectedProduct();
  if (!expected || memcmp(info.szProduct, expected, 17) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "ProductID\u3000QV_ERR_CTL_NOT_SUPPORT");
    return QV_ERR_CTL_NOT_SUPPORT;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::CheckToneAndFeedRules(const char* kTag) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  auto fail = [&](uint32_t code, const char* message) {
    Log(LOG_LEVEL_ERROR, kTag, message);
    return code;
  };
  if (p.BRIGHTNESS < -127 || p.BRIGHTNESS > 127) return fail(QV_ERR_CTL_BRIGHTNESS, "QV_ERR_CTL_BRIGHTNESS");
  if (p.CONTRAST < -127 || p.CONTRAST > 127) return fail(QV_ERR_CTL_CONTRAST, "QV_ERR_CTL_CONTRAST");
  if (p.HALFTONE_TYPE > 1) return fail(QV_ERR_CTL_HT_TYPE, "QV_ERR_CTL_HT_TYPE");
  if (p.HALFTONE_PATTERN > 3) return fail(QV_ERR_CTL_HT_PATTERN, "QV_ERR_CTL_HT_PATTERN");
  if (p.JPEG_TYPE < 0x81 || p.JPEG_TYPE > 0x83) return fail(QV_ERR_CTL_JPEG_TYPE, JpegTypeWord());
  if (p.JPEG_QUALITY < 1 || p.JPEG_QUALITY > 7) return fail(QV_ERR_CTL_JPEG_QUALITY, "QV_ERR_CTL_JPEG_QUALITY");
  if (p.DF_ACTION > 1) return fail(QV_ERR_CTL_DF, "QV_ERR_CTL_DF");
  if (RowHasList(&OPTION_LIST_INFO::tBackground) && p.BG_COLOR > 1)
    return fail(QV_ERR_CTL_BG_COLOR, "QV_ERR_CTL_BG_COLOR");
  if (p.DROPOUT_COLOR > 5) return fail(QV_ERR_CTL_DROPOUT_COLOR, "QV_ERR_CTL_DROPOUT_COLOR");
  if (RowHasList(&OPTION_LIST_INFO::tPrepick) && p.PREPICK > 1) return fail(QV_ERR_CTL_PREPICK, "QV_ERR_CTL_PREPICK");
  if (RowHasList(&OPTION_LIST_INFO::tSleepTimer) && p.SLEEP_TIMER > 60)
    return fail(QV_ERR_CTL_SLEEP_TIMER, "QV_ERR_CTL_SLEEP_TIMER");
  return VK_OK;
}

// Family rule: type 35 takes short custom pages only, the others a long one
// at low resolution.
const char* KeloDevCtlCorvane::CustomLengthFailure() const {
  const SCAN_PROP_INFO& p = m_PropInfo;
  const char* high = "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_HIGH_DPI_MAX)";
  if (m_iDevType == 35) return p.CUST_PAGE_LENGTH > 16821.064167267483 ? high : nullptr;
  if (p.SCAN_RES_X <= 200)
    return p.CUST_PAGE_LENGTH > 150019.3222782985
               ? "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_LOW_DPI_MAX)"
               : nullptr;
  return p.CUST_PAGE_LENGTH > 40805.255948089405 ? high : nullptr;
}

// Family rule: the Corvane5 limit falls in four resolution bands.
const char* KeloDevCtlCorvane5::CustomLengthFailure() const {
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (p.CUST_PAGE_LENGTH <= Mm(Corvane5AdfHeightMm(p.SCAN_RES_X))) return nullptr;
  const unsigned x = p.SCAN_RES_X;
  return kCorvane5LengthWords[x <= 200 ? 0 : (x <= 300 ? 1 : (x <= 400 ? 2 : 3))];
}

// Family rule: older qv types take automatic size or colour only at low
// resolutions.
uint32_t KeloDevCtlCorvane::CheckLastRules(const char* kTag) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  const int t = m_iDevType;
  if (!p.HARDWARE_PROC || !(p.PAPER_SIZE == 10 || p.AUTO_COLOR_DETECT)) return VK_OK;
  const bool limit200 = t == 8 || t == 10 || (t >= 12 && t <= 21);
  const bool limit300 = t == 3 || t == 7 || t == 9 || t == 11;
  const char* word = nullptr;
  if (limit200 && p.SCAN_RES_X > 200)
    word = "device types 8, 10, 12-21: at most 200 dpi with automatic size or colour";
  else if (limit300 && p.SCAN_RES_X > 300)
    word = "device types 3, 7, 9, 11: at most 300 dpi with automatic size or colour";
  if (!word) return VK_OK;
  Log(LOG_LEVEL_ERROR, kTag, word);
  return QV_ERR_CTL_PAPER_SIZE;
}

// Family rule: the Corvane5 crop margin, index tab and paper protection, and
// 400 dpi at most with automatic size or colour.
uint32_t KeloDevCtlCorvane5::CheckLastRules(const char* kTag) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool autoSize = p.PAPER_SIZE == 10;
  auto fail = [&](uint32_t code, const char* word) {
    Log(LOG_LEVEL_ERROR, kTag, word);
    return code;
  };
  if (autoSize && (p.CROPPING_MARGIN < -5 || p.CROPPING_MARGIN > 5))
    return fail(QV_ERR_CTL_CROPPING_MARGIN, "QV_ERR_CTL_CROPPING_MARGIN");
  if (autoSize && p.IMAGE_INDEX_TAB > 1) return fail(QV_ERR_CTL_IMAGE_INDEX_TAB, "QV_ERR_CTL_IMAGE_INDEX_TAB");
  if (p.PAPER_PROTECTION > 2) return fail(QV_ERR_CTL_PAPER_PROTECTION_MODE, "QV_ERR_CTL_PAPER_PROTECTION_MODE");
  if (p.HARDWARE_PROC && (autoSize || p.AUTO_COLOR_DETECT != 0) && p.SCAN_RES_X > 400)
    return fail(QV_ERR_CTL_PAPER_SIZE,
                "m_PropInfo.HARDWARE_PROC && (PAGE_AUTO || AUTO_COLOR_DETECT) && m_PropInfo.SCAN_RES_X > 400");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoCheckPropList() {
  const std::string tag = Tag("DoCheckPropList");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool autoSize = p.PAPER_SIZE == 10;
  auto fail = [&](uint32_t code, const char* message) {
    Log(LOG_LEVEL_ERROR, kTag, message);
    return code;
  };
  if (RowHasList(&OPTION_LIST_INFO::tSource) && p.SCAN_SOURCE > 3)
    return fail(QV_ERR_CTL_SCAN_FACE, "QV_ERR_CTL_SCAN_FACE");
  if (p.IMAGE_MODE > 3) return fail(QV_ERR_CTL_SCAN_MODO, "QV_ERR_CTL_SCAN_MODO");
  if (p.SCAN_RES_X < 50 || p.SCAN_RES_X > 600) return fail(QV_ERR_CTL_RES_X, "QV_ERR_CTL_RES_X");
  if (p.SCAN_RES_Y < 50 || p.SCAN_RES_Y > 600) return fail(QV_ERR_CTL_RES_Y, "QV_ERR_CTL_RES_Y");
  if (!autoSize) {
    const QV_IMAGEDATA_INFO& g = *m_pImgDataInfo;
    if (g.tFront.iPixelsPerLine <= 0 || g.tFront.iLines <= 0 || g.tBack.iPixelsPerLine <= 0 || g.tBack.iLines <= 0)
      return fail(QV_ERR_CTL_PAPER_SIZE, "QV_ERR_CTL_PAPER_SIZE");
    const double side = ShortestSide();
    if (p.RIGHT - p.LEFT < side || p.BOTTOM - p.TOP < side) return fail(QV_ERR_CTL_PAPER_SIZE, "26m check error");
    if (p.PAPER_SIZE == 0 && p.SCAN_SOURCE != 0) {
      if (p.CUST_PAGE_WIDTH > Mm(216))
        return fail(QV_ERR_CTL_PAPER_SIZE, "m_PropInfo.CUST_PAGE_WIDTH > (double) QV_MAX_PAPER_WIDTH");
      if (const char* word = CustomLengthFailure()) return fail(QV_ERR_CTL_PAPER_SIZE, word);
    }
  }
  if (const uint32_t common = CheckToneAndFeedRules(kTag)) return common;
  // Edge processing 0x00, 0x20, 0x40, 0x60 or 0xA0; emphasis bits 0-4 clear.
  if ((p.EDGE_PROCESSING & 0x9F) != 0 && p.EDGE_PROCESSING != 0xA0)
    return fail(QV_ERR_CTL_EMPHASIS, "QV_ERR_CTL_EMPHASIS");
  if ((p.IMAGE_EMPHASIS & 0x1F) != 0) return fail(QV_ERR_CTL_EMPHASIS, "QV_ERR_CTL_EMPHASIS1");
  if (autoSize && p.PAGE_AUTO_PRIORITY > 1) return fail(QV_ERR_CTL_PAGE_AUTO_PRIORITY, "QV_ERR_CTL_PAGE_AUTO_PRIORITY");
  if (p.HOLE_PUNCH_REMOVE > 2) return fail(QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE, "QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE");
  if (p.BLANK_PAGE_SENSITIVITY < -2 || p.BLANK_PAGE_SENSITIVITY > 2)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY, "QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY");
  if (p.BLANK_PAGE_BLACK_RATIO > 3)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO, "QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO");
  if (p.BLANK_PAGE_WHITE_RATIO > 3)
    return fail(QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO, "QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO");
  if (p.SDTC_VARIANCE != 0x01 && p.SDTC_VARIANCE != 0x60 && p.SDTC_VARIANCE != 0xC0)
    return fail(QV_ERR_CTL_BW_SDTC_VARIANCE, "QV_ERR_CTL_BW_SDTC_VARIANCE");
  if (const uint32_t last = CheckLastRules(kTag)) return last;
  Log(LOG_LEVEL_TRACE, kTag, "end");
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
