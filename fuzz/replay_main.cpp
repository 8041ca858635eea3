// Replays a fuzz target over its corpus without libFuzzer: every file named
// on the command line, or found (sorted) in a folder named there, is handed
// to the target once. A fault the sanitizers see ends the run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

#if defined(__SANITIZE_ADDRESS__)
// Declared here: gcc ships no sanitizer/allocator_interface.h, though its
// runtime has the function as clang's does.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
// libFuzzer stops an input that asks for more than -malloc_limit_mb at once
// (scripts/fuzz gives 2048); the replay stops it too, so that such a
// finding, once in a corpus, stays found.
constexpr size_t kMallocLimit = size_t{2048} << 20;

void MallocHook(const volatile void*, size_t size) {
  if (size <= kMallocLimit) return;
  std::fprintf(stderr, "replay: one allocation of %zu bytes, over the limit of %zu\n", size, kMallocLimit);
  std::abort();
}
void FreeHook(const volatile void*) {}
#endif

void Collect(const std::string& path, std::vector<std::string>* files) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) Collect(path + "/" + n, files);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook);
#endif
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) Collect(argv[i], &files);
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", f.c_str(), bytes.size());
    // A copy of exactly the input's size, so that a read past its end is seen.
    auto* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    delete[] copy;
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
