// dravngetscstatus / dravngetscerror: print one status text of the first
// scanner the main backend finds. One source, two builds.
#include <dlfcn.h>
#include <sane/sane.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "system_tools.h"

namespace {

#ifdef DRAVN_GETSC_ERROR
constexpr char kProgram[] = "dravngetscerror";
constexpr char kOption[] = "get-sc-error";
#else
constexpr char kProgram[] = "dravngetscstatus";
constexpr char kOption[] = "get-sc-status";
#endif

const char* StatusText(SANE_Status status) {
  static const char* const kTexts[] = {
      "Success",
      "Operation not supported",
      "Operation was cancelled",
      "Device busy",
      "Invalid argument",
      "End of file reached",
      "Document feeder jammed",
      "Document feeder out of documents",
      "Scanner cover is open",
      "Error during device I/O",
      "Out of memory",
      "Access to resource has been denied",
  };
  const int code = static_cast<int>(status);
  return kTexts[code >= 0 && code < 12 ? code : 9];
}

int ExitStatus(SANE_Status status) {
  const int code = static_cast<int>(status);
  return code >= 0 && code < 12 ? code : 9;
}

// Every message goes to standard error behind the program's name.
template <typename... Args>
void Message(const char* format, Args... args) {
  std::fprintf(stderr, "%s: ", kProgram);
  std::fprintf(stderr, format, args...);
  std::fputc('\n', stderr);
}

void Message(const char* text) { std::fprintf(stderr, "%s: %s\n", kProgram, text); }

struct Backend {
  void* handle = nullptr;
  SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback) = nullptr;
  SANE_Status (*getDevices)(const SANE_Device***, SANE_Bool) = nullptr;
  SANE_Status (*open)(SANE_String_Const, SANE_Handle*) = nullptr;
  const SANE_Option_Descriptor* (*getOptionDescriptor)(SANE_Handle, SANE_Int) = nullptr;
  SANE_Status (*controlOption)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) = nullptr;
  void (*exit)() = nullptr;
  void (*close)(SANE_Handle) = nullptr;
};

template <typename F>
bool Bind(void* handle, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(handle, name));
  return fn != nullptr;
}

bool Load(const char* path, Backend& b) {
  b.handle = dlopen(path, RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
  if (!b.handle) return false;
  if (Bind(b.handle, "sane_dravn_init", b.init) && Bind(b.handle, "sane_dravn_get_devices", b.getDevices) &&
      Bind(b.handle, "sane_dravn_open", b.open) &&
      Bind(b.handle, "sane_dravn_get_option_descriptor", b.getOptionDescriptor) &&
      Bind(b.handle, "sane_dravn_control_option", b.controlOption) && Bind(b.handle, "sane_dravn_exit", b.exit) &&
      Bind(b.handle, "sane_dravn_close", b.close))
    return true;
  dlclose(b.handle);
  b.handle = nullptr;
  return false;
}

// The first line uname prints for "-m", without its newline.
std::string MachineWord(const std::string& uname) {
  std::string command = uname + " -m";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  char line[256] = {};
  std::string word;
  if (std::fgets(line, sizeof line, pipe)) {
    word = line;
    if (!word.empty() && word.back() == '\n') word.pop_back();
  }
  pclose(pipe);
  return word;
}

// An empty word is a prefix of everything; it names no architecture.
bool IsPrefixOf(const std::string& word, const char* architecture) {
  return !word.empty() && std::strncmp(word.c_str(), architecture, word.size()) == 0;
}

std::string BackendPath(const std::string& machine) {
  if (IsPrefixOf(machine, "x86_64")) return DRAVN_SC_BACKEND_X86_64;
  if (IsPrefixOf(machine, "aarch64")) return DRAVN_SC_BACKEND_AARCH64;
  if (IsPrefixOf(machine, "mips64"))
    return access(DRAVN_SC_BACKEND_MIPS64, F_OK) == 0 ? DRAVN_SC_BACKEND_MIPS64 : DRAVN_SC_BACKEND_MIPS64_OLD;
  return DRAVN_SC_BACKEND_OTHER;
}

// From init to the printed value on a loaded backend; the caller closes
// and unloads.
int Query(Backend& b, SANE_Handle& device) {
  SANE_Int version = 0;
  SANE_Status status = b.init(&version, nullptr);
  if (status != SANE_STATUS_GOOD) {
    Message("SANE initialize failed");
    return ExitStatus(status);
  }
  const SANE_Device** devices = nullptr;
  status = b.getDevices(&devices, SANE_FALSE);
  if (status != SANE_STATUS_GOOD || !devices || !devices[0]) {
    Message("no SANE devices found");
    return ExitStatus(status);
  }
  status = b.open(devices[0]->name, &device);
  if (status != SANE_STATUS_GOOD) {
    device = nullptr;
    Message("open of device %s failed: %s", devices[0]->name, StatusText(status));
    return ExitStatus(status);
  }
  SANE_Int count = 0;
  status = b.controlOption(device, 0, SANE_ACTION_GET_VALUE, &count, nullptr);
  if (status != SANE_STATUS_GOOD) {
    Message("unable to determine option count");
    return ExitStatus(status);
  }
  // Group descriptors have no name; a device with no options names none.
  const char* lastName = kOption;
  const SANE_Option_Descriptor* found = nullptr;
  SANE_Int index = 1;
  for (; index < count; ++index) {
    const SANE_Option_Descriptor* d = b.getOptionDescriptor(device, index);
    if (!d || !d->name) continue;
    lastName = d->name;
    if (std::strcmp(d->name, kOption) == 0) {
      found = d;
      break;
    }
  }
  if (!found) {
    Message("get the value of option %s failed: %s", lastName, StatusText(SANE_STATUS_INVAL));
    return ExitStatus(SANE_STATUS_INVAL);
  }
  // One byte past the declared size keeps the text terminated whatever the backend writes.
  std::vector<char> value(static_cast<size_t>(found->size > 0 ? found->size : 0) + 1, '\0');
  status = b.controlOption(device, index, SANE_ACTION_GET_VALUE, value.data(), nullptr);
  if (status != SANE_STATUS_GOOD) {
    Message("get the value of option %s failed: %s", found->name, StatusText(status));
    return ExitStatus(status);
  }
  value.back() = '\0';
  std::printf("%s\n", value.data());
  return 0;
}

// The tool takes no arguments: a request for help gets the usage, anything
// else the usage and an invalid-argument status, and neither touches a
// scanner.
int Usage(FILE* out) {
  std::fprintf(out, "Usage: %s\nPrints the %s of the first scanner the backend finds.\n", kProgram,
#ifdef DRAVN_GETSC_ERROR
               "last error code"
#else
               "status"
#endif
  );
  return out == stdout ? 0 : ExitStatus(SANE_STATUS_INVAL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) return Usage(stdout);
    Message("unrecognized argument '%s'", argv[1]);
    return Usage(stderr);
  }
  char uname[256];
  if (!FindSystemTool("uname", uname)) {
    Message("system command '%s' is not found", "uname");
    return 9;
  }
  Backend backend;
  if (!Load(BackendPath(MachineWord(uname)).c_str(), backend)) {
    Message("SANE initialize failed");
    return 9;
  }
  SANE_Handle device = nullptr;
  int result = Query(backend, device);
  if (device) backend.close(device);
  backend.exit();
  dlclose(backend.handle);
  return result;
}
