// The Selko family's maintenance requests: the diagnostic texts answered
// from the scanner's maintenance parameters, over the Selko exchange, each
// inside one connection (handshake ... terminate).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag_request.h"
#include "maintenance_image.h"
#include "scanner_ctrl.h"
#include "stored_answers.h"

namespace devwatch {
namespace {

constexpr int kTries = 10;
constexpr unsigned kRetryPause = 1000 * 1000;
constexpr unsigned kShortTimeOut = 1000, kLastTimeOut = 15000, kLongTimeOut = 120000;
constexpr size_t kVpdMax = 139;
constexpr size_t kStandardSize = 96;

void SleepPause(unsigned microseconds) { usleep(microseconds); }
ExclusivePauseFn g_pfnSelkoPause = SleepPause;

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void SetLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}


// The parameters the image is built from.
enum : uint16_t { kTotal1 = 0, kTotal2 = 4, kSleep = 60, kAutoOff = 64, kSerial = 168, kDate = 256, kCounter = 260 };

}  // namespace

void SetSelkoPause(ExclusivePauseFn pause) { g_pfnSelkoPause = pause ? pause : SleepPause; }

// A transfer that broke off ends its exchange, but the scanner may still
// hold its reply or wait for the rest of its data, and would take the next
// header as that data: the next exchange starts over a reset pipe.
bool CMqScannerCtrl::SelkoPipeReady() {
  if (m_bSelkoPipeBroken && ResetPipe()) m_bSelkoPipeBroken = false;
  return !m_bSelkoPipeBroken;
}

bool CMqScannerCtrl::BulkOut(const unsigned char* data, uint32_t length, SelkoPhase) {
  const bool ok = SelkoPipeReady() && RawWriteData(data, length) == 1;
  m_bSelkoPipeBroken = !ok;
  return ok;
}

bool CMqScannerCtrl::BulkIn(unsigned char* data, uint32_t length, SelkoPhase) {
  unsigned count = 0;
  const bool ok = SelkoPipeReady() && RawReadData(data, length, &count) == 1 && count == length;
  m_bSelkoPipeBroken = !ok;
  return ok;
}

bool CMqScannerCtrl::SelkoConnect() {
  if (m_iSelkoConnected) return true;
  SetTimeOut(kShortTimeOut);
  bool connected = false;
  for (int i = 0; i < kTries && !connected; ++i) {
    connected = SelkoHandshake(*this, nullptr);
    if (!connected) g_pfnSelkoPause(kRetryPause);
  }
  if (!connected) {
    SetTimeOut(kLastTimeOut);
    connected = SelkoHandshake(*this, nullptr);
  }
  SetTimeOut(kLongTimeOut);
  m_iSelkoConnected = connected ? 1 : 0;
  return connected;
}

bool CMqScannerCtrl::SelkoCommand(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                                  std::vector<unsigned char>* reply) {
  _FIT_CMD_HEADER_ header;
  SelkoHeader(code, sub, length, &header);
  FIT_COMMAND_STATUS status{};
  unsigned char* data = nullptr;
  uint32_t got = 0;
  const bool ok = SelkoUSBRW(*this, header, out, &status, reply ? &data : nullptr, &got) == SelkoResult::Ok &&
                  SelkoStatusGood(status);
  if (ok) m_ucSelkoStatus = status.bytes[3];
  if (reply) reply->assign(data, data + (data ? got : 0));
  free(data);
  return ok;
}

bool CMqScannerCtrl::SelkoTerminate() {
  if (!m_iSelkoConnected) return true;
  bool done = false;
  SetTimeOut(kShortTimeOut);
  for (int i = 0; i < kTries && !done; ++i) {
    done = SelkoCommand(selko::kControl, selko::kTerminate, nullptr, 0, nullptr);
    if (!done && i + 1 < kTries) g_pfnSelkoPause(kRetryPause);
  }
  if (!done) {
    SetTimeOut(kLastTimeOut);
    done = SelkoCommand(selko::kControl, selko::kTerminate, nullptr, 0, nullptr);
  }
  SetTimeOut(kLongTimeOut);
  if (done) m_iSelkoConnected = 0;
  return done;
}

int CMqScannerCtrl::GetMaintenanceParam(unsigned char* buffer, uint16_t address, uint16_t length) {
  const unsigned char request[4] = {static_cast<unsigned char>(address), static_cast<unsigned char>(address >> 8),
                                    static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
  std::vector<unsigned char> reply;
  // A reply shorter than asked for is a failure, not a read past its end.
  if (!SelkoCommand(selko::kQuery, selko::kMaintenance, request, sizeof request, &reply) || reply.size() < length)
    return 2;
  memcpy(buffer, reply.data(), length);
  return 0;
}

int CMqScannerCtrl::SetMaintenanceParam(const unsigned char* bytes, uint16_t address, uint16_t length) {
  std::vector<unsigned char> request = {static_cast<unsigned char>(address), static_cast<unsigned char>(address >> 8),
                                        static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
  request.insert(request.end(), bytes, bytes + length);
  return SelkoCommand(selko::kSet, selko::kMaintenance, request.data(), static_cast<uint32_t>(request.size()),
                      nullptr)
             ? 0
             : 2;
}

int CMqScannerCtrl::SelkoGetFirmVersion(unsigned char* buffer, unsigned length) {
  if (length <= 3) return 2;
  std::vector<unsigned char> reply;
  // A reply too short to hold the version bytes is a failure, not a read
  // past its end.
  if (!SelkoCommand(selko::kQuery, selko::kName, nullptr, 0, &reply) || reply.size() < 23) return 2;
  char text[5];
  snprintf(text, sizeof text, "%x%x%x%x", reply[21] >> 4, reply[21] & 0x0F, reply[22] >> 4, reply[22] & 0x0F);
  memset(buffer, 0xFF, length);
  memcpy(buffer, text, 4);
  return 0;
}

int CMqScannerCtrl::SelkoGetEEPROMData(unsigned char* image, unsigned length) {
  unsigned char total1[4], total2[4], sleep[4], autoOff[4], serial[16], date[4], counter[4];
  const struct {
    unsigned char* to;
    uint16_t address, length;
  } reads[] = {{total1, kTotal1, 4}, {total2, kTotal2, 4},  {sleep, kSleep, 4},     {autoOff, kAutoOff, 4},
               {serial, kSerial, 16}, {date, kDate, 4},     {counter, kCounter, 4}};
  for (const auto& r : reads)
    if (GetMaintenanceParam(r.to, r.address, r.length) != 0) return 2;
  MaintenanceFields f;
  f.total = Le32(total1) + Le32(total2);
  f.counter60 = Le32(counter);
  f.sleepMinutes = Le32(sleep);
  f.autoOffMinutes = Le32(autoOff);
  memcpy(f.date, date, sizeof f.date);
  memcpy(f.serial, serial + 4, sizeof f.serial);
  memcpy(f.word284, serial, sizeof f.word284);
  unsigned char built[kMaintenanceImageSize];
  FillMaintenanceImage(f, built);
  memcpy(image, built, std::min<size_t>(length, sizeof built));
  return 0;
}

int CMqScannerCtrl::SelkoSetEEPROMData(const unsigned char* image, unsigned length) {
  unsigned char value[4];
  if (length > 64) {
    SetLe32(value, SleepMinutesOf(image[64]));
    if (SetMaintenanceParam(value, kSleep, 4) != 0) return 2;
    if (length > 280) {
      SetLe32(value, AutoOffMinutesOf(image[280]));
      if (SetMaintenanceParam(value, kAutoOff, 4) != 0) return 2;
    }
  }
  if (length <= 41) return 0;
  if (length > 61 && image[60] == 0 && image[61] == 0) {
    SetLe32(value, 0);
    if (SetMaintenanceParam(value, kCounter, 4) != 0) return 2;
  }
  return 0;
}

template <typename Step>
int CMqScannerCtrl::SelkoWithRetries(Step step) {
  if (!SelkoConnect()) {
    SelkoTerminate();
    return 0;
  }
  SetTimeOut(kShortTimeOut);
  for (int i = 0; i < kTries; ++i) {
    if (step() == 0) {
      SetTimeOut(kLongTimeOut);
      SelkoTerminate();
      return 1;
    }
    g_pfnSelkoPause(kRetryPause);
  }
  SetTimeOut(kLastTimeOut);
  const bool ok = step() == 0;
  SetTimeOut(kLongTimeOut);
  SelkoTerminate();
  return ok ? 1 : 0;
}

int CMqScannerCtrl::SelkoSendDiagnostic(const unsigned char* buffer, unsigned length) {
  if (!buffer || length < 16) return 0;
  if (IsWriteText(buffer)) {
    uint32_t declared = 0;
    if (!WriteImageLength(buffer, length, &declared)) return 0;
    if (!SelkoConnect()) {
      SelkoTerminate();
      return 0;
    }
    // The caller's image stays as it came, whatever the write makes of it.
    std::vector<unsigned char> image(buffer + 20, buffer + 20 + declared);
    const int rc = SelkoSetEEPROMData(image.data(), declared);
    SelkoTerminate();
    return rc == 0 ? 1 : 0;
  }
  if (IsText(buffer, "FIRST READ DATE ")) {
    if (length < 21) return 0;
    if (!SelkoConnect()) {
      SelkoTerminate();
      return 0;
    }
    unsigned char date[4];
    bool ok = GetMaintenanceParam(date, kDate, 4) == 0;
    if (ok && (date[1] == 0 || date[2] == 0)) ok = SetMaintenanceParam(buffer + 17, kDate, 4) == 0;
    SelkoTerminate();
    return ok ? 1 : 0;
  }
  memcpy(m_szSelkoDiagText, buffer, sizeof m_szSelkoDiagText);
  return 1;
}

int CMqScannerCtrl::SelkoReceiveDiagnosticResult(unsigned char* buffer, unsigned length) {
  unsigned char kept[16];
  memcpy(kept, m_szSelkoDiagText, sizeof kept);
  memset(m_szSelkoDiagText, 0, sizeof m_szSelkoDiagText);  // consumed by this receive
  if (IsText(kept, "DEBUG,E2T,RED   ") || IsText(kept, "DEBUG,E2T,RED  W")) {
    if (!buffer) return 0;
    return SelkoWithRetries([&] { return SelkoGetEEPROMData(buffer, length); });
  }
  if (IsText(kept, "GET FIRMVERSION ")) {
    if (!buffer) return 0;
    return SelkoWithRetries([&] { return SelkoGetFirmVersion(buffer, length); });
  }
  return 1;
}

int CMqScannerCtrl::SelkoInquiry(bool vpd, unsigned char* buffer, unsigned length) {
  if (!buffer) return 0;
  if (!SelkoConnect()) {
    SelkoTerminate();
    return 0;
  }
  if (vpd)
    CopyStoredVpd(WatchRoute::Selko, buffer, std::min<unsigned>(length, kVpdMax));
  else
    CopyStoredStandard(GetCurrentDeviceName(), buffer, std::min<unsigned>(length, kStandardSize));
  SelkoTerminate();
  return 1;
}

}  // namespace devwatch
