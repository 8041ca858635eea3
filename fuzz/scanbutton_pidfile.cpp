// The scan-button daemon's pid file, which another process may have
// written: read as the daemon reads it at start (and then rewritten).
#include <unistd.h>

#include <cstdio>

#include "fuzz_support.h"
#include "scan_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::Dir() + "/dravnscanbutton.pid";
  fuzz::WriteFile("dravnscanbutton.pid", data, size);
  g_pszPidFile = path.c_str();
  std::snprintf(g_szCurrentPid, sizeof g_szCurrentPid, "%d", static_cast<int>(getpid()));
  CheckIsRunnable();
  return 0;
}
