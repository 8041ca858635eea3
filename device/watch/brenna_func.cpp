#include "brenna_func.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "diag_request.h"
#include "dravn_paths.h"
#include "log.h"
#include "maintenance_image.h"
#include "model_catalog.h"

namespace devwatch {
namespace {

constexpr unsigned kTimeOut = 15000;
// Page 0xF0 goes out short of its stored length.
constexpr unsigned kVpdServed = 139;
constexpr uint16_t kReadData = BRENNA_READ_DATA_TYPE;
constexpr unsigned kSenseSize = 44;
constexpr int kLogRemove = 2, kLogTime = 4;

void PutLe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

std::string LogPath() { return std::string(DRAVN_LOG_DIR) + "/Brenna.log"; }

// Minutes of the image's sleep byte; 0 when out of range.
uint32_t SleepMinutes(unsigned char code) {
  uint32_t minutes = code & 0x80 ? (code & 0x7Fu) * 5 : code;
  if (minutes == 0) minutes = 15;
  return minutes > 480 ? 0 : minutes;
}

}  // namespace

CBrennaScanFunc::CBrennaScanFunc(BrennaLink& link) : m_link(link) {
  if (const char* mode = getenv("LOG_MODE")) m_iLogMode = static_cast<int>(strtol(mode, nullptr, 10));
  if (m_iLogMode & kLogRemove) unlink(LogPath().c_str());
  m_wTag = static_cast<uint16_t>(rand());
  const unsigned char opcodes[kBlocks] = {0xE2, 0xE3, 0xA8, 0xAA};
  for (int i = 0; i < kBlocks; ++i) {
    m_byCmd[i][0] = opcodes[i];
    BrennaSetBe16(m_byCmd[i] + 1, m_wTag);
  }
}

int CBrennaScanFunc::WriteLogFile(const char* message) const {
  if (m_iLogMode == 0) return 1;
  if (!CheckFolder(DRAVN_LOG_DIR)) CreateFolder(DRAVN_LOG_DIR);
  // The directory is open to everyone: a link or a pipe planted under the
  // log's name is never written through.
  int fd = open(LogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fchmod(fd, 0644) != 0) {
    close(fd);
    return 0;
  }
  std::string text;
  if (m_iLogMode & kLogTime) {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "[Time:%04d/%02d/%02d %02d:%02d:%02d]\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
             t.tm_hour, t.tm_min, t.tm_sec);
    text = stamp;
  }
  text += message;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok ? 1 : 0;
}

bool CBrennaScanFunc::DoIo(unsigned char* block, unsigned char* data, unsigned inLength, unsigned outLength) {
  const BrennaResult result = BrennaDoIo(m_link, block, data, inLength, outLength, m_wTag);
  if (result == BrennaResult::Ok) return true;
  if (result == BrennaResult::CheckCondition && block[0] != 0xE3) {
    // The refusal's sense is read, so that the device holds none for the
    // next command; the command itself failed.
    unsigned char sense[kSenseSize];
    unsigned char* senseBlock = m_byCmd[kSense];
    senseBlock[10] = kSenseSize;
    senseBlock[11] = 0;
    BrennaDoIo(m_link, senseBlock, sense, sizeof sense, 0, m_wTag);
  }
  WriteLogFile("DoIo return FALSE\n");
  return false;
}

int CBrennaScanFunc::CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned length) {
  if (cdb == nullptr || (cdb[0] != 0x00 && buffer == nullptr)) return 0;
  const unsigned requested = static_cast<unsigned>(cdb[3] << 8 | cdb[4]);
  const char* step = nullptr;
  switch (cdb[0]) {
    case 0x00:
      step = "TestUnitReady";
      break;
    case 0x12:
      step = "Inquiry";
      break;
    case 0x1D:
      step = "SendDiagnostic";
      break;
    case 0x1C:
      step = "ReceiveDiagnosticResult";
      break;
    default:
      return 0;
  }
  WriteLogFile(("-In " + std::string(step) + "-\n").c_str());
  int result = 1;
  if (cdb[0] != 0x00) m_link.SetTimeOut(kTimeOut);
  if (cdb[0] == 0x12)
    result = Inquiry(cdb, buffer, length);
  else if (cdb[0] == 0x1D)
    result = SendDiagnostic(buffer, std::min(length, requested));
  else if (cdb[0] == 0x1C)
    result = ReceiveDiagnosticResult(buffer, std::min(length, requested));
  WriteLogFile(("-Out " + std::string(step) + "-\n").c_str());
  return result;
}

bool CBrennaScanFunc::ReadInquiry() {
  unsigned char reply[BRENNA_INQUIRY_MAX + 1];
  unsigned total = 0;
  auto io = [this](unsigned char* b, unsigned char* d, unsigned in, unsigned out) { return DoIo(b, d, in, out); };
  if (BrennaReadInquiry(io, m_byCmd[kInquiry], reply, &total) != BrennaStep::Ok) return false;
  BrennaInquiryTemplates(dravn::kBrennaModels[0].model, m_byStandard, m_byVpd);
  BrennaCompleteInquiry(reply, total, m_byStandard, m_byVpd);
  m_bInquiryCached = true;
  return true;
}

int CBrennaScanFunc::Inquiry(const unsigned char* cdb, unsigned char* buffer, unsigned length) {
  const bool standard = cdb[1] == 0x00;
  if (!standard && !(cdb[1] == 0x01 && cdb[2] == 0xF0)) {
    WriteLogFile("Inquiry return FALSE 3\n");
    return 0;
  }
  if (!m_bInquiryCached && !ReadInquiry()) {
    WriteLogFile(standard ? "Inquiry return FALSE 1\n" : "Inquiry return FALSE 2\n");
    return 0;
  }
  if (standard)
    memcpy(buffer, m_byStandard, std::min(length, BRENNA_STANDARD_SIZE));
  else
    memcpy(buffer, m_byVpd, std::min(length, kVpdServed));
  return 1;
}

int CBrennaScanFunc::ReadData(unsigned char* buffer, uint16_t dataType, unsigned length) {
  auto io = [this](unsigned char* b, unsigned char* d, unsigned in, unsigned out) { return DoIo(b, d, in, out); };
  switch (BrennaReadData(io, m_byCmd[kRead], buffer, dataType, length)) {
    case BrennaStep::Ok:
      return 1;
    case BrennaStep::First:
      WriteLogFile("ReadData return FALSE 1\n");
      return 0;
    case BrennaStep::TooLong:
      WriteLogFile("ReadData return FALSE 3\n");
      return 0;
    case BrennaStep::Second:
      break;
  }
  WriteLogFile("ReadData return FALSE 2\n");
  return 0;
}

int CBrennaScanFunc::Send(int dataType, int value) {
  BrennaSendBlock send;
  if (!BrennaSendData(dataType, value, m_byErrorRecord, m_wTag, &send)) return 1;
  BrennaSendCommand(m_byCmd[kSend], send);
  return DoIo(m_byCmd[kSend], send.data, 0, send.length) ? 1 : 0;
}

int CBrennaScanFunc::SendFirstReadDate(const unsigned char* date) {
  BrennaSendBlock send;
  BrennaFirstReadDateData(date, m_wTag, &send);
  BrennaSendCommand(m_byCmd[kSend], send);
  return DoIo(m_byCmd[kSend], send.data, 0, send.length) ? 1 : 0;
}

int CBrennaScanFunc::GetFirmVersion(unsigned char* buffer, unsigned length) {
  if (length <= 3) {
    m_dwLastErr = BRENNA_WATCH_ERR_SHORT_BUFFER;
    WriteLogFile("GetFirmVersion return STATUS_INVALID 1\n");
    return 2;
  }
  unsigned char reply[BRENNA_INQUIRY_MAX + 1];
  unsigned total = 0;
  auto io = [this](unsigned char* b, unsigned char* d, unsigned in, unsigned out) { return DoIo(b, d, in, out); };
  switch (BrennaReadInquiry(io, m_byCmd[kInquiry], reply, &total)) {
    case BrennaStep::Ok:
      break;
    case BrennaStep::TooLong:
      WriteLogFile("GetFirmVersion return STATUS_INVALID 3\n");
      return 2;
    default:
      WriteLogFile("GetFirmVersion return STATUS_INVALID 2\n");
      return 2;
  }
  // The device names where the version lies; it must lie within what came.
  const unsigned at = total >= 14 ? BrennaBe16(reply + 12) : total;
  if (at + 4 > total) {
    WriteLogFile("GetFirmVersion return STATUS_INVALID 4\n");
    return 2;
  }
  memset(buffer, 0xFF, length);
  memcpy(buffer, reply + at, 4);
  return 0;
}

int CBrennaScanFunc::GetEEPROMData(unsigned char* image, unsigned length) {
  if (!image || length < 1 || length > sizeof m_image) {
    WriteLogFile("GetEEPROMData return STATUS_INVALID 1\n");
    return 2;
  }
  unsigned char data[BRENNA_READ_DATA_SIZE] = {};
  if (!ReadData(data, kReadData, sizeof data)) {
    WriteLogFile("GetEEPROMData return STATUS_INVALID 3\n");
    return 2;
  }
  MaintenanceFields f;
  f.total = BrennaBe32(data + 8) + BrennaBe32(data + 12);
  f.counter60 = BrennaBe32(data + 77);
  f.sleepMinutes = BrennaBe16(data + 74);
  f.autoOffMinutes = BrennaBe16(data + 126);
  f.date[0] = static_cast<unsigned char>(data[43] + 0x30);
  f.date[1] = static_cast<unsigned char>(data[38] + data[39]);
  f.date[2] = static_cast<unsigned char>(data[40] + data[41]);
  memcpy(f.serial, data + 54, sizeof f.serial);
  memcpy(f.word284, data + 50, sizeof f.word284);
  unsigned char built[sizeof m_image];
  FillMaintenanceImage(f, built);
  const uint32_t second = BrennaBe32(data + 16);
  built[39] = static_cast<unsigned char>((second % 500) / 10);
  PutLe16(built + 41, 788);
  PutLe16(built + 44, second / 500);
  built[64] = SleepCode(f.sleepMinutes, true);
  PutLe16(built + 124, BrennaBe32(data + 4) / 500);
  built[295] = static_cast<unsigned char>(second % 10);
  auto read = [this](unsigned char* b, uint16_t type, unsigned n) { return ReadData(b, type, n) != 0; };
  if (!BrennaReadErrorRecord(read, m_byErrorRecord)) {
    WriteLogFile("GetEEPROMData return STATUS_INVALID 4\n");
    return 2;
  }
  built[352] = m_byErrorRecord[2];
  memcpy(image, built, length);
  return 0;
}

bool CBrennaScanFunc::BuildImage() {
  m_bImageValid = GetEEPROMData(m_image, sizeof m_image) == 0;
  return m_bImageValid;
}

int CBrennaScanFunc::SetEEPROMData(const unsigned char* image, unsigned length) {
  if (!image || length == 0) {
    WriteLogFile("SetEEPROMData return STATUS_INVALID 1\n");
    return 2;
  }
  if (length > 64) {
    const uint32_t minutes = SleepMinutes(image[64]);
    if (minutes == 0) {
      m_dwLastErr = BRENNA_WATCH_ERR_VALUE;
      WriteLogFile("SetEEPROMData return STATUS_INVALID 2\n");
      return 2;
    }
    if (!Send(5, static_cast<int>(minutes))) {
      WriteLogFile("SetEEPROMData return STATUS_INVALID 3\n");
      return 2;
    }
  }
  if (length > 280) {
    const unsigned char code = image[280];
    uint32_t minutes = 0;
    if (code == '~') {
      minutes = 1;
    } else if (!(code & 0x80)) {
      if (code >= 33) {
        m_dwLastErr = BRENNA_WATCH_ERR_VALUE;
        WriteLogFile("SetEEPROMData return STATUS_INVALID 4\n");
        return 2;
      }
      minutes = code * 15u;
    }
    if (!Send(6, static_cast<int>(minutes))) {
      WriteLogFile("SetEEPROMData return STATUS_INVALID 5\n");
      return 2;
    }
  }
  if (length > 61) {
    // Counters are cleared only from what the device says it holds now.
    unsigned char data[BRENNA_READ_DATA_SIZE] = {};
    if (!ReadData(data, kReadData, sizeof data)) {
      WriteLogFile("SetEEPROMData return FALSE 1\n");
      return 2;
    }
    if (image[60] == 0 && image[61] == 0 && BrennaBe32(data + 77) >= 500 && !Send(4, 0)) {
      WriteLogFile("SetEEPROMData return STATUS_INVALID 6\n");
      return 2;
    }
    if (length >= 126 && image[124] == 0 && image[125] == 0 && BrennaBe32(data + 4) >= 500 && !Send(3, 0)) {
      WriteLogFile("SetEEPROMData return STATUS_INVALID 7\n");
      return 2;
    }
  }
  if (length > 352) {
    // The record goes back only as the device holds it, with byte 2 changed.
    auto read = [this](unsigned char* b, uint16_t type, unsigned n) { return ReadData(b, type, n) != 0; };
    unsigned char record[BRENNA_ERROR_RECORD_SIZE];
    bool ok = BrennaReadErrorRecord(read, record);
    if (ok) {
      memcpy(m_byErrorRecord, record, sizeof record);
      m_byErrorRecord[2] = image[352];
      ok = Send(0xE0, 0) != 0;
    }
    if (!ok) {
      WriteLogFile("SetEEPROMData return STATUS_INVALID 7\n");
      return 2;
    }
  }
  return 0;
}

int CBrennaScanFunc::FirstReadDate(const unsigned char* request, unsigned length) {
  if (length < 20) return 0;  // the date is request bytes 17-19
  const bool cached = m_bImageValid;
  if (cached) {
    if (m_image[97] != 0 && m_image[98] != 0) return 1;
  } else {
    unsigned char data[BRENNA_READ_DATA_SIZE] = {};
    if (!ReadData(data, kReadData, sizeof data)) {
      WriteLogFile("SendDiagnostic return STATUS_INVALID 2\n");
      return 0;
    }
    if (data[39] != 0 && data[41] != 0) return 1;
  }
  if (!SendFirstReadDate(request + 17)) {
    WriteLogFile(cached ? "SendDiagnostic return FALSE 1\n" : "SendDiagnostic return FALSE 2\n");
    return 0;
  }
  // The cached image no longer holds what the device does.
  m_bImageValid = false;
  return 1;
}

int CBrennaScanFunc::SendDiagnostic(const unsigned char* request, unsigned length) {
  if (!request || length < 16) return 0;
  if (IsWriteText(request)) {
    m_bImageValid = m_bFirmValid = false;
    uint32_t declared = 0;
    if (!WriteImageLength(request, length, &declared)) return 0;
    return SetEEPROMData(request + 20, declared) == 0 ? 1 : 0;
  }
  if (IsText(request, "FIRST READ DATE ")) return FirstReadDate(request, length);
  return KeepRequest(m_kept, request, length) ? 1 : 0;
}

int CBrennaScanFunc::ErrorLog(unsigned char* buffer, unsigned length) {
  auto read = [this](unsigned char* b, uint16_t type, unsigned n) { return ReadData(b, type, n) != 0; };
  if (!BrennaReadErrorRecord(read, m_byErrorRecord)) {
    WriteLogFile("ReceiveDiagnosticResult return FALSE 2\n");
    return 0;
  }
  unsigned char entry[16] = {};
  entry[1] = 16;
  entry[9] = m_byErrorRecord[0];
  entry[10] = m_byErrorRecord[1];
  memcpy(buffer, entry, std::min<size_t>(length, sizeof entry));
  return 1;
}

int CBrennaScanFunc::ReceiveDiagnosticResult(unsigned char* buffer, unsigned length) {
  if (!buffer) return 0;
  memset(buffer, 0, length);
  std::vector<unsigned char> kept;
  kept.swap(m_kept);  // consumed by this receive, whatever it answers
  if (IsReadText(kept)) {
    if (!m_bImageValid && !BuildImage()) return 0;
    memcpy(buffer, m_image, std::min<size_t>(length, sizeof m_image));
  } else if (IsText(kept, "GET FIRMVERSION ")) {
    if (length <= 3) return GetFirmVersion(buffer, length) == 0 ? 1 : 0;
    if (!m_bFirmValid) {
      m_bFirmValid = GetFirmVersion(m_firm, sizeof m_firm) == 0;
      if (!m_bFirmValid) return 0;
    }
    memcpy(buffer, m_firm, std::min<size_t>(length, sizeof m_firm));
  } else if (IsText(kept, "ERROR LOG       ")) {
    return ErrorLog(buffer, length);
  }
  return 1;
}

}  // namespace devwatch
