// Status, inquiry and firmware version, the settings and pattern blobs
// (also through the "TPS THROUGH" wrapper), the logs, the long-timer mode
// page, the self test and the restart.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dravn_export.h"
#include "dvwc_diag.h"
#include "stored_answers.h"

using namespace devwatch;

namespace {

constexpr unsigned kBlobMax = 516;  // 4 header bytes and at most 512 data bytes
constexpr unsigned kVpdLength = 112;
constexpr unsigned kCommandTimeOut = 15000;

struct Prefix {
  const char* text;
  size_t length;
};

// Models that have no GET HARDWARE STATUS.
constexpr Prefix kNoStatus[] = {{"Ol", 2}, {"RK10", 4}, {"RK300", 5}, {"RK20", 4}};
// The families of the second backend, compared without regard to case.
constexpr Prefix kSelko2[] = {{"Selko2S4", 8}, {"Selko2S5", 8}, {"Selko2S6", 8}};
constexpr Prefix kSelko[] = {{"SelkoS1", 7}, {"SelkoS2", 7}, {"SelkoS3", 7}};
constexpr Prefix kBrenna[] = {{"BrennaB", 7}};

template <size_t N>
bool Matches(const char* device, const Prefix (&list)[N], bool anyCase) {
  for (const Prefix& p : list)
    if ((anyCase ? strncasecmp(device, p.text, p.length) : strncmp(device, p.text, p.length)) == 0) return true;
  return false;
}

void PutBE16(Bytes* b, unsigned v) {
  b->push_back(static_cast<unsigned char>(v >> 8));
  b->push_back(static_cast<unsigned char>(v));
}

Bytes Wrapped(unsigned kind, const Bytes& inner) {
  Bytes b = Text("TPS THROUGH     ");
  PutBE16(&b, kind);
  b.insert(b.end(), inner.begin(), inner.end());
  return b;
}

Bytes WithRecord(const char* text, const unsigned char* record) {
  Bytes b = Text(text);
  b.insert(b.end(), record, record + 4);
  return b;
}

unsigned BlobLength(const unsigned char* record) { return static_cast<unsigned>(record[0] << 8 | record[1]); }

// A 4-byte length record into the caller's 32-bit cell, byte for byte.
void ReceiveRecord(uint32_t* cell) { Receive(reinterpret_cast<unsigned char*>(cell), sizeof *cell); }

// The blob answer: the caller's record, then its n data bytes; what fits
// into the caller's buffer is copied.
void ReceiveBlob(const unsigned char* record, unsigned char* buffer, unsigned short size) {
  if (Error() != DVWC_ERR_NONE) return;
  unsigned n = BlobLength(record);
  Bytes work(4 + std::max(n, 16u), 0);
  memcpy(work.data(), record, 4);
  if (n > 0 && !Ctrl().ReceiveDiagnosticResult(work.data() + 4, static_cast<unsigned short>(n)))
    return SetError(DVWC_ERR_COMMAND);
  memcpy(buffer, work.data(), std::min<size_t>(size, n + 4));
}

// Whether the device answers a put with four bytes: bit 0 of byte 115 of
// its vendor page 0xF0, read whole when it is longer than 112 bytes.
bool ReadPutReplyLength(unsigned* replyLength) {
  Bytes vpd(kVpdLength, 0);
  unsigned char cdb[6] = {0x12, 0x01, 0xF0, 0, kVpdLength, 0};
  unsigned char status = 0xFF;
  if (!Ctrl().CommandBlock(cdb, 6, true, vpd.data(), kVpdLength, &status) || status != 0) return false;
  *replyLength = 2;
  if (vpd[111] != 0) {
    unsigned whole = std::min(kVpdLength + vpd[111], 255u);
    vpd.assign(whole, 0);
    cdb[4] = static_cast<unsigned char>(whole);
    if (!Ctrl().CommandBlock(cdb, 6, true, vpd.data(), whole, &status) || status != 0) return false;
    if (whole > 115 && (vpd[115] & 1)) *replyLength = 4;
  }
  return true;
}

// Sends a put request and reads its reply: 0x80 in the first byte is the
// device's refusal.
enum class Put { Failed, Refused, Done };
Put PutExchange(const Bytes& request, unsigned replyLength) {
  Send(request);
  if (Error() != DVWC_ERR_NONE) return Put::Failed;
  unsigned char reply[16] = {};
  Receive(reply, static_cast<unsigned short>(replyLength));
  if (Error() != DVWC_ERR_NONE) return Put::Failed;
  return reply[0] == 0x80 ? Put::Refused : Put::Done;
}

// The put of `count` blob bytes after `text`, wrapped when `wrapKind` is
// not 0, answered as `failed`, `refused` or `done`.
struct PutAnswers {
  int failed, refused, done;
};
int PutBlob(const char* text, const unsigned char* blob, unsigned count, unsigned wrapKind, unsigned replyLength,
            PutAnswers answers) {
  Bytes request = Text(text);
  request.insert(request.end(), blob, blob + count);
  if (wrapKind != 0) request = Wrapped(wrapKind, request);
  switch (PutExchange(request, replyLength)) {
    case Put::Failed:
      return answers.failed;
    case Put::Refused:
      return answers.refused;
    case Put::Done:
      break;
  }
  return answers.done;
}

// The bracket of the entries that answer their own codes: clear code,
// NULL check (9, `nullAnswer`), open (4, `openAnswer`).
template <typename F>
int Bracketed(const char* device, bool argsOk, int nullAnswer, int openAnswer, F body) {
  return Guard(
      [&] {
        SetError(DVWC_ERR_NONE);
        if (!device || !argsOk) return SetError(DVWC_ERR_ARGUMENT), nullAnswer;
        DeviceSession session(Ctrl());
        if (!OpenListed(device, session)) return openAnswer;
        return body();
      },
      nullAnswer);
}

}  // namespace

// --- status and inquiry ----------------------------------------------------

DRAVN_C_EXPORT int dvwc_GetStatus(const char* device, unsigned char* buffer) {
  if (device && !buffer) return SetError(DVWC_ERR_ARGUMENT), 0;
  if (device && Ctrl().Find(device) >= 0 && Matches(device, kNoStatus, false)) return SetError(DVWC_ERR_COMMAND), 0;
  return Diagnose(device, 1, [&] {
    memset(buffer, 0, 8);
    if (!Ctrl().GetHardwareStatus(buffer, 8)) SetError(DVWC_ERR_COMMAND);
  });
}

DRAVN_C_EXPORT int dvwc_GetStatus2(const char* device, unsigned char* buffer, unsigned short length) {
  if (device && (!buffer || length == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    memset(buffer, 0, length);
    if (!Ctrl().GetHardwareStatus(buffer, length)) SetError(DVWC_ERR_COMMAND);
  });
}

DRAVN_C_EXPORT int dvwc_GetStatus4(const char* device, unsigned char* buffer) {
  if (device && !buffer) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    memset(buffer, 0, 8);
    if (!Ctrl().GetHardwareStatus4(buffer, 8)) SetError(DVWC_ERR_COMMAND);
  });
}

static int InquiryOf(const char* device, unsigned char* buffer, unsigned char length) {
  if (device && !buffer) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    if (!Ctrl().Inquiry(buffer, length)) SetError(DVWC_ERR_COMMAND);
  });
}

DRAVN_C_EXPORT int dvwc_Inquiry(const char* device, unsigned char* buffer) { return InquiryOf(device, buffer, 96); }

DRAVN_C_EXPORT int dvwc_Inquiry2(const char* device, unsigned char* buffer) { return InquiryOf(device, buffer, 128); }

DRAVN_C_EXPORT int dvwc_InquiryEX(const char* device, unsigned char* buffer) {
  return Guard([&] {
    SetError(DVWC_ERR_NONE);
    if (!device || !buffer) return 0;
    DeviceSession session(Ctrl());
    if (Ctrl().Find(device) < 0 || !session.Open()) return 0;
    if (!Ctrl().TestUnitReady()) return 0;
    if (!Ctrl().InquiryEX(buffer, 48)) return SetError(DVWC_ERR_COMMAND), 0;
    return 1;
  });
}

DRAVN_C_EXPORT int dvwc_InquiryVPD(const char* device, unsigned char* buffer, unsigned short length, int isOpen) {
  return Guard([&] {
    SetError(DVWC_ERR_NONE);
    if (!device || !buffer || length == 0) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (Ctrl().Find(device) < 0) return SetError(DVWC_ERR_NOT_LISTED), 0;
    DeviceSession session(Ctrl());
    if (!isOpen && !session.Open()) return SetError(DVWC_ERR_OPEN), 0;
    const unsigned char len = static_cast<unsigned char>(std::min<unsigned>(length, 0xFF));
    const unsigned char cdb[6] = {0x12, 0x01, 0xF0, 0, len, 0};
    if (Matches(device, kSelko2, true)) return Ctrl().Selko2().CommandExec(cdb, buffer, len) ? 1 : 0;
    if (Matches(device, kSelko, true)) return Ctrl().SelkoInquiry(true, buffer, len);
    if (Matches(device, kBrenna, true)) return Ctrl().Brenna().CommandExec(cdb, buffer, len) ? 1 : 0;
    Ctrl().SetTimeOut(kCommandTimeOut);
    unsigned char status = 0xFF;
    return Ctrl().CommandBlock(cdb, 6, true, buffer, len, &status) && status == 0 ? 1 : 0;
  });
}

DRAVN_C_EXPORT int dvwc_InquiryVPD2(const char* device, unsigned char page, unsigned char* buffer,
                                    unsigned short length, int isOpen) {
  return Guard([&] {
    SetError(DVWC_ERR_NONE);
    if (!device || !buffer || length == 0) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (Ctrl().Find(device) < 0) return SetError(DVWC_ERR_NOT_LISTED), 0;
    DeviceSession session(Ctrl());
    if (!isOpen && !session.Open()) return SetError(DVWC_ERR_OPEN), 0;
    const unsigned char len = static_cast<unsigned char>(std::min<unsigned>(length, 0xFF));
    const unsigned char cdb[6] = {0x12, 0x01, page, 0, len, 0};
    Ctrl().SetTimeOut(kCommandTimeOut);
    unsigned char status = 0xFF;
    return Ctrl().CommandBlock(cdb, 6, true, buffer, len, &status) && status == 0 ? 1 : 0;
  });
}

DRAVN_C_EXPORT int dvwc_GetFirmVersion(const char* device, unsigned char* buffer, unsigned short length) {
  if (device && (!buffer || length == 0 || length > 88)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 2, [&] {
    // A failed exchange leaves no stale version behind.
    memset(buffer, 0, length);
    Send(Text("GET FIRMVERSION "));
    Receive(buffer, length);
    if (Error() != DVWC_ERR_NONE) memset(buffer, 0, length);
  });
}

// --- settings and pattern blobs ---------------------------------------------

static int LengthRecord(const char* device, const Bytes& request, uint32_t* cell, int readyChecks) {
  if (device && !cell) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, readyChecks, [&] {
    Send(request);
    ReceiveRecord(cell);
  });
}

static int DataRecord(const char* device, const Bytes& request, const unsigned char* record, unsigned char* buffer,
                      unsigned short size) {
  if (device && (!buffer || !record || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    Send(request);
    ReceiveBlob(record, buffer, size);
  });
}

DRAVN_C_EXPORT int dvwc_GetSOPSettingsLength(const char* device, uint32_t* length) {
  return LengthRecord(device, Text("GET SOP SET LEN "), length, 1);
}

DRAVN_C_EXPORT int dvwc_GetSOPSettingsData(const char* device, unsigned char* buffer, const unsigned char* record,
                                           unsigned short size) {
  if (!record) return SetError(DVWC_ERR_ARGUMENT), 0;
  return DataRecord(device, WithRecord("GET SOP SET DAT ", record), record, buffer, size);
}

DRAVN_C_EXPORT int dvwc_GetSOPSettings(const char* device, unsigned char* buffer, unsigned short size) {
  uint32_t record = 0;
  if (!dvwc_GetSOPSettingsLength(device, &record)) return 0;
  return dvwc_GetSOPSettingsData(device, buffer, reinterpret_cast<unsigned char*>(&record), size);
}

DRAVN_C_EXPORT int dvwc_GetSOPSettingsLengthCGA(const char* device, uint32_t* length) {
  return LengthRecord(device, Wrapped(0x20, Text("GET SOP SET LEN ")), length, 1);
}

DRAVN_C_EXPORT int dvwc_GetSOPSettingsDataCGA(const char* device, unsigned char* buffer, const unsigned char* record,
                                              unsigned short size) {
  if (!record) return SetError(DVWC_ERR_ARGUMENT), 0;
  return DataRecord(device, Wrapped(0x21, WithRecord("GET SOP SET DAT ", record)), record, buffer, size);
}

DRAVN_C_EXPORT int dvwc_GetSOPSettingsCGA(const char* device, unsigned char* buffer, unsigned short size) {
  uint32_t record = 0;
  if (!dvwc_GetSOPSettingsLengthCGA(device, &record)) return 0;
  return dvwc_GetSOPSettingsDataCGA(device, buffer, reinterpret_cast<unsigned char*>(&record), size);
}

DRAVN_C_EXPORT int dvwc_SetSOPSettingsData(const char* device, const unsigned char* blob, unsigned short size) {
  if (size < 1 || size > kBlobMax) return -2;
  return Bracketed(device, blob != nullptr, -1, -1, [&] {
    if (!Ctrl().TestUnitReady()) return -1;
    unsigned replyLength = 2;
    if (!ReadPutReplyLength(&replyLength)) return SetError(DVWC_ERR_COMMAND), -1;
    // 0 is this entry's success, as its callers expect.
    return PutBlob("PUT SOP SET DAT ", blob, size, 0, replyLength, {-1, -2, 0});
  });
}

// The whole blob its own header describes: n + 4 bytes, within the
// caller's size.
static bool WholeBlob(const unsigned char* blob, unsigned short size, unsigned* total) {
  *total = BlobLength(blob) + 4;
  return *total <= size;
}

DRAVN_C_EXPORT int dvwc_SetSOPSettings(const char* device, const unsigned char* blob, unsigned short size) {
  if (blob && size >= 2 && BlobLength(blob) > 512) return -2;
  return Bracketed(device, blob != nullptr && size >= 4, 0, 0, [&] {
    unsigned total = 0;
    if (!WholeBlob(blob, size, &total)) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (!Ctrl().TestUnitReady()) return 0;
    unsigned replyLength = 2;
    if (!ReadPutReplyLength(&replyLength)) return SetError(DVWC_ERR_COMMAND), 0;
    return PutBlob("PUT SOP SET DAT ", blob, total, 0, replyLength, {0, -2, 1});
  });
}

DRAVN_C_EXPORT int dvwc_SetSOPSettingsCGA(const char* device, const unsigned char* blob, unsigned short size) {
  if (blob && size >= 2 && BlobLength(blob) > 512) return -2;
  return Bracketed(device, blob != nullptr && size >= 4, -1, -1, [&] {
    unsigned total = 0;
    if (!WholeBlob(blob, size, &total)) return SetError(DVWC_ERR_ARGUMENT), -1;
    if (!Ctrl().TestUnitReady()) return -1;
    return PutBlob("PUT SOP SET DAT ", blob, total, 0x22, 3, {-1, -1, 1});
  });
}

DRAVN_C_EXPORT int dvwc_SetSOPSettingsDataCGA(const char* device, const unsigned char* blob, unsigned short size) {
  if (size < 1 || size > kBlobMax) return -2;
  return Bracketed(device, blob != nullptr, -1, 0, [&] {
    if (!Ctrl().TestUnitReady()) return 0;
    return PutBlob("PUT SOP SET DAT ", blob, size, 0x22, 3, {0, -2, 1});
  });
}

DRAVN_C_EXPORT int dvwc_SendLutData(const char* device, const unsigned char* table) {
  return Bracketed(device, table != nullptr, 0, 0, [&] {
    if (!Ctrl().TestUnitReady()) return 0;
    Bytes request = Wrapped(0x0010, {0x00, 0x00, 0x00, 0x00, 0x10, 0x00});
    request.insert(request.end(), {0x00, 0x00, 0x00, 0x01});
    request.insert(request.end(), table, table + 4096);
    Send(request);
    unsigned char reply[8] = {};
    Receive(reply, sizeof reply);
    if (Error() != DVWC_ERR_NONE) return 0;
    // The device acknowledges the table with "GOOD".
    return memcmp(reply, "GOOD", 5) == 0 ? 1 : -2;
  });
}

DRAVN_C_EXPORT int dvwc_GetIMFFPatternLength(const char* device, uint32_t* length) {
  return LengthRecord(device, Text("GET IMFF PTN LEN"), length, 1);
}

DRAVN_C_EXPORT int dvwc_GetIMFFPatternData(const char* device, unsigned char* buffer, const unsigned char* record,
                                           unsigned short size) {
  if (!record) return SetError(DVWC_ERR_ARGUMENT), 0;
  return DataRecord(device, WithRecord("GET IMFF PTN DAT", record), record, buffer, size);
}

DRAVN_C_EXPORT int dvwc_SetIMFFPatternData(const char* device, const unsigned char* blob, unsigned short size) {
  if (size < 1 || size > kBlobMax) return -2;
  return Bracketed(device, blob != nullptr, -1, 0, [&] {
    if (!Ctrl().TestUnitReady()) return 0;
    return PutBlob("PUT IMFF PTN DAT", blob, size, 0, 3, {-2, 1, 1});
  });
}

// --- logs -------------------------------------------------------------------

DRAVN_C_EXPORT int dvwc_GetLifeTimeLogSize(const char* device, unsigned short* size) {
  if (device && !size) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    Send(Text("LIFE TIME LOG   ", 0x01));
    Receive(reinterpret_cast<unsigned char*>(size), sizeof *size);
  });
}

DRAVN_C_EXPORT int dvwc_GetLifeTimeLogData(const char* device, unsigned char* buffer, unsigned short size) {
  if (device && (!buffer || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    Bytes request = Text("LIFE TIME LOG   ", 0x80);
    PutBE16(&request, size);
    Send(request);
    Receive(buffer, size);
  });
}

// The error log answers whatever the exchange gave: a silent device has
// no entries.
DRAVN_C_EXPORT int dvwc_GetErrorCodeLength(const char* device, unsigned short* count) {
  return Bracketed(device, count != nullptr, 0, 0, [&] {
    *count = 0;
    Ctrl().TestUnitReady();
    Bytes request = Text("ERROR LOG       ", 0x02);
    unsigned char reply[16] = {};
    if (Ctrl().SendDiagnostic(request.data(), static_cast<unsigned short>(request.size())) &&
        Ctrl().ReceiveDiagnosticResult(reply, 2))
      memcpy(count, reply, 2);
    return 1;
  });
}

DRAVN_C_EXPORT int dvwc_GetErrorCodeData(const char* device, unsigned char* buffer, unsigned short count) {
  return Bracketed(device, buffer != nullptr && count != 0 && count <= 0xFFFF / 16, 0, 0, [&] {
    Ctrl().TestUnitReady();
    Bytes request = Text("ERROR LOG       ", 0x82);
    request.insert(request.end(), {0x00, 0x00});
    PutBE16(&request, count);
    const unsigned short length = static_cast<unsigned short>(count * 16);
    Bytes reply(length, 0);
    if (Ctrl().SendDiagnostic(request.data(), static_cast<unsigned short>(request.size())) &&
        Ctrl().ReceiveDiagnosticResult(reply.data(), length))
      memcpy(buffer, reply.data(), length);
    return 1;
  });
}

// --- long timer, self test, restart --------------------------------------

DRAVN_C_EXPORT int dvwc_ModeSense_LongTimer(const char* device, unsigned char* buffer, unsigned short length) {
  return Bracketed(device, buffer != nullptr && length != 0, -1, -2, [&] {
    const unsigned char len = static_cast<unsigned char>(std::min<unsigned>(length, 0xFF));
    const unsigned char cdb[6] = {0x1A, 0x08, 0x34, 0, len, 0};
    Bytes data(len, 0);
    unsigned char status = 0xFF;
    Ctrl().SetTimeOut(kCommandTimeOut);
    if (!Ctrl().CommandBlock(cdb, 6, true, data.data(), len, &status)) return -3;
    memcpy(buffer, data.data(), len);
    return status == 0 ? 1 : -4;
  });
}

DRAVN_C_EXPORT int dvwc_ModeSelect_LongTimer(const char* device, const unsigned char* page, unsigned short length) {
  if (device && page && length != 0 &&
      (Matches(device, kSelko2, true) || Matches(device, kSelko, true) || Matches(device, kBrenna, true))) {
    SetError(DVWC_ERR_NONE);
    return 1;  // these families keep their timers elsewhere
  }
  return Bracketed(device, page != nullptr && length != 0, -1, -2, [&] {
    const unsigned char len = static_cast<unsigned char>(std::min<unsigned>(length, 0xFF));
    const unsigned char cdb[6] = {0x15, 0x10, 0, 0, len, 0};
    Bytes data(page, page + len);
    unsigned char status = 0xFF;
    Ctrl().SetTimeOut(kCommandTimeOut);
    if (!Ctrl().CommandBlock(cdb, 6, false, data.data(), len, &status)) return -3;
    return status == 0 ? 1 : -4;
  });
}

DRAVN_C_EXPORT int dvwc_DoSelfDiagnostic(const char* device) {
  return Bracketed(device, true, 0, -1, [&] {
    if (!Ctrl().TestUnitReady()) return -1;
    Ctrl().SetTimeOut(120000);
    const unsigned char cdb[6] = {0x1D, 0x04, 0, 0, 0, 0};
    unsigned char status = 0xFF;
    if (!Ctrl().RawWriteCommand(cdb, 6)) return -1;
    Ctrl().SetTimeOut(kCommandTimeOut);
    if (Ctrl().RawReadStatus(&status) != 1) return -1;
    unsigned char sense[18] = {};
    if (!Ctrl().RequestSense(sense, sizeof sense)) return -1;
    const int key = sense[2] & 0x0F;
    return status != 0 || key != 0 ? key : 0;
  });
}

DRAVN_C_EXPORT int dvwc_DeviceRestart(const char* device) {
  return Bracketed(device, true, 0, 0, [&] {
    Ctrl().TestUnitReady();
    Ctrl().DeviceRestart();
    sleep(1);  // the device takes this long to come back
    return Error() == DVWC_ERR_NONE ? 1 : 0;
  });
}
