// The device-information record of the active scanner (identification,
// firmware, first use, serial, resolutions, memory, option units,
// interface, last error) and the dump of what it read from the device.
#ifndef DRAVN_MQCONTROL_KELO_DEV_INFO_H
#define DRAVN_MQCONTROL_KELO_DEV_INFO_H

#include <cstddef>
#include <cstdint>

struct kelo_dev_info {
  char vendor[9];
  char product[17];
  char firmware1[5];
  char firmware2[5];
  char firmware3[5];
  char revision[5];
  char initialUse[21];
  char imageMemory[21];
  char serial[21];
  char resolution[6][21];  // basic X, Y, maximum X, Y, minimum X, Y
  char windowWidth[21];
  char windowLength[21];
  char paperSize[21];
  char reserved298[2];
  int32_t vpd28Bit02, vpd28Bit04, vpd28Bit08, vpd28High;
  int32_t vpd32Bit02, vpd32Bit10, vpd32Bit20, vpd32Bit40, vpd32Bit80;
  char memory[24];
  char steps[3][21];
  char reserved423;
  uint16_t vpd86High, vpd86Low, vpd87High, vpd87Low;
  int32_t vpd88Bit01, vpd89Bit80, vpd89Bit40;
  char imageProcessing[21];
  char reserved465[3];
  int32_t vpd88Flags[8];  // bits 0x80, 0x40, 0x20, 0x10, 0x08, 0x04, the fixed flag, 0x02
  int32_t vpd90;
  int32_t vpd90Flags[7];  // bits 0x80 .. 0x02
  struct OptionUnit {
    int32_t present;
    uint16_t details[4];  // bits 0x80, 0x40, 0x20 (masked), low nibble
    char firmware[8];
  } unit[2];
  int32_t capabilities[11];
  const char* rowInterface;
  const char* deviceInterface;
  const char* powerSupply;
  char errorCode[8];
  const void* reserved648;
};
static_assert(sizeof(kelo_dev_info) == 656, "the device-information record crosses the boundary by copy");
static_assert(offsetof(kelo_dev_info, reserved298) == 298 && offsetof(kelo_dev_info, memory) == 336 &&
                  offsetof(kelo_dev_info, vpd86High) == 424 && offsetof(kelo_dev_info, imageProcessing) == 444 &&
                  offsetof(kelo_dev_info, vpd88Flags) == 468 && offsetof(kelo_dev_info, unit) == 532 &&
                  offsetof(kelo_dev_info, capabilities) == 572 && offsetof(kelo_dev_info, rowInterface) == 616 &&
                  offsetof(kelo_dev_info, errorCode) == 640,
              "the record's fields stand where its readers look");

// The dump file: time, sizes, the image, the inquiry data, the VPD page.
constexpr size_t kDumpSize = 2312;

class KeloDevInfo {
 public:
  explicit KeloDevInfo(kelo_dev_info* record);

  int OnInitDialog();
  int DevInfoBackUp();
  void InitDeviceInformation(const char* model);
  int GetErrorCode(char* out);
  int IsIpcOnBoard() const;

  static void ConvertSerial(char* out, size_t size, const char* prefix, char letter, unsigned sequence);
  static void ConvertSerialSEQ(char* out, size_t size, unsigned sequence);
  static char ConvertSerialSEQTop(unsigned top);
  static char ConvertSerialASCII(char c);

 private:
  kelo_dev_info* m_record;
  unsigned char m_image[512];
  unsigned char m_vpd[100];
  unsigned char m_inquiry[96];
  int32_t m_readSize;
};

#endif
