// SANE entry points. Device listing and scanning are not built yet: the
// backend loads, lists no device and refuses every open.
#include <sane/sane.h>

#include "dravn_export.h"

namespace {
const SANE_Device* g_noDevices[] = {nullptr};
}

extern "C" {
DRAVN_EXPORT SANE_Status sane_dravn2_init(SANE_Int* version, SANE_Auth_Callback) {
  if (version) *version = SANE_VERSION_CODE(1, 0, 0);
  return SANE_STATUS_GOOD;
}
DRAVN_EXPORT void sane_dravn2_exit(void) {}
DRAVN_EXPORT SANE_Status sane_dravn2_get_devices(const SANE_Device*** list, SANE_Bool) {
  if (list) *list = g_noDevices;
  return SANE_STATUS_GOOD;
}
DRAVN_EXPORT SANE_Status sane_dravn2_open(SANE_String_Const, SANE_Handle*) { return SANE_STATUS_INVAL; }
DRAVN_EXPORT void sane_dravn2_close(SANE_Handle) {}
DRAVN_EXPORT const SANE_Option_Descriptor* sane_dravn2_get_option_descriptor(SANE_Handle, SANE_Int) { return nullptr; }
DRAVN_EXPORT SANE_Status sane_dravn2_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) {
  return SANE_STATUS_INVAL;
}
DRAVN_EXPORT SANE_Status sane_dravn2_get_parameters(SANE_Handle, SANE_Parameters*) { return SANE_STATUS_INVAL; }
DRAVN_EXPORT SANE_Status sane_dravn2_start(SANE_Handle) { return SANE_STATUS_INVAL; }
DRAVN_EXPORT SANE_Status sane_dravn2_read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int* len) {
  if (len) *len = 0;
  return SANE_STATUS_INVAL;
}
DRAVN_EXPORT void sane_dravn2_cancel(SANE_Handle) {}
DRAVN_EXPORT SANE_Status sane_dravn2_set_io_mode(SANE_Handle, SANE_Bool) { return SANE_STATUS_UNSUPPORTED; }
DRAVN_EXPORT SANE_Status sane_dravn2_get_select_fd(SANE_Handle, SANE_Int*) { return SANE_STATUS_UNSUPPORTED; }
DRAVN_EXPORT SANE_String_Const sane_dravn2_strstatus(SANE_Status) { return ""; }
}
