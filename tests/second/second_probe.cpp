// Drives the staged second backend as the main backend does: dlopen, bind
// the fourteen entry points, call them step by step. Run with the libusb
// stand-in first on LD_LIBRARY_PATH; copied under a front end's name it
// shows what that front end gets.
//
//   second_probe [--bind SRC:DST]... STEP...
//
// --bind mounts SRC over DST first (run inside a private mount namespace).
// Steps and what they print, one line each:
//   init                 init <status>
//   devices              devices <status>
//   open NAME            open <status> <handle 0|1>   (NAME "-" empty, "null" null)
//   close | cancel | exit
//   desc N               desc <n> <name|-> <type> <unit> <size> <cap> <title>|<description>
//   get N                get <n> <status> <value>
//   set N VALUE          set <n> <status> <info> <value after>
//   auto N               auto <n> <status>
//   action N A           action <n> <status>         (raw action code)
//   params               params <status> <format> <last> <bpl> <ppl> <lines> <depth>
//   start                start <status>
//   read                 read <status> <length>
//   strstatus N          strstatus <n> <text>
//   raise SIG            raises the signal; "alive" when the process lives on
//   raise-in-scan SIG    the same for a signal that only cancels a scan: no
//                        wait for the process to end
//   io                   io <set_io_mode status> <get_select_fd status>
//   unload               unload <dlclose result>  (no entry point may follow)
//   table                entry <k> <name> <pid|-> <state> for each used record
//                        of the exclusive-access table
//   fds                  fds <open descriptors> <what each is>...
//   maps NAME            maps <NAME> <mapped regions whose path holds NAME>
#include <dirent.h>
#include <dlfcn.h>
#include <sane/sane.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dravn_paths.h"

namespace {

struct Api {
  SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback);
  void (*exit)();
  SANE_Status (*get_devices)(const SANE_Device***, SANE_Bool);
  SANE_Status (*open)(SANE_String_Const, SANE_Handle*);
  void (*close)(SANE_Handle);
  const SANE_Option_Descriptor* (*get_option_descriptor)(SANE_Handle, SANE_Int);
  SANE_Status (*control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
  SANE_Status (*get_parameters)(SANE_Handle, SANE_Parameters*);
  SANE_Status (*start)(SANE_Handle);
  SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
  void (*cancel)(SANE_Handle);
  SANE_Status (*set_io_mode)(SANE_Handle, SANE_Bool);
  SANE_Status (*get_select_fd)(SANE_Handle, SANE_Int*);
  SANE_String_Const (*strstatus)(SANE_Status);
};

template <class F>
void Bind(void* lib, const char* name, F* slot) {
  void* p = dlsym(lib, name);
  if (!p) {
    printf("missing %s\n", name);
    exit(3);
  }
  *slot = reinterpret_cast<F>(p);
}

std::string Value(const SANE_Option_Descriptor* d, const std::vector<char>& buf) {
  if (d && d->type == SANE_TYPE_STRING) return std::string(buf.data());
  SANE_Word w;
  memcpy(&w, buf.data(), sizeof w);
  return std::to_string(w);
}

// The exclusive-access table as any process of the package sees it.
void PrintTable() {
  for (key_t key = 0x43A0D0; key <= 0x43A0D9; ++key) {
    int id = shmget(key, 454, 0);
    if (id < 0) continue;
    void* addr = shmat(id, nullptr, SHM_RDONLY);
    if (addr == reinterpret_cast<void*>(-1)) continue;
    const char* base = static_cast<const char*>(addr);
    if (memcmp(base, "DravnExcusive", 13) == 0) {
      for (int k = 0; k < 8; ++k) {
        const char* e = base + 14 + 55 * k;
        std::string name(e, strnlen(e, 30)), pid(e + 30, strnlen(e + 30, 10)), state(e + 40, strnlen(e + 40, 15));
        if (!name.empty())
          printf("entry %d %s %s %s\n", k, name.c_str(), pid.empty() ? "-" : pid.c_str(), state.c_str());
      }
      shmdt(addr);
      return;
    }
    shmdt(addr);
  }
}

// The open descriptors but the listing's own, and what they are.
std::string ListFds(int* count) {
  std::string targets;
  *count = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return targets;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' || atoi(e->d_name) == dirfd(d)) continue;
    char target[512] = {};
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
    ++*count;
    targets += std::string(" ") + target;
  }
  closedir(d);
  return targets;
}

int CountMaps(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  int n = 0;
  for (std::string line; std::getline(maps, line);) n += line.find(name) != std::string::npos;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  int i = 1;
  for (; i + 1 < argc && strcmp(argv[i], "--bind") == 0; i += 2) {
    std::string spec = argv[i + 1];
    size_t colon = spec.find(':');
    if (colon == std::string::npos ||
        mount(spec.substr(0, colon).c_str(), spec.substr(colon + 1).c_str(), nullptr, MS_BIND, nullptr) != 0) {
      printf("bind failed %s\n", spec.c_str());
      return 4;
    }
  }
  void* lib = dlopen(DRAVN_SANE_BACKEND_DIR "/libsane-dravn2.so.1", RTLD_LAZY);
  if (!lib) {
    printf("dlopen %s\n", dlerror());
    return 2;
  }
  Api api;
  Bind(lib, "sane_dravn2_init", &api.init);
  Bind(lib, "sane_dravn2_exit", &api.exit);
  Bind(lib, "sane_dravn2_get_devices", &api.get_devices);
  Bind(lib, "sane_dravn2_open", &api.open);
  Bind(lib, "sane_dravn2_close", &api.close);
  Bind(lib, "sane_dravn2_get_option_descriptor", &api.get_option_descriptor);
  Bind(lib, "sane_dravn2_control_option", &api.control_option);
  Bind(lib, "sane_dravn2_get_parameters", &api.get_parameters);
  Bind(lib, "sane_dravn2_start", &api.start);
  Bind(lib, "sane_dravn2_read", &api.read);
  Bind(lib, "sane_dravn2_cancel", &api.cancel);
  Bind(lib, "sane_dravn2_set_io_mode", &api.set_io_mode);
  Bind(lib, "sane_dravn2_get_select_fd", &api.get_select_fd);
  Bind(lib, "sane_dravn2_strstatus", &api.strstatus);

  SANE_Handle handle = nullptr;
  for (; i < argc; ++i) {
    std::string step = argv[i];
    auto arg = [&](int k) -> std::string { return i + k < argc ? argv[i + k] : ""; };
    if (step == "init") {
      printf("init %d\n", api.init(nullptr, nullptr));
    } else if (step == "devices") {
      printf("devices %d\n", api.get_devices(nullptr, SANE_FALSE));
    } else if (step == "open") {
      std::string name = arg(1);
      ++i;
      handle = nullptr;
      SANE_Status s = api.open(name == "null" ? nullptr : name == "-" ? "" : name.c_str(), &handle);
      printf("open %d %d\n", s, handle ? 1 : 0);
    } else if (step == "close") {
      api.close(handle);
      printf("close\n");
    } else if (step == "cancel") {
      api.cancel(handle);
      printf("cancel\n");
    } else if (step == "exit") {
      api.exit();
      printf("exit\n");
    } else if (step == "desc") {
      int n = atoi(arg(1).c_str());
      ++i;
      const SANE_Option_Descriptor* d = api.get_option_descriptor(handle, n);
      if (!d) {
        printf("desc %d null\n", n);
        continue;
      }
      printf("desc %d %s %d %d %d %d %s|%s\n", n, d->name && *d->name ? d->name : "-", d->type, d->unit, d->size,
             d->cap, d->title ? d->title : "", d->desc ? d->desc : "");
    } else if (step == "get") {
      int n = atoi(arg(1).c_str());
      ++i;
      const SANE_Option_Descriptor* d = api.get_option_descriptor(handle, n);
      std::vector<char> buf(d && d->size > 4 ? d->size + 1 : 64, 0);
      SANE_Status s = api.control_option(handle, n, SANE_ACTION_GET_VALUE, buf.data(), nullptr);
      printf("get %d %d %s\n", n, s, Value(d, buf).c_str());
    } else if (step == "set") {
      int n = atoi(arg(1).c_str());
      std::string text = arg(2);
      i += 2;
      const SANE_Option_Descriptor* d = api.get_option_descriptor(handle, n);
      std::vector<char> buf(d && d->size > 4 ? d->size + 1 : 64, 0);
      if (d && d->type == SANE_TYPE_STRING) {
        snprintf(buf.data(), buf.size(), "%s", text.c_str());
      } else {
        SANE_Word w = static_cast<SANE_Word>(strtol(text.c_str(), nullptr, 0));
        memcpy(buf.data(), &w, sizeof w);
      }
      SANE_Int info = 0;
      SANE_Status s = api.control_option(handle, n, SANE_ACTION_SET_VALUE, buf.data(), &info);
      std::vector<char> after(buf.size(), 0);
      api.control_option(handle, n, SANE_ACTION_GET_VALUE, after.data(), nullptr);
      printf("set %d %d %d %s\n", n, s, info, Value(d, after).c_str());
    } else if (step == "auto") {
      int n = atoi(arg(1).c_str());
      ++i;
      SANE_Int info = 0;
      printf("auto %d %d\n", n, api.control_option(handle, n, SANE_ACTION_SET_AUTO, nullptr, &info));
    } else if (step == "action") {
      int n = atoi(arg(1).c_str());
      int a = atoi(arg(2).c_str());
      i += 2;
      char buf[64] = {};
      printf("action %d %d\n", n, api.control_option(handle, n, static_cast<SANE_Action>(a), buf, nullptr));
    } else if (step == "params") {
      SANE_Parameters p{};
      SANE_Status s = api.get_parameters(handle, &p);
      printf("params %d %d %d %d %d %d %d\n", s, p.format, p.last_frame, p.bytes_per_line, p.pixels_per_line, p.lines,
             p.depth);
    } else if (step == "start") {
      printf("start %d\n", api.start(handle));
    } else if (step == "read") {
      SANE_Byte buf[4096];
      SANE_Int len = -1;
      SANE_Status s = api.read(handle, buf, sizeof buf, &len);
      printf("read %d %d\n", s, len);
    } else if (step == "strstatus") {
      int n = atoi(arg(1).c_str());
      ++i;
      printf("strstatus %d %s\n", n, api.strstatus(static_cast<SANE_Status>(n)));
    } else if (step == "raise" || step == "raise-in-scan") {
      int sig = atoi(arg(1).c_str());
      ++i;
      raise(sig);
      // A signal outside a scan ends the process from another thread; one
      // during a scan has done its work when raise returns.
      if (step == "raise")
        for (int k = 0; k < 50; ++k) usleep(100 * 1000);
      printf("alive\n");
    } else if (step == "io") {
      SANE_Int fd = 0;
      printf("io %d %d\n", api.set_io_mode(handle, SANE_TRUE), api.get_select_fd(handle, &fd));
    } else if (step == "unload") {
      printf("unload %d\n", dlclose(lib));
    } else if (step == "table") {
      PrintTable();
    } else if (step == "fds") {
      int count = 0;
      std::string targets = ListFds(&count);
      printf("fds %d%s\n", count, targets.c_str());
    } else if (step == "maps") {
      std::string name = arg(1);
      ++i;
      printf("maps %s %d\n", name.c_str(), CountMaps(name));
    } else {
      printf("unknown step %s\n", step.c_str());
      return 5;
    }
  }
  return 0;
}
