#include "maintenance_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace devwatch {

unsigned char SleepCode(uint32_t minutes, bool brenna) {
  if (minutes == 0) return 0x83;
  if (minutes > 480) return 0xE0;
  if (minutes % 5 == 0) return static_cast<unsigned char>(0x80 + minutes / 5);
  if (brenna) return static_cast<unsigned char>(minutes > 60 ? 60 : minutes);
  return static_cast<unsigned char>(minutes & 0xFF);
}

unsigned char AutoOffCode(uint32_t minutes) {
  if (minutes == 0) return 0x80;
  if (minutes > 480) return 0x20;
  return static_cast<unsigned char>(minutes / 15);
}

uint32_t SerialNumber(const unsigned char text[6]) {
  static const char kAlphabet[] = "0123456789ABCDEFGHJKLMNPRTUVWY";
  const char* at = text[0] ? strchr(kAlphabet, text[0]) : nullptr;
  int first = at ? static_cast<int>(at - kAlphabet) : text[0];
  char number[32];
  snprintf(number, sizeof number, "%d%c%c%c%c%c", first, text[1], text[2], text[3], text[4], text[5]);
  return static_cast<uint32_t>(strtoul(number, nullptr, 10)) & 0xFFFFFF;
}

uint32_t SleepMinutesOf(unsigned char code) { return code & 0x80 ? (code & 0x7Fu) * 5 : code; }

uint32_t AutoOffMinutesOf(unsigned char code) { return code & 0x80 ? 0 : code * 15u; }

void FillMaintenanceImage(const MaintenanceFields& f, unsigned char image[kMaintenanceImageSize]) {
  memset(image, 0, kMaintenanceImageSize);
  image[38] = static_cast<unsigned char>((f.total % 500) / 10);
  image[41] = 0x0A;
  const uint32_t hundreds = f.total / 500;
  image[46] = static_cast<unsigned char>(hundreds);
  image[47] = static_cast<unsigned char>(hundreds >> 8);
  const uint32_t c60 = f.counter60 / 500;
  image[60] = static_cast<unsigned char>(c60);
  image[61] = static_cast<unsigned char>(c60 >> 8);
  image[64] = SleepCode(f.sleepMinutes);
  memcpy(image + 96, f.date, 3);
  const uint32_t serial = SerialNumber(f.serial);
  image[100] = static_cast<unsigned char>(serial >> 16);
  image[101] = static_cast<unsigned char>(serial >> 8);
  image[102] = static_cast<unsigned char>(serial);
  image[280] = AutoOffCode(f.autoOffMinutes);
  memcpy(image + 284, f.word284, 4);
  image[294] = static_cast<unsigned char>(f.total % 10);
}

}  // namespace devwatch
