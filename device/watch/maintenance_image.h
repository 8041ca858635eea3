// The 512-byte EEPROM image that the Selko, Selko2 and Brenna families build
// from their own maintenance data, and the codes its fields hold.
#ifndef DRAVN_DEVWATCH_MAINTENANCE_IMAGE_H
#define DRAVN_DEVWATCH_MAINTENANCE_IMAGE_H

#include <cstddef>
#include <cstdint>

namespace devwatch {

constexpr size_t kMaintenanceImageSize = 512;

// Sleep code of m minutes; the Brenna form differs for m not a multiple of 5.
unsigned char SleepCode(uint32_t minutes, bool brenna = false);
unsigned char AutoOffCode(uint32_t minutes);
// The serial text (a character of the 30-character alphabet, then five)
// read as a decimal number; its low 24 bits.
uint32_t SerialNumber(const unsigned char text[6]);
// Minutes of an image's sleep byte (bit 7: units of five) and auto-off byte
// (bit 7: off; else units of 15).
uint32_t SleepMinutesOf(unsigned char code);
uint32_t AutoOffMinutesOf(unsigned char code);

// The fields every family fills from its total count and the rest of its
// data, the others zero.
struct MaintenanceFields {
  uint32_t total = 0;
  uint32_t counter60 = 0;  // the counter whose count/500 goes to byte 60
  uint32_t sleepMinutes = 0;
  uint32_t autoOffMinutes = 0;
  unsigned char date[3] = {};  // image bytes 96, 97, 98
  unsigned char serial[6] = {};
  unsigned char word284[4] = {};
};
void FillMaintenanceImage(const MaintenanceFields& f, unsigned char image[kMaintenanceImageSize]);

}  // namespace devwatch

#endif
