// The unit library exports the engine's label table and batch lock as its callers bind them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "dravn_paths.h"

namespace {

TEST(ClassifierExports, CategoryAndMutexFromTheStagedUnit) {
  const std::string path = std::string(DRAVN_LIB_DIR) + "/libturnsense3.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto category = static_cast<const char* const*>(dlsym(lib, "CATEGORY"));
  ASSERT_NE(category, nullptr);
  EXPECT_STREQ(category[0], "Arabic0");
  EXPECT_STREQ(category[10], "Latin0");
  EXPECT_STREQ(category[24], "Background");
  auto lock = static_cast<pthread_mutex_t*>(dlsym(lib, "mutex"));
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(pthread_mutex_trylock(lock), 0);  // statically initialised and free
  EXPECT_EQ(pthread_mutex_unlock(lock), 0);
  EXPECT_NE(dlsym(lib, "_ZN3cnn8m_hMutexE"), nullptr);
  dlclose(lib);
}

}  // namespace
