// The main backend's SANE entry points. sane_entry.cpp exports them under
// their sane_dravn_ names; tests drive them here directly.
#ifndef DRAVN_MAIN_SANE_MAIN_H
#define DRAVN_MAIN_SANE_MAIN_H

#include <sane/sane.h>

struct KELO_DEVICE_ROW_TEXTS;

namespace dravnmain {

class KeloDevCtl;

SANE_Status SaneInit(SANE_Int* versionCode, SANE_Auth_Callback authorize);
void SaneExit();
SANE_Status SaneGetDevices(const SANE_Device*** deviceList, SANE_Bool localOnly);
SANE_Status SaneOpen(SANE_String_Const name, SANE_Handle* handle);
void SaneClose(SANE_Handle handle);
const SANE_Option_Descriptor* SaneGetOptionDescriptor(SANE_Handle handle, SANE_Int option);
SANE_Status SaneControlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
SANE_Status SaneGetParameters(SANE_Handle handle, SANE_Parameters* params);
SANE_Status SaneStart(SANE_Handle handle);
SANE_Status SaneRead(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
void SaneCancel(SANE_Handle handle);
SANE_Status SaneSetIoMode(SANE_Handle handle, SANE_Bool nonBlocking);
SANE_Status SaneGetSelectFd(SANE_Handle handle, SANE_Int* fd);
SANE_String_Const SaneStrStatus(SANE_Status status);

// Makes the device object for a device type of the own families; null when
// no class drives that type. Tests put a scripted device in its place.
using DevCtlFactory = KeloDevCtl* (*)(int devType);
KeloDevCtl* CreateDevCtl(int devType);
void SetDevCtlFactory(DevCtlFactory factory);

// The device-table row lookup that names devices in the USB manager.
bool LookupDeviceRow(int vendorId, int productId, ::KELO_DEVICE_ROW_TEXTS* row);

}  // namespace dravnmain

#endif
