// A stand-in libdevwatch for the settings engine's tests of models that no
// simulated scanner plays: each entry hands its call to the test program,
// which records it. Built in variants that lack some entries, to show what
// the engine does when a name cannot be found.
#include <cstdint>

#define FAKE_ENTRY(name, params, args) \
  extern "C" int fake_##name params;   \
  extern "C" __attribute__((visibility("default"))) int dvwc_##name params { return fake_##name args; }

FAKE_ENTRY(GetEEPROM, (const char* d, unsigned char* b, unsigned short n), (d, b, n))
FAKE_ENTRY(Inquiry2, (const char* d, unsigned char* b), (d, b))
FAKE_ENTRY(InquiryVPD, (const char* d, unsigned char* b, unsigned short n, int o), (d, b, n, o))
#ifndef FAKE_NO_WRITE
FAKE_ENTRY(WriteEEPROM, (const char* d, const unsigned char* b, unsigned short n, unsigned short at), (d, b, n, at))
#endif
#ifndef FAKE_BARE
FAKE_ENTRY(LockEEPROM, (const char* d), (d))
FAKE_ENTRY(GetEEPROM_Element, (const char* d, unsigned char* b, unsigned short n), (d, b, n))
FAKE_ENTRY(GetDefaultEEPROM, (const char* d, unsigned char* b, unsigned short n), (d, b, n))
FAKE_ENTRY(ClearRemainInk, (const char* d, const unsigned char* b, unsigned short n), (d, b, n))
FAKE_ENTRY(DeviceRestart, (const char* d), (d))
FAKE_ENTRY(GetSOPSettingsLength, (const char* d, uint32_t* r), (d, r))
FAKE_ENTRY(GetSOPSettingsData, (const char* d, unsigned char* b, const unsigned char* r, unsigned short n),
           (d, b, r, n))
FAKE_ENTRY(SetSOPSettingsData, (const char* d, const unsigned char* b, unsigned short n), (d, b, n))
FAKE_ENTRY(GetIMFFPatternLength, (const char* d, uint32_t* r), (d, r))
FAKE_ENTRY(GetIMFFPatternData, (const char* d, unsigned char* b, const unsigned char* r, unsigned short n),
           (d, b, r, n))
FAKE_ENTRY(SetIMFFPatternData, (const char* d, const unsigned char* b, unsigned short n), (d, b, n))
#endif
