// The Corvane command set: each operation is one command block, an optional
// data phase and a status block, decoded into a plain record.
#include <cstring>
#include <utility>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "usb_manager.h"

namespace dravnmain {

namespace {

constexpr int kShortTimeout = 15000;
constexpr int kLongTimeout = 120000;
constexpr uint32_t kBlockSize = 31;
constexpr uint32_t kCdbOffset = 19;
constexpr uint32_t kCdbMax = 12;
constexpr uint32_t kStatusSize = 13;
constexpr uint32_t kDescriptorSize = 64;
constexpr uint32_t kDiagTextSize = 16;

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

void PutBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void PutBe24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  PutBe16(p + 1, v);
}
uint32_t Be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}

bool IsWindowId(uint8_t face) { return (face & 0x7E) == 0; }

}  // namespace

uint32_t KeloDevCtlCorvane::RawWriteCommand(const unsigned char* cdb, uint32_t length) {
  static const char* const kTag = "KeloDevCtlCorvane::RawWriteCommand";
  Log(LOG_LEVEL_DETAIL, kTag, "start");
  // The command block holds 12 CDB bytes; more would run past it.
  if (!cdb || length > kCdbMax) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  unsigned char block[kBlockSize] = {};
  block[0] = 'C';
  memcpy(block + kCdbOffset, cdb, length);
  if (!m_pUsbManager || m_pUsbManager->RawWriteData(block, kBlockSize) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_COMMAND");
    return QV_ERR_CTL_COMMAND;
  }
  Log(LOG_LEVEL_DETAIL, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::RawReadStatus(uint8_t* status) {
  static const char* const kTag = "KeloDevCtlCorvane::RawReadStatus";
  Log(LOG_LEVEL_DETAIL, kTag, "start");
  if (!status) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  unsigned char block[kStatusSize] = {};
  unsigned int count = 0;
  if (!m_pUsbManager || m_pUsbManager->RawReadData(block, kStatusSize, &count) != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STATUS1");
    return QV_ERR_CTL_STATUS;
  }
  if (count != kStatusSize || block[0] != 'S') {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STATUS2");
    return QV_ERR_CTL_STATUS;
  }
  *status = block[9] & 0x3E;
  Log(LOG_LEVEL_DETAIL, kTag, "end");
  return VK_OK;
}

const CorvaneExchangeWords KeloDevCtlCorvane::kCommandWords = {
    "QV_ERR_CTL_COMMAND", "QV_ERR_CTL_DATA_OUT", "QV_ERR_CTL_DATA_IN", "QV_ERR_CTL_STATUS", "QV_ERR_CTL_STATUS_NOT_GOOD"};

namespace {
// A first half whose status is read and not judged.
const CorvaneExchangeWords kUnjudgedWords = {"QV_ERR_CTL_COMMAND", "QV_ERR_CTL_DATA_OUT",
                                                          "QV_ERR_CTL_DATA_IN", "QV_ERR_CTL_STATUS", nullptr};
}  // namespace

uint32_t KeloDevCtlCorvane::Exchange(const char* tag, const unsigned char* cdb, uint32_t cdbLength, int timeout,
                                     Phase phase, unsigned char* data, uint32_t dataLength,
                                     const ExchangeWords& words) {
  if (m_pUsbManager && timeout != kKeepTimeout) m_pUsbManager->SetUsbTimeOut(timeout);
  // Without a USB manager the command block already fails.
  if (RawWriteCommand(cdb, cdbLength) != VK_OK) {
    Log(LOG_LEVEL_ERROR, tag, words.command);
    return QV_ERR_CTL_COMMAND;
  }
  if (phase == Phase::Out && m_pUsbManager->RawWriteData(data, dataLength) != 0) {
    Log(LOG_LEVEL_ERROR, tag, words.dataOut);
    return QV_ERR_CTL_DATA_OUT;
  }
  if (phase == Phase::In) {
    unsigned int count = 0;
    if (m_pUsbManager->RawReadData(data, dataLength, &count) != 0 || count != dataLength) {
      Log(LOG_LEVEL_ERROR, tag, words.dataIn);
      return QV_ERR_CTL_DATA_IN;
    }
  }
  uint8_t status = 0;
  if (RawReadStatus(&status) != VK_OK) {
    Log(LOG_LEVEL_ERROR, tag, words.status);
    return QV_ERR_CTL_STATUS;
  }
  m_ucLastStatus = status;
  if (!words.notGood) return VK_OK;
  if (status != 0) {
    Log(m_iNotGoodLevel, tag, words.notGood);
    return QV_ERR_CTL_STATUS_NOT_GOOD;
  }
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::TestUnitReady() {
  static const char* const kTag = "KeloDevCtlCorvane::TestUnitReady";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const unsigned char cdb[6] = {0x00};
  uint32_t result = Exchange(kTag, cdb, 6, kShortTimeout, Phase::None, nullptr, 0);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::RequestSense(QV_SENSE* sense) {
  static const char* const kTag = "KeloDevCtlCorvane::RequestSense";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!sense) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[6] = {0x03, 0, 0, 0, 0x12, 0};
  unsigned char data[18] = {};
  if (m_pUsbManager) m_pUsbManager->SetUsbTimeOut(kShortTimeout);
  // The reply is decoded whenever the status block came, good or not.
  uint32_t result = Exchange(kTag, cdb, 6, kShortTimeout, Phase::In, data, sizeof data);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  sense->ucEOM = (data[2] >> 6) & 1;
  sense->ucILI = (data[2] >> 5) & 1;
  sense->ulInformation = Be32(data + 3);
  sense->ucSenseKey = data[2] & 0x0F;
  sense->ucASC = data[12];
  sense->ucASCQ = data[13];
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetHardwareInfo(QV_HARDWARE_INFO* info) {
  static const char* const kTag = "KeloDevCtlCorvane::GetHardwareInfo";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!info) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[6] = {0x12, 0, 0, 0, 0x60, 0};
  unsigned char data[96] = {};
  uint32_t result = Exchange(kTag, cdb, 6, kShortTimeout, Phase::In, data, sizeof data);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  memcpy(info->szVendor, data + 8, 8);
  info->szVendor[8] = '\0';
  memcpy(info->szProduct, data + 16, 16);
  info->szProduct[16] = '\0';
  memcpy(info->szRevision, data + 32, 4);
  info->szRevision[4] = '\0';
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::ModeSelect(const unsigned char* page) {
  static const char* const kTag = "KeloDevCtlCorvane::ModeSelect";
  if (!page) return QV_ERR_CTL_ILLEGAL_PARAM;
  uint32_t pageLength = 0;
  switch (page[0]) {
    case 0x39:
      pageLength = 10;
      break;
    case 0x32:
    case 0x33:
    case 0x34:
    case 0x35:
    case 0x37:
    case 0x38:
    case 0x3A:
    case 0x3C:
      pageLength = 8;
      break;
    default:
      return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  Log(LOG_LEVEL_TRACE, kTag, "start");
  unsigned char data[14] = {};
  memcpy(data + 4, page, pageLength);
  const unsigned char cdb[6] = {0x15, 0x10, 0, 0, static_cast<unsigned char>(pageLength + 4), 0};
  uint32_t result = Exchange(kTag, cdb, 6, kShortTimeout, Phase::Out, data, pageLength + 4);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::SendWindows(const char* tag, QV_WINDOW_INFO* front, QV_WINDOW_INFO* back,
                                        bool detectionPairs) {
  Log(LOG_LEVEL_TRACE, tag, "start");
  if (!front && !back) return QV_ERR_CTL_ILLEGAL_PARAM;
  unsigned char data[8 + 4 * kDescriptorSize] = {};
  data[7] = 0x40;
  uint32_t length = 8;
  const bool hardware = m_PropInfo.HARDWARE_PROC != 0;
  const uint8_t autoColor = detectionPairs ? 1 : m_PropInfo.AUTO_COLOR_DETECT;
  const std::pair<QV_WINDOW_INFO*, uint8_t> faces[2] = {{front, QV_FACE_FRONT}, {back, QV_FACE_BACK}};
  for (const auto& [w, id] : faces) {
    if (!w) continue;
    if (detectionPairs) {
      // The colour window first, then the face's line-art window.
      w->ucComposition = 5;
      w->usBitsPerPixel = 8;
      data[length] = id;
      MakeWindowDescriptor(*w, hardware, autoColor, m_PropInfo.IMAGE_MODE, data + length);
      length += kDescriptorSize;
      w->ucComposition = 0;
      w->usBitsPerPixel = 1;
    }
    data[length] = static_cast<unsigned char>(detectionPairs ? id | 0x01 : id);
    MakeWindowDescriptor(*w, hardware, autoColor, m_PropInfo.IMAGE_MODE, data + length);
    length += kDescriptorSize;
  }
  unsigned char cdb[10] = {0x24};
  PutBe16(cdb + 7, length);
  uint32_t result = Exchange(tag, cdb, 10, kShortTimeout, Phase::Out, data, length);
  Log(LOG_LEVEL_TRACE, tag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::SetWindow(QV_WINDOW_INFO* front, QV_WINDOW_INFO* back) {
  return SendWindows("KeloDevCtlCorvane::SetWindow", front, back, false);
}

uint32_t KeloDevCtlCorvane::SetAutoColorDetectWindow(QV_WINDOW_INFO* front, QV_WINDOW_INFO* back) {
  return SendWindows("KeloDevCtlCorvane::SetAutoColorDetectWindow", front, back, true);
}

uint32_t KeloDevCtlCorvane::Scan(uint8_t faces) {
  static const char* const kTag = "KeloDevCtlCorvane::Scan";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  unsigned char data[2] = {};
  uint32_t n = 1;
  if (faces == 0x00 || faces == 0x80) {
    data[0] = faces;
  } else if (faces == 0xFF) {
    data[0] = 0x00;
    data[1] = 0x80;
    n = 2;
  } else {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  const unsigned char cdb[6] = {0x1B, 0, 0, 0, static_cast<unsigned char>(n), 0};
  uint32_t result = Exchange(kTag, cdb, 6, kLongTimeout, Phase::Out, data, n);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::AutoColorDetectScan(uint8_t faces) {
  static const char* const kTag = "KeloDevCtlCorvane::AutoColorDetectScan";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  unsigned char data[4] = {};
  uint32_t n = 2;
  if (faces == 0x01) {
    data[0] = 0x00, data[1] = 0x01;
  } else if (faces == 0x81) {
    data[0] = 0x80, data[1] = 0x81;
  } else if (faces == 0xFF) {
    data[0] = 0x00, data[1] = 0x80, data[2] = 0x01, data[3] = 0x81;
    n = 4;
  } else {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  const unsigned char cdb[6] = {0x1B, 0, 0, 0, static_cast<unsigned char>(n), 0};
  uint32_t result = Exchange(kTag, cdb, 6, kLongTimeout, Phase::Out, data, n);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetImageData(uint8_t face, unsigned char* buffer, uint32_t length, uint32_t* read) {
  static const char* const kTag = "KeloDevCtlCorvane::GetImageData";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!IsWindowId(face) || !buffer || !read) return QV_ERR_CTL_ILLEGAL_PARAM;
  unsigned char cdb[10] = {0x28, 0, 0, 0, 0, face};
  PutBe24(cdb + 6, length);
  uint32_t result = Exchange(kTag, cdb, 10, kLongTimeout, Phase::In, buffer, length);
  if (result == VK_OK || result == QV_ERR_CTL_STATUS_NOT_GOOD) *read = length;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetImageDataInfo(uint8_t face, QV_DEVICE_IMAGEDATA_INFO* info) {
  static const char* const kTag = "KeloDevCtlCorvane::GetImageDataInfo";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!IsWindowId(face) || !info) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[10] = {0x28, 0, 0x80, 0, 0, face, 0, 0, 0x18, 0};
  unsigned char data[24] = {};
  uint32_t result = Exchange(kTag, cdb, 10, kLongTimeout, Phase::In, data, sizeof data);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  info->ulPixels = Be32(data);
  info->ulLines = Be32(data + 4);
  info->ulAutoPixels = Be32(data + 8);
  info->ulAutoLines = Be32(data + 12);
  info->bFlag7 = (data[16] >> 7) & 1;
  info->bFlag0 = data[16] & 1;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetAutoColorDetectInfo(QV_AUTO_COLOR_DETECT_INFO* info) {
  static const char* const kTag = "KeloDevCtlCorvane::GetAutoColorDetectInfo";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!info) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[10] = {0x28, 0, 0x82, 0, 0, 0, 0, 0, 0x08, 0};
  unsigned char data[8] = {};
  uint32_t result = Exchange(kTag, cdb, 10, kLongTimeout, Phase::In, data, sizeof data);
  if (result != VK_OK) return result;
  info->bFImg = (data[0] >> 7) & 1;
  info->bBImg = (data[0] >> 3) & 1;
  memcpy(&info->usValue, data + 2, 2);
  info->bFlag1 = (data[4] >> 7) & 1;
  info->bFlag2 = (data[4] >> 4) & 1;
  info->bFlag3 = (data[4] >> 3) & 1;
  info->bFlag4 = data[4] & 1;
  // Each half of byte 5 names one face's window: 0 its colour window, 1
  // its line-art window.
  info->ucFWinID = static_cast<uint8_t>((data[5] >> 4) & 0x01);
  info->ucBWinID = static_cast<uint8_t>(0x80 | (data[5] & 0x01));
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::SendTable(const char* tag, uint8_t type, uint8_t bits, const unsigned char* table) {
  Log(LOG_LEVEL_TRACE, tag, "start");
  if (!table || (bits != 8 && bits != 10)) return QV_ERR_CTL_ILLEGAL_PARAM;
  const uint32_t entries = bits == 8 ? 256 : 1024;
  const uint32_t length = 10 + entries;
  unsigned char data[10 + 1024] = {};
  data[2] = type & 0x80 ? 0x10 : 0x00;
  PutBe16(data + 4, entries);
  PutBe16(data + 6, 0x0100);
  memcpy(data + 10, table, entries);
  unsigned char cdb[10] = {0x2A, 0, type};
  PutBe24(cdb + 6, length);
  uint32_t result = Exchange(tag, cdb, 10, kShortTimeout, Phase::Out, data, length);
  Log(LOG_LEVEL_TRACE, tag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::SendGamma(uint8_t bits, const unsigned char* table) {
  return SendTable("KeloDevCtlCorvane::SendGamma", 0x03, bits, table);
}

uint32_t KeloDevCtlCorvane::SendLUT(uint8_t bits, const unsigned char* table) {
  return SendTable("KeloDevCtlCorvane::SendLUT", 0x83, bits, table);
}

uint32_t KeloDevCtlCorvane::PaperControl(bool load) {
  static const char* const kTag = "KeloDevCtlCorvane::PaperControl";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const unsigned char cdb[10] = {0x31, static_cast<unsigned char>(load ? 1 : 0)};
  uint32_t result = Exchange(kTag, cdb, 10, kLongTimeout, Phase::None, nullptr, 0);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetHardwareStatus(QV_HARDWARE_STATUS* status) {
  static const char* const kTag = "KeloDevCtlCorvane::GetHardwareStatus";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!status) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[10] = {0xC2, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0};
  unsigned char data[12] = {};
  uint32_t result = Exchange(kTag, cdb, 10, kShortTimeout, Phase::In, data, sizeof data);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  status->bFlagA = (data[3] >> 7) & 1;
  status->bCoverOpen = (data[3] >> 5) & 1;
  status->bFlagC = (data[4] >> 7) & 1;
  status->bFlagD = data[4] & 1;
  status->bFlagE = (data[6] >> 7) & 1;
  status->bDoubleFeed = data[6] & 1;
  status->iErrorValue = static_cast<int8_t>(data[7]);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

namespace {
// The 0xF1 control commands: byte 1 says what to do.
constexpr unsigned char kControl = 0xF1;
}  // namespace

uint32_t KeloDevCtlCorvane::Control(const char* tag, unsigned char what) {
  Log(LOG_LEVEL_TRACE, tag, "start");
  const unsigned char cdb[10] = {kControl, what};
  uint32_t result = Exchange(tag, cdb, 10, kLongTimeout, Phase::None, nullptr, 0);
  Log(LOG_LEVEL_TRACE, tag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::ScannerControl(bool flatbed) {
  return Control("KeloDevCtlCorvane::ScannerControl", flatbed ? 1 : 0);
}

uint32_t KeloDevCtlCorvane::LampControl(bool on) { return Control("KeloDevCtlCorvane::LampControl", on ? 5 : 3); }

uint32_t KeloDevCtlCorvane::CancelReadImageData() { return Control("KeloDevCtlCorvane::CancelReadImageData", 0x04); }

uint32_t KeloDevCtlCorvane::WaitForScanEnd() { return Control("KeloDevCtlCorvane::WaitForScanEnd", 0x09); }

uint32_t KeloDevCtlCorvane::CheckImageDataIsReady(uint8_t face, uint32_t length) {
  static const char* const kTag = "KeloDevCtlCorvane::CheckImageDataIsReady";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!IsWindowId(face)) return QV_ERR_CTL_ILLEGAL_PARAM;
  unsigned char cdb[10] = {kControl, 0x10, face};
  PutBe24(cdb + 6, length);
  // Polled: a not-good status is routine here.
  m_iNotGoodLevel = LOG_LEVEL_DEBUG;
  uint32_t result = Exchange(kTag, cdb, 10, kLongTimeout, Phase::None, nullptr, 0);
  m_iNotGoodLevel = LOG_LEVEL_ERROR;
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::Diagnostic(const char* tag, const char* text, const unsigned char* params,
                                       uint32_t paramLength, const unsigned char* receiveCdb, unsigned char* reply,
                                       uint32_t replyLength) {
  unsigned char data[kDiagTextSize + 8] = {};
  memcpy(data, text, kDiagTextSize);
  if (paramLength) memcpy(data + kDiagTextSize, params, paramLength);
  const uint32_t sendLength = kDiagTextSize + paramLength;
  const unsigned char sendCdb[6] = {0x1D, 0, 0, 0, static_cast<unsigned char>(sendLength), 0};
  // The first half's status is not judged; only the answer counts.
  uint32_t result = Exchange(tag, sendCdb, 6, kLongTimeout, Phase::Out, data, sendLength, kUnjudgedWords);
  if (result != VK_OK) return result;
  return Exchange(tag, receiveCdb, 6, kShortTimeout, Phase::In, reply, replyLength);
}

uint32_t KeloDevCtlCorvane::DoGetCount(uint32_t* pages, uint32_t* pickRoller, uint32_t* padAssy, uint32_t* flatbed) {
  static const char* const kTag = "KeloDevCtlCorvane::DoGetCount";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!pages || !pickRoller || !padAssy || !flatbed) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[6] = {0x1C, 0, 0, 0x02, 0x00, 0};
  unsigned char p[512] = {};
  uint32_t result = Diagnostic(kTag, "DEBUG,E2T,RED  W", nullptr, 0, cdb, p, sizeof p);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  *pages = 500u * p[46] + 10u * p[38] + p[294];
  *pickRoller = 500u * p[60];
  *padAssy = 500u * p[124];
  *flatbed = 500u * p[44] + 10u * p[39] + p[295];
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::DoClearCount(uint8_t counter) {
  static const char* const kTag = "KeloDevCtlCorvane::DoClearCount";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (counter != 1 && counter != 2) return QV_ERR_CTL_ILLEGAL_PARAM;
  unsigned char data[kDiagTextSize + 4] = {};
  memcpy(data, "DEBUG,E2T,WRT   ", kDiagTextSize);
  data[16] = counter == 1 ? 0x3C : 0x7C;
  data[17] = 0x02;
  const unsigned char writeCdb[6] = {0x1D, 0, 0, 0, 0x14, 0};
  uint32_t result = Exchange(kTag, writeCdb, 6, kLongTimeout, Phase::Out, data, sizeof data);
  if (result != VK_OK) return result;
  memcpy(data, "DEBUG,E2P,WRT   ", kDiagTextSize);
  const unsigned char commitCdb[6] = {0x1D, 0, 0, 0, 0x10, 0};
  result = Exchange(kTag, commitCdb, 6, kLongTimeout, Phase::Out, data, kDiagTextSize);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::SetSelfTestDate(uint8_t year, uint8_t month, uint8_t day) {
  static const char* const kTag = "KeloDevCtlCorvane::SetSelfTestDate";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const unsigned char params[4] = {0x00, year, month, day};
  const unsigned char cdb[6] = {0x1C, 0, 0, 0, 0x01, 0};
  unsigned char answer = 0;
  uint32_t result = Diagnostic(kTag, "FIRST READ DATE ", params, 4, cdb, &answer, 1);
  if (result == QV_ERR_CTL_DATA_IN) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_DATA_IN1");
    return result;
  }
  if (result == VK_OK && answer != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_DATA_IN2");
    return QV_ERR_CTL_DATA_IN;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::GetSelfTestDate(uint8_t* year, uint8_t* month, uint8_t* day) {
  static const char* const kTag = "KeloDevCtlCorvane::GetSelfTestDate";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!year || !month || !day) return QV_ERR_CTL_ILLEGAL_PARAM;
  const unsigned char cdb[6] = {0x1C, 0, 0, 0, 0x04, 0};
  unsigned char answer[4] = {};
  uint32_t result = Diagnostic(kTag, "GET FIRST DATE  ", nullptr, 0, cdb, answer, 4);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  *year = answer[1];
  *month = answer[2];
  *day = answer[3];
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::SetAutoColor() {
  static const char* const kTag = "KeloDevCtlCorvane::SetAutoColor";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  unsigned char params[6] = {};
  PutBe16(params, m_PropInfo.SCAN_RES_X);
  PutBe16(params + 2, m_PropInfo.SCAN_RES_Y);
  const uint8_t source = m_PropInfo.SCAN_SOURCE;
  params[4] = source >= 1 && source <= 3 ? source : 4;
  params[5] = 0x01;
  const unsigned char cdb[6] = {0x1C, 0, 0, 0, 0x14, 0};
  unsigned char answer[20] = {};
  uint32_t result = Diagnostic(kTag, "GET PIXEL SIZE  ", params, 6, cdb, answer, sizeof answer);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::DoScanButtonSend(unsigned char* data, uint32_t length) {
  static const char* const kTag = "KeloDevCtlCorvane::DoScanButtonSend";
  Log(LOG_LEVEL_DETAIL, kTag, "start");
  if (m_pUsbManager) m_pUsbManager->SetUsbTimeOut(kShortTimeout);
  uint32_t result = RawWriteCommand(data, length);
  Log(LOG_LEVEL_DETAIL, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane::DoScanButtonRecieve(unsigned char* data, uint32_t length) {
  static const char* const kTag = "KeloDevCtlCorvane::DoScanButtonRecieve";
  Log(LOG_LEVEL_DETAIL, kTag, "start");
  if (!data) return QV_ERR_CTL_ILLEGAL_PARAM;
  if (!m_pUsbManager) return QV_ERR_CTL_STATUS;
  m_pUsbManager->SetUsbTimeOut(kShortTimeout);
  unsigned int count = 0;
  if (m_pUsbManager->RawReadData(data, length, &count) != 0 || count != length) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STATUS1");
    return QV_ERR_CTL_STATUS;
  }
  uint8_t status = 0;
  if (RawReadStatus(&status) != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_STATUS2");
    return QV_ERR_CTL_STATUS;
  }
  Log(LOG_LEVEL_DETAIL, kTag, "end");
  return VK_OK;
}

}  // namespace dravnmain
