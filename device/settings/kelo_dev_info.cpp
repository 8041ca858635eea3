#include "kelo_dev_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "dvwc_calls.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"

namespace {

using DvwcFirmVersion = int(const char* device, unsigned char* buffer, unsigned short length);
using DvwcFlashLength = int(const char* device, unsigned short* length);
using DvwcFlash = int(const char* device, unsigned char* buffer, unsigned short size);
using DvwcErrorCount = int(const char* device, unsigned short* count);
using DvwcErrorData = int(const char* device, unsigned char* buffer, unsigned short count);

// The columns of the supported-scanner table that the record reads.
struct ModelRow {
  uint32_t caps;  // 0x01 paper, 0x04 pixel columns, 0x10 interface, 0x100 resolutions
  uint16_t paper;
  uint64_t width, length;
  uint16_t interfaceCode;
  uint32_t capabilityWord;
  uint16_t resolutions[6];
};

ModelRow RowOf(const dravn::CatalogModel& m) {
  using dravn::Family;
  switch (m.family) {
    case Family::Docuvane:
      return {0x115, 5, 5100, 8400, 0x10, 0x0C3, {300, 300, 600, 600, 50, 50}};
    case Family::Tavrin5:
    case Family::Tavrin5E:
    case Family::Saldex3:
    case Family::Gorlan:
      return {0x115, 2, 7016, 9921, 0x10, 0x1F7, {300, 300, 600, 600, 50, 50}};
    case Family::Zembl:
      return {0x105, 3, 1240, 1748, 0, 0x001, {200, 200, 300, 300, 100, 100}};
    case Family::Tavrin3:
    case Family::Tavrin4:
    case Family::Tavrin4LA:
    case Family::Dunmo:
      return {0x115, 1, 5100, 8400, 2, 0x04F, {300, 300, 600, 600, 50, 50}};
    default:
      return {0x115, 1, 5100, 8400, 0x10, 0x007, {300, 300, 600, 600, 50, 50}};
  }
}

const char* Active() { return g_cpActiveScannerName ? g_cpActiveScannerName : ""; }
bool Is(const char* name) { return name && std::strcmp(Active(), name) == 0; }
template <size_t N>
bool In(const char* const (&names)[N]) {
  for (const char* n : names)
    if (Is(n)) return true;
  return false;
}
template <size_t N>
bool InCatalog(const dravn::CatalogModel (&models)[N]) {
  for (const dravn::CatalogModel& m : models)
    if (Is(m.model) || Is(m.altModel)) return true;
  return false;
}

// The model lists that choose the record's branches.
const char* const kLegacyModel = "QuillQ300";
const char* const kKbMemoryModels[] = {"ZemblZ350", "QuillQ10", "QuillQ20"};
const char* const kIpc4Models[] = {"Tavrin4LA110", "Tavrin4LA120", "Tavrin4LA130", "Tavrin4LA140", "Tavrin4LA150"};
const char* const kOptionPair[] = {"Tv5E100", "Tv5E150"};
// The model whose flatbed flag is fixed, known by the start of its product text.
const char kFixedFlatbedProduct[] = "DocuvaneRK90";
// The firmware-text list, with the answer's length and whether text 3 is filled.
struct FirmwareModel {
  const char* model;
  unsigned short length;
  bool third;
};
const FirmwareModel kFirmwareModels[] = {{"DunmoD1200", 24, true}, {"DunmoD1600", 16, false}};

const FirmwareModel* FirmwareListed() {
  for (const FirmwareModel& f : kFirmwareModels)
    if (Is(f.model)) return &f;
  return nullptr;
}
bool Legacy() { return Is(kLegacyModel); }
bool Modern() {
  FtDeviceGroup g;
  if (FirmwareListed() || Legacy() || g.IsZembl() || g.IsVelmorakModelA() || g.IsVelmorakModelB() ||
      g.IsVelmorakModelD())
    return false;
  for (const dravn::CatalogModel& m : dravn::kAllModels)
    if (Is(m.model) || Is(m.altModel)) return true;
  return false;
}
// Flag 492 is fixed to 1 for these thirteen qv-series models.
bool Flag492() {
  return InCatalog(dravn::kTavrin3Models) || InCatalog(dravn::kTavrin4Models) || InCatalog(dravn::kDunmoModels) ||
         InCatalog(dravn::kZemblModels);
}
bool ScsiUsbModel() { return InCatalog(dravn::kTavrin3Models) || InCatalog(dravn::kTavrin4Models); }

const ModelRow* FindRow(const char* model, ModelRow* storage) {
  for (const dravn::CatalogModel& m : dravn::kAllModels)
    if (std::strcmp(model, m.model) == 0 || (m.altModel && std::strcmp(model, m.altModel) == 0)) {
      *storage = RowOf(m);
      return storage;
    }
  return nullptr;
}

template <size_t N>
void Put(char (&field)[N], const char* format, ...) __attribute__((format(printf, 2, 3)));
template <size_t N>
void Put(char (&field)[N], const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(field, N, format, args);
  va_end(args);
}
template <size_t N>
void Copy(char (&field)[N], const unsigned char* from, size_t count) {
  const size_t n = std::min(count, N - 1);
  std::memcpy(field, from, n);
  field[n] = '\0';
}

uint16_t Be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}
uint32_t Be24(const unsigned char* p) { return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]; }

}  // namespace

KeloDevInfo::KeloDevInfo(kelo_dev_info* record)
    : m_record(record), m_image(), m_vpd(), m_inquiry(), m_readSize(0) {
  std::memset(m_record, 0, sizeof *m_record);
}

int KeloDevInfo::OnInitDialog() {
  auto* inquiry = Dvwc<DvwcInquiry2>("dvwc_Inquiry2");
  auto* vpd = Dvwc<DvwcInquiryVpd>("dvwc_InquiryVPD");
  auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  if (!inquiry || !vpd || !get) return 0;
  // The inquiry answer can be 128 bytes; the record keeps the first 96.
  unsigned char standard[128] = {};
  if (!inquiry(g_cpActiveScanner, standard)) return 0;
  std::memcpy(m_inquiry, standard, sizeof m_inquiry);
  if (!vpd(g_cpActiveScanner, m_vpd, sizeof m_vpd, 0)) return 0;
  const int size = LookupDeviceValue(g_cpActiveScannerName, 5);
  if (size < 1 || size > 512) return 0;
  unsigned char image[512] = {};
  if (!get(g_cpActiveScanner, image, static_cast<unsigned short>(size))) return 0;
  std::memcpy(m_image, image, sizeof m_image);
  m_readSize = size;
  DevInfoBackUp();
  InitDeviceInformation(g_cpActiveScannerName);
  return 1;
}

int KeloDevInfo::DevInfoBackUp() {
  std::vector<unsigned char> record(kDumpSize, 0);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const int32_t vpdLength = 100;
  std::memcpy(&record[0], &now, sizeof now);
  std::memcpy(&record[20], &m_readSize, sizeof m_readSize);
  std::memcpy(&record[52], &vpdLength, sizeof vpdLength);
  std::memcpy(&record[260], m_image, static_cast<size_t>(std::clamp(m_readSize, 0, 512)));
  std::memcpy(&record[1284], m_inquiry, sizeof m_inquiry);
  std::memcpy(&record[1540], m_vpd, sizeof m_vpd);
  char path[512];
  std::snprintf(path, sizeof path, "%s/EEP%s.bin", DRAVN_DUMP_DIR, g_cpActiveScanner ? g_cpActiveScanner : "");
  // A shared directory: never follow a link planted at the name.
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  const bool written = write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  close(fd);
  return written ? 1 : 0;
}

int KeloDevInfo::IsIpcOnBoard() const {
  for (int k = 15; k >= 0; --k) {
    const unsigned char c = m_inquiry[16 + k];
    if (c < 'a' || c > 'z') return 0;
    if (c == 'i') return 1;
  }
  return 0;
}

char KeloDevInfo::ConvertSerialSEQTop(unsigned top) {
  static const char kLetters[] = "ABCDEFGHJKLMNPRTUVWY";
  return top >= 10 && top <= 29 ? kLetters[top - 10] : '\0';
}

char KeloDevInfo::ConvertSerialASCII(char c) { return c >= 0x20 && c <= 0x7E ? c : '$'; }

void KeloDevInfo::ConvertSerialSEQ(char* out, size_t size, unsigned sequence) {
  if (sequence < 1000000) {
    std::snprintf(out, size, "%06u", sequence);
    return;
  }
  const char top = ConvertSerialSEQTop(sequence / 100000);
  if (top)
    std::snprintf(out, size, "%c%05u", top, sequence % 100000);
  else
    std::snprintf(out, size, "%05u", sequence % 100000);
}

void KeloDevInfo::ConvertSerial(char* out, size_t size, const char* prefix, char letter, unsigned sequence) {
  if (prefix && prefix[0] && letter) {
    char shown[4] = {};
    for (int k = 0; k < 3 && prefix[k]; ++k) shown[k] = ConvertSerialASCII(prefix[k]);
    const char series = ConvertSerialASCII(letter);
    if (sequence > 2999999) {
      std::snprintf(out, size, "%s%c%06u", shown, series, sequence);
    } else {
      char number[16];
      ConvertSerialSEQ(number, sizeof number, sequence);
      std::snprintf(out, size, "%s%c%s", shown, series, number);
    }
    return;
  }
  std::snprintf(out, size, "%06u", sequence);
}

int KeloDevInfo::GetErrorCode(char* out) {
  auto* vpd = Dvwc<DvwcInquiryVpd>("dvwc_InquiryVPD");
  if (!vpd) return 0;
  unsigned char page[112 + 255] = {};
  if (!vpd(g_cpActiveScanner, page, 112, 0)) return 0;
  const int extension = page[111];
  if (extension == 0) return 0;
  const unsigned short length = static_cast<unsigned short>(112 + extension);
  if (!vpd(g_cpActiveScanner, page, length, 0)) return 0;
  // The error-log bit lies past a short extension.
  if (length <= 120 || !(page[120] & 0x08)) return 0;
  auto* count = Dvwc<DvwcErrorCount>("dvwc_GetErrorCodeLength");
  auto* data = Dvwc<DvwcErrorData>("dvwc_GetErrorCodeData");
  unsigned short entries = 0;
  if (!count || !data || !count(g_cpActiveScanner, &entries)) return 0;
  entries = Be16(reinterpret_cast<unsigned char*>(&entries));
  if (entries == 0) return 0;
  std::vector<unsigned char> log(static_cast<size_t>(entries) * 16, 0);
  if (!data(g_cpActiveScanner, log.data(), entries)) return 0;
  if (log[9] || log[10]) {
    out[0] = static_cast<char>(log[9]);
    out[1] = static_cast<char>(log[10]);
    out[2] = '\0';
  } else {
    std::strcpy(out, "00");
  }
  return 1;
}

void KeloDevInfo::InitDeviceInformation(const char* model) {
  if (!model) return;
  kelo_dev_info& r = *m_record;
  const unsigned char* vpd = m_vpd;
  FtDeviceGroup g;
  const bool legacy = Legacy();
  const bool modern = Modern();
  ModelRow storage;
  const ModelRow* row = FindRow(model, &storage);

  // 1. Identification; the product text ends at its first "#".
  Copy(r.vendor, m_inquiry + 8, 8);
  Copy(r.product, m_inquiry + 16, 16);
  if (char* hash = std::strchr(r.product, '#')) *hash = '\0';

  // 2. Firmware texts.
  unsigned char firmware[24] = {};
  bool haveFirmware = false;
  auto* version = Dvwc<DvwcFirmVersion>("dvwc_GetFirmVersion");
  if (const FirmwareModel* listed = FirmwareListed()) {
    if (version && version(g_cpActiveScanner, firmware, listed->length)) {
      haveFirmware = true;
      Copy(r.firmware1, firmware, 4);
      Copy(r.firmware2, firmware, 4);
      if (listed->third) Copy(r.firmware3, firmware, 4);
    }
  } else if (modern) {
    if (version && version(g_cpActiveScanner, firmware, 16)) {
      haveFirmware = true;
      Copy(r.revision, firmware, 4);
    }
  } else {
    Copy(r.revision, m_inquiry + 32, 4);
  }

  // 3. First use.
  if (modern) {
    if (m_image[97] && m_image[98])
      Put(r.initialUse, "%02d/%02d/%02d", m_image[96], m_image[97], m_image[98]);
    else
      Put(r.initialUse, "%s", "Not Registered");
  } else if (legacy) {
    if (m_image[35] && m_image[37])
      Put(r.initialUse, "%02d/%02d/%02d", Be16(m_image + 38), Be16(m_image + 34), Be16(m_image + 36));
    else
      Put(r.initialUse, "%s", "Not Registered");
  } else {
    Put(r.initialUse, "%s", "UNKNOWN");
  }

  // 4. Image memory.
  Put(r.imageMemory, "%d MB", (vpd[34] << 4) | (vpd[35] >> 4));

  // 5. Serial number.
  if (legacy) {
    if (m_image[46])
      Copy(r.serial, m_image + 46, 10);
    else
      Put(r.serial, "%s", "Not Defined");
  } else if (modern) {
    const unsigned current = Be24(m_image + 100);
    std::vector<unsigned char> factory;
    if (LookupSupportFunction(model, 6)) {
      auto* length = Dvwc<DvwcFlashLength>("dvwc_GetFLASHROMLength");
      auto* flash = Dvwc<DvwcFlash>("dvwc_GetFLASHROM");
      unsigned short size = 0;
      // The length arrives big-endian, as the device sends it.
      if (length && flash && length(g_cpActiveScanner, &size) &&
          (size = Be16(reinterpret_cast<unsigned char*>(&size))) >= 103) {
        factory.assign(size, 0);
        if (!flash(g_cpActiveScanner, factory.data(), size)) factory.clear();
      }
    }
    const bool prefixed = LookupSupportFunction(model, 5) != 0;
    auto prefixOf = [&](const unsigned char* data, size_t size, char* prefix, char* letter) {
      const int at = LookupDeviceValue(model, 3);
      const int letterAt = LookupDeviceValue(model, 4);
      if (at >= 0 && static_cast<size_t>(at) + 3 <= size) std::memcpy(prefix, data + at, 3);
      if (letterAt >= 0 && static_cast<size_t>(letterAt) < size) *letter = static_cast<char>(data[letterAt]);
    };
    char prefix[4] = {}, letter = 0, text[32];
    if (prefixed) prefixOf(m_image, sizeof m_image, prefix, &letter);
    ConvertSerial(text, sizeof text, prefixed ? prefix : nullptr, letter, current);
    if (current == 0) {
      Put(r.serial, "%s", "Not Defined");
    } else {
      std::string shown(text, strnlen(text, 16));
      if (!factory.empty()) {
        const unsigned original = Be24(factory.data() + 100);
        char factoryPrefix[4] = {}, factoryLetter = 0, factoryText[32];
        if (prefixed) prefixOf(factory.data(), factory.size(), factoryPrefix, &factoryLetter);
        ConvertSerial(factoryText, sizeof factoryText, prefixed ? factoryPrefix : nullptr, factoryLetter, original);
        if (original != 0 && original != 0xFFFFFF && std::strcmp(factoryText, text) != 0)
          shown = std::string(factoryText, strnlen(factoryText, 16)) + " *";
      }
      Put(r.serial, "%s", shown.c_str());
    }
  }

  // 6. Resolutions, window and paper size.
  static const int kResolutionAt[6] = {5, 7, 10, 12, 14, 16};
  auto fromVpd = [&] {
    for (int k = 0; k < 6; ++k) Put(r.resolution[k], "%u dpi", Be16(vpd + kResolutionAt[k]));
  };
  auto windowFromVpd = [&] {
    Put(r.windowWidth, "%lu pixel", static_cast<unsigned long>(Be32(vpd + 20)));
    Put(r.windowLength, "%lu pixel", static_cast<unsigned long>(Be32(vpd + 24)));
  };
  bool restSkipped = false;
  if (g.IsSelkoFamily() || g.IsBrenna()) {
    fromVpd();
    windowFromVpd();
    Put(r.paperSize, "%s", "A4/Legal Size");
    restSkipped = true;
  } else if (g.IsVelmorak()) {
    restSkipped = true;
  } else if (row) {
    if (row->caps & 0x100)
      for (int k = 0; k < 6; ++k) Put(r.resolution[k], "%u dpi", row->resolutions[k]);
    else
      fromVpd();
    if (row->caps & 0x04) {
      Put(r.windowWidth, "%lu pixel", static_cast<unsigned long>(row->width));
      Put(r.windowLength, "%lu pixel", static_cast<unsigned long>(row->length));
    } else {
      windowFromVpd();
    }
    if (row->caps & 0x01) {
      const char* paper = row->paper == 1   ? "A4/Legal Size"
                          : row->paper == 2 ? "A3/Double Legal Size"
                          : row->paper == 3 ? "A6"
                          : row->paper == 5 ? "A4"
                                            : "";
      Put(r.paperSize, "%s", paper);
    }
  }

  if (!restSkipped && row) {
    // 7. Flags of VPD bytes 28 and 32.
    if (legacy) {
      int32_t* flags[] = {&r.vpd28Bit02, &r.vpd28Bit04, &r.vpd28Bit08, &r.vpd28High, &r.vpd32Bit02,
                          &r.vpd32Bit10, &r.vpd32Bit20, &r.vpd32Bit40, &r.vpd32Bit80};
      const int32_t fixed[] = {1, 1, 1, 1, 1, 0, 0, 1, 1};
      for (int k = 0; k < 9; ++k) *flags[k] = fixed[k];
    } else {
      r.vpd28Bit02 = vpd[28] & 0x02;
      r.vpd28Bit04 = vpd[28] & 0x04;
      r.vpd28Bit08 = vpd[28] & 0x08;
      r.vpd28High = vpd[28] & 0xE0;
      r.vpd32Bit02 = vpd[32] & 0x02;
      r.vpd32Bit10 = vpd[32] & 0x10;
      r.vpd32Bit20 = vpd[32] & 0x20;
      r.vpd32Bit40 = std::strncmp(r.product, kFixedFlatbedProduct, sizeof kFixedFlatbedProduct - 1) == 0
                         ? 1
                         : vpd[32] & 0x40;
      r.vpd32Bit80 = vpd[32] & 0x80;
    }

    // 8. Memory, step counts, nibbles and the image-processing option.
    if (In(kKbMemoryModels)) {
      Put(r.memory, "%d KB", static_cast<int>(Be32(vpd + 34) / 1024));
    } else if (!legacy) {
      const unsigned long value =
          (static_cast<unsigned long>(vpd[36]) << 24 | vpd[37] << 16 | vpd[34] << 8 | vpd[35]) >> 4;
      if (value) Put(r.memory, "%lu MB", value);
    }
    for (int k = 0; k < 3; ++k) {
      const unsigned steps = legacy ? 255 : vpd[82 + k];
      if (steps)
        Put(r.steps[k], "%u Steps", steps);
      else
        Put(r.steps[k], "%s", k != 1 && modern ? "Use LUT" : "No");
    }
    if (legacy) {
      r.vpd86High = 1;
      r.vpd87High = 1;
    } else {
      r.vpd86High = vpd[86] >> 4;
      r.vpd86Low = vpd[86] & 0x0F;
      r.vpd87High = vpd[87] >> 4;
      r.vpd87Low = vpd[87] & 0x0F;
      r.vpd88Bit01 = vpd[88] & 0x01;
      r.vpd89Bit80 = vpd[89] & 0x80;
      r.vpd89Bit40 = vpd[89] & 0x40;
    }
    if (!IsIpcOnBoard())
      Put(r.imageProcessing, "%s", "No");
    else if (In(kIpc4Models))
      Put(r.imageProcessing, "%s", "Yes(IPC4/IPC4d)");
    else
      Put(r.imageProcessing, "%s", vpd[89] & 0x20 ? "Yes(IPC3/IPC3d)" : "Yes(IPC2/IPC2d)");

    // 9. Flags of VPD bytes 88 and 90.
    if (!legacy) {
      const int bits88[] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04};
      for (int k = 0; k < 6; ++k) r.vpd88Flags[k] = vpd[88] & bits88[k];
      r.vpd88Flags[6] = Flag492() ? 1 : 0;
      r.vpd88Flags[7] = vpd[88] & 0x02;
      r.vpd90 = vpd[90];
      if (vpd[90])
        for (int k = 0; k < 7; ++k) r.vpd90Flags[k] = vpd[90] & (0x80 >> k);

      // 10. Option units.
      auto unit = [&](kelo_dev_info::OptionUnit& u, unsigned char b, int firmwareAt) {
        if (!(b & 0xE0)) return;
        u.present = 1;
        u.details[0] = b & 0x80;
        u.details[1] = b & 0x40;
        u.details[2] = b & 0x20;
        u.details[3] = b & 0x0F;
        if (haveFirmware) Copy(u.firmware, firmware + firmwareAt, 4);
      };
      if (In(kOptionPair)) {
        unit(r.unit[0], vpd[93], 12);
        unit(r.unit[1], vpd[92], 8);
      } else {
        unit(r.unit[0], vpd[92], 8);
      }
    }

    // 11. Model capabilities.
    const uint32_t masks[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x400, 0x80, 0x100, 0x800};
    for (int k = 0; k < 11; ++k) r.capabilities[k] = static_cast<int32_t>(row->capabilityWord & masks[k]);
  }

  // 12. Interface and power; 13. the last error code.
  if (!row || !(row->caps & 0x10)) return;
  switch (row->interfaceCode) {
    case 1:
      r.rowInterface = "SCSI";
      break;
    case 2:
      r.rowInterface = ScsiUsbModel() ? "SCSI/USB" : "SCSI-I/SCSI-II";
      break;
    case 0x10:
      r.rowInterface = g.IsDocuvane() ? "USB/LAN" : "USB";
      break;
    default:
      break;
  }
  if (modern || legacy) {
    const unsigned char b = vpd[legacy ? 95 : 98];
    static const char* const kInterfaces[] = {"SCSI", "USB 1.1", "USB 2.0", "USB 3.0"};
    r.deviceInterface = (b & 0x0F) < 4 ? kInterfaces[b & 0x0F] : "";
    if (LookupSupportFunction(model, 4)) r.powerSupply = b & 0x10 ? "USB Bus Power" : "AC Power";
  }
  if (!legacy && !g.IsSelkoFamily()) {
    std::memset(r.errorCode, 0, sizeof r.errorCode);
    char code[3] = {};
    if (GetErrorCode(code)) Put(r.errorCode, "%s", code);
  }
}
