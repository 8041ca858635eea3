// The scan-button daemon's scan configuration: its first line, split into
// the scan program's arguments as the daemon does before it starts a scan.
#include <cstring>

#include "fuzz_support.h"
#include "scan_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteFile("scanbutton.conf", data, size);
  static char line[4096];
  if (ReadScanButtonConfFile(path.c_str(), line, sizeof line) != 0) return 0;
  size_t len = std::strlen(line);
  while (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
  char* argv[SCAN_ARGV_SLOTS];
  const int n = BuildScanArgv(line, "dravn:Selko2S420:001:005", argv);
  for (int i = 0; i < n; ++i) (void)std::strlen(argv[i]);
  return 0;
}
