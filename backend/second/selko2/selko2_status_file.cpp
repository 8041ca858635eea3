// The Selko2 class's scanner-error status file in the shared folder, and its last-error translations.
#include "selko2_scan_func.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "dravn_paths.h"
#include "log.h"

void CSelko2ScanFunc::SetDeviceShmPath(const char* deviceName) {
  snprintf(m_szDeviceShmPath, sizeof m_szDeviceShmPath, DRAVN_SHM_DIR "/%s-%u-shm", deviceName ? deviceName : "",
           static_cast<unsigned>(getuid()));
}

// The file lives in a world-writable directory under a name anyone can
// guess: never follow a planted link, never block on a planted fifo, only
// ever write a regular file of this user's with no second name, and keep it
// from other users.
bool CSelko2ScanFunc::WriteSCErrorInfo() {
  const char* fn = "CSelko2ScanFunc::WriteSCErrorInfo";
  CLogScope scope(fn);
  uint32_t code = m_dwLastErr;
  uint8_t errorCode = 0;
  GetErrorCode(code, &errorCode);
  Selko2SenseRecord sense{};
  SetSenseError(code, &sense);
  uint32_t value = MakeSCValue(errorCode, sense.bytes[10], sense.bytes[20], sense.bytes[21]);

  int fd = open(m_szDeviceShmPath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
      fchmod(fd, 0600) != 0 || ftruncate(fd, 0) != 0) {
    if (fd >= 0) close(fd);
    WriteLog(LOG_LEVEL_ERROR, fn, "(fpTempFile = fopen(m_szDeviceShmPath, wb+)) == NULL");
    m_dwLastErr = SELKO2_ERR_STATUS_FILE;
    return false;
  }
  unsigned char bytes[4];
  PutLe32(bytes, value);
  bool written = write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
  if (close(fd) != 0) written = false;
  if (!written) {
    WriteLog(LOG_LEVEL_ERROR, fn, "(fwrite(&tSCErrorInfo, sizeof(SCValue), 1, fpTempFile)) != 1");
    m_dwLastErr = SELKO2_ERR_STATUS_FILE;
    return false;
  }
  m_bStatusFileClean = value == 0;
  return true;
}

// A file that records no error tells a later reader nothing that its absence
// does not (the value then reads 0): the last user removes it, so that the
// shared folder keeps no file per device name. A recorded error stays for
// the next reader of the scanner-error option.
void CSelko2ScanFunc::RemoveCleanStatusFile() {
  if (m_bStatusFileClean) unlink(m_szDeviceShmPath);
  m_bStatusFileClean = false;
}

bool CSelko2ScanFunc::ReadSCErrorInfo(uint32_t* value, uint32_t* lastErr) {
  const char* fn = "CSelko2ScanFunc::GetSCErrorInfo";
  CLogScope scope(fn);
  if (!value || !lastErr) {
    if (lastErr) *lastErr = SELKO2_ERR_PARAM;
    WriteLog(LOG_LEVEL_ERROR, fn, "tpSCValue == NULL");
    return false;
  }
  int fd = open(m_szDeviceShmPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    WriteLog(LOG_LEVEL_ERROR, fn, "(fpTempFile = fopen(m_szDeviceShmPath, rb)) == NULL");
    return true;
  }
  unsigned char bytes[4];
  ssize_t n = read(fd, bytes, sizeof bytes);
  close(fd);
  if (n != static_cast<ssize_t>(sizeof bytes)) {
    WriteLog(LOG_LEVEL_ERROR, fn, "(fread(&g_tSCInfo, sizeof(SCInfo), 1, fpTempFile)) != 1");
    return true;
  }
  *value = GetLe32(bytes);
  return true;
}

// --- error translations ----------------------------------------------------

SANE_Status CSelko2ScanFunc::ConvertToSaneErr(uint32_t code) { return FindSelko2ErrorRow(code).status; }

bool CSelko2ScanFunc::GetErrorCode(uint32_t code, uint8_t* out) {
  if (!out) return false;
  *out = FindSelko2ErrorRow(code).errorCode;
  return true;
}

bool CSelko2ScanFunc::SetSenseError(uint32_t code, Selko2SenseRecord* sense) {
  if (!sense) return false;
  const Selko2ErrorRow& row = FindSelko2ErrorRow(code);
  if (row.hasSense) SetSenceCode(sense, row.key, row.asc, row.ascq);
  if (row.errorLog) WriteErrorLogFile(code);
  return true;
}

bool CSelko2ScanFunc::SetSenceCode(Selko2SenseRecord* sense, uint8_t key, uint8_t code, uint8_t qualifier) {
  if (!sense) return false;
  PutLe32(sense->bytes, 4);
  sense->bytes[8] = 0xF0;
  sense->bytes[10] = key;
  sense->bytes[20] = code;
  sense->bytes[21] = qualifier;
  return true;
}
