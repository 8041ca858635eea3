// The exclusive-access table across real processes. Every test that
// touches System V objects runs in an IPC namespace of its own.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common_layer_util.h"
#include "dravn_paths.h"
#include "exclusive_table.h"
#include "test_support.h"
#include "usb_manager.h"

namespace {

using common_layer_test::DeadPidText;
using common_layer_test::HideDirectory;
using common_layer_test::LogToStderr;
using common_layer_test::Peer;
using common_layer_test::RunIsolated;
using common_layer_test::StderrCapture;

constexpr key_t kFirstKey = 0x43A0D0;
constexpr int kSize = 454;
const char kDevice[] = "DocuvaneRK50:001:002";

// The segment seen as bytes, the way another program of the package sees
// it: magic at 0, record k at 14 + 55k with name, pid and state at +0, +30
// and +40.
class RawTable {
 public:
  explicit RawTable(key_t key = kFirstKey) {
    int id = shmget(key, kSize, 0);
    void* addr = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
    m_base = addr == reinterpret_cast<void*>(-1) ? nullptr : static_cast<char*>(addr);
  }
  ~RawTable() {
    if (m_base) shmdt(m_base);
  }
  bool Ok() const { return m_base != nullptr; }
  char* Bytes() const { return m_base; }
  std::string Name(int k) const { return Text(k, 0, 30); }
  std::string Pid(int k) const { return Text(k, 30, 10); }
  std::string State(int k) const { return Text(k, 40, 15); }
  void Set(int k, const std::string& name, const std::string& pid, const std::string& state) {
    char* r = m_base + 14 + 55 * k;
    memset(r, 0, 55);
    memcpy(r, name.data(), name.size());
    memcpy(r + 30, pid.data(), pid.size());
    memcpy(r + 40, state.data(), state.size());
  }
  // The record holding `name`, or -1.
  int Find(const std::string& name) const {
    for (int k = 0; k < 8; ++k)
      if (Name(k) == name) return k;
    return -1;
  }

 private:
  std::string Text(int k, int offset, int size) const {
    const char* f = m_base + 14 + 55 * k + offset;
    return std::string(f, strnlen(f, static_cast<size_t>(size)));
  }
  char* m_base = nullptr;
};

bool SegmentExists(key_t key) { return shmget(key, kSize, 0) >= 0; }
bool SemaphoreExists(key_t key) { return semget(key, 1, 0) >= 0; }

std::string OwnPid() { return std::to_string(getpid()); }

// Milliseconds that `f` takes.
template <typename F>
long Millis(F f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
}

// About one second: the 100 tries, 10 ms apart, for the daemon's answer.
constexpr long kWaited = 950;

const char* KindName(KeloBackendKind k) { return k == KELO_BACKEND_MAIN ? "Main" : "Second"; }

class ExclusiveKind : public testing::TestWithParam<KeloBackendKind> {};

std::string KindLabel(const testing::TestParamInfo<KeloBackendKind>& info) { return KindName(info.param); }

TEST(ExclusiveTable, NewSegmentLayoutAndOneRecordWritten) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr);
  ASSERT_TRUE(mgr.InitShareMemory());
  struct shmid_ds ds;
  int id = shmget(kFirstKey, kSize, 0);
  ASSERT_GE(id, 0);
  ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_segsz, 454u);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0777u);
  int sem = semget(kFirstKey, 1, 0);
  ASSERT_GE(sem, 0);
  EXPECT_EQ(semctl(sem, 0, GETVAL), 1);

  RawTable raw;
  ASSERT_TRUE(raw.Ok());
  EXPECT_EQ(std::string(raw.Bytes(), 14), std::string("DravnExcusive\0", 14));
  EXPECT_EQ(std::string(raw.Bytes() + 14, 440), std::string(440, '\0'));

  ASSERT_EQ(mgr.StartExcusive(kDevice), 0);
  const char* r = raw.Bytes() + 14;
  EXPECT_EQ(std::string(r, 21), std::string(kDevice) + '\0');
  EXPECT_EQ(std::string(r + 30), OwnPid());
  EXPECT_EQ(std::string(r + 40, 9), std::string("Reserved\0", 9));
  EXPECT_EQ(std::string(raw.Bytes() + 14 + 55, 385), std::string(385, '\0'));  // the other 7
  EXPECT_EQ(semctl(sem, 0, GETVAL), 1);                                        // given back

  ASSERT_TRUE(mgr.EndExcusive(kDevice));
  EXPECT_EQ(raw.Name(0), kDevice);
  EXPECT_EQ(raw.Pid(0), "");
  EXPECT_EQ(std::string(r + 30, 10), std::string(10, '\0'));
  EXPECT_EQ(raw.State(0), "Release");
}

// Who the pid of the record names before and after.
enum PidKind { kEmpty, kOwn, kRunning, kDead, kInjected };

struct Expect {
  int status;
  const char* state;  // after CreateControlFile
  PidKind pid;
  bool waits;            // about one second for the daemon
  const char* endState;  // after DeleteControlFile
  PidKind endPid;
};

struct TransitionCase {
  const char* label;
  const char* state;
  PidKind pid;
  Expect second, main;
};
void PrintTo(const TransitionCase& c, std::ostream* os) { *os << c.label; }

const TransitionCase kTransitions[] = {
    // The daemon holds it and does not answer: ask, wait, go on.
    {"DaemonHolds",
     "SBReserved",
     kRunning,
     {0, "Request", kOwn, true, "Request", kEmpty},
     {0, "Request", kOwn, true, "Release", kEmpty}},
    {"DaemonReleased",
     "SBRelease",
     kRunning,
     {0, "Reserved", kOwn, false, "Release", kEmpty},
     {0, "SBRelease", kRunning, false, "SBRelease", kRunning}},
    {"Released",
     "Release",
     kEmpty,
     {0, "Reserved", kOwn, false, "Release", kEmpty},
     {0, "Release", kEmpty, false, "Release", kEmpty}},
    {"RequestedByRunning",
     "Request",
     kRunning,
     {3, "Request", kRunning, false, "Request", kRunning},
     {0, "Request", kRunning, true, "Request", kRunning}},
    {"RequestedByDead",
     "Request",
     kDead,
     {0, "Reserved", kOwn, true, "Release", kEmpty},
     {0, "Request", kDead, true, "Request", kDead}},
    {"ReservedByRunning",
     "Reserved",
     kRunning,
     {3, "Reserved", kRunning, false, "Reserved", kRunning},
     {3, "Reserved", kRunning, false, "Reserved", kRunning}},
    {"ReservedByItself",
     "Reserved",
     kOwn,
     {3, "Reserved", kOwn, false, "Release", kEmpty},
     {3, "Reserved", kOwn, false, "Release", kEmpty}},
    {"ReservedByDead",
     "Reserved",
     kDead,
     {0, "Request", kOwn, true, "Request", kEmpty},
     {0, "Request", kOwn, true, "Release", kEmpty}},
    {"ReservedWithoutPid",
     "Reserved",
     kEmpty,
     {0, "Request", kOwn, true, "Request", kEmpty},
     {0, "Request", kOwn, true, "Release", kEmpty}},
    // Shell text in the pid field names no process: a dead owner.
    {"ReservedByInjectedText",
     "Reserved",
     kInjected,
     {0, "Request", kOwn, true, "Request", kEmpty},
     {0, "Request", kOwn, true, "Release", kEmpty}},
    {"UnknownState",
     "Idle",
     kRunning,
     {0, "Idle", kRunning, true, "Idle", kRunning},
     {0, "Idle", kRunning, true, "Idle", kRunning}},
};

class Transition : public testing::TestWithParam<std::tuple<KeloBackendKind, TransitionCase>> {};

TEST_P(Transition, AnswersAndRecordFollowTheState) {
  if (!RunIsolated({"--ipc"})) return;
  const KeloBackendKind kind = std::get<0>(GetParam());
  const TransitionCase& c = std::get<1>(GetParam());
  const Expect& e = kind == KELO_BACKEND_MAIN ? c.main : c.second;

  Peer running([] { return 0; });
  const std::string dead = DeadPidText();
  auto text = [&](PidKind k) -> std::string {
    switch (k) {
      case kOwn:
        return OwnPid();
      case kRunning:
        return running.PidText();
      case kDead:
        return dead;
      case kInjected:
        return "$(id>&2)";
      default:
        return "";
    }
  };

  KeloManagerUsb mgr(nullptr, kind);
  ASSERT_TRUE(mgr.InitShareMemory());
  RawTable raw;
  raw.Set(0, "SelkoS150:001:009", running.PidText(), "Reserved");  // another device, not touched
  raw.Set(2, kDevice, text(c.pid), c.state);

  int status = -1;
  long ms = Millis([&] { status = mgr.StartExcusive(kDevice); });
  EXPECT_EQ(status, e.status);
  EXPECT_EQ(raw.State(2), e.state);
  EXPECT_EQ(raw.Pid(2), text(e.pid));
  if (e.waits)
    EXPECT_GE(ms, kWaited);
  else
    EXPECT_LT(ms, kWaited);

  EXPECT_TRUE(mgr.EndExcusive(kDevice));
  EXPECT_EQ(raw.State(2), e.endState);
  EXPECT_EQ(raw.Pid(2), text(e.endPid));
  EXPECT_EQ(raw.Name(2), kDevice);
  EXPECT_EQ(raw.Name(0), "SelkoS150:001:009");
  EXPECT_EQ(raw.State(0), "Reserved");
}

INSTANTIATE_TEST_SUITE_P(States, Transition,
                         testing::Combine(testing::Values(KELO_BACKEND_SECOND, KELO_BACKEND_MAIN),
                                          testing::ValuesIn(kTransitions)),
                         [](const auto& info) {
                           return std::string(KindName(std::get<0>(info.param))) + "_" + std::get<1>(info.param).label;
                         });

TEST_P(ExclusiveKind, DaemonHandsTheDeviceOver) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr, GetParam());
  ASSERT_TRUE(mgr.InitShareMemory());
  const std::string parent = OwnPid();

  // A stand-in for the scan-button daemon: holds the device, and releases
  // it when someone asks.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t daemon = fork();
  if (daemon == 0) {
    CExclusiveTable table(KELO_BACKEND_SECOND);
    if (!table.InitShareMemory() || !table.p()) _exit(2);
    RawTable raw;
    raw.Set(3, kDevice, OwnPid(), "SBReserved");
    table.v();
    char c = 0;
    if (write(ready[1], &c, 1) != 1) _exit(2);
    for (int i = 0; i < 2000; ++i) {
      if (!table.p()) _exit(2);
      if (raw.State(3) == "Request") {
        bool asker = raw.Pid(3) == parent;
        raw.Set(3, kDevice, raw.Pid(3), "SBRelease");
        table.v();
        _exit(asker ? 0 : 3);
      }
      table.v();
      usleep(2000);
    }
    _exit(4);
  }
  close(ready[1]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);

  int status = -1;
  long ms = Millis([&] { status = mgr.StartExcusive(kDevice); });
  EXPECT_EQ(status, 0);
  EXPECT_LT(ms, kWaited);
  int exitStatus = 0;
  waitpid(daemon, &exitStatus, 0);
  EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << "the daemon saw no request from us";
  RawTable raw;
  EXPECT_EQ(raw.State(3), "Reserved");
  EXPECT_EQ(raw.Pid(3), OwnPid());

  EXPECT_TRUE(mgr.EndExcusive(kDevice));
  EXPECT_EQ(raw.State(3), "Release");
  EXPECT_EQ(raw.Pid(3), "");
}

TEST_P(ExclusiveKind, BusyWhileTheOwnerRunsTakenOverWhenItIsGone) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr, GetParam());
  ASSERT_TRUE(mgr.InitShareMemory());
  const KeloBackendKind kind = GetParam();
  // The owner takes the device and dies without giving it back.
  Peer owner([kind] {
    KeloManagerUsb other(nullptr, kind);
    return other.InitShareMemory() ? other.StartExcusive(kDevice) : 99;
  });
  RawTable raw;
  int k = raw.Find(kDevice);
  ASSERT_GE(k, 0);
  EXPECT_EQ(raw.Pid(k), owner.PidText());
  EXPECT_EQ(raw.State(k), "Reserved");

  EXPECT_EQ(mgr.StartExcusive(kDevice), 3);
  EXPECT_EQ(raw.Pid(k), owner.PidText());
  EXPECT_EQ(owner.Finish(), 0);

  int status = -1;
  long ms = Millis([&] { status = mgr.StartExcusive(kDevice); });
  EXPECT_EQ(status, 0);
  EXPECT_GE(ms, kWaited);  // asked a daemon that is not there
  EXPECT_EQ(raw.Pid(k), OwnPid());
  EXPECT_EQ(raw.State(k), "Request");
}

TEST_P(ExclusiveKind, FullTableAnswersNoMemoryUntilAnOwnerIsGone) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr, GetParam());
  ASSERT_TRUE(mgr.InitShareMemory());
  Peer holder([] { return 0; });
  RawTable raw;
  for (int k = 0; k < 8; ++k) raw.Set(k, "dev" + std::to_string(k), holder.PidText(), "Reserved");

  EXPECT_EQ(mgr.StartExcusive("dev8"), 10);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(raw.Name(k), "dev" + std::to_string(k));

  holder.Finish();
  EXPECT_EQ(mgr.StartExcusive("dev8"), 0);
  EXPECT_EQ(raw.Name(0), "dev8");
  EXPECT_EQ(raw.Pid(0), OwnPid());
  EXPECT_EQ(raw.State(0), "Reserved");
}

TEST_P(ExclusiveKind, NewNameTakesItsOwnRecordAfterAnEarlierOne) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr, GetParam());
  ASSERT_TRUE(mgr.InitShareMemory());
  Peer holder([] { return 0; });
  RawTable raw;
  raw.Set(0, "SelkoS150:001:009", holder.PidText(), "Reserved");
  ASSERT_EQ(mgr.StartExcusive("Selko2S420:001:003"), 0);
  ASSERT_EQ(raw.Find("Selko2S420:001:003"), 1);
  raw.Set(1, "Selko2S420:001:003", holder.PidText(), "Reserved");  // someone else has it now

  // Another device: no waiting on the earlier record, a record of its own.
  int status = -1;
  long ms = Millis([&] { status = mgr.StartExcusive("BrennaB700:002:004"); });
  EXPECT_EQ(status, 0);
  EXPECT_LT(ms, kWaited);
  int k = raw.Find("BrennaB700:002:004");
  ASSERT_EQ(k, 2);
  EXPECT_EQ(raw.Pid(k), OwnPid());
  EXPECT_EQ(raw.State(k), "Reserved");
  EXPECT_TRUE(mgr.EndExcusive(nullptr));
  EXPECT_EQ(raw.State(k), "Release");
  EXPECT_EQ(raw.Pid(1), holder.PidText());
}

TEST_P(ExclusiveKind, EmptyOrOverlongNameIsRefused) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr, GetParam());
  ASSERT_TRUE(mgr.InitShareMemory());
  RawTable raw;
  const std::string longest(29, 'a');
  EXPECT_EQ(mgr.StartExcusive((longest + "b").c_str()), 4);
  long ms = Millis([&] { EXPECT_EQ(mgr.StartExcusive(""), 4); });  // would match a free record
  EXPECT_LT(ms, kWaited);
  EXPECT_EQ(std::string(raw.Bytes() + 14, 440), std::string(440, '\0'));
  EXPECT_EQ(mgr.StartExcusive(longest.c_str()), 0);
  EXPECT_EQ(raw.Name(0), longest);
  EXPECT_EQ(raw.Pid(0), OwnPid());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExclusiveKind, testing::Values(KELO_BACKEND_SECOND, KELO_BACKEND_MAIN), KindLabel);

TEST(ExclusiveTable, LastProcessToDetachRemovesSegmentAndSemaphore) {
  if (!RunIsolated({"--ipc"})) return;
  KeloManagerUsb mgr(nullptr);
  ASSERT_TRUE(mgr.InitShareMemory());
  // Another process attaches and detaches: we are still attached.
  Peer other(
      [] {
        KeloManagerUsb m(nullptr);
        if (!m.InitShareMemory()) return 1;
        m.ReleaseShareMemory();
        return SegmentExists(kFirstKey) && SemaphoreExists(kFirstKey) ? 0 : 2;
      },
      false);
  EXPECT_EQ(other.Finish(), 0);
  EXPECT_TRUE(SegmentExists(kFirstKey));
  EXPECT_TRUE(SemaphoreExists(kFirstKey));
  mgr.ReleaseShareMemory();
  EXPECT_FALSE(SegmentExists(kFirstKey));
  EXPECT_FALSE(SemaphoreExists(kFirstKey));
  mgr.ReleaseShareMemory();  // a second release does nothing
  EXPECT_EQ(mgr.StartExcusive(kDevice), 4);
  EXPECT_FALSE(mgr.EndExcusive(kDevice));
}

TEST(ExclusiveTable, ForeignSegmentUnderTheFirstKeyIsSkipped) {
  if (!RunIsolated({"--ipc"})) return;
  int foreign = shmget(kFirstKey, kSize, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_GE(foreign, 0);
  char* f = static_cast<char*>(shmat(foreign, nullptr, 0));
  strcpy(f, "SomebodyElse");
  {
    KeloManagerUsb mgr(nullptr);
    ASSERT_TRUE(mgr.InitShareMemory());
    EXPECT_TRUE(SegmentExists(kFirstKey + 1));
    EXPECT_TRUE(SemaphoreExists(kFirstKey + 1));
    EXPECT_FALSE(SemaphoreExists(kFirstKey));
    ASSERT_EQ(mgr.StartExcusive(kDevice), 0);
    RawTable ours(kFirstKey + 1);
    EXPECT_EQ(ours.Name(0), kDevice);
    EXPECT_STREQ(f, "SomebodyElse");
    EXPECT_EQ(std::string(f + 14, 440), std::string(440, '\0'));

    // A second process finds the same table.
    Peer other(
        [] {
          KeloManagerUsb m(nullptr);
          return m.InitShareMemory() ? m.StartExcusive(kDevice) : 99;
        },
        false);
    EXPECT_EQ(other.Finish(), 3);
  }  // the manager's end detaches and removes ours
  EXPECT_FALSE(SegmentExists(kFirstKey + 1));
  EXPECT_FALSE(SemaphoreExists(kFirstKey + 1));
  EXPECT_TRUE(SegmentExists(kFirstKey));
  shmdt(f);
}

TEST(ExclusiveTable, TwoThreadsOfOneProcessNeverHoldItTogether) {
  if (!RunIsolated({"--ipc"})) return;
  // The signal watcher gives the device back from its own thread while the
  // SANE thread may be taking it: p and v of one attachment run at once.
  alarm(30);  // a v turned into a p would hang both
  CExclusiveTable table(KELO_BACKEND_SECOND);
  ASSERT_TRUE(table.InitShareMemory());
  std::atomic<int> inside{0}, overlaps{0}, failures{0};
  auto hammer = [&] {
    for (int i = 0; i < 50000; ++i) {
      if (!table.p()) {
        ++failures;
        return;
      }
      if (++inside != 1) ++overlaps;
      --inside;
      if (!table.v()) {
        ++failures;
        return;
      }
    }
  };
  std::thread a(hammer), b(hammer);
  a.join();
  b.join();
  alarm(0);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(semctl(semget(kFirstKey, 1, 0), 0, GETVAL), 1);
}

TEST(ExclusiveTable, SemaphoreClosedToUsLeavesNothingAttached) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to take another user's rights";
  if (!RunIsolated({"--ipc"})) return;
  // A usable table, but a semaphore that only root may use.
  int id = shmget(kFirstKey, kSize, IPC_CREAT | IPC_EXCL | 0777);
  ASSERT_GE(id, 0);
  char* t = static_cast<char*>(shmat(id, nullptr, 0));
  memcpy(t, "DravnExcusive", 14);
  shmdt(t);
  ASSERT_GE(semget(kFirstKey, 1, IPC_CREAT | IPC_EXCL | 0600), 0);
  Peer user(
      [id] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 90;
        KeloManagerUsb m(nullptr);
        // SANE open asks again at each try.
        for (int i = 0; i < 3; ++i)
          if (m.InitShareMemory()) return 91;
        struct shmid_ds ds;
        if (shmctl(id, IPC_STAT, &ds) != 0) return 92;
        return static_cast<int>(ds.shm_nattch);
      },
      false);
  EXPECT_EQ(user.Finish(), 0);
  EXPECT_TRUE(SegmentExists(kFirstKey));  // not ours to remove
}

TEST(ExclusiveTable, TableThatCannotBeAttachedFailsEveryStep) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to take another user's rights";
  if (!RunIsolated({"--ipc"})) return;
  // Root's table, readable by root only: another user cannot attach it.
  int id = shmget(kFirstKey, kSize, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_GE(id, 0);
  char* t = static_cast<char*>(shmat(id, nullptr, 0));
  memcpy(t, "DravnExcusive", 14);
  Peer user(
      [] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 9;
        KeloManagerUsb m(nullptr);
        if (m.InitShareMemory()) return 1;
        if (m.StartExcusive(kDevice) != 4) return 2;
        if (m.EndExcusive(kDevice)) return 3;
        return 0;
      },
      false);
  EXPECT_EQ(user.Finish(), 0);
  EXPECT_EQ(std::string(t + 14, 440), std::string(440, '\0'));
  EXPECT_FALSE(SegmentExists(kFirstKey + 1));  // nothing made elsewhere
  shmdt(t);
}

struct LivenessCase {
  const char* label;
  std::string pid;
  bool alive;
};

TEST(Liveness, OnlyDigitsNameAProcessAndItMustRun) {
  Peer running([] { return 0; });
  const LivenessCase cases[] = {
      {"own", OwnPid(), true},
      {"running", running.PidText(), true},
      {"dead", DeadPidText(), false},
      {"empty", "", false},
      {"one character", "1", false},
      {"zero", "0", false},
      {"zeros", "00", false},  // once matched a time column
      {"sign", "+" + running.PidText(), false},
      {"blank", " " + running.PidText(), false},
      {"trailing text", running.PidText() + "x", false},
      {"shell", "$(id>&2)", false},
      {"shell list", "1;id>&2", false},
      {"eleven digits", "12345678901", false},
      {"beyond int", "4294967297", false},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckPidIsRunnable(c.pid.c_str()), c.alive) << c.label;
  EXPECT_FALSE(CheckPidIsRunnable(nullptr));
}

// ps and grep: found under the system tool directories, as callers still
// require them at init.
struct ToolCase {
  const char* label;
  std::vector<std::string> usrBin, bin;  // tools placed in each directory
  bool found;
  const char* psDir;  // "usr", "bin" or "" when not found
  const char* grepDir;
};
void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.label; }

class ToolPath : public testing::TestWithParam<ToolCase> {};

TEST_P(ToolPath, FirstDirectoryThatHasTheToolWins) {
  if (!RunIsolated({"--mount"})) return;
  const ToolCase& c = GetParam();
  for (auto [dir, tools] : {std::pair{DRAVN_USR_BIN_DIR, c.usrBin}, std::pair{DRAVN_BIN_DIR, c.bin}}) {
    HideDirectory(dir);
    for (const std::string& t : tools)
      ASSERT_EQ(symlink(("/usr/bin/" + t).c_str(), (std::string(dir) + "/" + t).c_str()), 0);
  }
  LogToStderr level(1);
  StderrCapture capture;
  KeloManagerUsb mgr(nullptr);
  EXPECT_EQ(mgr.InitSystemToolPath(), c.found);
  std::string log = capture.Stop();
  auto where = [](const char* d, const char* tool) -> std::string {
    if (!*d) return "";
    return std::string(std::string(d) == "usr" ? DRAVN_USR_BIN_DIR : DRAVN_BIN_DIR) + "/" + tool;
  };
  EXPECT_EQ(mgr.GetPsPath(), where(c.psDir, "ps"));
  EXPECT_EQ(mgr.GetGrepPath(), where(c.grepDir, "grep"));
  EXPECT_EQ(log.find("system command 'ps' is not found") != std::string::npos, !*c.psDir) << log;
  EXPECT_EQ(log.find("system command 'grep' is not found") != std::string::npos, !*c.grepDir) << log;
}

const ToolCase kTools[] = {
    {"BothInUsrBin", {"ps", "grep"}, {"ps", "grep"}, true, "usr", "usr"},
    {"PsOnlyInBin", {"grep"}, {"ps"}, true, "bin", "usr"},
    {"GrepMissing", {"ps"}, {}, false, "usr", ""},
    {"NeitherFound", {}, {}, false, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Tools, ToolPath, testing::ValuesIn(kTools),
                         [](const testing::TestParamInfo<ToolCase>& info) { return info.param.label; });

}  // namespace
