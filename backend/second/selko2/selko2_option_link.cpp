// The Selko2 device object as the option layer sees it.
#include "selko2_option_link.h"

#include "prop_info.h"
#include "second_backend.h"
#include "selko2_scan_func.h"

namespace {

class CSelko2OptionLink : public KeloSelko2Link {
 public:
  bool GetCurrentScannerStatus(unsigned char* data, unsigned int* lastError) override {
    return g_pCSelko2ScanFunc && g_pCSelko2ScanFunc->GetCurrentScannerStatus(data, lastError);
  }
  bool ReadSCErrorInfo(unsigned int* value, unsigned int* lastError) override {
    return g_pCSelko2ScanFunc && g_pCSelko2ScanFunc->ReadSCErrorInfo(value, lastError);
  }
  SANE_Status ConvertToSaneErr(unsigned int code) override {
    return g_pCSelko2ScanFunc ? g_pCSelko2ScanFunc->ConvertToSaneErr(code) : SANE_STATUS_IO_ERROR;
  }
  void SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge) override {
    if (g_pCSelko2ScanFunc) g_pCSelko2ScanFunc->SetFrameGeometry(face, split, merge);
  }
  KELO_IMAGEDATA_PARAMETERS GetBufferGeometry(KELO_SELKO2_BUFFER buffer) override {
    return g_pCSelko2ScanFunc ? g_pCSelko2ScanFunc->GetBufferGeometry(buffer) : KELO_IMAGEDATA_PARAMETERS{};
  }
};

CSelko2OptionLink g_tSelko2Link;

}  // namespace

void SetSelko2Device(CSelko2ScanFunc* object) {
  g_pCSelko2ScanFunc = object;
  g_pSelko2Link = object ? &g_tSelko2Link : nullptr;
}
