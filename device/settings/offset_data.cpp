#include "offset_data.h"

#include <cstring>

#include "dvwc_calls.h"
#include "field_merge.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"

namespace {

// Which layout a model's offsets take. The qv-series names that no family
// test covers are this library's configuration.
const char* const kOlderFiveBit[] = {"ZemblZ350", "QuillQ410", "QuillQ420", "QuillQ510", "QuillQ520"};
const char* const kOlderSixBit[] = {"QuillQ10", "QuillQ20", "QuillQ30", "QuillQ40", "QuillQ60", "QuillQ70"};
const char* const kMainReadOnly[] = {"QuillQ530", "QuillQ540", "QuillQ610", "QuillQ620", "QuillQ710", "QuillQ720"};
const char* const kEndOfPageModel = "DunmoD1600";
const char* const kPositionPairModel = "DunmoD1200";
const char* const kNoFlatbedRk[] = {"DocuvaneRK50", "DocuvaneRK70"};
// Feeder-only models: those the function profiles configure without a
// flatbed (every written form), and the older qv-series ones.
const char* const kNoFlatbedQv[] = {
    "Vantor410",    "vantor410",    "Vantor520",    "Pilvo700",     "pilvo700",     "Tavrin4T3000", "Tavrin4T4000",
    "Tavrin4LA160", "Tavrin4LA170", "Tavrin4LA180", "Tavrin4LA190", "Tavrin4LA200", "Tavrin3T2000", "Tavrin3T4000",
    "Tavrin3T6000", "dunmoMe2M40",  "DunmoMe2M50",  "dunmoMe2M50",  "Saldex800",    "Tv5A100",      "Tv5A200",
    "Tv5A300",      "Tv5A400",      "Feyra2F90",    "ZemblZ350",    "Tv5E100",      "Tv5E150",      "Tv5E200",
    "Tv5E250",      "Tv5E300",      "QuillQ10",     "QuillQ20",     "QuillQ30",     "QuillQ40"};
const char* const kModelFlagQv[] = {"QuillQ300", "QuillQ810", "QuillQ910"};

const char* Active() { return g_cpActiveScannerName ? g_cpActiveScannerName : ""; }

template <size_t N>
bool In(const char* const (&names)[N]) {
  for (const char* n : names)
    if (std::strcmp(Active(), n) == 0) return true;
  return false;
}
template <size_t N>
bool InCatalog(const dravn::CatalogModel (&models)[N]) {
  for (const dravn::CatalogModel& m : models)
    if (std::strcmp(Active(), m.model) == 0 || (m.altModel && std::strcmp(Active(), m.altModel) == 0)) return true;
  return false;
}
bool Is(const char* name) { return std::strcmp(Active(), name) == 0; }

// The Tavrin3 and Tavrin4 names, which the front end may also change.
bool WritableQv() { return InCatalog(dravn::kTavrin3Models) || InCatalog(dravn::kTavrin4Models); }
bool MainLayoutQv() { return WritableQv() || In(kMainReadOnly); }
bool OffsetsQv() {
  return MainLayoutQv() || In(kOlderFiveBit) || In(kOlderSixBit) || Is(kEndOfPageModel) || Is(kPositionPairModel);
}

int16_t Be16(int at) { return static_cast<int16_t>(g_byEEPData[at] << 8 | g_byEEPData[at + 1]); }
// The difference of two positions in steps of 12, toward zero.
int32_t PositionPair(int at, int base) { return static_cast<int16_t>(Be16(at) - Be16(base)) / 12; }

void DecodePair(int at, int32_t* low, int32_t* high) {
  *low = OffsetOfNibble(g_byEEPData[at] & 0x0F);
  *high = OffsetOfNibble(g_byEEPData[at] >> 4);
}
void EncodePair(int at, int32_t low, int32_t high) {
  g_byEEPData[at] = static_cast<unsigned char>(NibbleOfOffset(low) | NibbleOfOffset(high) << 4);
}

void Mark(int entry) {
  const uint32_t one = 1;
  std::memcpy(g_Tavrin3modFlags + entry * 4, &one, sizeof one);
}

}  // namespace

int OffsetOfNibble(unsigned nibble) { return nibble & 0x08 ? -static_cast<int>(nibble & 0x07) : nibble & 0x07; }
unsigned NibbleOfOffset(int value) {
  return value >= 0 ? static_cast<unsigned>(value) & 0x07 : (static_cast<unsigned>(-value) & 0x07) | 0x08;
}
int MagnificationOfByte(unsigned char b, int magnitudeBits) {
  const int magnitude = b & ((1 << magnitudeBits) - 1);
  return b & 0x80 ? -magnitude : magnitude;
}
unsigned char ByteOfMagnification(int value) {
  return static_cast<unsigned char>(value >= 0 ? value & 0x3F : ((-value) & 0x3F) | 0x80);
}

void GetOffSetDataOf(kelo_offset_data* d) {
  FtDeviceGroup g;
  d->offsetsSupported = (g.IsTavrin4LA() || g.IsDocuvane() || g.IsTavrin5() || g.IsPilvo() || g.IsTavrin5E() ||
                         g.IsGorlan() || g.IsSaldex3() || OffsetsQv())
                            ? 1
                            : 0;
  d->flatbed = In(kNoFlatbedRk) || In(kNoFlatbedQv) || g.IsGorlan() || g.IsSaldex3() ? 0 : 1;
  d->modelFlag = g.IsRuvik() || In(kModelFlagQv) ? 1 : 0;

  const bool fiveBit = In(kOlderFiveBit);
  if (fiveBit || In(kOlderSixBit)) {
    const int bits = fiveBit ? 5 : 6;
    DecodePair(220, &d->adfFrontMain, &d->adfFrontSub);
    DecodePair(221, &d->adfBackMain, &d->adfBackSub);
    DecodePair(222, &d->flatbedMain, &d->flatbedSub);
    d->adfMagnification = MagnificationOfByte(g_byEEPData[218], bits);
    d->flatbedMagnification = MagnificationOfByte(g_byEEPData[219], bits);
  } else if (g.IsTavrin4LA() || g.IsDocuvane() || g.IsTavrin5() || g.IsRuvik() || g.IsGorlan() || g.IsTavrin5E() ||
             MainLayoutQv()) {
    DecodePair(53, &d->adfFrontMain, &d->adfFrontSub);
    DecodePair(54, &d->adfBackMain, &d->adfBackSub);
    DecodePair(55, &d->flatbedMain, &d->flatbedSub);
    d->adfMagnification = MagnificationOfByte(g_byEEPData[56], 5);
    d->flatbedMagnification = MagnificationOfByte(g_byEEPData[57], 5);
  } else if (Is(kEndOfPageModel)) {
    DecodePair(53, &d->adfFrontMain, &d->adfFrontSub);
    DecodePair(54, &d->adfBackMain, &d->adfBackSub);
    DecodePair(55, &d->adfFrontEnd, &d->adfBackEnd);
    d->adfMagnification = MagnificationOfByte(g_byEEPData[56], 5);
    d->flatbedMagnification = MagnificationOfByte(g_byEEPData[57], 5);
  } else if (g.IsSaldex3()) {
    DecodePair(53, &d->adfFrontMain, &d->adfFrontSub);
    DecodePair(54, &d->adfBackMain, &d->adfBackSub);
    DecodePair(359, &d->adfFrontEnd, &d->adfBackEnd);
    d->adfMagnification = MagnificationOfByte(g_byEEPData[56], 5);
  } else if (Is(kPositionPairModel)) {
    d->flatbedSub = PositionPair(16, 76);
    d->flatbedMain = PositionPair(18, 78);
    d->adfFrontSub = PositionPair(20, 80);
    d->adfFrontMain = -PositionPair(22, 82);
  } else {
    d->flatbedMain = d->flatbedSub = d->adfFrontMain = d->adfFrontSub = d->adfBackMain = d->adfBackSub = 0;
    d->flatbedMagnification = d->adfMagnification = 0;
  }
  d->endOfPageSupported = !g_bPwdProtect && (Is(kEndOfPageModel) || g.IsSaldex3()) ? 1 : 0;
}

int SetOffSetDataOf(const kelo_offset_data* d) {
  FtDeviceGroup g;
  const bool main = g.IsTavrin4LA() || g.IsDocuvane() || g.IsTavrin5() || g.IsRuvik() || WritableQv() ||
                    g.IsTavrin5E();
  const bool endOfPage = Is(kEndOfPageModel);
  const bool saldex3 = g.IsSaldex3();
  // A model without a write encoding would only rewrite unchanged bytes.
  if (!main && !endOfPage && !saldex3) return 0;

  EncodePair(53, d->adfFrontMain, d->adfFrontSub);
  EncodePair(54, d->adfBackMain, d->adfBackSub);
  g_byEEPData[56] = ByteOfMagnification(d->adfMagnification);
  if (saldex3) {
    EncodePair(359, d->adfFrontEnd, d->adfBackEnd);
    Mark(6);
    Mark(7);
  } else {
    if (endOfPage)
      EncodePair(55, d->adfFrontEnd, d->adfBackEnd);
    else
      EncodePair(55, d->flatbedMain, d->flatbedSub);
    g_byEEPData[57] = ByteOfMagnification(d->flatbedMagnification);
    Mark(6);
  }

  auto* write = Dvwc<DvwcWriteEeprom>("dvwc_WriteEEPROM");
  if (!write) return 0;
  int done = write(g_cpActiveScanner, g_byEEPData + 53, 5, 53);
  if (done && std::strcmp(Active(), dravn::kSaldex3Models[0].model) == 0)
    done = write(g_cpActiveScanner, g_byEEPData + 359, 1, 359);
  // A write the device did not commit is lost at its next power cycle: a
  // refused commit is a failed write.
  if (auto* lock = Dvwc<DvwcLockEeprom>("dvwc_LockEEPROM"))
    if (lock(g_cpActiveScanner) != 1) done = 0;
  return done ? 1 : 0;
}
