// Where the DunmoMe2 models keep their settings. Setters answer 1 accepted,
// 0 refused (0 also where no result is defined), and leave the changed flag
// to their caller.
#ifndef DRAVN_MQCONTROL_DUNMOME2_MAPPER_H
#define DRAVN_MQCONTROL_DUNMOME2_MAPPER_H

#include "layout_mapper_ops.h"

class DunmoMe2Mapper {
 public:
  virtual ~DunmoMe2Mapper();

  // The value maps, shared with the default layout.
  static const int kOverUnderSet[8];
  static const int kOverUnderRead[8];
  static const int kDenseSet[6];
  static const int kDenseRead[8];

  LAYOUT_MAPPER_COMMON_OPERATIONS
  int GetCleaningTerms();
  int SetCleaningTerms(int n);
  int GetCleaningMessage();
  int SetCleaningMessage(int on);
  int GetPapersAfterClean();
  int GetTabCropPosition();
  int SetTabCropPosition(int pos);
  int IsDenseBackGroundEnable();
  int SetDenseBackGroundEnable(int on);
  int GetDenseBackGround();
  int SetDenseBackGround(int level);
  int GetOverUnderCrop();
  int SetOverUnderCrop(int value);
  int GetAutoCropBoundary();
  int SetAutoCropBoundary(int value);
  int GetSCSIBusWidth();
  int SetSCSIBusWidth(int width);
  int GetPickPressure();
  int SetPickPressure(int value);
};

#endif
