// The Corvane class's steps around each sheet: lamp, readiness, the feeder
// checks, paper handling, the start of a scan and the colour detection result.
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"

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

}  // namespace

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

uint32_t KeloDevCtlCorvane::CheckSheetState(const char* kTag, bool noPaperFails) {
  Log(LOG_LEVEL_TRACE, kTag, "start");
  QV_HARDWARE_STATUS status{};
  uint32_t result = GetHardwareStatus(&status);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "(ulError = GetHardwareStatus(&Status)) != VK_OK");
    return result;
  }
  result = GetProperError();
  if (IsSheetFailure(result, noPaperFails)) {
    Log(LOG_LEVEL_ERROR, kTag, "ulError = GetProperError();");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::DoADFCheck() { return CheckSheetState("KeloDevCtlCorvane::DoADFCheck", true); }

// An empty feeder after the last sheet is no failure.
uint32_t KeloDevCtlCorvane::DoCheckPaperJam() { return CheckSheetState("KeloDevCtlCorvane::DoCheckPaperJam", false); }

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
  const std::string tag = Tag("DoStartScan");
  const char* kTag = tag.c_str();
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  if (source > 3) {
    Log(LOG_LEVEL_TRACE, kTag, "end");
    return VK_OK;
  }
  const bool autoColor = m_PropInfo.AUTO_COLOR_DETECT == 1;
  const bool detect = autoColor && ScannerDetectsColour();
  uint32_t result = detect ? AutoColorDetectScan(source <= 1 ? 0x01 : (source == 2 ? 0x81 : 0xFF))
                           : Scan(source <= 1 ? 0x00 : (source == 2 ? 0x80 : 0xFF));
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, detect ? "AutoColorDetectScan() error" : "Scan() != VK_OK");
    return result;
  }
  if (autoColor && (result = DoGetAutoColorDetectInfo()) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoGetAutoColorDetectInfo() error");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
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

}  // namespace dravnmain
