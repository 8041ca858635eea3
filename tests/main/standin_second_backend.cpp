// A stand-in for libsane-dravn2: exports its fourteen entry points and
// appends one line per call, with the arguments, to the file named by
// DRAVN2_STANDIN_LOG. DRAVN2_STANDIN_FAIL names one of init, get_devices,
// open that answers SANE_STATUS_IO_ERROR.
#include <fcntl.h>
#include <sane/sane.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int g_device;  // its address is the handle this backend hands out
SANE_Option_Descriptor g_option = {"standin-option",
                                   "Stand-in",
                                   "",
                                   SANE_TYPE_INT,
                                   SANE_UNIT_NONE,
                                   sizeof(SANE_Word),
                                   SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT,
                                   SANE_CONSTRAINT_NONE,
                                   {nullptr}};
const SANE_Device g_dev = {"standin:001:001", "", "standin", "scanner"};
const SANE_Device* g_list[] = {&g_dev, nullptr};

void Log(const char* format, ...) {
  const char* path = getenv("DRAVN2_STANDIN_LOG");
  if (!path) return;
  char line[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
  line[n++] = '\n';
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, static_cast<size_t>(n));
  (void)ignored;
  close(fd);
}

SANE_Status Answer(const char* step) {
  const char* fail = getenv("DRAVN2_STANDIN_FAIL");
  return fail && strcmp(fail, step) == 0 ? SANE_STATUS_IO_ERROR : SANE_STATUS_GOOD;
}

const char* Ptr(const void* p) { return p ? "set" : "null"; }

}  // namespace

EXPORT SANE_Status sane_dravn2_init(SANE_Int* version, SANE_Auth_Callback authorize) {
  Log("init version=%s auth=%s", Ptr(version), Ptr(reinterpret_cast<void*>(authorize)));
  if (version) *version = SANE_VERSION_CODE(1, 0, 0);
  return Answer("init");
}
EXPORT void sane_dravn2_exit(void) { Log("exit"); }
EXPORT SANE_Status sane_dravn2_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
  Log("get_devices list=%s local=%d", Ptr(list), localOnly);
  if (list) *list = g_list;
  return Answer("get_devices");
}
EXPORT SANE_Status sane_dravn2_open(SANE_String_Const name, SANE_Handle* handle) {
  Log("open name=%s handle=%s", name ? name : "(null)", Ptr(handle));
  SANE_Status status = Answer("open");
  if (status == SANE_STATUS_GOOD && handle) *handle = &g_device;
  return status;
}
EXPORT void sane_dravn2_close(SANE_Handle handle) { Log("close handle=%p", handle); }
EXPORT const SANE_Option_Descriptor* sane_dravn2_get_option_descriptor(SANE_Handle handle, SANE_Int option) {
  Log("get_option_descriptor handle=%p option=%d", handle, option);
  return option == 1 ? &g_option : nullptr;
}
EXPORT SANE_Status sane_dravn2_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                              SANE_Int* info) {
  SANE_Word word = value ? *static_cast<SANE_Word*>(value) : 0;
  Log("control_option handle=%p option=%d action=%d value=%d info=%s", handle, option, action, word, Ptr(info));
  if (action == SANE_ACTION_GET_VALUE && value) *static_cast<SANE_Word*>(value) = 4242;
  if (info) *info = SANE_INFO_RELOAD_PARAMS;
  return option == 99 ? SANE_STATUS_INVAL : SANE_STATUS_GOOD;
}
EXPORT SANE_Status sane_dravn2_get_parameters(SANE_Handle handle, SANE_Parameters* params) {
  Log("get_parameters handle=%p params=%s", handle, Ptr(params));
  if (params) *params = SANE_Parameters{SANE_FRAME_RGB, SANE_TRUE, 30, 10, 7, 8};
  return SANE_STATUS_GOOD;
}
EXPORT SANE_Status sane_dravn2_start(SANE_Handle handle) {
  Log("start handle=%p", handle);
  return SANE_STATUS_NO_DOCS;
}
EXPORT SANE_Status sane_dravn2_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  Log("read handle=%p data=%s max=%d length=%s", handle, Ptr(data), maxLength, Ptr(length));
  if (data && length && maxLength >= 5) {
    memcpy(data, "DRAV2", 5);
    *length = 5;
  }
  return SANE_STATUS_GOOD;
}
EXPORT void sane_dravn2_cancel(SANE_Handle handle) { Log("cancel handle=%p", handle); }
EXPORT SANE_Status sane_dravn2_set_io_mode(SANE_Handle handle, SANE_Bool nonBlocking) {
  Log("set_io_mode handle=%p non_blocking=%d", handle, nonBlocking);
  return SANE_STATUS_GOOD;
}
EXPORT SANE_Status sane_dravn2_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
  Log("get_select_fd handle=%p fd=%s", handle, Ptr(fd));
  return SANE_STATUS_GOOD;
}
EXPORT SANE_String_Const sane_dravn2_strstatus(SANE_Status status) {
  Log("strstatus status=%d", status);
  return "stand-in";
}
