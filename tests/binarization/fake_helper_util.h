// Opens a fake helper library beside the binding under test, so that its
// record stays readable after the binding has closed its own reference.
#ifndef DRAVN_TESTS_BINARIZATION_FAKE_HELPER_UTIL_H
#define DRAVN_TESTS_BINARIZATION_FAKE_HELPER_UTIL_H

#include <dlfcn.h>

#include <string>

struct FakeRecord {
  int init_calls, free_calls, edge_calls, binarize_calls;
  int src_step, edge1_step, edge2_step, width, height, flag, t1, t2, t3, mode;
  int bin_threshold, bin_width, bin_height, bin_mode, bin_dst_step;
  int edge_answer;
};

inline std::string FakePath(const std::string& name) { return std::string(FAKE_DIR) + "/libfake_helper_" + name + ".so"; }

class Fake {
 public:
  explicit Fake(const std::string& name) : m_path(FakePath(name)), m_handle(dlopen(m_path.c_str(), RTLD_NOW)) {}
  ~Fake() {
    if (m_handle) dlclose(m_handle);
  }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;
  const char* path() const { return m_path.c_str(); }
  bool open() const { return m_handle != nullptr; }
  FakeRecord& record() const { return *static_cast<FakeRecord*>(dlsym(m_handle, "fake_record")); }
  int* hist(int which) const { return static_cast<int*>(dlsym(m_handle, which == 1 ? "fake_hist1" : "fake_hist2")); }
  // Closes the test's own reference: answers whether the library is still
  // loaded, that is whether the binding kept it open.
  bool CloseAndStillLoaded() {
    dlclose(m_handle);
    m_handle = nullptr;
    void* again = dlopen(m_path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (again) dlclose(again);
    return again != nullptr;
  }

 private:
  std::string m_path;
  void* m_handle;
};

#endif
