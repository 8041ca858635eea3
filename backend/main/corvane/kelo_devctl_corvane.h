// KeloDevCtlCorvane: the Corvane family (the Docuvane-line scanners and the
// older qv series). It talks SCSI-style commands in 31-byte command blocks
// and 13-byte status blocks over the bulk pipes, reads each sheet in 64 KiB
// pieces per face, and turns the device's data into the SANE page.
#ifndef DRAVN_MAIN_KELO_DEVCTL_CORVANE_H
#define DRAVN_MAIN_KELO_DEVCTL_CORVANE_H

#include <cstdint>
#include <string>

#include "kelo_devctl.h"

namespace dravnmain {

constexpr uint8_t QV_FACE_FRONT = 0x00;
constexpr uint8_t QV_FACE_BACK = 0x80;

// 0xD004xxxx property failures of the device class.
constexpr uint32_t QV_ERR_CTL_PAPER_SIZE = 0xD004001B;
constexpr uint32_t QV_ERR_CTL_RES_X = 0xD004001C;
constexpr uint32_t QV_ERR_CTL_RES_Y = 0xD004001D;
constexpr uint32_t QV_ERR_CTL_SCAN_MODO = 0xD004001E;
constexpr uint32_t QV_ERR_CTL_SCAN_FACE = 0xD0040025;
constexpr uint32_t QV_ERR_CTL_BRIGHTNESS = 0xD0040026;
constexpr uint32_t QV_ERR_CTL_CONTRAST = 0xD0040027;
constexpr uint32_t QV_ERR_CTL_HT_TYPE = 0xD0040028;
constexpr uint32_t QV_ERR_CTL_HT_PATTERN = 0xD0040029;
constexpr uint32_t QV_ERR_CTL_DF = 0xD0040030;
constexpr uint32_t QV_ERR_CTL_BG_COLOR = 0xD0040031;
constexpr uint32_t QV_ERR_CTL_DROPOUT_COLOR = 0xD0040032;
constexpr uint32_t QV_ERR_CTL_PREPICK = 0xD0040034;
constexpr uint32_t QV_ERR_CTL_SLEEP_TIMER = 0xD0040035;
constexpr uint32_t QV_ERR_CTL_EMPHASIS = 0xD0040036;
constexpr uint32_t QV_ERR_CTL_JPEG_TYPE = 0xD0040038;
constexpr uint32_t QV_ERR_CTL_JPEG_QUALITY = 0xD0040039;
constexpr uint32_t QV_ERR_CTL_PAGE_AUTO_PRIORITY = 0xD004003A;
constexpr uint32_t QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE = 0xD004003B;
constexpr uint32_t QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY = 0xD004003C;
constexpr uint32_t QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO = 0xD004003D;
constexpr uint32_t QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO = 0xD004003E;
constexpr uint32_t QV_ERR_CTL_BW_SDTC_VARIANCE = 0xD004003F;
constexpr uint32_t QV_ERR_CTL_CROPPING_MARGIN = 0xD0040041;
constexpr uint32_t QV_ERR_CTL_PAPER_PROTECTION_MODE = 0xD0040042;
constexpr uint32_t QV_ERR_CTL_IMAGE_INDEX_TAB = 0xD0040043;

struct QV_SENSE {
  uint8_t ucEOM;
  uint8_t ucILI;
  uint32_t ulInformation;
  uint8_t ucSenseKey;
  uint8_t ucASC;
  uint8_t ucASCQ;
};

struct QV_HARDWARE_INFO {
  char szVendor[9];
  char szProduct[17];
  char szRevision[5];
};

struct QV_HARDWARE_STATUS {
  uint8_t bFlagA;
  uint8_t bCoverOpen;
  uint8_t bFlagC;
  uint8_t bFlagD;
  uint8_t bFlagE;
  uint8_t bDoubleFeed;
  int32_t iErrorValue;
};

struct QV_DEVICE_IMAGEDATA_INFO {
  uint32_t ulPixels;
  uint32_t ulLines;
  uint32_t ulAutoPixels;
  uint32_t ulAutoLines;
  uint32_t bFlag7;
  uint32_t bFlag0;
};

struct QV_AUTO_COLOR_DETECT_INFO {
  uint32_t bFImg;
  uint32_t bBImg;
  uint16_t usValue;
  uint32_t bFlag1;
  uint32_t bFlag2;
  uint32_t bFlag3;
  uint32_t bFlag4;
  uint8_t ucFWinID;
  uint8_t ucBWinID;
};

struct QV_WINDOW_INFO {
  uint16_t usResX;
  uint16_t usResY;
  uint32_t ulLeft;
  uint32_t ulTop;
  uint32_t ulWidth;
  uint32_t ulLength;
  uint16_t usThreshold;
  uint8_t ucComposition;  // 0 line art, 1 halftone, 2 grey, 5 colour
  uint16_t usBitsPerPixel;
  uint16_t usHalftoneType;
  uint16_t usHalftonePattern;
  uint8_t ucReverse;
  uint8_t ucCompressionType;
  uint8_t ucCompressionArg;
  uint8_t ucEdgeProcessing;
  uint8_t ucImageEmphasis;
  uint32_t ulDocWidth;
  uint32_t ulDocLength;
  uint8_t ucSdtcMode;
  uint8_t ucSdtcVariance;
};

// Step flags of the page library's select function.
constexpr uint32_t FUNC_CROP = 0x01;
constexpr uint32_t FUNC_NO_TAB = 0x02;
constexpr uint32_t FUNC_DUPCROP = 0x04;
constexpr uint32_t FUNC_DUPPHR = 0x08;
constexpr uint32_t FUNC_PHR = 0x10;
constexpr uint32_t FUNC_DCM = 0x20;
constexpr uint32_t FUNC_BPD = 0x40;
constexpr uint32_t FUNC_SRGB = 0x80;
constexpr uint32_t FUNC_WHITE_CROP = 0x1000;
constexpr uint32_t FUNC_OTHER_CROP = 0x2000;
constexpr uint32_t FUNC_TWO_FACE_CROP = 0x4000;

// Product text of a device type's model-table row (16 characters, blank
// padded), or null for a type without a row.
const char* CorvaneModelText(int devType);
// The table's sense rows; `listed` false for a combination it lacks.
uint32_t CorvaneSenseCode(const QV_SENSE& sense, bool* listed, const char** word);

// The failure words of one exchange's command, data, status and
// status-not-good steps; a null notGood reads the status without judging it.
struct CorvaneExchangeWords {
  const char* command;
  const char* dataOut;
  const char* dataIn;
  const char* status;
  const char* notGood;
};

class KeloDevCtlCorvane : public KeloDevCtl {
 public:
  KeloDevCtlCorvane();
  ~KeloDevCtlCorvane() override;

  SANE_Status ReadImgBuf(SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length) override;
  void SetReadImgBufSize() override;
  uint32_t DoCreateDevice() override;
  uint32_t DoReleaseDevice() override;
  uint32_t DoCheckDeviceCondition() override;
  uint32_t DoCheckPropList() override;
  uint32_t DoScanModeSetting() override;
  uint32_t DoSetWindowInfo() override;
  uint32_t DoCheckReturnError(uint32_t code) override;
  uint32_t DoADFCheck() override;
  uint32_t DoCheckPaperJam() override;
  uint32_t DoSendLUTTable() override;
  uint32_t DoTryLampOn() override;
  uint32_t DoLoadPaper() override;
  uint32_t DoStartScan() override;
  uint32_t DoGetImageData(unsigned char** front, uint32_t* frontSize, unsigned char** back,
                          uint32_t* backSize) override;
  uint32_t DoClearDeviceDataBuf(bool flag) override;
  uint32_t DoEjectPaper() override;
  uint32_t DoCheckScanReady() override;
  uint32_t DoGetCount(uint32_t* pages, uint32_t* pickRoller, uint32_t* padAssy, uint32_t* flatbed) override;
  uint32_t DoClearCount(uint8_t counter) override;
  uint32_t DoScanButtonSend(unsigned char* data, uint32_t length) override;
  uint32_t DoScanButtonRecieve(unsigned char* data, uint32_t length) override;
  uint32_t ImageProcess(unsigned char** front, uint32_t* frontSize, unsigned char** back, uint32_t* backSize) override;
  virtual int32_t DoImageProc(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, uint8_t mode);

  // The command set.
  uint32_t RawWriteCommand(const unsigned char* cdb, uint32_t length);
  uint32_t RawReadStatus(uint8_t* status);
  uint32_t TestUnitReady();
  uint32_t RequestSense(QV_SENSE* sense);
  uint32_t GetHardwareInfo(QV_HARDWARE_INFO* info);
  uint32_t ModeSelect(const unsigned char* page);
  uint32_t SetWindow(QV_WINDOW_INFO* front, QV_WINDOW_INFO* back);
  uint32_t SetAutoColorDetectWindow(QV_WINDOW_INFO* front, QV_WINDOW_INFO* back);
  uint32_t Scan(uint8_t faces);
  uint32_t AutoColorDetectScan(uint8_t faces);
  uint32_t GetImageData(uint8_t face, unsigned char* buffer, uint32_t length, uint32_t* read);
  uint32_t GetImageDataInfo(uint8_t face, QV_DEVICE_IMAGEDATA_INFO* info);
  uint32_t GetAutoColorDetectInfo(QV_AUTO_COLOR_DETECT_INFO* info);
  uint32_t SendGamma(uint8_t bits, const unsigned char* table);
  uint32_t SendLUT(uint8_t bits, const unsigned char* table);
  uint32_t PaperControl(bool load);
  uint32_t GetHardwareStatus(QV_HARDWARE_STATUS* status);
  uint32_t ScannerControl(bool flatbed);
  uint32_t LampControl(bool on);
  uint32_t CancelReadImageData();
  uint32_t WaitForScanEnd();
  uint32_t CheckImageDataIsReady(uint8_t face, uint32_t length);
  uint32_t SetSelfTestDate(uint8_t year, uint8_t month, uint8_t day);
  uint32_t GetSelfTestDate(uint8_t* year, uint8_t* month, uint8_t* day);
  uint32_t SetAutoColor();

  // Device class steps of its own.
  static void MakeWindowDescriptor(const QV_WINDOW_INFO& info, bool hardware, uint8_t autoColor, uint8_t mode,
                                   unsigned char* descriptor);
  uint32_t GetProperError();
  // A stop at the device pauses a scan started by the scan-button launcher.
  static void StopQuicklyPause();
  uint32_t SetFirstReadDate();
  uint32_t DoGetAutoColorDetectInfo();
  uint32_t UpdateImageDataInfo();
  SANE_Status ReadPageBuf(unsigned char** page, int32_t* remaining, SANE_Byte* buffer, SANE_Int maxLength,
                          SANE_Int* length);
  virtual int32_t DoSelectFunc(uint32_t code, unsigned char** buffers[2], int face);

  // Tone tables.
  static void ApplyLutContrastBrightness(int brightness, int contrast, int highlight, int shadow, int gamma,
                                         unsigned char* table);
  static unsigned char GetLUTData(unsigned char input, unsigned char white, unsigned char black, int brightness,
                                  int contrast, int shadow, int highlight, int gamma);

  uint8_t LastStatus() const { return m_ucLastStatus; }
  const QV_WINDOW_INFO& WindowInfo() const { return m_WindowInfo; }
  SCAN_PROP_INFO& PropInfo() { return m_PropInfo; }

 protected:
  QV_WINDOW_INFO m_WindowInfo{};
  uint8_t m_ucLastStatus = 0;
  int32_t m_iFrontRemain = 0;
  int32_t m_iBackRemain = 0;
  int32_t m_iReadOffset = 0;

  // The window record sent for the faces of the source; autoColor picks the
  // automatic-colour variant of the command.
  uint32_t SendWindowBySource(const char* tag, bool autoColor);
  // The double-feed page and the pages after it.
  uint32_t SendLaterModePages(const char* tag, const unsigned char* doubleFeed);
  // Rules on tone, halftone, JPEG, double feed and the listed options.
  uint32_t CheckToneAndFeedRules(const char* tag);
  // A length cut to whole multiples of 8 lines (JPEG blocks).
  static uint32_t CutToBlocks(double value, int resolution, bool roundUp);
  uint32_t SendToneTables(const char* tag);
  void FillWindowFromPage();
  void FillWindowSettings();

  // Page steps that the family classes share or replace.
  uint32_t ProcessFaceData(unsigned char** buffer, uint32_t size, QV_IMAGEDATA_PARAMETERS* face, int index);
  uint32_t FinishFace(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, int index, bool* dropped);
  virtual uint32_t CropAndHoles(unsigned char** buffers[2]);
  // The last step of a delivered face.
  virtual uint32_t ReduceFace(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, int index);
  uint8_t FaceMode(int index) const;
  // DoSelectFunc of a class that accepts the flags in `accepted`; `model`
  // is the product text handed to the library, or null.
  int32_t RunSelectFunc(const char* tag, uint32_t accepted, const char* model, uint32_t code,
                        unsigned char** buffers[2], int face);

  using ExchangeWords = CorvaneExchangeWords;
  static const ExchangeWords kCommandWords;
  static constexpr int kKeepTimeout = -1;  // the USB time-out in force stays
  // One whole exchange: command, data phase, status. The status byte is kept
  // in m_ucLastStatus whenever it arrived.
  enum class Phase { None, Out, In };
  uint32_t Exchange(const char* tag, const unsigned char* cdb, uint32_t cdbLength, int timeout, Phase phase,
                    unsigned char* data, uint32_t dataLength, const ExchangeWords& words = kCommandWords);

  // Family rules: the Corvane5 class replaces these, the steps around them
  // are one for both families.
  virtual const char* ClassName() const { return "KeloDevCtlCorvane"; }
  std::string Tag(const char* operation) const { return std::string(ClassName()) + "::" + operation; }
  // The product text the device type's row expects, or null.
  virtual const char* ExpectedProduct() const;
  // Whether the scanner itself decides colour or line art under automatic
  // colour detection (detection windows and scan); if not, the page comes in
  // colour and the host reduces it.
  virtual bool ScannerDetectsColour() const { return true; }
  // The shortest window side, 26 mm as each family's table writes it.
  virtual double ShortestSide() const { return 1228.5039653929343; }
  // The custom feeder page's length rules; the failure word or null.
  virtual const char* CustomLengthFailure() const;
  virtual const char* JpegTypeWord() const { return "JPEG type not 0x81 to 0x83"; }
  // The property rules after the SDTC variance.
  virtual uint32_t CheckLastRules(const char* tag);
  virtual unsigned char AutoColourPageByte() const { return 0xF0; }
  virtual void FillPageLengthPage(unsigned char* page) const;
  // Bytes 3 and 5 of the double-feed page.
  virtual void FillDoubleFeedProtection(unsigned char* page) const;
  // Width, length and right and bottom edges of the automatic-size window.
  virtual void FillAutoSizeWindow();

 private:
  int m_iNotGoodLevel = 1;  // log level of a not-good status
  uint32_t Diagnostic(const char* tag, const char* text, const unsigned char* params, uint32_t paramLength,
                      const unsigned char* receiveCdb, unsigned char* reply, uint32_t replyLength);
  uint32_t SendTable(const char* tag, uint8_t type, uint8_t bits, const unsigned char* table);
  // A 0xF1 control command without data.
  uint32_t Control(const char* tag, unsigned char what);
  // The window descriptors of the faces given; with detectionPairs each face
  // gets its colour and its line-art window.
  uint32_t SendWindows(const char* tag, QV_WINDOW_INFO* front, QV_WINDOW_INFO* back, bool detectionPairs);
  // The hardware status and the sense after it; the sheet failures end the
  // step, an empty feeder too when noPaperFails.
  uint32_t CheckSheetState(const char* tag, bool noPaperFails);
  uint32_t ReadSheet(unsigned char** front, uint32_t* frontSize, unsigned char** back, uint32_t* backSize);
};

// The Corvane5 family (device types 31-34 and 36-45): the Corvane protocol
// with its own mode pages, window set-up, batch mode and power-off timer, and
// a host-side reduction of pages the scanner judged binary.
class KeloDevCtlCorvane5 : public KeloDevCtlCorvane {
 public:
  KeloDevCtlCorvane5();
  ~KeloDevCtlCorvane5() override;

  uint32_t DoTryLampOn() override;
  uint32_t SetPowerOffTime(uint16_t minutes) override;
  uint32_t DoBatch(bool batch) override;
  int32_t DoSelectFunc(uint32_t code, unsigned char** buffers[2], int face) override;
  uint32_t CropAndHoles(unsigned char** buffers[2]) override;
  uint32_t ReduceFace(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, int index) override;

  uint32_t DoGetDevicePowerOffTime(uint8_t* code, uint8_t* second);
  uint32_t DoSetDevicePowerOffTime(uint8_t code, uint8_t second);
  uint32_t DoSetPowerOff(bool off, unsigned minutes);

  static void ConvRGB2GrayN_Ex(unsigned char* grey, unsigned pixels, unsigned bytesPerLine, unsigned lines,
                               uint8_t kind, const unsigned char* colour);
  static void GrayToBin(unsigned char* bits, unsigned bytesPerLine, unsigned width, unsigned lines,
                        uint8_t threshold, const unsigned char* grey);

  bool LocalOccupy() const { return m_bLocalOccupy; }
  AUTO_COLOR_DETECT_INFO& AutoColorInfo() { return m_AutoColorInfo; }

 protected:
  const char* ClassName() const override { return "KeloDevCtlCorvane5"; }
  const char* ExpectedProduct() const override;
  bool ScannerDetectsColour() const override { return false; }
  double ShortestSide() const override { return 26 * 65536.0 / 1387.0; }
  const char* CustomLengthFailure() const override;
  const char* JpegTypeWord() const override { return "QV_ERR_CTL_HT_TYPE"; }
  uint32_t CheckLastRules(const char* tag) override;
  unsigned char AutoColourPageByte() const override { return 0xFA; }
  void FillPageLengthPage(unsigned char* page) const override;
  void FillDoubleFeedProtection(unsigned char* page) const override;
  void FillAutoSizeWindow() override;
};

// Product text (16 characters, blank padded) of a Corvane5 device type, or
// null for a type outside the class.
const char* Corvane5ModelText(int devType);

}  // namespace dravnmain

#endif
