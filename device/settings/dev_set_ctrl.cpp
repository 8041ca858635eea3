#include "dev_set_ctrl.h"

#include "field_merge.h"
#include "ft_device_group.h"

CDevSetCtrl g_CDevSetCtrl;

CDevSetCtrl::CDevSetCtrl()
    : m_nInkLifeReset(0),
      m_nCounterSetup(0),
      m_nReserved1(0),
      m_nEndorserReset(0),
      m_nReserved2(0),
      m_bChanged(0),
      m_nInquiryWord(0),
      m_byInquiry(),
      m_byVendorInquiry(),
      m_nUsbSpeedChange(0),
      m_nUsbSpeedPrevious(0) {}

CDevSetCtrl::~CDevSetCtrl() = default;

int CDevSetCtrl::IsDunmoMe2() const { return FtDeviceGroup().IsDunmoMe2(); }
int CDevSetCtrl::IsPilvo() const { return FtDeviceGroup().IsPilvo(); }
int CDevSetCtrl::IsSaldex() const { return FtDeviceGroup().IsSaldex(); }
int CDevSetCtrl::IsTavrin4LA() const { return FtDeviceGroup().IsTavrin4LA(); }
int CDevSetCtrl::IsTavrin4() const { return FtDeviceGroup().IsTavrin4(); }
int CDevSetCtrl::IsTavrin3() const { return FtDeviceGroup().IsTavrin3(); }
