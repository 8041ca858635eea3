// KeloDevCtlCorvane5: identification, property rules, mode pages, window,
// tone tables, start, batch mode and the power-off timer of the Corvane5
// family. Transport, sheet reading and paper handling are the Corvane
// class's.
#include <cstring>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"
#include "model_catalog.h"
#include "usb_manager.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

bool HasList(OPTION_INFO OPTION_LIST_INFO::*list) { return g_tpOptListInfo && (g_tpOptListInfo->*list).iPresent; }

// Dots of 1/1200 inch in n millimetres.
constexpr double Mm(double n) { return n * 65536.0 / 1387.0; }

// The longest ADF page by horizontal resolution, in millimetres.
double AdfHeightLimitMm(unsigned resX) {
  if (resX <= 200) return 5588;
  if (resX <= 300) return 5461;
  if (resX <= 400) return 4064;
  return 2700;
}

const char* const kLengthWords[4] = {
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_50_200)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_201_300)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_301_400)",
    "m_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(QV_SCAN_ADF_HEIGHT_MAX_TAVRIN5_401_600)",
};

int ResolutionBand(unsigned resX) { return resX <= 200 ? 0 : (resX <= 300 ? 1 : (resX <= 400 ? 2 : 3)); }

// Product texts of types 31-34 (first group) and 36-45 (second group).
struct ModelTexts {
  char text[14][17];
  ModelTexts() {
    for (int i = 0; i < 14; ++i) {
      const char* name = i < 4 ? dravn::kTavrin5Models[i].deviceName : dravn::kTavrin5EModels[i - 4].deviceName;
      memset(text[i], ' ', 16);
      memcpy(text[i], name, strnlen(name, 16));
      text[i][16] = '\0';
    }
  }
};

// The failure words of one command's three transfers and its status.
struct StepWords {
  const char* command;
  const char* data;
  const char* status;
  const char* notGood;  // null: the status is read but not judged
};

constexpr int kDiagText = 16;

}  // namespace

const char* Corvane5ModelText(int devType) {
  static const ModelTexts texts;
  if (devType >= 31 && devType <= 34) return texts.text[devType - 31];
  if (devType >= 36 && devType <= 45) return texts.text[devType - 36 + 4];
  return nullptr;
}

KeloDevCtlCorvane5::KeloDevCtlCorvane5() = default;
KeloDevCtlCorvane5::~KeloDevCtlCorvane5() = default;

uint32_t KeloDevCtlCorvane5::DoCheckDeviceCondition() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoCheckDeviceCondition";
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
  const char* expected = Corvane5ModelText(m_iDevType);
  if (!expected || memcmp(info.szProduct, expected, 17) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "ProductID\u3000QV_ERR_CTL_NOT_SUPPORT");
    return QV_ERR_CTL_NOT_SUPPORT;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoCheckPropList() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoCheckPropList";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool autoSize = p.PAPER_SIZE == 10;
  auto fail = [&](uint32_t code, const char* word) {
    Log(LOG_LEVEL_ERROR, kTag, word);
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
    if (p.RIGHT - p.LEFT < Mm(26) || p.BOTTOM - p.TOP < Mm(26)) return fail(QV_ERR_CTL_PAPER_SIZE, "26m check error");
    if (p.PAPER_SIZE == 0 && p.SCAN_SOURCE != 0) {
      if (p.CUST_PAGE_WIDTH > Mm(216))
        return fail(QV_ERR_CTL_PAPER_SIZE, "m_PropInfo.CUST_PAGE_WIDTH > (double) QV_MAX_PAPER_WIDTH");
      if (p.CUST_PAGE_LENGTH > Mm(AdfHeightLimitMm(p.SCAN_RES_X)))
        return fail(QV_ERR_CTL_PAPER_SIZE, kLengthWords[ResolutionBand(p.SCAN_RES_X)]);
    }
  }
  if (const uint32_t common = CheckToneAndFeedRules(kTag, "QV_ERR_CTL_HT_TYPE")) return common;
  if ((p.EDGE_PROCESSING & ~0x60) != 0 && p.EDGE_PROCESSING != 0xA0)
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
  if (autoSize && (p.CROPPING_MARGIN < -5 || p.CROPPING_MARGIN > 5))
    return fail(QV_ERR_CTL_CROPPING_MARGIN, "QV_ERR_CTL_CROPPING_MARGIN");
  if (autoSize && p.IMAGE_INDEX_TAB > 1) return fail(QV_ERR_CTL_IMAGE_INDEX_TAB, "QV_ERR_CTL_IMAGE_INDEX_TAB");
  if (p.PAPER_PROTECTION > 2) return fail(QV_ERR_CTL_PAPER_PROTECTION_MODE, "QV_ERR_CTL_PAPER_PROTECTION_MODE");
  if (p.HARDWARE_PROC && (autoSize || p.AUTO_COLOR_DETECT != 0) && p.SCAN_RES_X > 400)
    return fail(QV_ERR_CTL_PAPER_SIZE,
                "m_PropInfo.HARDWARE_PROC && (PAGE_AUTO || AUTO_COLOR_DETECT) && m_PropInfo.SCAN_RES_X > 400");
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoScanModeSetting() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoScanModeSetting";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  uint32_t result;
  auto send = [&](const unsigned char* page, const char* word) {
    uint32_t r = ModeSelect(page);
    if (r != VK_OK) Log(LOG_LEVEL_ERROR, kTag, word);
    return r;
  };
  if (p.SCAN_SOURCE == 0) {
    if ((result = ScannerControl(true)) != VK_OK) {
      Log(LOG_LEVEL_ERROR, kTag, "(ulError = ScannerControl(true)) != VK_OK");
      return result;
    }
  } else if ((result = ScannerControl(false)) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = ScannerControl(false)) != VK_OK");
    return result;
  }
  if (p.AUTO_COLOR_DETECT == 1 && (result = SetAutoColor()) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = SetAutoColor()) != VK_OK");
    return result;
  }
  const unsigned char autoColour[8] = {0x32, 0x06, static_cast<unsigned char>(p.AUTO_COLOR_DETECT == 1 ? 0xFA : 0xA0)};
  if ((result = send(autoColour, "(ulError = ModeSelect(szModeAutoColorDetection)) != VK_OK")) != VK_OK) return result;

  unsigned char pageLength[8] = {0x3C, 0x06};
  if (p.PAPER_SIZE == 10) {
    if (p.SCAN_SOURCE == 0) {
      pageLength[2] = 0x81, pageLength[3] = 0x80, pageLength[4] = 0x80;
    } else if (p.PAGE_AUTO_PRIORITY) {
      pageLength[2] = 0x04, pageLength[3] = 0x80, pageLength[5] = 0xCC;
    } else {
      pageLength[2] = 0x87, pageLength[3] = 0x80, pageLength[4] = 0x80;
      pageLength[5] = p.IMAGE_INDEX_TAB ? 0x08 : 0x0C;
      const int m = p.CROPPING_MARGIN;
      if (m != 0) {
        pageLength[5] |= m > 0 ? 0xE0 : 0xD0;
        pageLength[6] = static_cast<unsigned char>((m > 0 ? m : -m) * 10);
      }
    }
  }
  if ((result = send(pageLength, "(ulError = ModeSelect(szModePageLength)) != VK_OK")) != VK_OK) return result;

  static const unsigned char kProtection[3] = {0xC8, 0x88, 0x08};
  static const unsigned char kProtectionFirstGroup[3] = {0xC0, 0x80, 0x00};
  unsigned char doubleFeed[8] = {0x38, 0x06};
  doubleFeed[2] = static_cast<unsigned char>(0x80 | (p.DF_ACTION == 0 ? 0x40 : 0) | (p.DF_THICKNESS ? 0x10 : 0) |
                                             (p.DF_LENGTH ? 0x08 : 0));
  const int protection = p.PAPER_PROTECTION <= 2 ? p.PAPER_PROTECTION : 2;
  doubleFeed[3] = kProtection[protection];
  if (m_iDevType >= 31 && m_iDevType <= 34) doubleFeed[5] = kProtectionFirstGroup[protection];
  if ((result = SendLaterModePages(kTag, doubleFeed)) != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoSetWindowInfo() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSetWindowInfo";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  SCAN_PROP_INFO& p = m_PropInfo;
  QV_WINDOW_INFO& w = m_WindowInfo;
  w.usResX = p.SCAN_RES_X;
  w.usResY = p.SCAN_RES_Y;
  w.ulLeft = static_cast<uint32_t>(p.LEFT);
  w.ulTop = static_cast<uint32_t>(p.TOP);
  w.ulWidth = w.ulDocWidth = 10206;
  if (p.PAPER_SIZE == 10) {
    p.LEFT = p.TOP = 0;
    p.RIGHT = Mm(216);
    w.ulLeft = w.ulTop = 0;
    double bottom;
    if (p.SCAN_SOURCE == 0)
      bottom = 14032;
    else if (p.AUTO_COLOR_DETECT == 1)
      bottom = Mm(355.6);
    else
      bottom = Mm(AdfHeightLimitMm(p.SCAN_RES_X)) + 1504;
    w.ulLength = w.ulDocLength = static_cast<uint32_t>(bottom);
    p.BOTTOM = bottom;
  } else if (p.PAPER_SIZE >= 0 && p.PAPER_SIZE <= 11) {
    FillWindowFromPage();
  } else {
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  w.usThreshold = p.THRESHOLD;
  if (p.HARDWARE_PROC && p.AUTO_COLOR_DETECT != 1) {
    static const uint8_t kComposition[4] = {0, 1, 2, 5};
    if (p.IMAGE_MODE <= 3) {
      w.ucComposition = kComposition[p.IMAGE_MODE];
      w.usBitsPerPixel = p.IMAGE_MODE <= 1 ? 1 : 8;
    }
  } else {
    // The page comes in colour; the host reduces it.
    w.ucComposition = 5;
    w.usBitsPerPixel = 8;
  }
  FillWindowSettings();
  const uint32_t result = SendWindowBySource(kTag, false);
  if (result != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoSendLUTTable() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSendLUTTable";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (!p.HARDWARE_PROC) {
    for (int i = 0; i < 256; ++i) m_szLUTTable[i] = static_cast<unsigned char>(i);
  } else if (p.AUTO_COLOR_DETECT == 1 || p.IMAGE_MODE == 2 || p.IMAGE_MODE == 3) {
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 230, 10, 16, m_szLUTTable);
  } else if (p.IMAGE_MODE == 0) {
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, 10, m_szLUTTable);
  } else if (p.IMAGE_MODE == 1) {
    ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, 16, m_szLUTTable);
  }
  const uint32_t result = SendToneTables(kTag);
  if (result != VK_OK) return result;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoTryLampOn() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoTryLampOn";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint32_t result = DoBatch(true);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoBatch(true) != VK_OK ");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoStartScan() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoStartScan";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  if (source > 3) {
    Log(LOG_LEVEL_TRACE, kTag, "end");
    return VK_OK;
  }
  uint32_t result = Scan(source <= 1 ? 0x00 : (source == 2 ? 0x80 : 0xFF));
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "Scan() != VK_OK");
    return result;
  }
  if (m_PropInfo.AUTO_COLOR_DETECT == 1 && (result = DoGetAutoColorDetectInfo()) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoGetAutoColorDetectInfo() error");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

namespace {

// One command with an optional data phase and its status block, each
// failure with its own word. The status code is kept in *lastStatus.
uint32_t RunStep(KeloDevCtlCorvane& dev, KeloManagerUsb* usb, const char* tag, const unsigned char* cdb,
                 unsigned char* out, uint32_t outLength, unsigned char* in, uint32_t inLength, const StepWords& words,
                 uint8_t* lastStatus) {
  if (dev.RawWriteCommand(cdb, 6) != VK_OK) {
    Log(LOG_LEVEL_ERROR, tag, words.command);
    return QV_ERR_CTL_COMMAND;
  }
  if (out && (!usb || usb->RawWriteData(out, outLength) != 0)) {
    Log(LOG_LEVEL_ERROR, tag, words.data);
    return QV_ERR_CTL_DATA_OUT;
  }
  if (in) {
    unsigned int count = 0;
    if (!usb || usb->RawReadData(in, inLength, &count) != 0 || count != inLength) {
      Log(LOG_LEVEL_ERROR, tag, words.data);
      return QV_ERR_CTL_DATA_IN;
    }
  }
  uint8_t status = 0;
  if (dev.RawReadStatus(&status) != VK_OK) {
    Log(LOG_LEVEL_ERROR, tag, words.status);
    return QV_ERR_CTL_STATUS;
  }
  *lastStatus = status;
  if (words.notGood && status != 0) {
    Log(LOG_LEVEL_ERROR, tag, words.notGood);
    return QV_ERR_CTL_STATUS_NOT_GOOD;
  }
  return VK_OK;
}

}  // namespace

uint32_t KeloDevCtlCorvane5::DoBatch(bool batch) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoBatch";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (batch == m_bLocalOccupy) {
    Log(LOG_LEVEL_TRACE, kTag, "bBatch == m_bLocalOccupy end");
    return VK_OK;
  }
  const unsigned char cdb[6] = {0x15, 0x10, 0x00, 0x00, 0x0C, 0x00};
  unsigned char data[12] = {0, 0, 0, 0, 0x2C, 0x06, static_cast<unsigned char>(batch ? 0x00 : 0x01)};
  static const StepWords kWords = {"Sending command to device failed", "Sending data to device failed",
                                   "It's failed to receive status byte", "Status not good"};
  const uint32_t result = RunStep(*this, m_pUsbManager, kTag, cdb, data, sizeof data, nullptr, 0, kWords,
                                  &m_ucLastStatus);
  // After any failed switch the scanner is not assumed held.
  m_bLocalOccupy = result == VK_OK ? batch : false;
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoGetDevicePowerOffTime(uint8_t* code, uint8_t* second) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoGetDevicePowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!code || !second) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  const unsigned char sendCdb[6] = {0x1D, 0x00, 0x00, 0x00, 0x10, 0x00};
  unsigned char text[kDiagText];
  memcpy(text, "GET POWOFF TIME ", kDiagText);
  static const StepWords kFirst = {"Sending 1st command to device failed", "Sending parameter list to device failed",
                                   "Receiving status byte for 1st command failed", nullptr};
  uint32_t result = RunStep(*this, m_pUsbManager, kTag, sendCdb, text, kDiagText, nullptr, 0, kFirst,
                            &m_ucLastStatus);
  if (result != VK_OK) return result;
  const unsigned char receiveCdb[6] = {0x1C, 0x00, 0x00, 0x00, 0x02, 0x00};
  unsigned char reply[2] = {};
  static const StepWords kSecond = {"Sending 2nd command to device failed", "Receiving data (in) failed",
                                    "Receiving status byte for 2nd command failed", "Status not good"};
  result = RunStep(*this, m_pUsbManager, kTag, receiveCdb, nullptr, 0, reply, sizeof reply, kSecond, &m_ucLastStatus);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  *code = reply[0];
  *second = reply[1];
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoSetDevicePowerOffTime(uint8_t code, uint8_t second) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSetDevicePowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const unsigned char cdb[6] = {0x1D, 0x00, 0x00, 0x00, 0x12, 0x00};
  unsigned char data[kDiagText + 2];
  memcpy(data, "SET POWOFF TIME ", kDiagText);
  data[kDiagText] = code;
  data[kDiagText + 1] = second;
  static const StepWords kWords = {"Sending  command to device failed", "Sending parameter list to device (out) failed",
                                   "Receive status byte for  command failed", "Status not good"};
  const uint32_t result =
      RunStep(*this, m_pUsbManager, kTag, cdb, data, sizeof data, nullptr, 0, kWords, &m_ucLastStatus);
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoSetPowerOff(bool off, unsigned minutes) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSetPowerOff";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  uint8_t current = 0, currentSecond = 0;
  uint32_t result = DoGetDevicePowerOffTime(&current, &currentSecond);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoGetDevicePowerOffTime != VK_OK");
    return result;
  }
  uint8_t code, second;
  if (minutes >= 15 && minutes <= 1890 && minutes % 15 == 0) {
    code = static_cast<uint8_t>(minutes / 15);
    second = 30;
  } else if (minutes == 3) {
    code = 127;
    second = 6;
  } else {
    code = current & 0x7F;
    second = code == 127 ? 6 : 30;
  }
  result = off ? DoSetDevicePowerOffTime(static_cast<uint8_t>(code | 0x80), 30) : DoSetDevicePowerOffTime(code, second);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoSetDevicePowerOffTime != VK_OK");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::SetPowerOffTime(uint16_t minutes) {
  static const char* const kTag = "KeloDevCtlCorvane5::SetPowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint32_t result = DoSetPowerOff(minutes == 0xFFFF, minutes);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

}  // namespace dravnmain
