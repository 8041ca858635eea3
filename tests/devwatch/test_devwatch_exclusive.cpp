// The application side of the exclusive-access table across processes, in
// an IPC namespace of each test's own: every state a record can be found
// in, the wait for the scan-button daemon (its pause replaced by a counting
// clock), a full table, giving the record back and removal by the last
// process to detach.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common_layer_util.h"
#include "devwatch_test_util.h"
#include "exclusive_key.h"
#include "scanner_ctrl.h"

namespace {

using common_layer_test::DeadPidText;
using common_layer_test::Peer;
using common_layer_test::RunIsolated;
using devwatch_test::RawTable;

const char kDevice[] = "DunmoD1200:001:002";

// The pause of the wait: counted, and slept only as long as a stand-in
// daemon needs to answer.
int g_iPauses = 0;
bool g_bSleep = false;
void (*g_pfnOnPause)(int) = nullptr;
void CountingPause(unsigned) {
  ++g_iPauses;
  if (g_pfnOnPause) g_pfnOnPause(g_iPauses);
  if (g_bSleep) usleep(5000);
}

class ClockSeam {
 public:
  explicit ClockSeam(bool sleep) {
    g_iPauses = 0;
    g_bSleep = sleep;
    g_pfnOnPause = nullptr;
    devwatch::SetExclusivePause(CountingPause);
  }
  ~ClockSeam() { devwatch::SetExclusivePause(nullptr); }
};

bool Alive(const std::string& pid) { return !pid.empty() && kill(std::stoi(pid), 0) == 0; }

// A stand-in scan-button daemon: answers a running process's request for
// record 0 with "SBRelease", as the daemon does once it has let go of the
// scanner. It answers only after Go(), which the requester's first pause
// gives, so that the request is always seen waiting, however the two
// processes are scheduled.
class StandInDaemon {
 public:
  StandInDaemon() {
    int stop[2], go[2];
    if (pipe(stop) != 0 || pipe(go) != 0) abort();
    m_pid = fork();
    if (m_pid == 0) {
      close(stop[1]);
      close(go[1]);
      fcntl(stop[0], F_SETFL, O_NONBLOCK);
      fcntl(go[0], F_SETFL, O_NONBLOCK);
      RawTable raw;
      bool going = false;
      char c;
      while (read(stop[0], &c, 1) < 0) {
        going = going || read(go[0], &c, 1) == 1;
        if (going && devwatch_test::TableLock(-1)) {
          if (raw.State(0) == "Request" && Alive(raw.Pid(0))) raw.SetState(0, "SBRelease");
          devwatch_test::TableLock(1);
        }
        usleep(1000);
      }
      _exit(0);
    }
    close(stop[0]);
    close(go[0]);
    m_stop = stop[1];
    s_go = go[1];
  }
  ~StandInDaemon() {
    close(m_stop);
    close(s_go);
    s_go = -1;
    waitpid(m_pid, nullptr, 0);
  }
  std::string PidText() const { return std::to_string(m_pid); }
  static void Go() {
    if (s_go >= 0 && write(s_go, "g", 1) != 1) abort();
  }

 private:
  pid_t m_pid = -1;
  int m_stop = -1;
  static int s_go;
};
int StandInDaemon::s_go = -1;

std::string OwnPid() { return std::to_string(getpid()); }

enum class Owner { None, Own, Running, Dead, Empty, ShellText };
enum class Pauses { None, Some, All };

struct StateCase {
  const char* label;
  const char* state;  // of record 0, named for the device; nullptr: no record
  Owner owner;
  bool daemon;
  int result;
  Owner ownerAfter;
  const char* stateAfter;
  Pauses pauses;
};
void PrintTo(const StateCase& c, std::ostream* os) { *os << c.label; }

const StateCase kStates[] = {
    {"NoRecord", nullptr, Owner::None, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"DaemonHoldsAndAnswers", "SBReserved", Owner::Running, true, 1, Owner::Own, "Reserved", Pauses::Some},
    // Nobody answers within 400 tries: the request is not left behind.
    {"DaemonHoldsSilently", "SBReserved", Owner::Running, false, 0, Owner::Empty, "Release", Pauses::All},
    {"DaemonReleased", "SBRelease", Owner::Running, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"Released", "Release", Owner::Empty, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"RequestedByRunning", "Request", Owner::Running, false, 0, Owner::Running, "Request", Pauses::None},
    // An application died waiting: its request is taken over, and taken
    // when no daemon answers it.
    {"RequestedByDeadNoDaemon", "Request", Owner::Dead, false, 1, Owner::Own, "Reserved", Pauses::All},
    {"RequestedByDeadDaemonAnswers", "Request", Owner::Dead, true, 1, Owner::Own, "Reserved", Pauses::Some},
    {"RequestedByEmptyOwner", "Request", Owner::Empty, false, 1, Owner::Own, "Reserved", Pauses::All},
    {"RequestedBySelfNoDaemon", "Request", Owner::Own, false, 0, Owner::Empty, "Release", Pauses::All},
    {"ReservedByRunning", "Reserved", Owner::Running, false, 0, Owner::Running, "Reserved", Pauses::None},
    // A dead or empty owner's reservation is taken at once.
    {"ReservedByDead", "Reserved", Owner::Dead, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"ReservedByEmpty", "Reserved", Owner::Empty, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"ReservedByShellText", "Reserved", Owner::ShellText, false, 1, Owner::Own, "Reserved", Pauses::None},
    {"OtherStateNoAnswer", "", Owner::Running, false, 0, Owner::Running, "", Pauses::All},
};

class CreateControlFile : public testing::TestWithParam<StateCase> {};

TEST_P(CreateControlFile, TakesWaitsOrRefusesByTheRecordsState) {
  if (!RunIsolated({"--ipc"})) return;
  const StateCase& c = GetParam();
  Peer running([] { return 0; });
  std::string dead = DeadPidText();
  auto pidOf = [&](Owner o) -> std::string {
    switch (o) {
      case Owner::Own:
        return OwnPid();
      case Owner::Running:
        return running.PidText();
      case Owner::Dead:
        return dead;
      case Owner::ShellText:
        return "$(id>&2)";
      default:
        return "";
    }
  };
  RawTable raw;
  ASSERT_TRUE(raw.Ok());
  raw.Set(3, "SomeoneElse:001:009", running.PidText(), "Reserved");
  if (c.state) raw.Set(0, kDevice, pidOf(c.owner), c.state);
  std::unique_ptr<StandInDaemon> daemon(c.daemon ? new StandInDaemon : nullptr);
  ClockSeam clock(c.daemon);
  if (daemon) {
    g_pfnOnPause = [](int n) {
      if (n == 1) StandInDaemon::Go();
    };
  }
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);

  EXPECT_EQ(ctrl.StartExcusive(kDevice), c.result);
  daemon.reset();
  int k = raw.Find(kDevice);
  ASSERT_GE(k, 0);
  if (!c.state) {
    EXPECT_EQ(k, 0);  // the first free record
  }
  EXPECT_EQ(raw.Pid(k), pidOf(c.ownerAfter));
  EXPECT_EQ(raw.State(k), c.stateAfter);
  switch (c.pauses) {
    case Pauses::None:
      EXPECT_EQ(g_iPauses, 0);
      break;
    case Pauses::Some:
      EXPECT_GT(g_iPauses, 0);
      EXPECT_LT(g_iPauses, 400);
      break;
    case Pauses::All:
      EXPECT_EQ(g_iPauses, 400);
      break;
  }
  EXPECT_EQ(raw.Name(3), "SomeoneElse:001:009");  // no other record is touched
  // A refusal leaves the table to the others: only this test's view is
  // attached then.
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(shmget(devwatch_test::kFirstKey, devwatch_test::kSegmentSize, 0), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_nattch, c.result == 1 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(States, CreateControlFile, testing::ValuesIn(kStates),
                         [](const testing::TestParamInfo<StateCase>& info) { return info.param.label; });

TEST(ExclusiveWait, RequestIsPostedAgainWhenTheDaemonTakesTheDeviceBack) {
  if (!RunIsolated({"--ipc"})) return;
  Peer daemon([] { return 0; });
  RawTable raw;
  raw.Set(0, kDevice, daemon.PidText(), "SBReserved");
  ClockSeam clock(false);
  static RawTable* table = &raw;
  static std::string seen;
  g_pfnOnPause = [](int n) {
    if (n == 1) {
      table->Set(0, kDevice, "1", "SBReserved");  // the daemon took it back unasked
    } else if (n == 2) {
      seen = table->State(0);
      table->SetState(0, "SBRelease");
    }
  };
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);
  EXPECT_EQ(ctrl.StartExcusive(kDevice), 1);
  EXPECT_EQ(seen, "Request");
  EXPECT_EQ(g_iPauses, 2);
  EXPECT_EQ(raw.Pid(0), OwnPid());
  EXPECT_EQ(raw.State(0), "Reserved");
}

TEST(ExclusiveWait, EachCallStartsAfreshWithoutAnEarlierDevicesRecord) {
  if (!RunIsolated({"--ipc"})) return;
  ClockSeam clock(false);
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);
  ASSERT_EQ(ctrl.StartExcusive(kDevice), 1);
  // The first device's record is still held; the second gets its own at
  // once instead of a wait on the first one's.
  EXPECT_EQ(ctrl.StartExcusive("DunmoD1600:001:003"), 1);
  EXPECT_EQ(g_iPauses, 0);
  RawTable raw;
  EXPECT_EQ(raw.Find(kDevice), 0);
  EXPECT_EQ(raw.Find("DunmoD1600:001:003"), 1);
  EXPECT_EQ(raw.State(1), "Reserved");
  EXPECT_EQ(raw.State(0), "Reserved");
}

TEST(ExclusiveTable, FullTableOfRunningOwnersRefusesAndADeadOnesRecordIsReused) {
  if (!RunIsolated({"--ipc"})) return;
  Peer running([] { return 0; });
  RawTable raw;
  for (int k = 0; k < 8; ++k) raw.Set(k, "Held" + std::to_string(k) + ":001:001", running.PidText(), "Reserved");
  ClockSeam clock(false);
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);
  EXPECT_EQ(ctrl.StartExcusive(kDevice), 0);
  EXPECT_EQ(raw.Find(kDevice), -1);
  raw.Set(5, "Held5:001:001", DeadPidText(), "Reserved");
  EXPECT_EQ(ctrl.StartExcusive(kDevice), 1);
  EXPECT_EQ(raw.Find(kDevice), 5);
  EXPECT_EQ(raw.Pid(5), OwnPid());
}

TEST(ExclusiveTable, GivingBackReleasesOnlyOwnRecordAndTheLastDetachRemovesTheTable) {
  if (!RunIsolated({"--ipc"})) return;
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);
  ASSERT_EQ(ctrl.StartExcusive(kDevice), 1);
  {
    RawTable raw;
    EXPECT_EQ(raw.State(0), "Reserved");
  }
  EXPECT_EQ(ctrl.EndExcusive(kDevice), 1);
  EXPECT_FALSE(devwatch_test::SegmentExists());
  EXPECT_FALSE(devwatch_test::SemaphoreExists());
  EXPECT_EQ(ctrl.EndExcusive(kDevice), 0);  // nothing attached any more

  // With another process attached, the table stays and shows the release;
  // a leftover request of ours becomes a release too.
  Peer attached([] {
    static RawTable* keep = new RawTable;
    return keep->Ok() ? 0 : 1;
  });
  ASSERT_EQ(ctrl.StartExcusive(kDevice), 1);
  RawTable raw;
  raw.SetState(0, "Request");
  EXPECT_EQ(ctrl.EndExcusive(nullptr), 1);
  EXPECT_EQ(raw.Pid(0), "");
  EXPECT_EQ(raw.State(0), "Release");
  EXPECT_TRUE(devwatch_test::SegmentExists());

  // A record another process took meanwhile is left as it is.
  ASSERT_EQ(ctrl.StartExcusive(kDevice), 1);
  raw.Set(0, kDevice, attached.PidText(), "Reserved");
  EXPECT_EQ(ctrl.EndExcusive(kDevice), 1);
  EXPECT_EQ(raw.Pid(0), attached.PidText());
  EXPECT_EQ(raw.State(0), "Reserved");
}

// The one key of every user of the table.
struct KeyCase {
  const char* label;
  const char* name;
  const char* key;  // nullptr: refused
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.label; }

const KeyCase kKeys[] = {
    {"PlainString", "DunmoD1200:001:002", "DunmoD1200:001:002"},
    {"Selko2LosesHyphens", "Selko2S420-X:001:002", "Selko2S420X:001:002"},
    {"SelkoLosesHyphens", "SelkoS150-a-b:001:002", "SelkoS150ab:001:002"},
    {"BrennaLosesHyphens", "BrennaB700-1:001:002", "BrennaB7001:001:002"},
    {"OtherModelsKeepThem", "DunmoD1200-X:001:002", "DunmoD1200-X:001:002"},
    {"HyphenInsideThePrefixKeepsThem", "Selko2-S420:001:002", "Selko2-S420:001:002"},
    {"TwentyNineCharacters", "Tavrin4LA110:001:002abcdefghi", "Tavrin4LA110:001:002abcdefghi"},
    {"ThirtyCharactersRefused", "Tavrin4LA110:001:002abcdefghij", nullptr},
    {"FitsOnceHyphensAreGone", "Selko2S420-------:001:002abcde", "Selko2S420:001:002abcde"},
    {"EmptyRefused", "", nullptr},
    {"NullRefused", nullptr, nullptr},
};

class ExclusiveKey : public testing::TestWithParam<KeyCase> {};

TEST_P(ExclusiveKey, FormsTheRecordName) {
  const KeyCase& c = GetParam();
  char key[SHM_DEVICE_NAME_SIZE];
  ASSERT_EQ(MakeExclusiveKey(c.name, key), c.key != nullptr);
  if (c.key) {
    EXPECT_STREQ(key, c.key);
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, ExclusiveKey, testing::ValuesIn(kKeys),
                         [](const testing::TestParamInfo<KeyCase>& info) { return info.param.label; });

TEST(ExclusiveKey, TheBackendsAndTheLibraryMeetOnOneRecord) {
  if (!RunIsolated({"--ipc"})) return;
  const char kHyphened[] = "Selko2S420-X:001:002";
  Peer backend([&] {
    static KeloManagerUsb* mgr = new KeloManagerUsb(nullptr);
    return mgr->InitShareMemory() && mgr->StartExcusive(kHyphened) == 0 ? 0 : 1;
  });
  RawTable raw;
  EXPECT_EQ(raw.Find("Selko2S420X:001:002"), 0);
  ClockSeam clock(false);
  uint32_t lastError = 0;
  devwatch::CMqExpScannerCtrl ctrl(lastError);
  EXPECT_EQ(ctrl.StartExcusive("Selko2S420X:001:002"), 0);  // the backend holds it
  EXPECT_EQ(g_iPauses, 0);
  EXPECT_EQ(backend.Finish(), 0);
  EXPECT_EQ(ctrl.StartExcusive(kHyphened), 1);  // its owner is gone
  EXPECT_EQ(raw.Pid(0), OwnPid());
}

}  // namespace
