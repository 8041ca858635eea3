#include "system_tools.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "dravn_paths.h"

bool FindSystemTool(const char* name, char (&path)[256]) {
  static const char* const kDirs[] = {DRAVN_USR_BIN_DIR, DRAVN_BIN_DIR};
  path[0] = '\0';
  for (const char* dir : kDirs) {
    char candidate[sizeof path];
    int n = snprintf(candidate, sizeof candidate, "%s/%s", dir, name);
    if (n <= 0 || n >= static_cast<int>(sizeof candidate) || access(candidate, X_OK) != 0) continue;
    memcpy(path, candidate, static_cast<size_t>(n) + 1);
    return true;
  }
  return false;
}
