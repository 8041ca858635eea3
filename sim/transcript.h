// The transcript named by DRAVN_SIM_TRANSCRIPT: one line per transfer,
// open, close, claim and release, without times so that tests can compare
// it (format in README.md). Several processes may append to one file.
#ifndef DRAVN_SIM_TRANSCRIPT_H
#define DRAVN_SIM_TRANSCRIPT_H

#include <cstdint>
#include <string>

namespace dravn_sim {

// Takes the file from DRAVN_SIM_TRANSCRIPT (read at libusb_init); unset or
// empty: no transcript.
void SimTranscriptConfigure();
bool SimTranscriptActive();
// Appends one line (a newline is added).
void SimTranscriptWrite(const std::string& line);
// The first 64 bytes in lower-case hex.
std::string SimHex(const uint8_t* data, int length);

}  // namespace dravn_sim

#endif
