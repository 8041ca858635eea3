// The scan-button daemon's reads of a scanner, whose replies the input
// changes: the device list, the open, the button (interrupt, command or
// status block, by family) and the first-read date, as its monitor does them.
#include <string>

#include "replay_device.h"
#include "scan_manager.h"

namespace {

const fuzz::ReplayRow kRows[] = {
    {dravn::kSelko2Models[0], "selko2"}, {dravn::kDocuvaneModels[0], "corvane"}, {dravn::kSelkoModels[0], "selko"},
    {dravn::kBrennaModels[0], "brenna"},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrivateFolders();
  // Every id of the daemon's table, as its installed dravn.conf lists them.
  std::vector<std::pair<unsigned, unsigned>> ids;
  for (const auto& r : g_tDeviceTable) ids.emplace_back(r.dwVendorId, r.dwProductId);
  fuzz::ListInConfig(ids);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const fuzz::ReplayRow& row = kRows[in.Pick(sizeof kRows / sizeof kRows[0])];
  fuzz::ReplayDevice(row.model, row.family, in.Rest(), in.RestSize());
  int count = 0;
  if (GetDeviceList(&count) == 1 && count > 0 && DoOpenDevice(0) == 1) {
    for (int i = 0; i < 3; ++i) CheckButtonStatus(0);
    if (NeedsFirstReadDate(g_taActiveDevList[0].iDeviceType)) {
      uint8_t year = 0, month = 0, day = 0;
      GetSelfTestDate(&year, &month, &day, 0);
      SetFirstReadDate(0);
    }
  }
  DoReleaseAllDevice();
  FreeDeviceList();
  return 0;
}
