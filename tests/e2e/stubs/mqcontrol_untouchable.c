/* A settings library whose every name consutool binds but the closing one
   ends the process when called: a run that must not reach the device proves
   it did not. Built
   without one name, it is a library a tool binding all its names refuses. */
#include <stdlib.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define UNTOUCHABLE(name)                                  \
  EXPORT void name(void) {                                 \
    static const char text[] = "untouchable: " #name "\n"; \
    if (write(2, text, sizeof text - 1) < 0) abort();      \
    abort();                                               \
  }

/* Every run ends with it, whether or not a device was opened. */
EXPORT void exitlibrary(void) {}

UNTOUCHABLE(initlibrary)
UNTOUCHABLE(SetFirmVersion)
UNTOUCHABLE(GetQuorraInfo)
UNTOUCHABLE(OnInitDialog)
UNTOUCHABLE(GetEEPROMData)
UNTOUCHABLE(SetPowerOffTime)
UNTOUCHABLE(ModeSelect_LongTimer)
UNTOUCHABLE(SetPowerSavingEEPROM)
UNTOUCHABLE(OnResetAfterCleaning)
UNTOUCHABLE(OnResetBrake)
UNTOUCHABLE(OnResetPick)
UNTOUCHABLE(SetEEPROMData)
UNTOUCHABLE(GetOffSetData)
#ifndef WITHOUT_SET_OFFSET
UNTOUCHABLE(SetOffSetData)
#endif
