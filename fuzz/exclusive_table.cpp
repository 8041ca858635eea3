// The exclusive-access table that any local process can write: the
// segment's bytes come from the input, then a backend takes and gives back
// a record for a device as it does when it opens and closes one.
#include <cstring>

#include "exclusive_table.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  static CExclusiveTable second(KELO_BACKEND_SECOND), main(KELO_BACKEND_MAIN);
  static const bool ready = second.InitShareMemory() && main.InitShareMemory();
  if (!ready) std::abort();
  CExclusiveTable& table = in.Pick(2) ? main : second;
  static const char* const kNames[] = {"Selko2S420:001:005", "SelkoS150:002:003", "",
                                       "Selko2S420:001:005Selko2S420:001:005"};
  const char* name = kNames[in.Pick(4)];
  SHM_EXCLUSIVE_TABLE* shared = table.GetTable();
  std::memset(shared, 0, sizeof *shared);
  std::memcpy(shared, in.Rest(), std::min(in.RestSize(), sizeof *shared));
  if (table.CreateControlFile(name) == 0) table.DeleteControlFile(name);
  return 0;
}
