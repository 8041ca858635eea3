// Loads the staged binarization unit as the second backend does and prints
// its flag; with "run", also binarizes a small page and prints what the
// recording fake libhelper.so (mounted in place of ours) was handed.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"

int main(int argc, char** argv) {
  void* unit = dlopen(DRAVN_LIB_DIR "/libbinarization.so", RTLD_NOW);
  if (!unit) return 2;
  auto* flag = static_cast<unsigned char*>(dlsym(unit, "gInitialized"));
  std::printf("gInitialized=%d\n", flag ? *flag : -1);
  if (argc > 1 && std::strcmp(argv[1], "run") == 0) {
    using Entry = int (*)(I3ipImageInfo*, I3ipImageInfo*, int, int, int);
    auto entry = reinterpret_cast<Entry>(dlsym(unit, "I3ipIpunitProcess_BinAuto"));
    I3ipImageInfo in{}, out{};
    in.Bpp = 8, in.Dpi = 300, in.Width = 40, in.Height = 30, in.Bpl = 40, in.DataSize = 1200;
    in.Data = static_cast<unsigned char*>(std::malloc(1200));
    for (int i = 0; i < 1200; ++i) in.Data[i] = (i % 40) < 20 ? 30 : 220;
    void* helper = dlopen(DRAVN_LIB_DIR "/libhelper.so", RTLD_NOW | RTLD_NOLOAD);
    int* rec = helper ? static_cast<int*>(dlsym(helper, "fake_record")) : nullptr;
    if (rec) rec[19] = 1;  // the fake's edge measurement succeeds
    std::printf("rc=%d\n", entry(&in, &out, 0, 5, 1));
    std::free(out.Data);
    if (rec)
      std::printf("edge_calls=%d binarize_calls=%d width=%d height=%d\n", rec[2], rec[3], rec[7], rec[8]);
  }
  return 0;
}
