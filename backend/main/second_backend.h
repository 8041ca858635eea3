// Run-time binding of libsane-dravn2, which drives the Selko, Selko2 and
// Brenna families; the main backend forwards those devices' calls to it.
#ifndef DRAVN_MAIN_SECOND_BACKEND_H
#define DRAVN_MAIN_SECOND_BACKEND_H

#include <sane/sane.h>

namespace dravnmain {

extern bool g_bSecondBackendSupport;  // it was loaded with all fourteen entries
extern void* g_hLibSecondBackend;

extern SANE_Status (*g_sane_dravn2_init)(SANE_Int*, SANE_Auth_Callback);
extern SANE_Status (*g_sane_dravn2_get_devices)(const SANE_Device***, SANE_Bool);
extern SANE_Status (*g_sane_dravn2_open)(SANE_String_Const, SANE_Handle*);
extern const SANE_Option_Descriptor* (*g_sane_dravn2_get_option_descriptor)(SANE_Handle, SANE_Int);
extern SANE_Status (*g_sane_dravn2_control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
extern SANE_Status (*g_sane_dravn2_get_parameters)(SANE_Handle, SANE_Parameters*);
extern SANE_Status (*g_sane_dravn2_start)(SANE_Handle);
extern SANE_Status (*g_sane_dravn2_read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
extern void (*g_sane_dravn2_cancel)(SANE_Handle);
extern void (*g_sane_dravn2_exit)();
extern void (*g_sane_dravn2_close)(SANE_Handle);
extern SANE_Status (*g_sane_dravn2_set_io_mode)(SANE_Handle, SANE_Bool);
extern SANE_Status (*g_sane_dravn2_get_select_fd)(SANE_Handle, SANE_Int*);
extern SANE_String_Const (*g_sane_dravn2_strstatus)(SANE_Status);

// File name looked for in our own directory, then in KELO_LIBPATH_LIST.
extern const char KELO_SECOND_BACKEND_NAME[];
extern const char* const KELO_LIBPATH_LIST[8];

// Directory of the file that holds funcAddress ('/' included) into a
// 256-byte buffer; false when there is none.
bool GetLibraryPath(const void* funcAddress, char* libPath);
void* GetLibHandleFromOtherPath();
bool LoadSecondBackendFunc();
void UnLoadSecondBackendFunc();

// Whether a USB product id belongs to the second backend's families.
bool IsSecondBackendProduct(unsigned int productId);

}  // namespace dravnmain

#endif
