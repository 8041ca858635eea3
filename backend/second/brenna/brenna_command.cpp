// The Brenna command layer: one transport step for every command, the
// inquiry records, sense handling and the data blocks the class sends.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brenna_exchange.h"
#include "brenna_jfif.h"
#include "brenna_scan_func.h"
#include "log.h"
#include "model_catalog.h"
#include "second_backend.h"
#include "usb_manager.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

constexpr unsigned char kOpcodes[BRENNA_BLOCKS] = {0xE2, 0xE3, 0xE4, 0xA8, 0xE6, 0xE7, 0xE8, 0xAA};

}  // namespace

unsigned char g_Inquiry[96];
unsigned char g_InquiryVPD[144];
namespace {
// The templates, filled before any object exists.
[[maybe_unused]] const bool g_bTemplates = [] {
  BrennaInquiryTemplates(dravn::kBrennaModels[0].model, g_Inquiry, g_InquiryVPD);
  return true;
}();
}  // namespace

const unsigned char byDefSetWindowData[96] = {
    0x00, 0x29, 0x02, 0x00, 0x60, 0x01, 0x2C,              // tag, fixed, x resolution 300
    0x00, 0x00, 0x00, 0x23,                                // left 35
    0x00, 0x00, 0x00, 0x00,                                // top 0
    0x00, 0x00, 0x09, 0xE0,                                // width 2528
    0x00, 0x00, 0x0E, 0xA1,                                // length 3745
    0x01, 0x2C, 0x01, 0x2C,                                // x and y resolution
    0x00, 0x00, 0x09, 0xE0, 0x00, 0x00, 0x0E, 0xA1,        // width, length
    0x00, 0x00, 0x1D, 0xA0,                                // bytes per line 7584
    0x00, 0x00, 0x00, 0x80, 0x00,                          // 39-43
    0x01, 0x04, 0x03, 0x84, 0x00, 0x00, 0x80, 0x80, 0x00,  // 44-52
    0xFF, 0x00, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00, 0x00,  // 53-61
    0x00, 0x05,                                            // 62-63
};

void CBrennaScanFunc::PutTag(unsigned char* p) const { BrennaSetBe16(p, m_wTag); }

void CBrennaScanFunc::InitScanParameterBrenna() {
  for (int i = 0; i < BRENNA_BLOCKS; ++i) {
    m_byCmd[i][0] = kOpcodes[i];
    PutTag(m_byCmd[i] + 1);
  }
  memcpy(m_byJpegBlock, byDefSendJPEG5, sizeof m_byJpegBlock);
  memcpy(m_byGammaBlock[0], byDefSendGamma0, 520);
  memcpy(m_byGammaBlock[1], byDefSendGamma1, 520);
  memcpy(m_byGammaBlock[2], byDefSendGamma2, 520);
}

namespace {

// The backend's USB manager as the exchange's transport.
class ManagerTransport : public BrennaTransport {
 public:
  explicit ManagerTransport(KeloManagerUsb* usb) : m_usb(usb) {}
  bool SendBlock(unsigned char* block) override { return m_usb->SendControlMsg(block, BRENNA_BLOCK_SIZE) == 0; }
  bool BulkOut(const unsigned char* data, uint32_t length) override {
    return m_usb->RawWriteData(const_cast<unsigned char*>(data), length) == 0;
  }
  bool BulkIn(unsigned char* data, uint32_t length, uint32_t* count) override {
    unsigned int got = 0;
    const bool ok = m_usb->RawReadData(data, length, &got) == 0;
    *count = got;
    return ok;
  }

 private:
  KeloManagerUsb* m_usb;
};

// The class's own DoIo, with its sense handling and log, for the steps of
// the exchange that run several commands.
auto Io(CBrennaScanFunc* object) {
  return [object](unsigned char* block, unsigned char* data, unsigned in, unsigned out) {
    return object->DoIo(block, data, in, out) != 0;
  };
}

}  // namespace

int CBrennaScanFunc::DoIo(unsigned char* block, unsigned char* data, unsigned int inLength, unsigned int outLength) {
  const char* fn = "CBrennaScanFunc::DoIo";
  KeloManagerUsb* usb = m_pUsb ? m_pUsb : kelo_usb_manager;
  if (!usb) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "kelo_usb_manager == NULL");
    return 0;
  }
  if (outLength == 0) WriteLog(LOG_LEVEL_DETAIL, fn, "not write data.");
  ManagerTransport transport(usb);
  const char* failure = nullptr;
  switch (BrennaDoIo(transport, block, data, inLength, outLength, m_wTag)) {
    case BrennaResult::Ok:
      return 1;
    case BrennaResult::CheckCondition:
      if (block[0] == 0xE3) return 1;
      if (RequestSense(0)) return 1;
      failure = "Error 8";
      break;
    case BrennaResult::Block:
      failure = "failed to send command block";
      break;
    case BrennaResult::DataOut:
      failure = "failed to send command header";
      break;
    case BrennaResult::DataIn:
      failure = "Error 2";
      break;
    case BrennaResult::ShortDataIn:
      failure = "Error 3";
      break;
    case BrennaResult::ReplyTag:
      failure = "Error 4";
      break;
    case BrennaResult::StatusIn:
      failure = "Error 5";
      break;
    case BrennaResult::ShortStatus:
      failure = "Error 6";
      break;
    case BrennaResult::StatusTag:
      failure = "Error 7";
      break;
    case BrennaResult::BadStatus:
      failure = "Error 9";
      break;
  }
  m_dwLastErr = BRENNA_ERR_IO;
  LogError(fn, failure);
  return 0;
}

int CBrennaScanFunc::Inquiry(int standard, unsigned char* buffer, unsigned int length) {
  const char* fn = "CBrennaScanFunc::Inquiry";
  CLogScope scope(fn);
  g_PropInfo.FLATBED_PAGE_DETECTION = 0;
  auto handOut = [&] {
    if (buffer) {
      const unsigned int size = standard ? sizeof g_Inquiry : sizeof g_InquiryVPD;
      memcpy(buffer, standard ? g_Inquiry : g_InquiryVPD, std::min(length, size));
    }
    return 0;
  };
  if (m_bInquiryCached) {
    if (g_InquiryVPD[104] & 0x02) g_PropInfo.FLATBED_PAGE_DETECTION = 1;
    return handOut();
  }
  unsigned char reply[BRENNA_INQUIRY_MAX + 1];
  unsigned int total = 0;
  const BrennaStep step = BrennaReadInquiry(Io(this), m_byCmd[BRENNA_INQUIRY], reply, &total);
  if (step != BrennaStep::Ok) {
    LogError(fn, step == BrennaStep::TooLong ? "dwRealReadLen > 255" : "failed to DoIo");
    return BRENNA_ERR_OTHER;
  }
  if (BrennaCompleteInquiry(reply, total, g_Inquiry, g_InquiryVPD)) g_PropInfo.FLATBED_PAGE_DETECTION = 1;
  m_bInquiryCached = 1;
  return handOut();
}

int CBrennaScanFunc::MediaCheck(unsigned char value, unsigned char* out) {
  const char* fn = "CBrennaScanFunc::MediaCheck";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_MEDIA_CHECK];
  block[9] = value;
  block[10] = 5;
  if (!DoIo(block, m_byMedia, 5, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  if (out) *out = m_byMedia[4];
  if (m_dwLastErr != 0) {
    LogError(fn, "Detected the device error");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::GetScannerStatus(unsigned char* buffer, unsigned int length) {
  const char* fn = "CBrennaScanFunc::GetScannerStatus";
  CLogScope scope(fn);
  unsigned char* record = static_cast<unsigned char*>(calloc(std::max(length, 8u), 1));
  if (!record) {
    LogError(fn, "pByte == NULL");
    return 2;
  }
  m_dwLastErr = 0;
  unsigned char paper = 0;
  if (MediaCheck(0, &paper)) {
    if (paper == 0) {
      record[3] |= 0x80;
      record[7] = 0x20;
    }
  } else {
    switch (m_dwLastErr) {
      case BRENNA_ERR_COVER_OPEN:
        record[3] |= 0x20;
        record[7] = 0x40;
        break;
      case BRENNA_ERR_JAM:
        record[7] = 0x31;
        break;
      case BRENNA_ERR_NO_PAPER:
        record[3] |= 0x80;
        record[7] = 0x20;
        break;
      case BRENNA_ERR_JAM2:
        record[7] = 0x55;
        break;
      case 14:
        record[7] = 0x74;
        break;
      case 15:
        record[7] = 0x75;
        break;
      case 16:
        record[7] = 0x7E;
        break;
      case 17:
        record[7] = 0x87;
        break;
      case 18:
        record[7] = 0xE4;
        break;
      case 19:
        record[7] = 0xD2;
        break;
      case 20:
        record[7] = 0xE9;
        break;
      case 21:
        record[7] = 0xFD;
        break;
      default:
        break;
    }
  }
  if (buffer) memcpy(buffer, record, length);
  free(record);
  return 0;
}

int CBrennaScanFunc::SetWindow(const unsigned char* window) {
  const char* fn = "CBrennaScanFunc::SetWindow_Device";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_SET_WINDOW];
  block[10] = 96;
  unsigned char data[96];
  memcpy(data, window, sizeof data);
  if (!DoIo(block, data, 0, sizeof data)) {
    LogError("CBrennaScanFunc::SetWindow", "failed to DoIo");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::ReadData(unsigned char* buffer, uint16_t dataType, unsigned int length) {
  const char* fn = "CBrennaScanFunc::ReadData";
  CLogScope scope(fn);
  switch (BrennaReadData(Io(this), m_byCmd[BRENNA_READ], buffer, dataType, length)) {
    case BrennaStep::Ok:
      return 1;
    case BrennaStep::First:
      LogError(fn, "failed to DoIo_1");
      return 0;
    case BrennaStep::TooLong:
      LogError(fn, "bySize is incorrect");
      return 0;
    case BrennaStep::Second:
      break;
  }
  LogError(fn, dataType == BRENNA_READ_DATA_TYPE ? "failed to DoIo_2" : "failed to DoIo");
  return 0;
}

int CBrennaScanFunc::ReadCalibration(unsigned char*) {
  const char* fn = "CBrennaScanFunc::ReadCalibration";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_READ];
  block[4] = 0x60;
  const unsigned char length[4] = {0x00, 0x00, 0x00, 0x24};
  memcpy(block + 7, length, 4);
  if (!DoIo(block, m_byCalibration, sizeof m_byCalibration, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::ReadDuplex(unsigned char*) {
  const char* fn = "CBrennaScanFunc::ReadDuplex";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_READ];
  block[4] = 0xB2;
  const unsigned char length[4] = {0x00, 0x00, 0x00, 0x07};
  memcpy(block + 7, length, 4);
  if (!DoIo(block, m_byDuplex, sizeof m_byDuplex, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::ReserveUnit(unsigned char unit) {
  const char* fn = "CBrennaScanFunc::ReserveUnit";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_RESERVE_UNIT];
  block[11] = unit;
  if (!DoIo(block, nullptr, 0, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  if (m_dwLastErr != 0) {
    LogError(fn, "Detected the device error");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::ReleaseUnit(unsigned char unit) {
  const char* fn = "CBrennaScanFunc::ReleaseUnit";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_RELEASE_UNIT];
  block[11] = unit;
  if (!DoIo(block, nullptr, 0, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::Send(int dataType, int flag) {
  const char* fn = "CBrennaScanFunc::Send";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_SEND];
  BrennaSendBlock send;
  if (BrennaSendData(dataType, flag, m_byErrorRecord, m_wTag, &send)) {
    BrennaSendCommand(block, send);
    if (!DoIo(block, send.data, 0, send.length)) {
      LogError(fn, "failed to DoIo");
      return 0;
    }
    return 1;
  }
  unsigned char data[20] = {};
  unsigned int length = 0;
  uint16_t type = 0;
  PutTag(data);
  switch (dataType) {
    case 0x95:
    case 0x96: {
      type = static_cast<uint16_t>(dataType);
      const unsigned char body[8] = {0x01, 0x0A,
                                     0x00, 0x01,
                                     0x00, static_cast<unsigned char>(flag ? 0x78 : 0),
                                     0x00, static_cast<unsigned char>(flag ? 0x2A : 0)};
      memcpy(data + 2, body, sizeof body);
      length = 10;
      break;
    }
    case 0x8B:
      block[3] = 0x00, block[4] = 0x8B, block[10] = 0x84;
      if (!DoIo(block, m_byJpegBlock, 0, sizeof m_byJpegBlock)) {
        LogError(fn, "failed to DoIo");
        return 0;
      }
      return 1;
    case 0x81: {
      block[3] = 0x00, block[4] = 0x81;
      const unsigned char length81[4] = {0x00, 0x00, 0x02, 0x08};
      memcpy(block + 7, length81, 4);
      for (auto& gamma : m_byGammaBlock)
        if (!DoIo(block, gamma, 0, sizeof gamma)) {
          LogError(fn, "failed to DoIo");
          return 0;
        }
      return 1;
    }
    default:
      return 1;
  }
  block[3] = static_cast<unsigned char>(type >> 8);
  block[4] = static_cast<unsigned char>(type);
  block[10] = static_cast<unsigned char>(length);
  if (!DoIo(block, data, 0, length)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::SendFirstReadDate(const unsigned char* date, int) {
  unsigned char* block = m_byCmd[BRENNA_SEND];
  BrennaSendBlock send;
  BrennaFirstReadDateData(date, m_wTag, &send);
  BrennaSendCommand(block, send);
  if (!DoIo(block, send.data, 0, send.length)) {
    LogError("CBrennaScanFunc::SendFirstReadDate", "failed to DoIo");
    return 0;
  }
  return 1;
}

bool CBrennaScanFunc::SenseIsValid() const {
  const unsigned char code = m_bySense[4] & 0x7F;
  return code == 0x70 || code == 0x7F;
}

uint16_t CBrennaScanFunc::SenseCode() const { return BrennaBe16(m_bySense + 7); }

int CBrennaScanFunc::RequestSense(unsigned char value) {
  const char* fn = "CBrennaScanFunc::RequestSense";
  CLogScope scope(fn);
  unsigned char* block = m_byCmd[BRENNA_REQUEST_SENSE];
  block[10] = sizeof m_bySense;
  block[11] = value;
  // A sense that cannot be read must not pass for no error.
  if (!DoIo(block, m_bySense, sizeof m_bySense, 0)) {
    LogError(fn, "failed to DoIo");
    return 0;
  }
  if (!SenseIsValid()) return 1;
  const unsigned char key = m_bySense[5] & 0x0F;
  if (!(key == 2 || key == 3 || key == 4 || key == 5 || key == 6 || key == 9 || key == 11)) return 1;
  const uint32_t old = m_dwLastErr;
  uint32_t code;
  switch (SenseCode()) {
    case 0x0000:
      code = 0;
      break;
    case 0x8002:
      code = 1;
      break;
    case 0x8001:
      code = 2;
      break;
    case 0x8003:
      code = 3;
      break;
    case 0x8005:
      code = 4;
      break;
    case 0x8004:
      code = 13;
      break;
    case 0x6001:
    case 0x6002:
      code = m_byWindow[44] != 0 ? 14 : 16;
      break;
    case 0x6003:
      code = 15;
      break;
    case 0x1502:
      code = 17;
      break;
    case 0x4401:
    case 0x4402:
      code = 18;
      break;
    case 0x4403:
      code = 19;
      break;
    case 0x4404:
    case 0x4405:
      code = 20;
      break;
    default:
      code = 21;
      break;
  }
  m_dwLastErr = code;
  if (code >= 14 && code != old) {
    if (!BrennaReadErrorRecord(
            [this](unsigned char* b, uint16_t type, unsigned length) { return ReadData(b, type, length) != 0; },
            m_byErrorRecord)) {
      LogError(fn, "failed to ReadData");
      return 0;
    }
    const char* letters = "E1";
    switch (code) {
      case 15:
        letters = "E3";
        break;
      case 17:
        letters = "E0";
        break;
      case 18:
        letters = "E9";
        break;
      case 19:
        letters = "E7";
        break;
      case 20:
        letters = "C0";
        break;
      case 21:
        letters = "FD";
        break;
      default:
        break;
    }
    m_byErrorRecord[0] = static_cast<unsigned char>(letters[0]);
    m_byErrorRecord[1] = static_cast<unsigned char>(letters[1]);
    // The sense code of this command is kept: the write-back must not
    // change what the caller reads.
    if (!Send(0xE0, 0)) {
      m_dwLastErr = code;
      LogError(fn, "failed to Send(0xE0)");
      return 0;
    }
    m_dwLastErr = code;
  }
  if (key == 11) m_dwLastErr = BRENNA_ERR_CANCELLED;
  return 1;
}

int CBrennaScanFunc::ObjectPosition() {
  const char* fn = "CBrennaScanFunc::ObjectPosition";
  CLogScope scope(fn);
  unsigned char status[32] = {};
  if (GetScannerStatus(status, sizeof status) != 0) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "failed to GetScannerStatus");
    return 0;
  }
  if (status[3] & 0x20) {
    if (m_bFirstPage) {
      m_dwLastErr = BRENNA_ERR_COVER_OPEN;
      LogError(fn, "Cover Open(First)");
      return 0;
    }
    ReleaseImageData();
    m_dwLastErr = BRENNA_ERR_COVER_OPEN;
    InitScanParameter();
    InitScanParameterBrenna();
    LogError(fn, "Cover Open");
    return 0;
  }
  if (status[3] & 0x80) {
    if (m_bFirstPage) {
      m_dwLastErr = BRENNA_ERR_NO_PAPER;
      LogError(fn, "No paper(First)");
      return 0;
    }
    if (ReleaseUnit(2)) {
      m_bPaperReleased = 1;
      if (!Prop().AUTOFEED) m_dwLastErr = BRENNA_ERR_NO_PAPER;
      LogError(fn, "No paper");
      return 0;
    }
    LogError(fn, "failed to ReleaseUnit(0x02)");
    return 0;
  }
  return 1;
}

int CBrennaScanFunc::CancelRead() {
  const char* fn = "CBrennaScanFunc::CancelRead";
  CLogScope scope(fn);
  if (m_bPaperReleased || Prop().AUTOFEED) return 1;
  if (!ReleaseUnit(2)) {
    LogError(fn, "failed to ReleaseUnit(0x02)");
    return 0;
  }
  return 1;
}

SANE_Status CBrennaScanFunc::ConvertToSaneErr(uint32_t code) {
  static const SANE_Status kTable[10] = {
      SANE_STATUS_GOOD,      SANE_STATUS_COVER_OPEN, SANE_STATUS_JAMMED, SANE_STATUS_NO_DOCS,  SANE_STATUS_JAMMED,
      SANE_STATUS_CANCELLED, SANE_STATUS_INVAL,      SANE_STATUS_NO_MEM, SANE_STATUS_IO_ERROR, SANE_STATUS_JAMMED};
  char text[32];
  snprintf(text, sizeof text, "ErrCode %d", static_cast<int>(code));
  WriteLog(LOG_LEVEL_DEBUG, "CBrennaScanFunc::ConvertToSaneErr", text);
  return code < 10 ? kTable[code] : SANE_STATUS_IO_ERROR;
}

uint32_t CBrennaScanFunc::GetScannerError(uint32_t* out) {
  if (out) *out = m_dwLastErr;
  return m_dwLastErr;
}
