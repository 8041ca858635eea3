// The library's Brenna device object: the 12-byte CDB protocol by control
// transfer over the exchange the second backend uses, and the maintenance
// requests that Brenna scanners answer without a SCSI command set: the
// diagnostic texts answered from the read data (type 105), the error record
// (type 0xFFE0) and the inquiry reply, and the family's own log file.
#ifndef DRAVN_DEVWATCH_BRENNA_FUNC_H
#define DRAVN_DEVWATCH_BRENNA_FUNC_H

#include <cstdint>
#include <vector>

#include "brenna_exchange.h"

namespace devwatch {

// The transport of the open device, with its time-out.
class BrennaLink : public BrennaTransport {
 public:
  virtual void SetTimeOut(unsigned milliseconds) = 0;
};

constexpr unsigned BRENNA_READ_DATA_SIZE = 255;
// Values of the object's own error code.
enum : uint32_t { BRENNA_WATCH_ERR_VALUE = 6, BRENNA_WATCH_ERR_SHORT_BUFFER = 11 };

class CBrennaScanFunc {
 public:
  explicit CBrennaScanFunc(BrennaLink& link);

  // The request of a CDB: 0x00 TEST UNIT READY (no command), 0x12 the
  // inquiry, 0x1D the send and 0x1C the receive of a diagnostic text.
  int CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned length);

  int SendDiagnostic(const unsigned char* request, unsigned length);
  int ReceiveDiagnosticResult(unsigned char* buffer, unsigned length);
  // 0 ok, 2 failure.
  int GetEEPROMData(unsigned char* image, unsigned length);
  int SetEEPROMData(const unsigned char* image, unsigned length);
  int GetFirmVersion(unsigned char* buffer, unsigned length);
  int ReadData(unsigned char* buffer, uint16_t dataType, unsigned length);
  int Send(int dataType, int value);
  int SendFirstReadDate(const unsigned char* date);

  // The log: the mode from LOG_MODE (0 when unset), read at construction.
  int GetLogMode() const { return m_iLogMode; }
  // 1 written or logging off, 0 when the file does not open.
  int WriteLogFile(const char* message) const;

  uint32_t LastError() const { return m_dwLastErr; }
  uint16_t Tag() const { return m_wTag; }

 private:
  bool DoIo(unsigned char* block, unsigned char* data, unsigned inLength, unsigned outLength);
  int Inquiry(const unsigned char* cdb, unsigned char* buffer, unsigned length);
  bool ReadInquiry();
  bool BuildImage();
  // Receive of "ERROR LOG       ": the error record as an error log entry.
  int ErrorLog(unsigned char* buffer, unsigned length);
  int FirstReadDate(const unsigned char* request, unsigned length);

  BrennaLink& m_link;
  int m_iLogMode = 0;
  uint32_t m_dwLastErr = 0;
  uint16_t m_wTag = 0;
  enum { kInquiry, kSense, kRead, kSend, kBlocks };
  unsigned char m_byCmd[kBlocks][BRENNA_BLOCK_SIZE] = {};
  std::vector<unsigned char> m_kept;  // the request a receive answers
  unsigned char m_byStandard[BRENNA_STANDARD_SIZE] = {};
  unsigned char m_byVpd[BRENNA_VPD_SIZE] = {};
  bool m_bInquiryCached = false;
  unsigned char m_byErrorRecord[BRENNA_ERROR_RECORD_SIZE] = {};
  unsigned char m_image[512] = {};
  bool m_bImageValid = false;
  unsigned char m_firm[32] = {};
  bool m_bFirmValid = false;
};

}  // namespace devwatch

#endif
