// Mutex wrappers.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <type_traits>
#include <vector>

#include "lock.h"

namespace {

TEST(ThreadLock, OneThreadMayTakeItAgainAndCountsHowOften) {
  CThreadLock lock;
  EXPECT_EQ(lock.LockCount(), 0);
  lock.Lock();
  lock.Lock();
  EXPECT_EQ(lock.LockCount(), 2);
  lock.Unlock();
  EXPECT_EQ(lock.LockCount(), 1);

  // Still held after one unlock: another thread must wait for the second.
  std::atomic<bool> taken{false};
  std::thread other([&] {
    lock.Lock();
    taken = true;
    lock.Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(taken.load());
  lock.Unlock();
  other.join();
  EXPECT_TRUE(taken.load());
  EXPECT_EQ(lock.LockCount(), 0);
}

TEST(ThreadLock, KeepsCountsOfManyThreadsApart) {
  CThreadLock lock;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        lock.Lock();
        lock.Lock();  // nested, as the page-list operations do
        ++counter;
        lock.Unlock();
        lock.Unlock();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(lock.LockCount(), 0);
}

// Each class of the set is destroyed through its own table of virtual
// operations, the attribute object included.
static_assert(std::has_virtual_destructor<CLock>::value && std::has_virtual_destructor<CMutexAttribute>::value,
              "virtual destructors");
static_assert(std::is_abstract<CLock>::value && !std::is_abstract<CThreadLock>::value, "CLock is the interface");

TEST(LockByMutex, UsableWithoutAnAttribute) {
  CLockByMutex lock;
  CLock& base = lock;
  base.Lock();
  EXPECT_EQ(base.LockCount(), 1);
  base.Unlock();
  EXPECT_EQ(base.LockCount(), 0);
  CMutexAttribute attr;
  EXPECT_EQ(attr.SetType(12345), EINVAL);  // the library's own code
}

}  // namespace
