// Forwarding to the second backend: the staged main backend, copied with a
// recording stand-in libsane-dravn2.so.1 beside it, is driven the way a
// front end drives it, with simulated scanners of every forwarded id.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_support.h"

namespace {

using dravn_test::ReadFile;
using dravn_test::WriteFile;

std::string Name(const dravn::CatalogModel& m) { return std::string(m.model) + ":001:005"; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A copy of the staged backend directory, with or without the stand-in.
std::string BackendCopy(bool withSecond) {
  std::string dir = dravn_test::MakeTempDir("backend-copy");
  EXPECT_EQ(dravn_test::Run(
                {"sh", "-c", std::string("cp -a '") + DRAVN_SANE_BACKEND_DIR + "'/libsane-dravn.so* '" + dir + "'/"})
                .exitCode,
            0);
  if (withSecond) {
    EXPECT_EQ(dravn_test::Run({"cp", DRAVN_STANDIN_SECOND, dir + "/libsane-dravn2.so.1"}).exitCode, 0);
  }
  return dir;
}

struct DriverRun {
  std::vector<std::string> out;  // the driver's lines
  std::vector<std::string> log;  // the stand-in's lines
};

// The device at address 5; `more` adds scenario lines.
DriverRun Drive(const std::string& backendDir, const dravn::CatalogModel& device, std::vector<std::string> calls,
                const std::string& fail = "", const std::string& more = "") {
  std::string dir = dravn_test::MakeTempDir("forward");
  std::string scenario = dir + "/scenario";
  char line[128];
  snprintf(line, sizeof line, "device loopback %04x:%04x bus=1 address=5\n", device.vendorId, device.productId);
  WriteFile(scenario, line + more);
  auto env = dravn_test::SimEnv(scenario);
  env["DRAVN2_STANDIN_LOG"] = dir + "/calls";
  env["DRAVN2_STANDIN_FAIL"] = fail;
  std::vector<std::string> argv{"unshare", "--ipc", DRAVN_SANE_DRIVER, backendDir + "/libsane-dravn.so.1"};
  argv.insert(argv.end(), calls.begin(), calls.end());
  auto r = dravn_test::Run(argv, env, 60);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return {Lines(r.out), Lines(ReadFile(dir + "/calls"))};
}

std::vector<const dravn::CatalogModel*> Forwarded() {
  std::vector<const dravn::CatalogModel*> out;
  for (const auto& m : dravn::kSelkoModels) out.push_back(&m);
  for (const auto& m : dravn::kSelko2Models) out.push_back(&m);
  out.push_back(&dravn::kBrennaModels[0]);
  return out;
}

TEST(Forwarding, EveryCallOfTheSevenProductsGoesToTheSecondBackendUnchanged) {
  std::string backend = BackendCopy(true);
  for (const dravn::CatalogModel* m : Forwarded()) {
    SCOPED_TRACE(m->model);
    const std::string name = Name(*m);
    DriverRun run = Drive(backend, *m,
                          {"init", "list", "open=" + name, "desc=1", "get=3", "set=4:300", "auto=5", "params", "start",
                           "read", "cancel", "iomode", "selectfd", "strstatus=7", "close", "exit"});
    ASSERT_GE(run.out.size(), 3u);
    EXPECT_EQ(run.out[1], "list 0");
    EXPECT_EQ(run.out[2], "device " + name + "|Moranti|" + m->model + "|scanner");
    // The handle the front end holds is the second backend's.
    std::string open = run.out[3];
    ASSERT_EQ(open.rfind("open 0 handle=", 0), 0u) << open;
    std::string h = open.substr(strlen("open 0 handle="));
    const std::vector<std::string> expectedOut = {"desc standin-option",
                                                  "get 0 value=4242",
                                                  "set 0 info=4",
                                                  "auto 0",
                                                  "params 0 lines=7 bpl=30",
                                                  "start 7",
                                                  "read 0 length=5 data=DRAV2",
                                                  "cancel",
                                                  "iomode 1",
                                                  "selectfd 1",
                                                  "strstatus Document feeder out of documents",
                                                  "close",
                                                  "exit"};
    EXPECT_EQ(std::vector<std::string>(run.out.begin() + 4, run.out.end()), expectedOut);
    const std::vector<std::string> expectedLog = {
        "init version=set auth=null",
        "get_devices list=set local=0",
        "open name=" + name + " handle=set",
        "get_option_descriptor handle=" + h + " option=1",
        "control_option handle=" + h + " option=3 action=0 value=0 info=set",
        "control_option handle=" + h + " option=4 action=1 value=300 info=set",
        "control_option handle=" + h + " option=5 action=2 value=0 info=null",
        "get_parameters handle=" + h + " params=set",
        "start handle=" + h,
        "read handle=" + h + " data=set max=64 length=set",
        "cancel handle=" + h,
        "close handle=" + h,
        "exit",
    };
    EXPECT_EQ(run.log, expectedLog);
  }
}

// An open with no name forwards the first listed device by its name.
TEST(Forwarding, OpenWithoutNameTakesTheFirstDevice) {
  std::string backend = BackendCopy(true);
  const auto& m = dravn::kBrennaModels[0];
  DriverRun run = Drive(backend, m, {"init", "open=", "exit"});
  ASSERT_EQ(run.log.size(), 4u);
  EXPECT_EQ(run.log[2], "open name=" + Name(m) + " handle=set");
}

// A failing step of the forwarded open is returned, and the second backend,
// initialised by it, is exited at once (its threads end before it can be
// unloaded); nothing later reaches it, exit included.
TEST(Forwarding, FailedForwardedOpenExitsTheSecondBackend) {
  std::string backend = BackendCopy(true);
  const auto& m = dravn::kSelko2Models[1];
  struct Case {
    const char* fail;
    size_t calls;  // stand-in calls made up to the failing one
  } cases[] = {{"init", 1}, {"get_devices", 2}, {"open", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail);
    DriverRun run = Drive(backend, m, {"init", "list", "open=" + Name(m), "start", "get=3", "close", "exit"}, c.fail);
    ASSERT_GE(run.out.size(), 7u);
    EXPECT_EQ(run.out[3].substr(0, 7), "open 9 ");  // SANE_STATUS_IO_ERROR
    EXPECT_EQ(run.out[4], "start 4");               // no own device behind it either
    EXPECT_EQ(run.out[5], "get 4 value=0");
    ASSERT_EQ(run.log.size(), c.calls + 1);
    EXPECT_EQ(run.log.back(), "exit");
  }
}

// A forwarded handle stays forwarded whatever is opened after it: a name
// that no device has, or one of the main backend's own scanners. Its close
// and the exit reach the second backend, which gives its scanner's lock back.
TEST(Forwarding, ForwardingIsDecidedPerHandle) {
  std::string backend = BackendCopy(true);
  const auto& m = dravn::kSelko2Models[0];
  const auto& own = dravn::kDocuvaneModels[0];
  char line[128];
  snprintf(line, sizeof line, "device corvane %04x:%04x bus=1 address=6\n", own.vendorId, own.productId);
  const std::string ownName = std::string(own.model) + ":001:006";
  DriverRun run = Drive(backend, m,
                        {"init", "list", "open=" + Name(m), "keep", "open=nonsense:001:001", "open=" + ownName, "swap",
                         "start", "close", "exit"},
                        "", line);
  ASSERT_EQ(run.out.size(), 12u);
  ASSERT_EQ(run.out[4].rfind("open 0 handle=", 0), 0u) << run.out[4];
  const std::string h = run.out[4].substr(strlen("open 0 handle="));
  EXPECT_EQ(run.out[6].substr(0, 7), "open 4 ");  // an unknown name is invalid
  EXPECT_EQ(run.out[7].substr(0, 7), "open 0 ");  // the own scanner opens beside it
  EXPECT_EQ(run.out[9], "start 7");               // the stand-in's answer
  const std::vector<std::string> expectedLog = {"init version=set auth=null",
                                                "get_devices list=set local=0",
                                                "open name=" + Name(m) + " handle=set",
                                                "start handle=" + h,
                                                "close handle=" + h,
                                                "exit"};
  EXPECT_EQ(run.log, expectedLog);
}

// The same with the real second backend and a simulated Selko2 scanner:
// the in-scanner lock is given back by the close of the forwarded handle,
// so the next process opens the scanner instead of finding it busy.
TEST(Forwarding, Selko2LockIsGivenBackAfterAnotherOpen) {
  const auto& m = dravn::kSelko2Models[0];
  std::string dir = dravn_test::MakeTempDir("forward-selko2");
  char line[128];
  snprintf(line, sizeof line, "device selko2 %04x:%04x bus=1 address=5\nset state=%s/state\n", m.vendorId, m.productId,
           dir.c_str());
  WriteFile(dir + "/scenario", line);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  const std::string backend = std::string(DRAVN_SANE_BACKEND_DIR) + "/libsane-dravn.so.1";
  for (const char* other : {"nonsense:001:001", ""}) {
    SCOPED_TRACE(other);
    std::vector<std::string> argv{"unshare", "--ipc", DRAVN_SANE_DRIVER, backend,
                                  "init",    "list",  "open=" + Name(m), "keep"};
    if (*other) argv.insert(argv.end(), {std::string("open=") + other, "swap"});
    argv.insert(argv.end(), {"close", "exit"});
    auto r = dravn_test::Run(argv, env, 60);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_NE(r.out.find("open 0 "), std::string::npos) << r.out << r.err;
    EXPECT_EQ(ReadFile(dir + "/state").substr(288), std::string(40, '\0')) << "the scanner is unlocked";
  }
}

// A name that no listed device has is invalid at once: no pause, no USB
// open, no shared table.
TEST(EntryPoints, UnknownNameIsInvalidAtOnce) {
  std::string backend = BackendCopy(true);
  const auto& m = dravn::kDocuvaneModels[0];
  DriverRun run = Drive(backend, m, {"init", "list", "open=nonsense", "ipc", "exit"});
  ASSERT_EQ(run.out.size(), 6u);
  EXPECT_EQ(run.out[3].substr(0, 7), "open 4 ");
  EXPECT_EQ(run.out[4], "ipc 0");
  EXPECT_TRUE(run.log.empty());
}

TEST(Forwarding, WithoutTheSecondBackendItsDevicesAreListedButNotOpened) {
  std::string backend = BackendCopy(false);
  const auto& m = dravn::kSelkoModels[0];
  DriverRun run = Drive(backend, m, {"init", "list", "open=" + Name(m), "start", "close", "exit"});
  ASSERT_EQ(run.out.size(), 7u);
  EXPECT_EQ(run.out[2], "device " + Name(m) + "|Moranti|" + m.model + "|scanner");
  EXPECT_EQ(run.out[3].substr(0, 7), "open 1 ");  // SANE_STATUS_UNSUPPORTED
  EXPECT_EQ(run.out[4], "start 4");
}

// The main backend's own models never reach the second backend.
TEST(Forwarding, OwnModelsAreNotForwarded) {
  std::string backend = BackendCopy(true);
  const auto& m = dravn::kDocuvaneModels[2];
  DriverRun run = Drive(backend, m, {"init", "open=" + Name(m), "exit"});
  ASSERT_EQ(run.out.size(), 3u);
  EXPECT_NE(run.out[1].substr(0, 7), "open 0 ");
  EXPECT_TRUE(run.log.empty());
}

TEST(EntryPoints, ListingStatusTextsAndUnsupportedCalls) {
  std::string backend = BackendCopy(false);
  const auto& m = dravn::kDocuvaneModels[0];
  DriverRun run = Drive(
      backend, m,
      {"init", "list", "iomode", "selectfd", "strstatus=0", "strstatus=11", "strstatus=12", "strstatus=-1", "exit"});
  const std::vector<std::string> expected = {"init 0 version=1.0.21",
                                             "list 0",
                                             "device " + Name(m) + "|Moranti|DocuvaneRK50|scanner",
                                             "iomode 1",
                                             "selectfd 1",
                                             "strstatus Operation completed successfully",
                                             "strstatus Access to resource has been denied",
                                             "strstatus Unknown SANE status",
                                             "strstatus Unknown SANE status",
                                             "exit"};
  EXPECT_EQ(run.out, expected);
}

TEST(EntryPoints, NoDeviceListsNothingAndSaysInvalid) {
  std::string backend = BackendCopy(false);
  std::string dir = dravn_test::MakeTempDir("nodevice");
  WriteFile(dir + "/scenario", "# no scanner\n");
  std::vector<std::string> argv{"unshare", "--ipc", DRAVN_SANE_DRIVER, backend + "/libsane-dravn.so.1", "init", "list",
                                "list",    "exit"};
  auto r = dravn_test::Run(argv, dravn_test::SimEnv(dir + "/scenario"), 60);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"init 0 version=1.0.21", "list 4", "list 4", "exit"}));
}

}  // namespace
