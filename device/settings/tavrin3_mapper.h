// Where the Tavrin3 layout keeps its settings: the Tavrin3, Tavrin4 and
// Tavrin4LA models, the Saldex model, the Docuvane line and, for the sensor
// settings, Feyra2. Setters answer 1 accepted, 0 refused, and leave the
// changed flag to their caller.
#ifndef DRAVN_MQCONTROL_TAVRIN3_MAPPER_H
#define DRAVN_MQCONTROL_TAVRIN3_MAPPER_H

#include "layout_mapper_ops.h"

class Tavrin3Mapper {
 public:
  virtual ~Tavrin3Mapper();

  LAYOUT_MAPPER_COMMON_OPERATIONS
  int GetPaperProtection();
  int SetPaperProtection(int value);
  int GetPPDetectionLevel();
  int SetPPDetectionLevel(int level);
  int GetFeedMode();
  int SetFeedMode(int mode);
};

#endif
