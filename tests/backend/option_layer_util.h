// Helpers of the option-layer tests: a table built for one device of the
// catalogue, with the image-library entries present or not.
#ifndef DRAVN_TESTS_OPTION_LAYER_UTIL_H
#define DRAVN_TESTS_OPTION_LAYER_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frontend_flags.h"
#include "image_libs.h"
#include "model_catalog.h"
#include "option_rules.h"
#include "option_table.h"
#include "prop_info.h"

namespace option_layer_test {

// Stands for a bound library entry; the option layer only tests presence.
inline int PresentEntry() { return 0; }

struct Libraries {
  bool control = true;
  bool filter = true;
  bool dropout = true;
  bool judge = true;
  bool smoothing = true;     // libtoneflat's unit, ready
  bool merge = true;         // libimgforge's MergeImage
  bool binarization = true;  // libbinarization's unit, ready
};

template <typename F>
void Present(F& slot, bool on) {
  slot = on ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(&PresentEntry)) : nullptr;
}

inline void BindLibraries(Libraries libs) {
  Present(g_FSIPCTLFucntion, libs.control);
  Present(g_FSIPIMAGEFILTERFunction, libs.filter);
  Present(g_FSIP_DROPOUTCOLOREXFunction, libs.dropout);
  Present(g_BPDFunction, libs.judge);
  Present(g_BGSmoothingFunction, libs.smoothing);
  g_pToneflatInitialized = nullptr;
  Present(g_MergeImageFunction, libs.merge);
  static unsigned char ready = 1;
  Present(g_BinAutoFunction, libs.binarization);
  g_pBinarizationInitialized = libs.binarization ? &ready : nullptr;
}

enum class FrontEnd { Other, Xsane, Scanimage, SimpleScan };

// Every process-wide flag the option layer reads, as at load.
inline void ResetState(FrontEnd frontEnd = FrontEnd::Other) {
  g_bIsXsane = frontEnd == FrontEnd::Xsane;
  g_bIsScanimage = frontEnd == FrontEnd::Scanimage;
  g_bIsSimpleScan = frontEnd == FrontEnd::SimpleScan;
  g_tSimpleScanConf = 0;
  g_bIsAutomatic = 1;
  g_stDravnIni = DRAVN_INI_INFO{};
  g_iTopLeftXReload = g_iTopLeftYReload = g_iBottomRightXReload = g_iBottomRightYReload = 1;
  g_iPageWidthReload = g_iPageHeightReload = 1;
  g_bIsReadDoubleBack = 0;
  g_bIsReadFrontUpper = g_bIsReadBackUpper = 1;
  g_pSelko2Link = nullptr;
  g_PropInfo = KELO_PROP_INFO{};
}

inline const dravn::CatalogModel& ModelOf(int devType) {
  if (devType < 3) return dravn::kSelkoModels[devType];
  if (devType < 6) return dravn::kSelko2Models[devType - 3];
  return dravn::kBrennaModels[0];
}

// Builds the table of a device type (0-2 Selko, 3-5 Selko2, 6 Brenna)
// without an option defaults file.
inline SANE_Status Open(int devType, Libraries libs = {}, const char* xml = "/nonexistent/optdefault.xml") {
  BindLibraries(libs);
  const dravn::CatalogModel& m = ModelOf(devType);
  return CreateOptList(m.vendorId, m.productId, xml);
}

constexpr int kSelko = 0, kSelko2 = 3, kBrenna = 6;

inline SANE_Status SetText(int option, const char* text, SANE_Int* info = nullptr) {
  char buffer[256] = {0};
  snprintf(buffer, sizeof buffer, "%s", text);
  return SetControlOption(option, buffer, info);
}

inline SANE_Status SetWord(int option, SANE_Word value, SANE_Int* info = nullptr) {
  return SetControlOption(option, &value, info);
}

inline std::string Text(int option) {
  char buffer[256] = {0};
  EXPECT_EQ(GetControlOption(option, buffer), SANE_STATUS_GOOD) << "option " << option;
  return buffer;
}

inline SANE_Word Word(int option) {
  SANE_Word v = -12345;
  EXPECT_EQ(GetControlOption(option, &v), SANE_STATUS_GOOD) << "option " << option;
  return v;
}

inline bool Active(int option) { return !(g_OptList[option].cap & SANE_CAP_INACTIVE); }

inline SANE_Word Mm(double mm) { return static_cast<SANE_Word>(mm * 65536.0); }

}  // namespace option_layer_test

#endif
