// A small program for the common-layer tests. It drives a USB manager
// step by step (run with the libusb stand-in), and, copied under the names
// of the front ends, shows what the process checks see.
//
//   backend_probe [--main] [--isolate] [--bind SRC:DST]... [--log LEVEL] STEP...
//
// Steps and what they print, one line each:
//   list              list <status> <count>, then dev <i> <name> <vid> <pid>
//                     <model> <type> <vendor|-> <config> <interface> <out> <in>
//   get I             get <name|null>
//   shm               shm <0|1>                      (InitShareMemory)
//   open NAME         open <status>
//   close             close
//   write HEX         write <rc>
//   read N            read <rc> <count> <hex>        (count 777 when untouched)
//   ctrl HEX          ctrl <rc>
//   timeout MS        timeout <ms>
//   ids               ids <vendor> <product>         (current record)
//   switch NAME       switch <product>
//   release           release                        (ReleaseLibusbResource)
//   sim PATH          sim                            (the scenario of later listings)
//   conf DIR          conf                           (DRAVN_CONFIG_DIR of later listings)
//   table             entry <k> <name|-> <own|empty|pid> <state|->, for each used record
//   check PROGRAM     check <0|1>                    (CheckSpecifyProcess)
//   button            button <0|1>                   (CheckProcess)
//   run PROGRAM ARGS  runs it, waits, exits with its code (must be last)
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exclusive_table.h"
#include "log.h"
#include "model_catalog.h"
#include "process_check.h"
#include "usb_manager.h"

namespace {

bool CatalogLookup(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row) {
  for (const dravn::CatalogModel& m : dravn::kAllModels) {
    if ((m.tables & dravn::kMainTable) && m.vendorId == vendorId && m.productId == productId) {
      *row = {m.model, "scanner", ""};
      return true;
    }
  }
  return false;
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const unsigned char* data, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02x", data[i]);
    s += b;
  }
  return s;
}

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

int Fail(const char* why) {
  fprintf(stderr, "backend_probe: %s\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  KeloBackendKind kind = KELO_BACKEND_SECOND;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string opt = argv[i];
    if (opt == "--main") {
      kind = KELO_BACKEND_MAIN;
    } else if (opt == "--isolate") {
      if (unshare(CLONE_NEWIPC | CLONE_NEWNS) != 0) return Fail("unshare");
      if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Fail("private mounts");
    } else if (opt == "--bind" && i + 1 < argc) {
      std::string spec = argv[++i];
      size_t colon = spec.find(':');
      if (colon == std::string::npos) return Fail("--bind SRC:DST");
      if (mount(spec.substr(0, colon).c_str(), spec.substr(colon + 1).c_str(), nullptr, MS_BIND, nullptr) != 0)
        return Fail("bind mount");
    } else if (opt == "--log" && i + 1 < argc) {
      setenv("DRAVN_DEBUG", (std::string(argv[++i]) + "0").c_str(), 1);
      StartLog();
    } else {
      return Fail("unknown option");
    }
  }

  std::unique_ptr<KeloManagerUsb> mgr;
  auto manager = [&]() -> KeloManagerUsb& {
    if (!mgr) mgr = std::make_unique<KeloManagerUsb>(CatalogLookup, kind);
    return *mgr;
  };
  for (; i < argc; ++i) {
    std::string step = argv[i];
    auto arg = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (step == "list") {
      int count = -1;
      int status = manager().GetDeviceList(&count);
      printf("list %d %d\n", status, count);
      for (int d = 0; d < count; ++d) {
        KELO_USB_DEVICE* dev = manager().GetDevice(d);
        printf("dev %d %s %04x %04x %s %s %s %d %d %02x %02x\n", d, dev->sscDevName, dev->iVendorId, dev->iProductId,
               dev->sscModel, dev->sscDevType, *dev->sscVendor ? dev->sscVendor : "-", dev->iConfigIndex,
               dev->iInterfaceIndex, dev->iOutEndpoint, dev->iInEndpoint);
      }
    } else if (step == "get") {
      KELO_USB_DEVICE* dev = manager().GetDevice(atoi(arg().c_str()));
      printf("get %s\n", dev ? dev->sscDevName : "null");
    } else if (step == "shm") {
      printf("shm %d\n", manager().InitShareMemory() ? 1 : 0);
    } else if (step == "open") {
      printf("open %d\n", manager().Open(arg().c_str()));
    } else if (step == "close") {
      manager().Close();
      printf("close\n");
    } else if (step == "write") {
      std::vector<unsigned char> data = FromHex(arg());
      printf("write %d\n", manager().RawWriteData(data.data(), static_cast<unsigned>(data.size())));
    } else if (step == "read") {
      unsigned n = static_cast<unsigned>(atoi(arg().c_str()));
      std::vector<unsigned char> data(n + 1);
      unsigned count = 777;
      int rc = manager().RawReadData(data.data(), n, &count);
      printf("read %d %u %s\n", rc, count, rc == 0 ? ToHex(data.data(), count).c_str() : "-");
    } else if (step == "ctrl") {
      std::vector<unsigned char> data = FromHex(arg());
      printf("ctrl %d\n", manager().SendControlMsg(data.data(), static_cast<unsigned>(data.size())));
    } else if (step == "timeout") {
      int ms = atoi(arg().c_str());
      manager().SetUsbTimeOut(ms);
      printf("timeout %d\n", ms);
    } else if (step == "ids") {
      printf("ids %04x %04x\n", manager().GetVendor(), manager().GetProductID());
    } else if (step == "switch") {
      printf("switch %x\n", manager().SwitchScanner(arg().c_str()));
    } else if (step == "sim") {
      setenv("DRAVN_SIM", arg().c_str(), 1);
      printf("sim\n");
    } else if (step == "conf") {
      setenv("DRAVN_CONFIG_DIR", arg().c_str(), 1);
      printf("conf\n");
    } else if (step == "release") {
      manager().ReleaseLibusbResource();
      printf("release\n");
    } else if (step == "table") {
      KeloManagerUsb& m = manager();
      if (!m.InitShareMemory()) return Fail("no table");
      CExclusiveTable view(kind);
      if (!view.InitShareMemory() || !view.p()) return Fail("no table");
      std::string own = std::to_string(getpid());
      for (int k = 0; k < SHM_DEVICE_ENTRY_COUNT; ++k) {
        const SHM_DEVICE_ENTRY& e = view.GetEntry()[k];
        std::string name = Field(e.szDevName, sizeof e.szDevName), pid = Field(e.szPid, sizeof e.szPid),
                    state = Field(e.szState, sizeof e.szState);
        if (name.empty() && pid.empty() && state.empty()) continue;
        printf("entry %d %s %s %s\n", k, name.empty() ? "-" : name.c_str(),
               pid.empty()  ? "empty"
               : pid == own ? "own"
                            : pid.c_str(),
               state.empty() ? "-" : state.c_str());
      }
      view.v();
    } else if (step == "check") {
      printf("check %d\n", CheckSpecifyProcess(arg().c_str()) ? 1 : 0);
    } else if (step == "button") {
      printf("button %d\n", CheckProcess() ? 1 : 0);
    } else if (step == "run") {
      fflush(stdout);
      pid_t child = fork();
      if (child == 0) {
        execvp(argv[i + 1], argv + i + 1);
        _exit(127);
      }
      int status = 0;
      waitpid(child, &status, 0);
      return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    } else {
      return Fail(("unknown step " + step).c_str());
    }
    fflush(stdout);
  }
  return 0;
}
