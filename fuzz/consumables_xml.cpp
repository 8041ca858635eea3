// The consumables settings XML of the device watch library: a model's
// switch read and rewritten, and a tool text read.
#include "dvwc.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteFile("settings.xml", data, size);
  dvwc_GetXMLSettings("Selko2S420", "DoubleFeed", 3, path.c_str());
  dvwc_GetXMLSettings2("ToolName", "default", path.c_str());
  dvwc_SetXMLSettings("Selko2S420", "DoubleFeed", 1, path.c_str());
  dvwc_GetXMLSettings("Selko2S420", "DoubleFeed", 3, path.c_str());
  return 0;
}
