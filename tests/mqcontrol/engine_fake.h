// The recording stand-in for libdevwatch (fake_devwatch.cpp) as the tests
// see it, and the engine's process-wide state set up per test.
#ifndef DRAVN_TESTS_MQCONTROL_ENGINE_FAKE_H
#define DRAVN_TESTS_MQCONTROL_ENGINE_FAKE_H

#include <cstdint>
#include <string>
#include <vector>

namespace engine_test {

using Bytes = std::vector<uint8_t>;

// One scanner as the fake plays it; every call appends a line to `calls`.
struct FakeDevice {
  std::vector<std::string> calls;
  std::string device;  // the device string of the last call
  Bytes working = Bytes(512, 0);
  Bytes persistent = Bytes(512, 0);
  Bytes factory = Bytes(512, 0);
  Bytes vpd = Bytes(100, 0);
  Bytes settings;      // settings blob data (without its 4-byte record)
  Bytes pattern;       // pattern blob data
  int mismatches = 0;  // persistent reads answering byte 328 changed
  bool failRead = false, failWrite = false, failLock = false, failInk = false;
  int putAnswer = 0;        // answer of both Set...Data entries
  std::vector<Bytes> puts;  // blobs the Set...Data entries got
  std::vector<std::string> inkTexts;
};
extern FakeDevice g_fake;

// The pauses the engine asked for, in microseconds (usleep of this program).
extern std::vector<unsigned> g_pauses;

enum class Variant { Full, NoWrite, Bare };

// Makes `model` the active device ("<model>:001:002") over the fake of the
// given variant, with the engine, image, flag sets and fake all cleared.
void UseFake(const std::string& model, Variant variant = Variant::Full);
// The same with the staged libdevwatch, loaded as the library loads it.
void UseDevwatch(const std::string& device);
void EndDevice();

// The image and device tables as two patterns that differ in every bit.
Bytes SourcePattern();
Bytes DevicePattern();

}  // namespace engine_test

#endif
