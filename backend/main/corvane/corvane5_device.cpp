// The Corvane5 class's own commands: batch (exclusive-use) mode taken as
// its lamp step, and the power-off timer. Its identity, property, mode-page
// and window rules are hooks of the Corvane class's steps.
#include <cstring>

#include "devctl_codes.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

constexpr int kDiagText = 16;

}  // namespace

uint32_t KeloDevCtlCorvane5::DoTryLampOn() {
  static const char* const kTag = "KeloDevCtlCorvane5::DoTryLampOn";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint32_t result = DoBatch(true);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoBatch(true) != VK_OK ");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::DoBatch(bool batch) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoBatch";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (batch == m_bLocalOccupy) {
    Log(LOG_LEVEL_TRACE, kTag, "bBatch == m_bLocalOccupy end");
    return VK_OK;
  }
  const unsigned char cdb[6] = {0x15, 0x10, 0x00, 0x00, 0x0C, 0x00};
  unsigned char data[12] = {0, 0, 0, 0, 0x2C, 0x06, static_cast<unsigned char>(batch ? 0x00 : 0x01)};
  static const ExchangeWords kWords = {"Sending command to device failed", "Sending data to device failed", "Sending data to device failed", "It's failed to receive status byte", "Status not good"};
  const uint32_t result = Exchange(kTag, cdb, 6, kKeepTimeout, Phase::Out, data, sizeof data, kWords);
  // After any failed switch the scanner is not assumed held.
  m_bLocalOccupy = result == VK_OK ? batch : false;
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoGetDevicePowerOffTime(uint8_t* code, uint8_t* second) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoGetDevicePowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!code || !second) {
    Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  const unsigned char sendCdb[6] = {0x1D, 0x00, 0x00, 0x00, 0x10, 0x00};
  unsigned char text[kDiagText];
  memcpy(text, "GET POWOFF TIME ", kDiagText);
  static const ExchangeWords kFirst = {"Sending 1st command to device failed", "Sending parameter list to device failed", "Sending parameter list to device failed", "Receiving status byte for 1st command failed", nullptr};
  uint32_t result = Exchange(kTag, sendCdb, 6, kKeepTimeout, Phase::Out, text, kDiagText, kFirst);
  if (result != VK_OK) return result;
  const unsigned char receiveCdb[6] = {0x1C, 0x00, 0x00, 0x00, 0x02, 0x00};
  unsigned char reply[2] = {};
  static const ExchangeWords kSecond = {"Sending 2nd command to device failed", "Receiving data (in) failed", "Receiving data (in) failed", "Receiving status byte for 2nd command failed", "Status not good"};
  result = Exchange(kTag, receiveCdb, 6, kKeepTimeout, Phase::In, reply, sizeof reply, kSecond);
  if (result != VK_OK && result != QV_ERR_CTL_STATUS_NOT_GOOD) return result;
  *code = reply[0];
  *second = reply[1];
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoSetDevicePowerOffTime(uint8_t code, uint8_t second) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSetDevicePowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const unsigned char cdb[6] = {0x1D, 0x00, 0x00, 0x00, 0x12, 0x00};
  unsigned char data[kDiagText + 2];
  memcpy(data, "SET POWOFF TIME ", kDiagText);
  data[kDiagText] = code;
  data[kDiagText + 1] = second;
  static const ExchangeWords kWords = {"Sending  command to device failed", "Sending parameter list to device (out) failed", "Sending parameter list to device (out) failed", "Receive status byte for  command failed", "Status not good"};
  const uint32_t result =
      Exchange(kTag, cdb, 6, kKeepTimeout, Phase::Out, data, sizeof data, kWords);
  if (result == VK_OK) Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

uint32_t KeloDevCtlCorvane5::DoSetPowerOff(bool off, unsigned minutes) {
  static const char* const kTag = "KeloDevCtlCorvane5::DoSetPowerOff";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  uint8_t current = 0, currentSecond = 0;
  uint32_t result = DoGetDevicePowerOffTime(&current, &currentSecond);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoGetDevicePowerOffTime != VK_OK");
    return result;
  }
  uint8_t code, second;
  if (minutes >= 15 && minutes <= 1890 && minutes % 15 == 0) {
    code = static_cast<uint8_t>(minutes / 15);
    second = 30;
  } else if (minutes == 3) {
    code = 127;
    second = 6;
  } else {
    code = current & 0x7F;
    second = code == 127 ? 6 : 30;
  }
  result = off ? DoSetDevicePowerOffTime(static_cast<uint8_t>(code | 0x80), 30) : DoSetDevicePowerOffTime(code, second);
  if (result != VK_OK) {
    Log(LOG_LEVEL_ERROR, kTag, "DoSetDevicePowerOffTime != VK_OK");
    return result;
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane5::SetPowerOffTime(uint16_t minutes) {
  static const char* const kTag = "KeloDevCtlCorvane5::SetPowerOffTime";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  const uint32_t result = DoSetPowerOff(minutes == 0xFFFF, minutes);
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return result;
}

}  // namespace dravnmain
