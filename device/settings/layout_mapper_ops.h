// The operations that every layout mapper offers, each at its own place.
#ifndef DRAVN_MQCONTROL_LAYOUT_MAPPER_OPS_H
#define DRAVN_MQCONTROL_LAYOUT_MAPPER_OPS_H

#define LAYOUT_MAPPER_COMMON_OPERATIONS                \
  int GetDoubleFeedMode();                             \
  int SetDoubleFeedMode(int mode);                     \
  int GetDoubleFeedChkLengh();                         \
  int SetDoubleFeedChkLengh(int len);                  \
  int GetDropoutColor();                               \
  int SetDropoutColor(int colour);                     \
  int GetPrePickMode();                                \
  int SetPrePickMode(int mode);                        \
  void GetDelFrameADF(int* a, int* b, int* c, int* d); \
  int SetDelFrameADF(int a, int b, int c, int d);      \
  void GetDelFrameFB(int* a, int* b, int* c, int* d);  \
  int SetDelFrameFB(int a, int b, int c, int d);       \
  int GetSensorMode(int type);                         \
  int SetSensorMode(int type, int on);                 \
  int GetSensorAreaStart(int type);                    \
  int SetSensorAreaStart(int type, int pos);           \
  int GetSensorAreaEnd(int type);                      \
  int SetSensorAreaEnd(int type, int pos);             \
  int GetMFignore();                                   \
  int SetMFignore(int value);                          \
  int GetMFinital();                                   \
  int SetMFinital(int value, int second);              \
  int GetMFmemory();                                   \
  int SetMFmemory(int value);                          \
  int GetScanBtn();                                    \
  int SetScanBtn(int value);                           \
  int GetADDR_PR_Counter();                            \
  int SetADDR_PR_Counter(int v);                       \
  int GetADDR_BR_Counter();                            \
  int SetADDR_BR_Counter(int v);                       \
  int GetManualTimeout(int limit);                     \
  int SetManualTimeout(int t);                         \
  int GetPickRetry(int limit);                         \
  int SetPickRetry(int n);                             \
  int GetPowerSWControl();                             \
  int SetPowerSWControl(int value);

#endif
