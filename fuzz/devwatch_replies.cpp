// A scanner's replies, changed by the input, read by the device watch
// library's entries as the maintenance tools call them: inquiry and VPD
// pages, status blocks, firmware text, EEPROM and flash images, diagnostic
// results, settings blobs, logs and error codes, each into a buffer of the
// size the entry is told.
#include <cstdint>
#include <vector>

#include "dvwc.h"
#include "replay_device.h"

namespace {

const fuzz::ReplayRow kRows[] = {
    {dravn::kDunmoModels[0], "generic"}, {dravn::kTavrin3Models[0], "generic"}, {dravn::kDocuvaneModels[0], "corvane"},
    {dravn::kSelko2Models[0], "selko2"}, {dravn::kSelkoModels[0], "selko"},      {dravn::kBrennaModels[0], "brenna"},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrivateFolders();
  fuzz::ListInConfig(kRows);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const fuzz::ReplayRow& row = kRows[in.Pick(sizeof kRows / sizeof kRows[0])];
  const unsigned calls = in.Take<uint16_t>();  // which entries run, one bit each
  const unsigned short length = in.Take<uint16_t>() % 1024 + 1;
  const std::string name = fuzz::ReplayDevice(row.model, row.family, in.Rest(), in.RestSize());
  const char* dev = name.c_str();

  dvwc_ListupScanner();
  std::vector<unsigned char> buffer(length);
  unsigned char fixed[512];
  auto on = [&](int bit) { return calls == 0 || (calls >> bit & 1); };
  if (on(0)) dvwc_Inquiry(dev, fixed);
  if (on(1)) dvwc_Inquiry2(dev, fixed);
  if (on(2)) dvwc_InquiryEX(dev, fixed);
  if (on(3)) dvwc_InquiryVPD(dev, buffer.data(), length, 0);
  if (on(4)) dvwc_InquiryVPD2(dev, 0xF0, buffer.data(), length, 0);
  if (on(5)) dvwc_GetStatus(dev, fixed), dvwc_GetStatus4(dev, fixed), dvwc_GetStatus2(dev, buffer.data(), length);
  if (on(6)) dvwc_GetFirmVersion(dev, buffer.data(), length);
  if (on(7)) dvwc_GetEEPROM(dev, fixed, sizeof fixed), dvwc_GetDefaultEEPROM(dev, fixed, sizeof fixed);
  if (on(8)) {
    unsigned short n = 0;
    if (dvwc_GetFLASHROMLength(dev, &n)) dvwc_GetFLASHROM(dev, buffer.data(), length);
  }
  if (on(9)) dvwc_ReceiveDiagnosticResult(dev, buffer.data(), length);
  if (on(10)) {
    uint32_t record = 0;
    if (dvwc_GetSOPSettingsLength(dev, &record))
      dvwc_GetSOPSettingsData(dev, buffer.data(), reinterpret_cast<unsigned char*>(&record), length);
    dvwc_GetSOPSettings(dev, buffer.data(), length);
  }
  if (on(11)) {
    unsigned short n = 0;
    if (dvwc_GetLifeTimeLogSize(dev, &n)) dvwc_GetLifeTimeLogData(dev, buffer.data(), length);
  }
  if (on(12)) {
    unsigned short count = 0;
    if (dvwc_GetErrorCodeLength(dev, &count)) {
      std::vector<unsigned char> codes(static_cast<size_t>(length) * 16);
      dvwc_GetErrorCodeData(dev, codes.data(), length);
    }
  }
  if (on(13)) dvwc_ModeSense_LongTimer(dev, buffer.data(), length);
  if (on(14)) {
    uint32_t record = 0;
    if (dvwc_GetIMFFPatternLength(dev, &record))
      dvwc_GetIMFFPatternData(dev, buffer.data(), reinterpret_cast<unsigned char*>(&record), length);
  }
  if (on(15)) dvwc_GetEEPROM_Element(dev, fixed, sizeof fixed);
  dvwc_Close();
  return 0;
}
