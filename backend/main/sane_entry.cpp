// The fourteen SANE entry points of libsane-dravn. Nothing thrown inside
// may cross into the front end.
#include <sane/sane.h>

#include "dravn_export.h"
#include "sane_main.h"

using namespace dravnmain;

extern "C" {

DRAVN_EXPORT SANE_Status sane_dravn_init(SANE_Int* version, SANE_Auth_Callback authorize) {
  try {
    return SaneInit(version, authorize);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT void sane_dravn_exit(void) {
  try {
    SaneExit();
  } catch (...) {
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
  try {
    return SaneGetDevices(list, localOnly);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_open(SANE_String_Const name, SANE_Handle* handle) {
  try {
    return SaneOpen(name, handle);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT void sane_dravn_close(SANE_Handle handle) {
  try {
    SaneClose(handle);
  } catch (...) {
  }
}

DRAVN_EXPORT const SANE_Option_Descriptor* sane_dravn_get_option_descriptor(SANE_Handle handle, SANE_Int option) {
  try {
    return SaneGetOptionDescriptor(handle, option);
  } catch (...) {
    return nullptr;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                                   SANE_Int* info) {
  try {
    return SaneControlOption(handle, option, action, value, info);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_get_parameters(SANE_Handle handle, SANE_Parameters* params) {
  try {
    return SaneGetParameters(handle, params);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_start(SANE_Handle handle) {
  try {
    return SaneStart(handle);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  try {
    return SaneRead(handle, data, maxLength, length);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT void sane_dravn_cancel(SANE_Handle handle) {
  try {
    SaneCancel(handle);
  } catch (...) {
  }
}

DRAVN_EXPORT SANE_Status sane_dravn_set_io_mode(SANE_Handle handle, SANE_Bool nonBlocking) {
  return SaneSetIoMode(handle, nonBlocking);
}

DRAVN_EXPORT SANE_Status sane_dravn_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
  return SaneGetSelectFd(handle, fd);
}

DRAVN_EXPORT SANE_String_Const sane_dravn_strstatus(SANE_Status status) { return SaneStrStatus(status); }
}
