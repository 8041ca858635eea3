#include "profile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char* TrimSpaceBothEnds(char* text) {
  if (!text) return text;
  char* start = text;
  while (*start && isspace(static_cast<unsigned char>(*start))) ++start;
  char* end = start + strlen(start);
  while (end > start && isspace(static_cast<unsigned char>(end[-1]))) --end;
  *end = '\0';
  if (start != text) memmove(text, start, static_cast<size_t>(end - start) + 1);
  return text;
}

bool GetKeyAndValue(const char* line, char separator, char* key, char* value) {
  const char* sep = strchr(line, separator);
  if (!sep || strchr(sep + 1, separator)) return false;
  size_t keyLen = static_cast<size_t>(sep - line);
  memcpy(key, line, keyLen);
  key[keyLen] = '\0';
  strcpy(value, sep + 1);
  TrimSpaceBothEnds(key);
  TrimSpaceBothEnds(value);
  return true;
}

int GetPrivateProfileString(const char* /*section*/, const char* key, const char* defaultValue, char* buffer,
                            unsigned int size, const char* path) {
  FILE* fp = path ? fopen(path, "r") : nullptr;
  if (!fp) {
    if (buffer && size) strncpy(buffer, defaultValue ? defaultValue : "", size);
    return -1;
  }
  char line[256];  // 254 characters, the newline and the NUL
  char k[256], v[256];
  while (fgets(line, 255, fp)) {
    if (!GetKeyAndValue(line, '=', k, v)) continue;
    if (key && strcmp(k, key) == 0) {
      if (buffer && size) strncpy(buffer, v, size);
      break;
    }
  }
  fclose(fp);
  return 0;
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
  char value[255] = {0};
  if (GetPrivateProfileString(section, key, "", value, sizeof value, path) != 0) return defaultValue;
  value[sizeof value - 1] = '\0';
  if (value[0] == '\0') return defaultValue;
  return static_cast<int>(strtol(value, nullptr, 10));
}
