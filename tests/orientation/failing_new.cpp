#include "failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace failing_new {
namespace {
std::atomic<long> g_countdown{-1};
std::atomic<bool> g_fired{false};
}  // namespace

void FailAt(long n) {
  g_fired = false;
  g_countdown = n;
}

bool Disarm() {
  g_countdown = -1;
  return g_fired.exchange(false);
}

}  // namespace failing_new

namespace {
void* TryTake(std::size_t size) noexcept {
  using namespace failing_new;
  if (g_countdown >= 0 && g_countdown-- == 0) {
    g_fired = true;
    return nullptr;
  }
  return std::malloc(size ? size : 1);
}
void* Take(std::size_t size) {
  if (void* p = TryTake(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

// Every form that the matching deletes below free, the nothrow ones included.
void* operator new(std::size_t size) { return Take(size); }
void* operator new[](std::size_t size) { return Take(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return TryTake(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return TryTake(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// OpenCV's filter set-up, reached through the binarization engine's
// libopencv primitives, loses a buffer when an allocation inside it fails;
// that is OpenCV's, not the code under test's.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libopencv_core.so\n";
}
