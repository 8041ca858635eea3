#include "unit_profile.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

constexpr int kLineSize = 256;  // lines of at most 254 characters, newline and NUL

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

char* Trim(char* s) { return rmtrail(rmlead(s)); }

// Copies at most size - 1 characters and terminates; answers the length.
int CopyCut(char* dst, const char* src, int size) {
  const int n = int(std::min(std::strlen(src), size_t(size - 1)));
  std::memcpy(dst, src, size_t(n));
  dst[n] = '\0';
  return n;
}

// Appends NUL-separated names ending in a second NUL, cutting the name that
// does not fit and stopping there.
class NameList {
 public:
  NameList(char* buffer, int size) : m_buffer(buffer), m_size(size) {}
  bool Add(const char* name) {
    const int room = m_size - m_used - 2;  // the name's NUL and the final one
    if (room <= 0) return false;
    const int n = int(std::strlen(name));
    const int take = std::min(n, room);
    std::memcpy(m_buffer + m_used, name, size_t(take));
    m_used += take;
    m_buffer[m_used++] = '\0';
    m_buffer[m_used] = '\0';
    return take == n;
  }
  int Length() const { return m_used > 0 ? m_used - 1 : 0; }

 private:
  char* m_buffer;
  int m_size;
  int m_used = 0;
};

bool IsSkipped(const char* line) { return line[0] == '\0' || line[0] == ';'; }
bool IsSection(const char* line) {
  const size_t n = std::strlen(line);
  return n >= 2 && line[0] == '[' && line[n - 1] == ']';
}

}  // namespace

int GetPrivateProfileString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                            const char* path) {
  if (!buffer || !path || size < 1) return 0;
  buffer[0] = '\0';
  if (File f{std::fopen(path, "r")}) {
    char raw[kLineSize];
    NameList list(buffer, size);
    bool inSection = false;
    while (std::fgets(raw, sizeof raw, f.get())) {
      char* line = Trim(raw);
      if (IsSkipped(line)) continue;
      if (!section) {  // listing the sections
        if (IsSection(line)) {
          rmbrackets(line);
          if (!list.Add(line)) break;
        }
        continue;
      }
      if (!inSection) {
        if (IsSection(line)) {
          rmbrackets(line);
          inSection = std::strcmp(line, section) == 0;
        }
        continue;
      }
      if (IsSection(line)) break;
      char* eq = std::strchr(line, '=');
      if (eq) *eq = '\0';
      char* name = Trim(line);
      if (!key) {
        if (!list.Add(name)) break;
        continue;
      }
      if (std::strcmp(name, key) != 0) continue;
      if (!eq) break;  // the key without a value counts as not found
      char* value = Trim(eq + 1);
      rmquotes(value);
      return CopyCut(buffer, value, size);
    }
    if (!section || !key) return list.Length();
  }
  if (!defaultValue) return 0;
  CopyCut(buffer, defaultValue, size);
  Trim(buffer);
  rmquotes(buffer);
  return int(std::strlen(buffer));
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
  char buffer[1024];
  if (GetPrivateProfileString(section, key, "0", buffer, sizeof buffer, path) == 0) return defaultValue;
  return int(std::strtol(buffer, nullptr, 10));
}

char* rmlead(char* s) {
  if (!s) return s;
  char* p = s;
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p != s) std::memmove(s, p, std::strlen(p) + 1);
  return s;
}

char* rmtrail(char* s) {
  if (!s) return s;
  size_t n = std::strlen(s);
  while (n > 0 && std::isspace(static_cast<unsigned char>(s[n - 1]))) --n;
  s[n] = '\0';
  return s;
}

int rmquotes(char* s) {
  if (!s) return 0;
  const size_t n = std::strlen(s);
  if (n < 2 || (s[0] != '"' && s[0] != '\'') || s[n - 1] != s[0]) return 0;
  std::memmove(s, s + 1, n - 2);
  s[n - 2] = '\0';
  return 1;
}

int rmbrackets(char* s) {
  if (!s) return 0;
  const size_t n = std::strlen(s);
  if (n < 2 || s[0] != '[' || s[n - 1] != ']') return 0;
  std::memmove(s, s + 1, n - 2);
  s[n - 2] = '\0';
  return 1;
}

char* stptok(const char* s, char* token, int size, const char* delimiters) {
  if (!s || !token || size < 1 || !*s) return nullptr;
  char* out = token;
  char* const limit = token + size - 1;
  while (*s && out < limit) {
    if (delimiters && std::strchr(delimiters, *s)) {
      *out = '\0';
      return const_cast<char*>(s + 1);
    }
    *out++ = *s++;
  }
  *out = '\0';
  return const_cast<char*>(s);
}

char* strTrim(char* s) {
  if (!s) return s;
  char* p = s;
  while (*p == ' ') ++p;
  size_t n = std::strlen(p);
  while (n > 0 && p[n - 1] == ' ') --n;
  std::memmove(s, p, n);
  s[n] = '\0';
  return s;
}

int strDelQuote(char* s) {
  if (!s) return -1;
  const size_t n = std::strlen(s);
  if (n <= 2 || (s[0] != '"' && s[0] != '\'') || s[n - 1] != s[0]) return -1;
  std::memmove(s, s + 1, n - 2);
  s[n - 2] = '\0';
  return 0;
}

int fopen_s(FILE** file, const char* path, const char* mode) {
  if (!file || !path || !mode) return -1;
  *file = std::fopen(path, mode);
  return *file ? 0 : -1;
}

int getModulePath(const char* /*name*/, char* dir) {
  Dl_info info{};
  if (!dir || !dladdr(reinterpret_cast<void*>(&getModulePath), &info) || !info.dli_fname) return -1;
  const char* slash = std::strrchr(info.dli_fname, '/');
  if (!slash) return -1;
  std::memcpy(dir, info.dli_fname, size_t(slash - info.dli_fname));
  dir[slash - info.dli_fname] = '\0';
  return 0;
}

int GetModuleFileName(void* /*module*/, char* buffer, int size) {
  if (!buffer || size < 1 || !getcwd(buffer, size_t(size))) return 0;
  return int(std::strlen(buffer));
}

void getLocaleTime(char* buffer) {
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  std::sprintf(buffer, "%04d%02d%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
               t.tm_sec);
}

unsigned GetTimeCounter() { return 1000; }
