/* The staged settings library as consutool binds it, through a forwarder
   that lends the one export the library lacks yet (the device information,
   answered empty) so that the change flows can run over simulated
   scanners. Every other name goes to the staged library unchanged. */
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static void* Real(const char* name) {
  static void* handle;
  if (!handle) handle = dlopen(STAGED_MQCONTROL, RTLD_LAZY);
  if (!handle) abort();
  return dlsym(handle, name);
}

#define FORWARD(ret, name, params, args)                  \
  EXPORT ret name params {                                \
    ret(*fn) params = (ret(*) params)Real(#name);         \
    if (!fn) abort();                                     \
    return fn args;                                       \
  }

FORWARD(int, initlibrary, (const char* d, int r), (d, r))
FORWARD(void, exitlibrary, (void), ())
FORWARD(void, SetFirmVersion, (const char* v), (v))
FORWARD(int, GetQuorraInfo, (void* q), (q))
FORWARD(int, GetEEPROMData, (void), ())
FORWARD(int, SetPowerOffTime, (unsigned char c), (c))
FORWARD(int, ModeSelect_LongTimer, (const char* d, unsigned short* m), (d, m))
FORWARD(int, SetPowerSavingEEPROM, (unsigned short m), (m))
FORWARD(int*, OnResetAfterCleaning, (void), ())
FORWARD(int*, OnResetBrake, (void), ())
FORWARD(int*, OnResetPick, (void), ())
FORWARD(int, SetEEPROMData, (void), ())
FORWARD(void, GetOffSetData, (void* o), (o))
FORWARD(int, SetOffSetData, (void* o), (o))

EXPORT int OnInitDialog(void* info) {
  int (*fn)(void*) = (int (*)(void*))Real("OnInitDialog");
  if (fn) return fn(info);
  memset(info, 0, 656);
  return 1;
}
