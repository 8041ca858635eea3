#include "config_file.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravn_paths.h"
#include "log.h"

namespace {

constexpr const char* kConfigName = "dravn.conf";
constexpr size_t kMaxDirLength = 4083;  // the path then fits a 4096-byte buffer
constexpr int kLineSize = 4096;
constexpr size_t kIdLength = 6;

const char kSaveTag[] = "KeloManagerUsb::SaveConfigFile";

bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// "<dir>/dravn.conf" for a directory named by an environment variable.
FILE* OpenInDirectory(const char* dir) {
  size_t n = strlen(dir);
  if (n < 1 || n > kMaxDirLength) return nullptr;
  std::string path(dir);
  if (path.back() != '/') path += '/';
  path += kConfigName;
  WriteLog(LOG_LEVEL_DEBUG, kSaveTag, "try to open:");
  WriteLog(LOG_LEVEL_DEBUG, kSaveTag, path.c_str());
  return fopen(path.c_str(), "re");
}

FILE* OpenConfigFile() {
  FILE* fp = nullptr;
  if (const char* dir = getenv("DRAVN_CONFIG_DIR"))
    fp = OpenInDirectory(dir);
  else
    WriteLog(LOG_LEVEL_DEBUG, kSaveTag, "VELMORAK_CONFIG_DIR is NULL");
  if (fp) return fp;

  const char* pwd = getenv("PWD");
  if (!pwd) WriteLog(LOG_LEVEL_DEBUG, kSaveTag, "CURRENT_FILE_ENV is NULL");
  WriteLog(LOG_LEVEL_DEBUG, kSaveTag, "try to open current directory's configuration file");
  if (pwd && (fp = OpenInDirectory(pwd))) return fp;

  struct Fixed {
    const char* dir;
    const char* message;
  };
  static const Fixed kFixed[] = {
      {DRAVN_SANE_ETC_DIR, "try to open /etc/ configuration file"},
      {DRAVN_SANE_LOCAL_ETC_DIR, "try to open /usr/local/ configuration file"},
      {DRAVN_ETC_DIR, "try to open  /opt/dravn/etc/ configuration file"},
  };
  for (const Fixed& f : kFixed) {
    WriteLog(LOG_LEVEL_DEBUG, kSaveTag, f.message);
    std::string path = std::string(f.dir) + "/" + kConfigName;
    if ((fp = fopen(path.c_str(), "re"))) return fp;
  }
  return nullptr;
}

size_t TokenLength(const char* text) {
  size_t n = 0;
  while (text[n] != '\0' && !IsBlank(text[n])) ++n;
  return n;
}

}  // namespace

char* ReadConfigFile(int size, FILE* file, char* buffer, int* kind) {
  if (fgets(buffer, size, file)) {
    *kind = CONFIG_LINE_READ;
    return buffer;
  }
  *kind = ferror(file) ? CONFIG_LINE_ERROR : CONFIG_LINE_EOF;
  return nullptr;
}

bool GetUsbID(char* first, char* second, const char* line) {
  const char* fn = "KeloManagerUsb::GetUsbID";
  size_t n = TokenLength(line);
  if (n != kIdLength) {
    WriteLog(LOG_LEVEL_ERROR, fn, "get Vendor id failed");
    return false;
  }
  memcpy(first, line, n);
  first[n] = '\0';
  line += n;
  while (IsBlank(*line)) ++line;
  n = TokenLength(line);
  if (n != kIdLength) {
    WriteLog(LOG_LEVEL_ERROR, fn, "get Product id failed");
    return false;
  }
  memcpy(second, line, n);
  second[n] = '\0';
  return true;
}

int SaveConfigFile(std::vector<kelo_cfg_info>* pairs) {
  CLogScope scope(kSaveTag);
  FILE* fp = OpenConfigFile();
  if (!fp) {
    WriteLog(LOG_LEVEL_ERROR, kSaveTag, "open configure file failed");
    return 4;
  }
  char line[kLineSize];
  int kind = CONFIG_LINE_READ;
  while (ReadConfigFile(kLineSize, fp, line, &kind)) {
    size_t n = strlen(line);
    while (n > 0 && IsBlank(line[n - 1])) line[--n] = '\0';
    const char* p = line;
    while (IsBlank(*p)) ++p;
    if (strncmp(p, "usb", 3) != 0 || !IsBlank(p[3])) continue;
    p += 3;
    while (IsBlank(*p)) ++p;
    char vendor[kIdLength + 1], product[kIdLength + 1];
    if (!GetUsbID(vendor, product, p)) continue;
    pairs->push_back({static_cast<int>(strtol(vendor, nullptr, 0)), static_cast<int>(strtol(product, nullptr, 0))});
  }
  if (kind == CONFIG_LINE_EOF)
    WriteLog(LOG_LEVEL_DEBUG, kSaveTag, "read configure file EOF");
  else
    WriteLog(LOG_LEVEL_ERROR, kSaveTag, "read configure file failed");
  fclose(fp);
  return 0;
}
