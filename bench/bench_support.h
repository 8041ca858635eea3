// Helpers shared by the whole-scan benchmarks.
#ifndef DRAVN_BENCH_SUPPORT_H
#define DRAVN_BENCH_SUPPORT_H

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>

inline size_t HeapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Samples the heap while a batch runs and keeps the highest value.
class PeakSampler {
 public:
  PeakSampler()
      : m_base(HeapInUse()), m_thread([this] {
          while (!m_stop) {
            m_peak = std::max(m_peak.load(), HeapInUse());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
          timespec t;
          clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
          m_cpu = t.tv_sec + t.tv_nsec / 1e9;
        }) {}
  size_t Stop() {
    m_stop = true;
    m_thread.join();
    return m_peak > m_base ? m_peak - m_base : 0;
  }
  // The sampling thread's own CPU time, to take out of the process's; valid
  // after Stop.
  double CpuSeconds() const { return m_cpu; }

 private:
  size_t m_base;
  std::atomic<size_t> m_peak{0};
  std::atomic<bool> m_stop{false};
  double m_cpu = 0;
  std::thread m_thread;
};

#endif
