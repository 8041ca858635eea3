// Model identity and the family membership tests of the settings library.
// Every per-model decision asks a fresh FtDeviceGroup whether the active
// model belongs to a family; names compare exactly and case-sensitively.
#ifndef DRAVN_MQCONTROL_FT_DEVICE_GROUP_H
#define DRAVN_MQCONTROL_FT_DEVICE_GROUP_H

class FtDeviceID {
 public:
  static constexpr int kNameSize = 50;
  explicit FtDeviceID(const char* text = nullptr);
  FtDeviceID(const FtDeviceID& other);
  virtual ~FtDeviceID();
  FtDeviceID& operator=(const FtDeviceID& other);
  FtDeviceID& operator=(const char* text);
  int operator==(const FtDeviceID& other) const;
  int operator!=(const FtDeviceID& other) const;
  int operator!=(const char* text) const;
  int Compare(const char* text) const;
  operator char*();

 private:
  void SetText(const char* text);
  char m_name[kNameSize];
};

class FtDeviceGroup {
 public:
  FtDeviceGroup();
  FtDeviceGroup(const FtDeviceGroup& other);
  virtual ~FtDeviceGroup();
  FtDeviceGroup& operator=(const FtDeviceGroup& other);
  int operator==(const FtDeviceGroup& other) const;
  int operator!=(const FtDeviceGroup& other) const;

  int IsDunmo() const;
  int IsDunmoMe2() const;
  int IsVantor() const;
  int IsPilvo() const;
  int IsSaldex() const;
  int IsRuvik() const;
  int IsRuvik2() const;
  int IsVelmorakModelA() const;
  int IsVelmorakModelB() const;
  int IsVelmorakModelC() const;
  int IsVelmorakModelD() const;
  int IsVelmorakModelE() const;
  int IsVelmorakModelF() const;
  int IsVelmorakSeriesA() const;
  int IsVelmorak() const;
  int IsTavrin5() const;
  int IsTavrin5E() const;
  int IsFeyra2() const;
  int IsZembl() const;
  int IsDocuvane() const;
  int IsTavrin4LA() const;
  int IsTavrin4() const;
  int IsTavrin3() const;
  int IsSelkoFamily() const;
  int IsSaldex3() const;
  int IsGorlan() const;
  int IsRTOS() const;
  int IsBrenna() const;

 private:
  FtDeviceID m_id;
};

#endif
