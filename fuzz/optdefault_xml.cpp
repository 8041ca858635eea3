// optdefault.xml: the option table of a model built with the file's
// defaults, as the second backend builds it when a scanner opens.
#include "fuzz_support.h"
#include "image_libs.h"
#include "model_catalog.h"
#include "option_table.h"

namespace {
int PresentEntry() { return 0; }
template <typename F>
void Present(F& slot) {
  slot = reinterpret_cast<F>(reinterpret_cast<void (*)()>(&PresentEntry));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every image library present, so that every option can take a value.
  Present(g_FSIPCTLFucntion);
  Present(g_FSIPIMAGEFILTERFunction);
  Present(g_FSIP_DROPOUTCOLOREXFunction);
  Present(g_BPDFunction);
  Present(g_BGSmoothingFunction);
  Present(g_MergeImageFunction);
  Present(g_BinAutoFunction);
  static unsigned char ready = 1;
  g_pBinarizationInitialized = &ready;

  fuzz::Input in(data, size);
  const dravn::CatalogModel* models[] = {&dravn::kSelkoModels[0], &dravn::kSelko2Models[0],
                                         &dravn::kSelko2Models[2], &dravn::kBrennaModels[0]};
  const dravn::CatalogModel& m = *models[in.Pick(4)];
  const std::string path = fuzz::WriteFile("optdefault.xml", in.Rest(), in.RestSize());
  CreateOptList(m.vendorId, m.productId, path.c_str());
  return 0;
}
