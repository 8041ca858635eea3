// The consumables view of the active scanner: counters, their resets, the
// power-off and power-saving timers. One instance lives for one C call and
// reads the device afresh.
#ifndef DRAVN_MQCONTROL_QUORRA_INFO_H
#define DRAVN_MQCONTROL_QUORRA_INFO_H

#include <cstddef>
#include <cstdint>

// The record consutool receives by plain copy: 36 32-bit words.
struct kelo_quorra_info {
  int32_t powerSavingSection;
  int32_t secondSection;
  int32_t thirdSection;
  int32_t afterCleaningSupported;
  int32_t flatbed;
  int32_t reserved6;
  const char* rollerLabel;
  const char* pickLabel;
  const char* afterCleaningLabel;
  int32_t totalAdf;
  int32_t totalFlatbed;
  int32_t roller;
  int32_t pick;
  int32_t afterCleaning;
  int32_t powerSavingMin;
  int32_t powerSavingMax;
  int32_t powerSavingCurrent;
  int32_t powerOffSupported;
  int32_t powerSavingSupported;
  int32_t powerOffActive;
  int32_t powerOffChoice;
  int32_t rollerNearEnd;
  int32_t rollerDue;
  int32_t pickNearEnd;
  int32_t pickDue;
  int32_t cleaningDue;
  int32_t imageReadStatus;
  int32_t firmLotKnown;
  int32_t firmLotAnswer;
  int32_t imprinter;
  int32_t remainingInk;
  int32_t powerOffCode;
  int32_t reserved33;
};
static_assert(sizeof(kelo_quorra_info) == 144, "the consumables record crosses the boundary by copy");
static_assert(offsetof(kelo_quorra_info, totalAdf) == 48, "counter words follow the three labels");

// The power-saving time of the active device in minutes (0: off).
extern int g_nLongTimerMinutes;

class CQuorraInfo {
 public:
  CQuorraInfo();

  int InitDialog(const char* model);
  void SetupAblationCount(const char* model, const unsigned char* image);
  void OnConsumptionReset1(const char* model);
  void OnConsumptionReset2(const char* model);
  void OnConsumptionReset3();
  void OnConsumptionReset7();

  unsigned char GetPowerOffTime() const;
  int SetPowerOffTime(unsigned char code);
  int SetPowerSavingEEPROM(uint16_t minutes);
  int ModeSense_LongTimer(const char* device, uint16_t* code);
  int ModeSelect_LongTimer(const char* device, uint16_t* minutes);
  int IsInquiryExtendedBytesSupported() const;
  int IsFirmLot6Supported();

  int InquiryVPD(const char* device, unsigned char* buffer, unsigned short length);
  int GetEEPROM(const char* device, unsigned char* buffer, unsigned short length);
  int WriteEEPROM(const char* device, const unsigned char* buffer, uint16_t offset, uint16_t length);
  int LockEEPROM(const char* device);

  const kelo_quorra_info& Record() const { return m_info; }

 private:
  kelo_quorra_info m_info;
};

#endif
