// The records consutool exchanges with libmqcontrol by plain copy, and its
// own parsed command. Their layouts are fixed: both sides copy them whole.
#ifndef DRAVN_TOOLS_CONSUTOOL_RECORDS_H
#define DRAVN_TOOLS_CONSUTOOL_RECORDS_H

#include <cstddef>
#include <cstdint>

// The consumables record: 36 32-bit words.
struct kelo_quorra_info {
  int32_t nPowerSavingSection;
  int32_t nSecondSection;
  int32_t nThirdSection;
  int32_t bAfterCleaning;
  int32_t bFlatbed;
  int32_t nReserved1;
  const char* szRollerLabel;
  const char* szPickLabel;
  const char* szAfterCleaningLabel;
  int32_t nTotalADF;
  int32_t nTotalFB;
  int32_t nRollerCount;
  int32_t nPickCount;
  int32_t nAfterCleaningCount;
  int32_t nPowerSavingMin;
  int32_t nPowerSavingMax;
  int32_t nPowerSavingCur;
  int32_t bPowerOffSupported;
  int32_t bPowerSavingSupported;
  int32_t bPowerOffActive;
  int32_t nPowerOffChoice;
  int32_t bRollerNearEnd;
  int32_t bRollerDue;
  int32_t bPickNearEnd;
  int32_t bPickDue;
  int32_t bCleaningDue;
  int32_t nImageRead;
  int32_t bFirmLotKnown;
  int32_t bFirmLot;
  int32_t bImprinter;
  int32_t nRemainInk;
  int32_t nPowerOffCode;
  int32_t nReserved2;
};
static_assert(sizeof(kelo_quorra_info) == 144, "consumables record is 144 bytes");

// The device-information record: only its leading display texts are read
// here; the rest is the library's.
struct kelo_dev_info {
  char szVendor[9];
  char szProduct[17];
  char szFirm1[5];
  char szFirm2[5];
  char szFirm3[5];
  char szRevision[5];
  char szInitialUse[21];
  char szImageMemory[21];
  char szSerial[21];
  alignas(8) unsigned char byRest[656 - 112];
};
static_assert(offsetof(kelo_dev_info, szRevision) == 41, "revision at 41");
static_assert(offsetof(kelo_dev_info, szInitialUse) == 46, "initial use at 46");
static_assert(offsetof(kelo_dev_info, szSerial) == 88, "serial at 88");
static_assert(sizeof(kelo_dev_info) == 656, "device-information record is 656 bytes");

// The offsets record: offsets in steps of 0.5 mm, magnifications in tenths
// of a percent.
struct kelo_offset_data {
  int32_t nFBMain;
  int32_t nFBSub;
  int32_t nADFFrontMain;
  int32_t nADFFrontSub;
  int32_t nADFBackMain;
  int32_t nADFBackSub;
  int32_t nADFFrontEnd;
  int32_t nADFBackEnd;
  int32_t nFBMagnification;
  int32_t nADFMagnification;
  uint8_t bFlatbed;
  uint8_t bModelFlag;
  uint8_t bEndOfPage;
  uint8_t bOffsetSupported;
};
static_assert(sizeof(kelo_offset_data) == 44, "offsets record is 44 bytes");

// Request flags, clear-mask bits, sources and members of the command.
enum : uint32_t {
  kReqPowerSaving = 0x10,
  kReqPowerOff = 0x20,
  kReqClear = 0x40,
  kReqOffset = 0x80,
  kReqADFMagnification = 0x100,
  kReqFBMagnification = 0x200,
};
enum : uint32_t {
  kClearAfterCleaning = 1,
  kClearBrake = 2,
  kClearPick = 4,
  kClearRollerSet = 8,
  kClearPad = 0x10,
};
enum : uint32_t { kSrcADFFront = 1, kSrcADFBack = 2, kSrcFlatbed = 4 };
enum : uint32_t { kMemberMain = 1, kMemberSub = 2, kMemberEnd = 4 };
enum { kPowerOffInactive = 4 };

struct kelo_offset_group {
  uint32_t members;
  int32_t main;
  int32_t sub;
  int32_t endOfPage;
};

struct kelo_command_info {
  uint32_t request;
  const char* device;
  int32_t powerSavingMinutes;
  int32_t powerOffChoice;
  uint32_t clearMask;
  uint32_t sources;
  kelo_offset_group adfFront;
  kelo_offset_group adfBack;
  kelo_offset_group flatbed;
  int32_t adfMagnification;
  int32_t fbMagnification;
};

#endif
