// Reading one sheet from a Corvane scanner in 64 KiB pieces per face (the
// faces of a duplex sheet interleaved), and handing a finished page to the
// SANE reader.
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"

namespace dravnmain {

namespace {

constexpr uint32_t kPiece = 65536;
constexpr int kReadyTries = 875;
constexpr long long kReadyUs = 24LL * 1000000;
constexpr long long kScanEndUs = 120LL * 1000000;

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

// The most pixels or lines a window's extent (1/1200 inch) gives at a
// resolution: rounded up, and a few more for a device that rounds up too.
uint64_t WindowUnits(uint32_t extent, uint16_t resolution) {
  constexpr uint64_t kRoundingUnits = 8;
  return (static_cast<uint64_t>(extent) * resolution + 1199) / 1200 + kRoundingUnits;
}
uint64_t WindowPixels(const QV_WINDOW_INFO& w) { return WindowUnits(w.ulWidth, w.usResX); }
uint64_t WindowLines(const QV_WINDOW_INFO& w) { return WindowUnits(w.ulLength, w.usResY); }

long long NowUs() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// A face's buffer, grown geometrically so that a long page costs time in
// proportion to its length; the caller sees the exact size.
struct FaceBuffer {
  unsigned char** data;
  uint32_t* size;
  uint32_t capacity;
  uint64_t limit;         // more than any face its window can give
  bool overflow = false;  // the face went past it: the device's fault

  bool Append(const unsigned char* piece, uint32_t length) {
    if (length == 0) return true;
    const uint64_t need = static_cast<uint64_t>(*size) + length;
    if (need > limit) {
      overflow = true;
      return false;
    }
    if (need > capacity) {
      uint64_t grown = capacity ? capacity : kPiece;
      while (grown < need) grown *= 2;
      if (grown > UINT32_MAX) grown = need;
      // The old buffer stays the caller's when the larger one cannot be had.
      auto* bigger = static_cast<unsigned char*>(realloc(*data, grown));
      if (!bigger) return false;
      *data = bigger;
      capacity = static_cast<uint32_t>(grown);
    }
    memcpy(*data + *size, piece, length);
    *size += length;
    return true;
  }
};

}  // namespace

void KeloDevCtlCorvane::SetReadImgBufSize() {
  const QV_IMAGEDATA_INFO& g = g_ImgDataInfo;
  m_iFrontRemain = g.tFront.iBytesPerLine * g.tFront.iLines;
  m_iBackRemain = g.tBack.iBytesPerLine * g.tBack.iLines;
  // A page shorter than its description never hands out bytes it lacks.
  if (m_iFrontRemain < 0 || static_cast<uint32_t>(m_iFrontRemain) > m_ulFrontImageSize)
    m_iFrontRemain = m_pFrontImageData ? static_cast<int32_t>(m_ulFrontImageSize) : 0;
  if (m_iBackRemain < 0 || static_cast<uint32_t>(m_iBackRemain) > m_ulBackImageSize)
    m_iBackRemain = m_pBackImageData ? static_cast<int32_t>(m_ulBackImageSize) : 0;
  m_iReadOffset = 0;
}

SANE_Status KeloDevCtlCorvane::ReadPageBuf(unsigned char** page, int32_t* remaining, SANE_Byte* buffer,
                                           SANE_Int maxLength, SANE_Int* length) {
  static const char* const kTag = "KeloDevCtlCorvane::ReadPageBuf";
  if (!page || !remaining || !buffer || !length) {
    Log(LOG_LEVEL_ERROR, kTag, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  *length = 0;
  if (*remaining <= 0 || !*page) {
    Log(LOG_LEVEL_DEBUG, kTag, "end[SANE_STATUS_EOF]");
    return SANE_STATUS_EOF;
  }
  if (maxLength < *remaining) {
    const int32_t n = maxLength > 0 ? maxLength : 0;
    memcpy(buffer, *page + m_iReadOffset, static_cast<size_t>(n));
    m_iReadOffset += n;
    *remaining -= n;
    *length = n;
  } else {
    memcpy(buffer, *page + m_iReadOffset, static_cast<size_t>(*remaining));
    *length = *remaining;
    m_iReadOffset = 0;
    *remaining = 0;
  }
  return SANE_STATUS_GOOD;
}

SANE_Status KeloDevCtlCorvane::ReadImgBuf(SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length) {
  static const char* const kTag = "KeloDevCtlCorvane::ReadPageBuf";
  if (!buffer || !length) {
    Log(LOG_LEVEL_ERROR, kTag, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  if (m_bIsCancel) {
    m_iFrontRemain = m_iBackRemain = 0;
    free(m_pFrontImageData);
    free(m_pBackImageData);
    m_pFrontImageData = m_pBackImageData = nullptr;
    m_ulFrontImageSize = m_ulBackImageSize = 0;
    *length = 0;
    Log(LOG_LEVEL_ERROR, kTag, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  SANE_Status status = SANE_STATUS_GOOD;
  *length = 0;
  if (source == 0 || source == 1 || (source == 3 && !g_bIsReadDoubleBack)) {
    status = ReadPageBuf(&m_pFrontImageData, &m_iFrontRemain, buffer, maxLength, length);
    if (status == SANE_STATUS_EOF) {
      free(m_pFrontImageData);
      m_pFrontImageData = nullptr;
      m_ulFrontImageSize = 0;
      if (source == 3) g_bIsReadDoubleBack = true;
    }
  } else if (source == 2 || source == 3) {
    status = ReadPageBuf(&m_pBackImageData, &m_iBackRemain, buffer, maxLength, length);
    if (status == SANE_STATUS_EOF) {
      free(m_pBackImageData);
      m_pBackImageData = nullptr;
      m_ulBackImageSize = 0;
      if (source == 3) g_bIsReadDoubleBack = false;
    }
  }
  return status;
}

uint32_t KeloDevCtlCorvane::DoGetImageData(unsigned char** front, uint32_t* frontSize, unsigned char** back,
                                           uint32_t* backSize) {
  static const char* const kTag = "KeloDevCtlCorvane::DoGetImageData";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!front || !frontSize || !back || !backSize) return QV_ERR_CTL_ILLEGAL_PARAM;
  uint32_t result = ReadSheet(front, frontSize, back, backSize);
  if (result != VK_OK) return result;

  // The end of the scan: the device finishes the sheet.
  const long long first = NowUs();
  for (;;) {
    result = WaitForScanEnd();
    if (result == VK_OK) break;
    if (result != QV_ERR_CTL_STATUS_NOT_GOOD) break;
    if (NowUs() - first > kScanEndUs) {
      result = QV_ERR_CTL_TIMEOUT;
      break;
    }
    if (m_ucLastStatus != 2) break;
    result = GetProperError();
    if (result != QV_ERR_CTL_NOT_READY) break;
    usleep(200000);
  }
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, "KeloDevCtl::DoGetImageData", "WaitForScanEnd() != VK_OK");
    return result;
  }
  if (m_PropInfo.SCAN_SOURCE == 2) {
    free(*back);
    *back = *front;
    *backSize = *frontSize;
    *front = nullptr;
    *frontSize = 0;
  }
  if ((result = UpdateImageDataInfo()) != VK_OK) {
    Log(LOG_LEVEL_ERROR, "KeloDevCtl::DoGetImageData", "UpdateImageDataInfo() != VK_OK");
    return result;
  }
  if (!m_PropInfo.AUTOFEED) {
    g_ImgDataInfo = m_ImgDataInfo;
    m_AutoColorInfo = m_AutoColorDetectInfo;
    m_bSoftCrpRetry = m_bScanSoftCrpRetry;
  }
  m_ulThreadError = VK_OK;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

// Steps 1 to 4 of a sheet: the waits for data and the pieces. The page
// buffers stay with the caller whatever happens.
uint32_t KeloDevCtlCorvane::ReadSheet(unsigned char** front, uint32_t* frontSize, unsigned char** back,
                                      uint32_t* backSize) {
  static const char* const kTag = "KeloDevCtlCorvane::DoGetImageData";
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  const bool duplex = source == 3;
  const bool autoColor = m_PropInfo.AUTO_COLOR_DETECT == 1;
  const uint8_t frontWin = autoColor ? m_AutoColorDetectInfo.ucFWinID : QV_FACE_FRONT;
  const uint8_t backWin = autoColor ? m_AutoColorDetectInfo.ucBWinID : QV_FACE_BACK;

  unsigned char* piece = static_cast<unsigned char*>(malloc(kPiece));
  if (!piece) return QV_ERR_CTL_NO_MEMORY;
  *front = nullptr;
  *frontSize = 0;
  if (duplex) {
    *back = nullptr;
    *backSize = 0;
  }
  // A face is at most the window's pixels in colour, raw; twice that and a
  // little more is past any page, so a device that never ends a face ends
  // the sheet instead of growing its buffer to gigabytes.
  const uint64_t windowBytes = 3 * WindowPixels(m_WindowInfo) * WindowLines(m_WindowInfo);
  const uint64_t limit = std::min<uint64_t>(UINT32_MAX, 2 * windowBytes + (1u << 20));
  FaceBuffer faces[2] = {{front, frontSize, 0, limit},
                         {duplex ? back : front, duplex ? backSize : frontSize, 0, limit}};
  const uint8_t windows[2] = {frontWin, backWin};
  // Sources 0 and 1 read the front window, 2 the back one into the front
  // buffer (handed over at the end), 3 both.
  int current = source == 2 ? 1 : 0;
  FaceBuffer* target = source == 2 ? &faces[0] : &faces[current];
  bool finished[2] = {false, false}, mustWait[2] = {false, false};
  bool backNeverWaited = true;

  uint32_t code = VK_OK;
  bool fresh = true;
  long long waitStart = 0;
  int tries = 0;
  auto fail = [&](uint32_t c) {
    free(piece);
    uint32_t result = DoCheckReturnError(c);
    if (!(result == QV_ERR_CTL_PAPER_JAM || result == QV_ERR_CTL_COVER_OPEN || result == QV_ERR_CTL_DOUBLE_FEED ||
          result == QV_ERR_CTL_DATA_NOT_ENOUGH || result == SANE_STATUS_CANCELLED)) {
      QV_HARDWARE_STATUS hw{};
      if (GetHardwareStatus(&hw) == VK_OK) {
        if (hw.bCoverOpen)
          result = QV_ERR_CTL_COVER_OPEN;
        else if (hw.bDoubleFeed)
          result = QV_ERR_CTL_DOUBLE_FEED;
      }
    }
    Log(LOG_LEVEL_ERROR, kTag, "DoCheckReturnError(ulError)");
    return result;
  };
  auto cancelled = [&](const char* word) {
    free(piece);
    Log(LOG_LEVEL_ERROR, kTag, word);
    return static_cast<uint32_t>(SANE_STATUS_CANCELLED);
  };
  auto bothHoldData = [&]() { return *faces[0].size > 0 && *faces[1].size > 0; };
  auto other = [&](int face) { return 1 - face; };

  for (;;) {
    // Step 2 and 3: wait for data of the current face.
    if (m_bIsCancel) return cancelled("SANE_STATUS_CANCELLED1");
    if (fresh) {
      waitStart = NowUs();
      tries = 1;
      fresh = false;
    } else {
      ++tries;
    }
    const uint8_t win = source == 2 ? backWin : windows[current];
    if (duplex && current == 1) backNeverWaited = false;
    code = CheckImageDataIsReady(win, kPiece);
    if (tries > kReadyTries && NowUs() - waitStart > kReadyUs) {
      free(piece);
      Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_PAPER_JAM");
      return QV_ERR_CTL_PAPER_JAM;
    }
    if (code != VK_OK) {
      if (code != QV_ERR_CTL_STATUS_NOT_GOOD) return fail(code);
      if (duplex) {
        if (m_ucLastStatus == 8) {
          usleep(1000);
          continue;
        }
        QV_SENSE sense{};
        uint32_t r = RequestSense(&sense);
        if (r != VK_OK) return fail(r);
        if (sense.ucSenseKey == 3 && sense.ucASCQ == 0x13) {
          if (*faces[0].size > 0) {
            current = other(current);
            usleep(bothHoldData() ? 1000 : 10000);
          } else {
            current = 0;
            usleep(10000);
          }
          continue;
        }
        const uint8_t key = sense.ucSenseKey;
        if (key == 3 || key == 4 || key == 5 || key == 0xB) {
          bool listed = false;
          uint32_t c = CorvaneSenseCode(sense, &listed, nullptr);
          if (listed) return fail(c);
          // A combination the table lacks: the read decides.
        } else {
          return fail(code);
        }
      } else if (m_ucLastStatus == 8) {
        usleep(1000);
        continue;
      } else {
        return fail(code);
      }
    }

    // Step 4: the pieces.
    bool rewait = false;
    int piecesThisRound = 0;
    for (;;) {
      if (m_bIsCancel) return cancelled("SANE_STATUS_CANCELLED2");
      if (duplex && ((current == 0 && mustWait[0]) || (current == 1 && (mustWait[1] || backNeverWaited)))) {
        fresh = piecesThisRound > 0;
        rewait = true;
        break;
      }
      const uint8_t readWin = source == 2 ? backWin : windows[current];
      uint32_t got = 0;
      code = GetImageData(readWin, piece, kPiece, &got);
      if (duplex) usleep(1000);
      FaceBuffer& into = duplex ? faces[current] : *target;
      if (code == VK_OK) {
        if (!into.Append(piece, got)) {
          free(piece);
          if (into.overflow) {
            Log(LOG_LEVEL_ERROR, kTag, "face data beyond the window");
            return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
          }
          Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_NO_MEMORY");
          return QV_ERR_CTL_NO_MEMORY;
        }
        ++piecesThisRound;
        if (duplex) {
          mustWait[current] = false;
          if (!finished[other(current)]) current = other(current);
        }
        continue;
      }
      if (code != QV_ERR_CTL_STATUS_NOT_GOOD) return fail(code);
      if (m_ucLastStatus == 8) {
        fresh = true;
        rewait = true;
        break;
      }
      if (m_ucLastStatus != 2) return fail(code);
      QV_SENSE sense{};
      uint32_t r = RequestSense(&sense);
      if (r != VK_OK) return fail(r);
      const uint8_t key = sense.ucSenseKey;
      if (key == 3) {
        switch (sense.ucASCQ) {
          case 0x01:
            return fail(QV_ERR_CTL_PAPER_JAM);
          case 0x02:
            return fail(QV_ERR_CTL_COVER_OPEN);
          case 0x07:
            return fail(QV_ERR_CTL_DOUBLE_FEED);
          case 0x20:
            Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STOP_QUICKLY");
            StopQuicklyPause();
            return fail(QV_ERR_CTL_STOP_QUICKLY);
          case 0x13:
            if (!duplex) return fail(QV_ERR_CTL_DATA_NOT_ENOUGH);
            mustWait[current] = true;
            current = other(current);
            usleep(bothHoldData() ? 1000 : 10000);
            fresh = true;
            rewait = true;
            break;
          default:
            // Read again, but not without end.
            if (++tries > kReadyTries && NowUs() - waitStart > kReadyUs) {
              free(piece);
              return QV_ERR_CTL_PAPER_JAM;
            }
            continue;
        }
        if (rewait) break;
      }
      if (key == 4 || key == 5 || key == 0xB) {
        bool listed = false;
        uint32_t c = CorvaneSenseCode(sense, &listed, nullptr);
        if (listed) return fail(c);
        if (++tries > kReadyTries && NowUs() - waitStart > kReadyUs) {
          free(piece);
          return QV_ERR_CTL_PAPER_JAM;
        }
        continue;
      }
      // Any other key ends a face.
      if (!duplex) {
        if (sense.ucILI && sense.ucEOM) {
          if (!into.Append(piece, got)) {
            free(piece);
            return QV_ERR_CTL_NO_MEMORY;
          }
          free(piece);
          return VK_OK;
        }
        return fail(code);
      }
      if (!sense.ucILI && !sense.ucEOM) return fail(code);
      if (!into.Append(piece, got)) {
        free(piece);
        return QV_ERR_CTL_NO_MEMORY;
      }
      finished[current] = true;
      if (finished[other(current)]) {
        free(piece);
        return VK_OK;
      }
      current = other(current);
    }
    if (!rewait) break;
  }
  free(piece);
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::UpdateImageDataInfo() {
  static const char* const kTag = "KeloDevCtlCorvane::GetImageDataInfo";
  m_ImgDataInfo = g_BaseImgDataInfo;
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool autoColor = p.AUTO_COLOR_DETECT == 1;
  const uint8_t frontWin = autoColor ? m_AutoColorDetectInfo.ucFWinID : QV_FACE_FRONT;
  const uint8_t backWin = autoColor ? m_AutoColorDetectInfo.ucBWinID : QV_FACE_BACK;
  QV_DEVICE_IMAGEDATA_INFO info[2] = {};
  bool read[2] = {p.SCAN_SOURCE != 2, p.SCAN_SOURCE == 2 || p.SCAN_SOURCE == 3};
  if (read[0] && GetImageDataInfo(frontWin, &info[0]) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag,
        autoColor ? "GetImageDataInfo(m_AutoColorDetectInfo.ucFWinID, &tFrontDataInfo) != VK_OK"
                  : "GetImageDataInfo(QV_FACE_FRONT, &tFrontDataInfo) != VK_OK");
    return QV_ERR_CTL_DATA_IN;
  }
  if (read[1] && GetImageDataInfo(backWin, &info[1]) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag,
        autoColor ? "GetImageDataInfo(m_AutoColorDetectInfo.ucBWinID, &tBackDataInfo) != VK_OK"
                  : "GetImageDataInfo(QV_FACE_BACK, &tBackDataInfo) != VK_OK");
    return QV_ERR_CTL_DATA_IN;
  }
  m_bScanSoftCrpRetry = 0;
  if (read[0] && info[0].bFlag7 && info[0].bFlag0)
    m_bScanSoftCrpRetry = 1;
  else if (read[1] && info[1].bFlag7 && info[1].bFlag0)
    m_bScanSoftCrpRetry = 1;
  const uint64_t maxPixels = std::min<uint64_t>(65535, WindowPixels(m_WindowInfo));
  const uint64_t maxLines = std::min<uint64_t>(1000000, WindowLines(m_WindowInfo));
  for (int i = 0; i < 2; ++i) {
    if (!read[i]) continue;
    QV_IMAGEDATA_PARAMETERS& face = i == 0 ? m_ImgDataInfo.tFront : m_ImgDataInfo.tBack;
    uint32_t pixels = info[i].ulPixels, lines = info[i].ulLines;
    if (p.PAPER_SIZE == 10) {
      lines = info[i].ulAutoLines;
      if (!p.PAGE_AUTO_PRIORITY) pixels = info[i].ulAutoPixels;
    }
    // A device's count beyond the window it was sent is refused rather than
    // carried into buffer sizes: missing data is filled white and every
    // step runs over the whole face, so a claimed face of gigabytes would
    // be allocated and worked through. A few units over the window are let
    // through for a device that rounds up.
    if (pixels > maxPixels || lines > maxLines) {
      Log(LOG_LEVEL_ERROR, kTag, "face size beyond the window");
      return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
    }
    const int px = static_cast<int>(pixels);
    face.iPixelsPerLine = px;
    face.iLines = static_cast<int>(lines);
    const uint8_t mode = i == 0 ? m_AutoColorDetectInfo.ucFMode : m_AutoColorDetectInfo.ucBMode;
    if (!p.HARDWARE_PROC) {
      face.iBytesPerLine = 3 * px;
    } else if (autoColor) {
      if (mode == 3) {
        face.iBytesPerLine = 3 * px;
        face.iDepth = 8;
        face.iFormat = 1;
      } else {
        face.iBytesPerLine = (px + 7) / 8;
        face.iDepth = 1;
        face.iFormat = 0;
      }
    } else if (p.IMAGE_MODE == 3) {
      face.iBytesPerLine = 3 * px;
    } else if (p.IMAGE_MODE == 2) {
      face.iBytesPerLine = px;
    } else {
      face.iBytesPerLine = (px + 7) / 8;
    }
  }
  // With one face read, the other keeps the base description.
  return VK_OK;
}

}  // namespace dravnmain
