// A scanner's replies, changed by the input, read by a backend through the
// simulated scanners' libusb: a family's simulated device answers, and the
// "replay" device of sim/ replaces, patches, shortens or fails the IN
// transfers the input names (its record format is in
// sim/models/replay_model.cpp). The backend is driven as a front end drives
// it: init, open, a few options, then up to three pages read to their end.
//
// Built once per family: DRAVN_FUZZ_FAMILY (sim family), DRAVN_FUZZ_MODELS
// (catalogue rows), DRAVN_FUZZ_ENTRY (the backend's entry prefix).
#include <sane/sane.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "replay_device.h"

#define DRAVN_CAT2(a, b) a##b
#define DRAVN_CAT(a, b) DRAVN_CAT2(a, b)
#define ENTRY(name) DRAVN_CAT(DRAVN_FUZZ_ENTRY, name)

extern "C" {
SANE_Status ENTRY(init)(SANE_Int*, SANE_Auth_Callback);
void ENTRY(exit)();
SANE_Status ENTRY(open)(SANE_String_Const, SANE_Handle*);
void ENTRY(close)(SANE_Handle);
const SANE_Option_Descriptor* ENTRY(get_option_descriptor)(SANE_Handle, SANE_Int);
SANE_Status ENTRY(control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
SANE_Status ENTRY(start)(SANE_Handle);
SANE_Status ENTRY(read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
void ENTRY(cancel)(SANE_Handle);
}

namespace {

const auto& kModels = DRAVN_FUZZ_MODELS;
constexpr int kModelCount = sizeof kModels / sizeof kModels[0];

int OptionIndex(SANE_Handle h, const char* name) {
  for (int i = 1; i < 200; ++i) {
    const SANE_Option_Descriptor* d = ENTRY(get_option_descriptor)(h, i);
    if (!d) return -1;
    if (d->name && std::strcmp(d->name, name) == 0 && SANE_OPTION_IS_ACTIVE(d->cap) &&
        SANE_OPTION_IS_SETTABLE(d->cap))
      return i;
  }
  return -1;
}

// The option's lowest value (a range's minimum, a list's first or k-th entry).
void SetLow(SANE_Handle h, const char* name, unsigned k) {
  const int i = OptionIndex(h, name);
  if (i < 0) return;
  const SANE_Option_Descriptor* d = ENTRY(get_option_descriptor)(h, i);
  SANE_Word word = 0;
  char text[256] = {};
  void* value = &word;
  switch (d->constraint_type) {
    case SANE_CONSTRAINT_RANGE:
      word = d->constraint.range->min;
      break;
    case SANE_CONSTRAINT_WORD_LIST:
      if (d->constraint.word_list[0] < 1) return;
      word = d->constraint.word_list[1 + k % static_cast<unsigned>(d->constraint.word_list[0])];
      break;
    case SANE_CONSTRAINT_STRING_LIST: {
      unsigned n = 0;
      while (d->constraint.string_list[n]) ++n;
      if (n == 0) return;
      std::snprintf(text, sizeof text, "%s", d->constraint.string_list[k % n]);
      value = text;
      break;
    }
    default:
      if (d->type != SANE_TYPE_BOOL) return;
      word = static_cast<SANE_Word>(k & 1);
  }
  SANE_Int info = 0;
  ENTRY(control_option)(h, i, SANE_ACTION_SET_VALUE, value, &info);
}

void SetFixedMm(SANE_Handle h, const char* name, int mm) {
  const int i = OptionIndex(h, name);
  if (i < 0) return;
  SANE_Word v = SANE_FIX(mm);
  ENTRY(control_option)(h, i, SANE_ACTION_SET_VALUE, &v, nullptr);
}

// The first of the texts that the option's list offers.
void SetText(SANE_Handle h, const char* name, std::initializer_list<const char*> texts) {
  const int i = OptionIndex(h, name);
  if (i < 0) return;
  const SANE_Option_Descriptor* d = ENTRY(get_option_descriptor)(h, i);
  if (d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return;
  for (const char* t : texts)
    for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
      if (std::strcmp(*s, t) == 0) {
        char text[256];
        std::snprintf(text, sizeof text, "%s", t);
        ENTRY(control_option)(h, i, SANE_ACTION_SET_VALUE, text, nullptr);
        return;
      }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrivateFolders();
  std::vector<std::pair<unsigned, unsigned>> ids;
  for (const auto& m : kModels) ids.emplace_back(m.vendorId, m.productId);
  fuzz::ListInConfig(ids);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const auto& model = kModels[in.Pick(kModelCount)];
  const unsigned mode = in.Take<uint8_t>(), source = in.Take<uint8_t>(), sheets = 1 + in.Pick(2);
  char extra[64];
  std::snprintf(extra, sizeof extra, "set sheets=%u\n", sheets);
  const std::string name = fuzz::ReplayDevice(model, DRAVN_FUZZ_FAMILY, in.Rest(), in.RestSize(), extra);

  SANE_Int version = 0;
  if (ENTRY(init)(&version, nullptr) != SANE_STATUS_GOOD) return 0;
  SANE_Handle h = nullptr;
  if (ENTRY(open)(name.c_str(), &h) == SANE_STATUS_GOOD && h) {
    SetLow(h, "source", source);
    SetLow(h, "mode", mode);
    SetLow(h, "resolution", 0);
    SetLow(h, "page-auto", 0);
    // Small pages keep a run short. Brenna offers no card size, and a page
    // of its smallest fixed one takes seconds through the fringe filter
    // under the instrumentation: it scans a custom page as small as the
    // others unless the source byte's top three bits ask for B6.
    if (std::strcmp(DRAVN_FUZZ_FAMILY, "brenna") == 0 && (source & 0xE0) != 0xE0)
      SetText(h, "paper-size", {"Custom"});
    else
      SetText(h, "paper-size", {"Business-card", "B6", "A6"});
    SetFixedMm(h, "br-x", 30);
    SetFixedMm(h, "br-y", 30);
    SetFixedMm(h, "page-width", 30);
    SetFixedMm(h, "page-height", 30);
    static SANE_Byte buffer[32768];
    for (int page = 0; page < 3; ++page) {
      if (ENTRY(start)(h) != SANE_STATUS_GOOD) break;
      SANE_Status s = SANE_STATUS_GOOD;
      for (int reads = 0; reads < 4000 && s == SANE_STATUS_GOOD; ++reads) {
        SANE_Int got = 0;
        s = ENTRY(read)(h, buffer, sizeof buffer, &got);
      }
      if (s != SANE_STATUS_EOF) break;
    }
    ENTRY(cancel)(h);
    ENTRY(close)(h);
  }
  ENTRY(exit)();
  return 0;
}
