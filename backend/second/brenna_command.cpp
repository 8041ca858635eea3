// The Brenna command layer: one transport step for every command, the
// inquiry records, sense handling and the data blocks the class sends.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brenna_jfif.h"
#include "brenna_scan_func.h"
#include "log.h"
#include "model_catalog.h"
#include "second_backend.h"
#include "usb_manager.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint16_t Be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be24(const unsigned char* p) { return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]); }
void SetBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void SetBe24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  SetBe16(p + 1, v);
}

constexpr unsigned char kOpcodes[BRENNA_BLOCKS] = {0xE2, 0xE3, 0xE4, 0xA8, 0xE6, 0xE7, 0xE8, 0xAA};

unsigned char* MakeInquiry() {
  static unsigned char inquiry[96] = {0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x10};
  memcpy(inquiry + 8, "MORANTI ", 8);
  memset(inquiry + 16, ' ', 16);
  const char* model = dravn::kBrennaModels[0].model;
  memcpy(inquiry + 16, model, std::min<size_t>(strlen(model), 16));
  memcpy(inquiry + 32, "0000", 4);
  inquiry[44] = 0x03;
  return inquiry;
}

unsigned char* MakeInquiryVPD() {
  static unsigned char vpd[144] = {0x06, 0xF0, 0x02, 0x00, 0x8B, 0x02, 0x58, 0x02, 0x58, 0x11,
                                   0x02, 0x58, 0x02, 0x58, 0x00, 0x32, 0x00, 0x32, 0xFF, 0xFC};
  SetBe24(vpd + 21, 0x1440);
  SetBe24(vpd + 25, 0x22A4);
  const unsigned char fixed28[] = {0x8F, 0x00, 0x00, 0x00, 0xD2, 0x6A, 0x08};
  memcpy(vpd + 28, fixed28, sizeof fixed28);
  const unsigned char fixed40[] = {0xEF, 0xBF, 0x00, 0x1C};
  memcpy(vpd + 40, fixed40, sizeof fixed40);
  vpd[49] = 0x06;
  vpd[83] = 0xFF;
  const unsigned char fixed86[] = {0x42, 0x04, 0xA8, 0x41, 0x08};
  memcpy(vpd + 86, fixed86, sizeof fixed86);
  vpd[98] = 0x02;
  vpd[101] = 0xEA;
  vpd[103] = 0x78;
  vpd[105] = 0x80;
  vpd[106] = 0xC0;
  vpd[111] = 0x20;
  vpd[112] = 0x08;
  const unsigned char fixed114[] = {0x10, 0x90, 0x01, 0x00, 0x81, 0x00, 0x08};
  memcpy(vpd + 114, fixed114, sizeof fixed114);
  return vpd;
}

}  // namespace

unsigned char g_Inquiry[96];
unsigned char g_InquiryVPD[144];
namespace {
// The templates, filled before any object exists.
[[maybe_unused]] const bool g_bTemplates = [] {
  memcpy(g_Inquiry, MakeInquiry(), sizeof g_Inquiry);
  memcpy(g_InquiryVPD, MakeInquiryVPD(), sizeof g_InquiryVPD);
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

void CBrennaScanFunc::PutTag(unsigned char* p) const { SetBe16(p, m_wTag); }

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

int CBrennaScanFunc::DoIo(unsigned char* block, unsigned char* data, unsigned int inLength, unsigned int outLength) {
  const char* fn = "CBrennaScanFunc::DoIo";
  KeloManagerUsb* usb = m_pUsb ? m_pUsb : kelo_usb_manager;
  if (!usb) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "kelo_usb_manager == NULL");
    return 0;
  }
  // A command the device never took has no status to wait for.
  if (usb->SendControlMsg(block, 12) != 0) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "failed to send command block");
    return 0;
  }
  if (outLength == 0) {
    WriteLog(LOG_LEVEL_DETAIL, fn, "not write data.");
  } else if (usb->RawWriteData(data, outLength) != 0) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "failed to send command header");
    return 0;
  }
  if (inLength != 0) {
    unsigned int got = 0;
    if (usb->RawReadData(data, inLength, &got) != 0) {
      m_dwLastErr = BRENNA_ERR_IO;
      LogError(fn, "Error 2");
      return 0;
    }
    if (got != inLength) {
      m_dwLastErr = BRENNA_ERR_IO;
      LogError(fn, "Error 3");
      return 0;
    }
    const uint16_t type = Be16(block + 3);
    if (type != 0x0000 && type != 0x009A && type != 0x009B && (inLength < 2 || Be16(data) != m_wTag)) {
      m_dwLastErr = BRENNA_ERR_IO;
      LogError(fn, "Error 4");
      return 0;
    }
  }
  unsigned char status[3] = {};
  unsigned int got = 0;
  if (usb->RawReadData(status, sizeof status, &got) != 0) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "Error 5");
    return 0;
  }
  if (got < sizeof status) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "Error 6");
    return 0;
  }
  if (Be16(status) != m_wTag) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError(fn, "Error 7");
    return 0;
  }
  if (status[2] == 0) return 1;
  if (status[2] == 2) {
    if (block[0] == 0xE3) return 1;
    if (!RequestSense(0)) {
      m_dwLastErr = BRENNA_ERR_IO;
      LogError(fn, "Error 8");
      return 0;
    }
    return 1;
  }
  m_dwLastErr = BRENNA_ERR_IO;
  LogError(fn, "Error 9");
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
  unsigned char* block = m_byCmd[BRENNA_INQUIRY];
  unsigned char reply[256] = {};
  block[4] = 0;
  block[10] = 5;
  if (!DoIo(block, reply, 5, 0)) {
    LogError(fn, "failed to DoIo");
    return BRENNA_ERR_OTHER;
  }
  const unsigned int total = Be16(reply + 3);
  if (total > 255) {
    LogError(fn, "dwRealReadLen > 255");
    return BRENNA_ERR_OTHER;
  }
  block[10] = static_cast<unsigned char>(total);
  memset(reply, 0, sizeof reply);
  if (total > 0 && !DoIo(block, reply, total, 0)) {
    LogError(fn, "failed to DoIo");
    return BRENNA_ERR_OTHER;
  }
  // Offsets come from the device: a field it places outside what it sent
  // keeps the template.
  if (total >= 12) {
    const unsigned int at = Be16(reply + 10);
    if (at < total) {
      unsigned int n = 0;
      while (n < 16 && at + n < total && reply[at + n] != 0) ++n;
      memcpy(g_Inquiry + 16, reply + at, n);
    }
  }
  if (total >= 14) {
    const unsigned int at = Be16(reply + 12);
    if (at + 4 <= total) memcpy(g_Inquiry + 32, reply + at, 4);
  }
  if (total >= 30) {
    SetBe24(g_InquiryVPD + 21, 2 * Be24(reply + 27));
    SetBe24(g_InquiryVPD + 25, 2 * Be24(reply + 24));
  }
  if (total >= 112 && reply[109] == 1 && reply[110] == 1 && reply[111] == 1) {
    g_InquiryVPD[104] |= 0x02;
    g_PropInfo.FLATBED_PAGE_DETECTION = 1;
  }
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
  unsigned char* block = m_byCmd[BRENNA_READ];
  block[3] = static_cast<unsigned char>(dataType >> 8);
  block[4] = static_cast<unsigned char>(dataType);
  block[7] = 0;
  block[8] = block[9] = 0;
  if (dataType == 0x0069) {
    unsigned char header[5] = {};
    block[10] = 5;
    if (!DoIo(block, header, 5, 0)) {
      LogError(fn, "failed to DoIo_1");
      return 0;
    }
    if (header[3] > length) {
      LogError(fn, "bySize is incorrect");
      return 0;
    }
    length = header[3];
  }
  block[10] = static_cast<unsigned char>(length);
  if (!DoIo(block, buffer, length & 0xFF, 0)) {
    LogError(fn, dataType == 0x0069 ? "failed to DoIo_2" : "failed to DoIo");
    return 0;
  }
  return 1;
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
  unsigned char data[20] = {};
  unsigned int length = 0;
  uint16_t type = 0;
  PutTag(data);
  switch (dataType) {
    case 3:
    case 4:
      type = static_cast<uint16_t>(0x0100 | dataType);
      data[2] = 0x01, data[3] = 0x04;
      length = 8;
      break;
    case 5:
    case 6:
      type = static_cast<uint16_t>(0x0100 | dataType);
      data[2] = 0x01, data[3] = 0x02;
      SetBe16(data + 4, static_cast<uint32_t>(flag));
      length = 6;
      break;
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
    case 0xE0:
      type = 0xFFE0;
      data[2] = 0x01, data[3] = 0x10;
      memcpy(data + 4, m_byErrorRecord, sizeof m_byErrorRecord);
      length = 20;
      break;
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
  unsigned char data[10] = {};
  PutTag(data);
  data[2] = 0x01, data[3] = 0x06;
  data[5] = date[1];
  data[7] = date[2];
  SetBe16(data + 8, date[0] + 2000u);
  block[3] = 0x01, block[4] = 0x02, block[10] = sizeof data;
  if (!DoIo(block, data, 0, sizeof data)) {
    LogError("CBrennaScanFunc::SendFirstReadDate", "failed to DoIo");
    return 0;
  }
  return 1;
}

bool CBrennaScanFunc::SenseIsValid() const {
  const unsigned char code = m_bySense[4] & 0x7F;
  return code == 0x70 || code == 0x7F;
}

uint16_t CBrennaScanFunc::SenseCode() const { return Be16(m_bySense + 7); }

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
    unsigned char scratch[20] = {};
    if (!ReadData(scratch, 0xFFE0, 16)) {
      LogError(fn, "failed to ReadData");
      return 0;
    }
    memcpy(m_byErrorRecord, scratch + 4, sizeof m_byErrorRecord);
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
