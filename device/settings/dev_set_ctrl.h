// The settings engine object around the host image g_byEEPData: its state
// words, its own family tests, and one Get/Set pair per device setting.
#ifndef DRAVN_MQCONTROL_DEV_SET_CTRL_H
#define DRAVN_MQCONTROL_DEV_SET_CTRL_H

class CDevSetCtrl {
 public:
  CDevSetCtrl();
  virtual ~CDevSetCtrl();

  int IsSettingChanged() const { return m_bChanged; }
  void SetSettingChanged() { m_bChanged = 1; }
  void SetModified(int changed) { m_bChanged = changed; }

  int IsDunmoMe2() const;
  int IsPilvo() const;
  int IsSaldex() const;
  int IsTavrin4LA() const;
  int IsTavrin4() const;
  int IsTavrin3() const;

  // The USB-speed state that the RTOS layout's accessors keep.
  int& UsbSpeedChangeMarker() { return m_nUsbSpeedChange; }
  int& UsbSpeedPrevious() { return m_nUsbSpeedPrevious; }

#include "dev_set_accessors.inc"

 private:
  int m_nInkLifeReset;
  int m_nCounterSetup;
  int m_nReserved1;
  int m_nEndorserReset;
  int m_nReserved2;
  int m_bChanged;
  int m_nInquiryWord;
  unsigned char m_byInquiry[128];
  unsigned char m_byVendorInquiry[100];
  int m_nUsbSpeedChange;
  int m_nUsbSpeedPrevious;
};

extern CDevSetCtrl g_CDevSetCtrl;

#endif
