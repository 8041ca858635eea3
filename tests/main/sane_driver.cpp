// Loads a SANE backend the way a front end does and runs the calls named on
// its command line, printing one line per call:
//   sane_driver <library> <call>...
// calls: init, list, open=<name>, desc=<n>, get=<n>, set=<n>:<int>, params,
// start, read, cancel, close, exit, strstatus=<n>, iomode, selectfd;
// keep (put the handle aside), swap (exchange it with the one put aside),
// ipc (System V segments and semaphore sets of the namespace).
#include <dlfcn.h>
#include <sane/sane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

template <typename F>
F Sym(void* lib, const char* name) {
  void* p = dlsym(lib, name);
  if (!p) {
    printf("missing %s\n", name);
    exit(2);
  }
  return reinterpret_cast<F>(p);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  setvbuf(stdout, nullptr, _IONBF, 0);
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    printf("dlopen %s\n", dlerror());
    return 2;
  }
  auto init = Sym<SANE_Status (*)(SANE_Int*, SANE_Auth_Callback)>(lib, "sane_dravn_init");
  auto exitFn = Sym<void (*)()>(lib, "sane_dravn_exit");
  auto getDevices = Sym<SANE_Status (*)(const SANE_Device***, SANE_Bool)>(lib, "sane_dravn_get_devices");
  auto openFn = Sym<SANE_Status (*)(SANE_String_Const, SANE_Handle*)>(lib, "sane_dravn_open");
  auto closeFn = Sym<void (*)(SANE_Handle)>(lib, "sane_dravn_close");
  auto desc = Sym<const SANE_Option_Descriptor* (*)(SANE_Handle, SANE_Int)>(lib, "sane_dravn_get_option_descriptor");
  auto control =
      Sym<SANE_Status (*)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*)>(lib, "sane_dravn_control_option");
  auto params = Sym<SANE_Status (*)(SANE_Handle, SANE_Parameters*)>(lib, "sane_dravn_get_parameters");
  auto start = Sym<SANE_Status (*)(SANE_Handle)>(lib, "sane_dravn_start");
  auto readFn = Sym<SANE_Status (*)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*)>(lib, "sane_dravn_read");
  auto cancel = Sym<void (*)(SANE_Handle)>(lib, "sane_dravn_cancel");
  auto ioMode = Sym<SANE_Status (*)(SANE_Handle, SANE_Bool)>(lib, "sane_dravn_set_io_mode");
  auto selectFd = Sym<SANE_Status (*)(SANE_Handle, SANE_Int*)>(lib, "sane_dravn_get_select_fd");
  auto strstatus = Sym<SANE_String_Const (*)(SANE_Status)>(lib, "sane_dravn_strstatus");

  SANE_Handle handle = nullptr;
  SANE_Handle kept = nullptr;
  for (int i = 2; i < argc; ++i) {
    std::string call = argv[i];
    std::string arg = call.find('=') != std::string::npos ? call.substr(call.find('=') + 1) : "";
    std::string verb = call.substr(0, call.find('='));
    if (verb == "init") {
      SANE_Int version = 0;
      SANE_Status s = init(&version, nullptr);
      printf("init %d version=%d.%d.%d\n", s, SANE_VERSION_MAJOR(version), SANE_VERSION_MINOR(version),
             SANE_VERSION_BUILD(version));
    } else if (verb == "list") {
      const SANE_Device** list = nullptr;
      SANE_Status s = getDevices(&list, SANE_FALSE);
      printf("list %d\n", s);
      for (int d = 0; s == SANE_STATUS_GOOD && list && list[d]; ++d)
        printf("device %s|%s|%s|%s\n", list[d]->name, list[d]->vendor, list[d]->model, list[d]->type);
    } else if (verb == "open") {
      SANE_Status s = openFn(arg.c_str(), &handle);
      printf("open %d handle=%p\n", s, s == SANE_STATUS_GOOD ? handle : nullptr);
    } else if (verb == "desc") {
      const SANE_Option_Descriptor* d = desc(handle, atoi(arg.c_str()));
      printf("desc %s\n", d && d->name ? d->name : "(null)");
    } else if (verb == "get") {
      SANE_Word value = 0;
      SANE_Int info = 0;
      SANE_Status s = control(handle, atoi(arg.c_str()), SANE_ACTION_GET_VALUE, &value, &info);
      printf("get %d value=%d\n", s, value);
    } else if (verb == "set") {
      SANE_Word value = atoi(arg.substr(arg.find(':') + 1).c_str());
      SANE_Int info = 0;
      SANE_Status s = control(handle, atoi(arg.c_str()), SANE_ACTION_SET_VALUE, &value, &info);
      printf("set %d info=%d\n", s, info);
    } else if (verb == "auto") {
      SANE_Word value = 0;
      printf("auto %d\n", control(handle, atoi(arg.c_str()), SANE_ACTION_SET_AUTO, &value, nullptr));
    } else if (verb == "params") {
      SANE_Parameters p = {};
      SANE_Status s = params(handle, &p);
      printf("params %d lines=%d bpl=%d\n", s, p.lines, p.bytes_per_line);
    } else if (verb == "start") {
      printf("start %d\n", start(handle));
    } else if (verb == "read") {
      SANE_Byte data[64] = {};
      SANE_Int length = 0;
      SANE_Status s = readFn(handle, data, sizeof data, &length);
      printf("read %d length=%d data=%.*s\n", s, length, length, reinterpret_cast<char*>(data));
    } else if (verb == "cancel") {
      cancel(handle);
      printf("cancel\n");
    } else if (verb == "close") {
      closeFn(handle);
      printf("close\n");
    } else if (verb == "iomode") {
      printf("iomode %d\n", ioMode(handle, SANE_TRUE));
    } else if (verb == "selectfd") {
      SANE_Int fd = -1;
      printf("selectfd %d\n", selectFd(handle, &fd));
    } else if (verb == "strstatus") {
      printf("strstatus %s\n", strstatus(static_cast<SANE_Status>(atoi(arg.c_str()))));
    } else if (verb == "keep") {
      kept = handle;
      printf("keep\n");
    } else if (verb == "swap") {
      std::swap(handle, kept);
      printf("swap\n");
    } else if (verb == "ipc") {
      int count = 0;
      for (const char* table : {"/proc/sysvipc/shm", "/proc/sysvipc/sem"}) {
        FILE* f = fopen(table, "r");
        char line[512];
        for (int n = 0; f && fgets(line, sizeof line, f); ++n) count += n > 0;
        if (f) fclose(f);
      }
      printf("ipc %d\n", count);
    } else if (verb == "exit") {
      exitFn();
      printf("exit\n");
    } else {
      printf("unknown %s\n", call.c_str());
      return 2;
    }
  }
  return 0;
}
