// The EEPROM, flash and diagnostic entries: vendor sub-commands carried by
// SEND DIAGNOSTIC, their answers by RECEIVE DIAGNOSTIC RESULTS, the texts
// chosen by the model group of the device string.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dravn_export.h"
#include "dvwc_diag.h"
#include "model_groups.h"

using namespace devwatch;

namespace {

int ReadEeprom(const char* device, unsigned char* buffer, unsigned short size, bool element) {
  if (device && (!buffer || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, element ? 2 : 1, [&] {
    if (InGroupN(device)) {
      // Nothing to read on these models: the caller gets zeros.
      memset(buffer, 0, size);
      return;
    }
    switch (EepromGroupOf(device)) {
      case EepromGroup::A:
        Send(Text("DEBUG,H3T,RED   "));
        break;
      case EepromGroup::W:
        Send(Text(element ? "DEBUG,E2P,RED  W" : "DEBUG,E2T,RED  W"));
        break;
      case EepromGroup::Other:
        Send(Text(element ? "DEBUG,E2P,RED   " : "DEBUG,E2T,RED   "));
        break;
    }
    Receive(buffer, size);
  });
}

// A request of the caller's bytes, sent as they are.
int SendBytes(const char* device, const unsigned char* data, unsigned short size, int readyChecks) {
  if (device && (!data || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, readyChecks, [&] { Send(Bytes(data, data + size)); });
}

int SendText(const char* device, const char* text) {
  return Diagnose(device, 1, [&] { Send(Text(text)); });
}

}  // namespace

DRAVN_C_EXPORT int dvwc_GetEEPROM(const char* device, unsigned char* buffer, unsigned short size) {
  return ReadEeprom(device, buffer, size, false);
}

DRAVN_C_EXPORT int dvwc_GetEEPROM_Element(const char* device, unsigned char* buffer, unsigned short size) {
  return ReadEeprom(device, buffer, size, true);
}

DRAVN_C_EXPORT int dvwc_WriteEEPROM(const char* device, const unsigned char* data, unsigned short length,
                                    unsigned short offset) {
  SetError(DVWC_ERR_NONE);
  Bytes record;
  if (!device || !data || length == 0 || !BuildWriteRecord(EepromGroupOf(device), data, length, offset, &record))
    return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] { Send(record); });
}

DRAVN_C_EXPORT int dvwc_LockEEPROM(const char* device) {
  return Diagnose(device, 1, [&] {
    // Only group W keeps its writes apart until they are committed.
    if (!InGroupN(device) && EepromGroupOf(device) == EepromGroup::W) Send(Text("DEBUG,E2P,WRT   "));
  });
}

DRAVN_C_EXPORT int dvwc_GetFLASHROMLength(const char* device, unsigned short* length) {
  if (device && !length) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    Send(Text("TEST LENGTH     ", 21));
    Receive(reinterpret_cast<unsigned char*>(length), sizeof *length);
  });
}

DRAVN_C_EXPORT int dvwc_GetFLASHROM(const char* device, unsigned char* buffer, unsigned short size) {
  if (device && (!buffer || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    if (InGroupF7(device))
      Send(Text("TESTMODE        ", 21));
    else if (InGroupF6(device))
      Send(Text("TESTMODE       Z", 27));
    else
      return;  // no flash to read on other models
    Receive(buffer, size);
  });
}

DRAVN_C_EXPORT int dvwc_GetDefaultEEPROM(const char* device, unsigned char* buffer, unsigned short size) {
  if (device && (!buffer || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] {
    Send(Text("GET SOP DEFAULT "));
    Receive(buffer, size);
  });
}

DRAVN_C_EXPORT int dvwc_SendDiagnostic(const char* device, const unsigned char* data, unsigned short size) {
  return SendBytes(device, data, size, 1);
}

DRAVN_C_EXPORT int dvwc_ReceiveDiagnosticResult(const char* device, unsigned char* buffer, unsigned short size) {
  if (device && (!buffer || size == 0)) return SetError(DVWC_ERR_ARGUMENT), 0;
  return Diagnose(device, 1, [&] { Receive(buffer, size); });
}

DRAVN_C_EXPORT int dvwc_ClearRemainInk(const char* device, const unsigned char* data, unsigned short size) {
  return SendBytes(device, data, size, 0);
}

DRAVN_C_EXPORT int dvwc_PrepareDiagnostic(const char* device) { return SendText(device, "SETUP START     "); }

DRAVN_C_EXPORT int dvwc_CleanupDiagnostic(const char* device) { return SendText(device, "SETUP END       "); }
