// The settings image engine: the host copy of a scanner's settings EEPROM,
// read from the device, written back field by field (read, merge, write,
// commit, verify), per-family default images, the settings blob files, the
// imprinter's ink-life reset and the answers of the inquiry data.
#ifndef DRAVN_MQCONTROL_DEV_SET_CTRL_H
#define DRAVN_MQCONTROL_DEV_SET_CTRL_H

#include <cstdint>

class CDevSetCtrl {
 public:
  CDevSetCtrl();
  virtual ~CDevSetCtrl();

  int readDevSetting();
  int writeDevSetting(int unused);
  int IsSettingChanged() const { return m_nChanged; }
  void SetSettingChanged() { m_nChanged = 1; }
  void SetModified(int changed) { m_nChanged = changed; }

  int initDevSet2Info();
  int reloadDunmoMe2CGA();
  int reloadDunmoMe2Std();
  int reloadVantor();

  int SaveEEPROMData(const char* path);
  int RestoreEEPROMData(const char* path);
  int SaveEEPROMData2(const char* path);
  int RestoreEEPROMData2(const char* path);

  int ClearRemainingInk(const char* device, int type);
  int DeviceRestart(const char* device);

  int IsEndorserOption() const;
  int IsExistFlatbet() const;
  int DevInfoBackUp() { return 1; }
  int GetAlarm() const;
  int SetAlarm(int on);

  int IsDunmoMe2() const;
  int IsPilvo() const;
  int IsSaldex() const;
  int IsTavrin4LA() const;
  int IsTavrin4() const;
  int IsTavrin3() const;

  int m_nInkLifeReset;  // clear the ink-life counter after the next write
  int m_nCounterSetup;  // consumed by a write on the Vantor and Pilvo models
  int m_nReserved1;
  int m_nEndorserReset;  // bit value 2
  int m_nReserved2;
  int m_nChanged;
  int m_nInquiryHead;
  uint8_t m_byInquiry[128];
  uint8_t m_byVpd[100];
  int m_nUsbSpeedChanged;
  int m_nUsbSpeedPrevious;

  // The USB-speed state that the RTOS layout's accessors keep.
  int& UsbSpeedChangeMarker() { return m_nUsbSpeedChanged; }
  int& UsbSpeedPrevious() { return m_nUsbSpeedPrevious; }

#include "dev_set_accessors.inc"

 private:
  int ResetInkLife();
  bool InkResetModel() const;
};

extern CDevSetCtrl g_CDevSetCtrl;

// Whether the active model's write keeps only the fields marked in the
// Tavrin3 set.
bool WritesThroughTavrinMerge();

// The model names the engine itself configures, besides the family lists.
namespace mqcontrol_models {
extern const char* const kDunmoMe2Cga[2];   // the CGA variants of DunmoMe2 models A and C
extern const char* const kShortImage;       // written as a 128-byte image
extern const char* const kTavrinPathFull;   // further models of the Tavrin path, 512 bytes
extern const char* const kTavrinPathShort;  // and 255 bytes
extern const char* const kOlderInkModels[7];
extern const char* const kFurtherInkModel;
}  // namespace mqcontrol_models

#endif
