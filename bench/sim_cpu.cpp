// The simulated scanner's own CPU time, apart from the driver's. The
// simulation lives in the stand-in libusb and works inside the calls the
// driver makes, on the driver's threads; these wrappers take the entries'
// place (compiled into a bench, or preloaded into scanimage), time each call
// on the calling thread's CPU clock and hand it on to the stand-in.
// Preloaded, the totals go to the file named by DRAVN_SIM_CPU_FILE at exit.
#include "sim_cpu.h"

#include <dlfcn.h>
#include <libusb.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long long> g_simNs{0};
std::atomic<long long> g_calls{0};

long long ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

template <typename F>
F Next(const char* name) {
  void* p = dlsym(RTLD_NEXT, name);
  if (!p) {
    fprintf(stderr, "sim_cpu: no %s after the wrapper\n", name);
    abort();
  }
  return reinterpret_cast<F>(p);
}

template <typename F, typename... A>
auto Timed(F f, A... args) {
  const long long start = ThreadNs();
  auto result = f(args...);
  g_simNs += ThreadNs() - start;
  ++g_calls;
  return result;
}

struct Report {
  ~Report() {
    const char* path = getenv("DRAVN_SIM_CPU_FILE");
    if (!path) return;
    if (FILE* f = fopen(path, "w")) {
      fprintf(f, "%lld %lld\n", g_simNs.load(), g_calls.load());
      fclose(f);
    }
  }
} g_report;

}  // namespace

double SimCpuSeconds() { return g_simNs.load() / 1e9; }
long long SimCalls() { return g_calls.load(); }

extern "C" {

__attribute__((visibility("default"))) int libusb_init(libusb_context** ctx) {
  static auto next = Next<int (*)(libusb_context**)>("libusb_init");
  return Timed(next, ctx);
}

__attribute__((visibility("default"))) ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
  static auto next = Next<ssize_t (*)(libusb_context*, libusb_device***)>("libusb_get_device_list");
  return Timed(next, ctx, list);
}

__attribute__((visibility("default"))) int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  static auto next = Next<int (*)(libusb_device*, libusb_device_handle**)>("libusb_open");
  return Timed(next, dev, handle);
}

__attribute__((visibility("default"))) int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint,
                                                                unsigned char* data, int length, int* actual,
                                                                unsigned int timeout) {
  static auto next = Next<int (*)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int)>(
      "libusb_bulk_transfer");
  return Timed(next, h, endpoint, data, length, actual, timeout);
}

__attribute__((visibility("default"))) int libusb_interrupt_transfer(libusb_device_handle* h, unsigned char endpoint,
                                                                     unsigned char* data, int length, int* actual,
                                                                     unsigned int timeout) {
  static auto next = Next<int (*)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int)>(
      "libusb_interrupt_transfer");
  return Timed(next, h, endpoint, data, length, actual, timeout);
}

__attribute__((visibility("default"))) int libusb_control_transfer(libusb_device_handle* h, uint8_t type,
                                                                   uint8_t request, uint16_t value, uint16_t index,
                                                                   unsigned char* data, uint16_t length,
                                                                   unsigned int timeout) {
  static auto next = Next<int (*)(libusb_device_handle*, uint8_t, uint8_t, uint16_t, uint16_t, unsigned char*, uint16_t,
                                  unsigned int)>("libusb_control_transfer");
  return Timed(next, h, type, request, value, index, data, length, timeout);
}

}  // extern "C"
