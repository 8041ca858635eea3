// The library's Selko2 device object: the in-scanner lock that the first
// command takes, and the requests that Selko2 scanners answer without a
// SCSI command set.
#ifndef DRAVN_DEVWATCH_SELKO2_FUNC_H
#define DRAVN_DEVWATCH_SELKO2_FUNC_H

#include <cstdint>
#include <vector>

#include "selko2_command.h"
#include "selko2_exchange.h"

namespace devwatch {

// LockScanner answers.
enum : int { SELKO2_LOCKED = 0, SELKO2_LOCKED_ELSEWHERE = 1, SELKO2_LOCK_FAILED = 2, SELKO2_RELEASED = 3 };

// Values of the library's last-error cell.
enum : uint32_t { DVWC_LAST_LOCK_FAILED = 13, DVWC_LAST_LOCKED_ELSEWHERE = 14 };

class CSelko2ScanFunc {
 public:
  // `transport` moves the bytes of the open device; `lastError` is the
  // library's last-error cell.
  CSelko2ScanFunc(Selko2Transport& transport, uint32_t& lastError);

  // The request of a CDB (0x12 inquiry; the diagnostic pair is served by
  // the maintenance requests), after taking the lock when it is due.
  int CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned length);
  int LockScanner();
  int UnLockScanner();
  // The device string whose model text the standard inquiry answer carries.
  void SetDeviceName(const char* name) { m_pszDeviceName = name; }

  bool IsLocked() const { return m_bLocked != 0; }

  // The maintenance requests: the 16-character diagnostic texts answered
  // from the NVRAM, the timers and the firmware record.
  int SendDiagnostic(const unsigned char* request, unsigned length);
  int ReceiveDiagnosticResult(unsigned char* buffer, unsigned length);
  bool LockNeeded() const { return m_bLockNeeded != 0; }

 private:
  // A held lock: SELKO2_LOCKED when it is this process's own,
  // SELKO2_RELEASED when an ended process's lock was given back.
  int ClaimHeldLock();
  bool Inquiry(const unsigned char* cdb, unsigned char* buffer, unsigned length);
  bool Exchange(const Selko2Command& command, unsigned char* status, size_t statusSize);
  // Resets the pipe when an earlier exchange broke off; false when the pipe
  // stays unusable.
  bool PipeReady();
  // Notes a step that broke off, whose reply or awaited data may still sit in
  // the pipe; `ok` passes through.
  bool Step(bool ok);

  // One command with its data in or out (none when `length` is 0).
  // *refused (when given) tells a status that came whole but answered an
  // error from a transfer that broke and may have left a reply in the pipe.
  bool Command(uint8_t opcode, uint8_t sub, uint16_t param, unsigned char* data, uint32_t length, bool dataIn,
               bool* refused = nullptr);
  bool BuildImage();
  bool ReadFirmVersion();
  // Image bytes to the timers and the NVRAM; false at the first failure.
  bool SetEEPROMData(const unsigned char* image, uint32_t length);

  Selko2Transport& m_transport;
  std::vector<unsigned char> m_kept;  // the request a receive answers
  unsigned char m_image[512] = {};
  bool m_bImageValid = false;
  unsigned char m_firm[32] = {};
  bool m_bFirmValid = false;
  uint32_t& m_dwLastError;
  const char* m_pszDeviceName = nullptr;
  uint32_t m_bLockNeeded = 1;
  uint32_t m_bLocked = 0;
  unsigned char m_szUUID[FCL_LOCK_OWNER_SIZE] = {};
  // An exchange broke off: the scanner may still hold a reply, or wait for
  // data, and would take the next command block as that data.
  bool m_bPipeBroken = false;
};

}  // namespace devwatch

#endif
