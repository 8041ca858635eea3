#include "device_param.h"

#include <cstdlib>
#include <cstring>

#include "driver.h"
#include "unit_profile.h"

namespace {

struct Key {
  const char* name;
  const char* fallback;
  int slot;  // block entry, or bit of the mode word
};

const Key kInitParam[] = {
    {"CONTRAST_CORRECTION", "0", 0},   {"BRIGHTNESS_CORRECTION", "0", 1}, {"GAMMA_CORRECTION", "25", 2},
    {"EDGE", "0", 3},                  {"BACKGROUND", "0", 4},            {"MarkRemovalAdjustMode", "0", 19},
    {"TLC_PARAMETER", "0", 5},         {"TLA_PARAMETER", "0", 6},         {"NOISE_REMOVAL", "0", 7},
    {"GaussLogFilterM", "1", 10},      {"THREAD_NUM", "1", 11},           {"LINEINITADJUST_PARAMETER", "0", 12},
    {"TsenThreshold", "10", 13},       {"TBContThreshold", "50", 14},     {"BPixelRThreshold", "50", 15},
    {"MarkMode", "0", 20},             {"MarkOffsetX", "50", 21},         {"MarkOffsetY", "50", 22},
};

const Key kModeBits[] = {
    {"AUTO_CONTRAST", "1", 0},
    {"PRE_PROC", "1", 1},
    {"TEXT_LINE_CONNECTION", "0", 3},
    {"ANALYZE_BACKGROUND", "1", 2},
    {"TEXT_LINE_ADJUSTMENT", "0", 4},
    {"THREAD_AUTO", "0", 5},
    {"LINEINIT_ADJUST", "0", 6},
    {"AIQC_TsenThreshold_Mode", "0", 7},
    {"AIQC_TBContThreshold_Mode", "0", 8},
    {"AIQC_BPixelRThreshold_Mode", "0", 9},
    {"PreMedianFilter_Mode2", "0", 12},
    {"PreMedianFilter_Mode1", "0", 11},
    {"PreMedianFilter_Mode0", "0", 10},
    {"PreMedianFilterAutoMode", "0", 13},
    {"FunctionPress_Modeb3", "0", 31},
    {"FunctionPress_Modeb2", "0", 30},
    {"FunctionPress_Modeb1", "0", 29},
    {"FunctionPress_Modeb0", "0", 28},
};

const Key kFixParameters[] = {{"TextWide", "5", 8}, {"BackGroundStep", "4", 9}};

const Key kDeviceAddends[] = {
    {"CONTRAST_COR0", "0", 0}, {"BRIGHT_COR0", "0", 1}, {"GAMMA_COR0", "0", 2}, {"EDGE0", "0", 3}, {"BACKGROUND0", "0", 4},
};

int Read(const char* section, const Key& key, const char* path) {
  char text[256] = {};
  GetPrivateProfileString(section, key.name, key.fallback, text, sizeof text, path);
  return int(std::strtol(text, nullptr, 10));
}

}  // namespace

void GetDeviceParam(const char* profile, char* device, int* mode, int* params, int* kernel) {
  char path[256] = {};
  if (profile) std::strncpy(path, profile, sizeof path - 1);
  std::memset(params, 0, sizeof(int) * kBinParams);
  *mode = 0;
  for (const Key& k : kInitParam) params[k.slot] = Read("InitParam", k, path);
  // Values are not masked: a value above 1 reaches the bits above its own.
  for (const Key& k : kModeBits) *mode |= int(unsigned(Read("Mode", k, path)) << k.slot);
  CreateLogFilter(params[10] / 1000.0, 5, kernel);
  for (const Key& k : kFixParameters) params[k.slot] = Read("FixParameters", k, path);
  if (device)
    for (const Key& k : kDeviceAddends) params[k.slot] += Read(device, k, path);
}
