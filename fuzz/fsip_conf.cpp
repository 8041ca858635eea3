// fsip.conf: the image library's "word number" switches, read as its
// control entry and judges read them.
#include "fsipctl_internal.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteFile("fsip.conf", data, size);
  for (const char* key : {"SaveBitmap", "ProcLog", "DoCrop", "LogLevel"})
    CrpprGetPrivateProfileInt(key, 1, path.c_str());
  return 0;
}
