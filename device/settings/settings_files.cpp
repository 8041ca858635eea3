// The settings blob files: the device's settings blob alone, or the
// settings blob, the letters "IMFF" and the pattern blob in one file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "dev_set_ctrl.h"
#include "dvwc_calls.h"
#include "mqcontrol_context.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kPatternMark[4] = {'I', 'M', 'F', 'F'};
constexpr size_t kPatternValueAt = 50;  // within the pattern blob, big-endian
constexpr size_t kMaxBlob = 0xFFFF;     // sizes travel in 16 bits

unsigned BigEndian16(const uint8_t* at) { return static_cast<unsigned>(at[0] << 8 | at[1]); }

// The blob its length record announces (record header and data), read to
// `at` of `out`, which grows to hold it. 0, or the save's failure code.
int ReadBlob(DvwcDataRecord* data, uint8_t (&record)[4], size_t at, Bytes* out) {
  const size_t size = BigEndian16(record) + 4u;
  if (size > kMaxBlob) return -1;
  try {
    out->resize(at + size, 0);
  } catch (const std::bad_alloc&) {
    return -3;
  }
  return data(g_cpActiveScanner, out->data() + at, record, static_cast<unsigned short>(size)) ? 0 : -1;
}

int ReadRecord(DvwcLengthRecord* length, uint8_t (&record)[4]) {
  uint32_t cell = 0;
  if (!length(g_cpActiveScanner, &cell)) return -1;
  std::memcpy(record, &cell, sizeof record);
  return 0;
}

// Every write and the close are checked: a cut backup must not look like
// a whole one, so it is removed.
bool WriteWholeFile(const char* path, const Bytes& bytes) {
  if (!path) return false;
  FILE* file = std::fopen(path, "w");
  if (!file) return false;
  struct stat st {};
  const bool regular = fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok && regular) unlink(path);
  return ok;
}

// 0, -3 (missing, unreadable or not a file) or -4 (no memory).
int ReadWholeFile(const char* path, Bytes* out) {
  if (!path) return -3;
  FILE* file = std::fopen(path, "rb");
  if (!file) return -3;
  struct stat st {};
  int rc = 0;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    rc = -3;
  } else {
    try {
      out->assign(static_cast<size_t>(st.st_size), 0);
      if (std::fread(out->data(), 1, out->size(), file) != out->size()) rc = -3;
    } catch (const std::bad_alloc&) {
      rc = -4;
    }
  }
  std::fclose(file);
  return rc;
}

// The image again as the device holds it after a restore.
int RereadImage() {
  auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  const int size = LookupDeviceValue(g_cpActiveScannerName, 5);
  if (!get || size <= 0 || size > kEepromImageSize) return -1;
  uint8_t table[kEepromImageSize] = {};
  if (!get(g_cpActiveScanner, table, static_cast<unsigned short>(size))) return -1;
  std::memcpy(g_byEEPData, table, static_cast<size_t>(size));
  g_nReadEEPSize = size;
  return 0;
}

bool Refused(int answer) { return answer == -1 || answer == -2; }

}  // namespace

int CDevSetCtrl::SaveEEPROMData(const char* path) {
  auto* length = Dvwc<DvwcLengthRecord>("dvwc_GetSOPSettingsLength");
  auto* data = Dvwc<DvwcDataRecord>("dvwc_GetSOPSettingsData");
  if (!length || !data) return -4;
  uint8_t record[4] = {};
  Bytes blob;
  int rc = ReadRecord(length, record);
  if (rc == 0) rc = ReadBlob(data, record, 0, &blob);
  if (rc != 0) return rc;
  return WriteWholeFile(path, blob) ? 0 : -2;
}

int CDevSetCtrl::SaveEEPROMData2(const char* path) {
  auto* settingsLength = Dvwc<DvwcLengthRecord>("dvwc_GetSOPSettingsLength");
  auto* settingsData = Dvwc<DvwcDataRecord>("dvwc_GetSOPSettingsData");
  auto* patternLength = Dvwc<DvwcLengthRecord>("dvwc_GetIMFFPatternLength");
  auto* patternData = Dvwc<DvwcDataRecord>("dvwc_GetIMFFPatternData");
  if (!settingsLength || !settingsData || !patternLength || !patternData) return -4;
  uint8_t settingsRecord[4] = {};
  uint8_t patternRecord[4] = {};
  int rc = ReadRecord(settingsLength, settingsRecord);
  if (rc == 0) rc = ReadRecord(patternLength, patternRecord);
  Bytes file;
  if (rc == 0) rc = ReadBlob(settingsData, settingsRecord, 0, &file);
  const size_t len1 = file.size();
  if (rc == 0) {
    file.insert(file.end(), kPatternMark, kPatternMark + 4);
    rc = ReadBlob(patternData, patternRecord, len1 + 4, &file);
  }
  if (rc != 0) return rc;
  const size_t len2 = file.size() - len1 - 4;
  file.resize(file.size() + 4, 0);
  if (!WriteWholeFile(path, file)) return -2;
  // A pattern blob too short to hold the value answers 0.
  return len2 >= kPatternValueAt + 2 ? static_cast<int>(BigEndian16(&file[len1 + 4 + kPatternValueAt])) : 0;
}

int CDevSetCtrl::RestoreEEPROMData(const char* path) {
  Bytes file;
  int rc = ReadWholeFile(path, &file);
  if (rc != 0) return rc;
  if (file.size() > kMaxBlob) return -3;
  auto* put = Dvwc<DvwcPutBlob>("dvwc_SetSOPSettingsData");
  auto* lock = Dvwc<DvwcLockEeprom>("dvwc_LockEEPROM");
  if (!put || !lock || !Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM")) return -5;
  const int answer = put(g_cpActiveScanner, file.data(), static_cast<unsigned short>(file.size()));
  if (Refused(answer)) return answer;
  lock(g_cpActiveScanner);
  return RereadImage();
}

int CDevSetCtrl::RestoreEEPROMData2(const char* path) {
  Bytes file;
  int rc = ReadWholeFile(path, &file);
  if (rc != 0) return rc;
  // Every length the file gives is held against its size before anything
  // reaches the device.
  const size_t size = file.size();
  if (size < 2) return -3;
  const size_t len1 = BigEndian16(file.data()) + 4u;
  if (len1 > size || len1 > kMaxBlob) return -3;
  size_t mark = 0;
  bool found = false;
  for (size_t at = len1; at + 6 <= size; ++at) {
    if (std::memcmp(&file[at], kPatternMark, 4) == 0) {
      mark = at;
      found = true;
    }
  }
  size_t len2 = 0;
  if (found) {
    len2 = BigEndian16(&file[mark + 4]) + 4u;
    if (len2 > kMaxBlob || len1 + 4 + len2 > size || len1 + 4 + kPatternValueAt + 2 > size) return -3;
  }
  auto* putSettings = Dvwc<DvwcPutBlob>("dvwc_SetSOPSettingsData");
  auto* putPattern = Dvwc<DvwcPutBlob>("dvwc_SetIMFFPatternData");
  if (!putSettings || (found && !putPattern) || !Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM")) return -5;
  int answer = putSettings(g_cpActiveScanner, file.data(), static_cast<unsigned short>(len1));
  if (Refused(answer)) return answer;
  int value = 0;
  if (found) {
    answer = putPattern(g_cpActiveScanner, &file[len1 + 4], static_cast<unsigned short>(len2));
    if (Refused(answer)) return answer;
    value = static_cast<int>(BigEndian16(&file[len1 + 4 + kPatternValueAt]));
  }
  rc = RereadImage();
  return rc != 0 ? rc : value;
}
