// Where the RTOS group keeps its settings. Unlike the other layouts, its
// roller-counter thresholds and cleaning interval are big-endian 32-bit
// values scaled by 10,000 and 1,000. Setters answer 1 accepted, 0 refused,
// and leave the changed flag to their caller.
#ifndef DRAVN_MQCONTROL_RTOS_MAPPER_H
#define DRAVN_MQCONTROL_RTOS_MAPPER_H

#include "layout_mapper_ops.h"

class RTOSMapper {
 public:
  virtual ~RTOSMapper();

  LAYOUT_MAPPER_COMMON_OPERATIONS
  int GetADDR_SP_Counter();
  int SetADDR_SP_Counter(int v);
  int GetManualFeedTimeSetting(int limit);
  int SetManualFeedTimeSetting(int t);
  int GetManualFeedSetting();
  int SetManualFeedSetting(int on);
  int GetStartupMode();
  int SetStartupMode(int mode);
  int GetFeedMode();
  int SetFeedMode(int mode);
  int GetLowSpeedFeedMode();
  int SetLowSpeedFeedMode(int mode);
  int GetStackingControl();
  int SetStackingControl(int mode);
  int GetTatesujiDetection();
  int SetTatesujiDetection(int on);
  int GetTatesujiLevel();
  int SetTatesujiLevel(int level);
  int GetCleaningTerms();
  int SetCleaningTerms(int n);
  int GetUsbMaxSpeed();
  int SetUsbMaxSpeed(int value);
  int GetPickPressure();
  int SetPickPressure(int value);
  int GetTabCropPosition();
  int SetTabCropPosition(int pos);
  int GetPaperProtection();
  int SetPaperProtection(int value);
  int GetPPDetectionLevel(int type);
  int SetPPDetectionLevel(int level, int type);
};

#endif
