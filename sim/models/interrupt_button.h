// A scan button that reports on the interrupt endpoint: one 8-byte packet
// when it goes down and one when it comes up, and nothing in between, so
// the host's read times out. The button is held while a file exists.
#ifndef DRAVN_SIM_INTERRUPT_BUTTON_H
#define DRAVN_SIM_INTERRUPT_BUTTON_H

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace dravn_sim {

class InterruptButton {
 public:
  // `tag` is the packet's first byte; the second is 1 down, 0 up.
  InterruptButton(std::string path, uint8_t tag) : m_path(std::move(path)), m_tag(tag) {}

  int Read(uint8_t* data, int length) {
    const bool down = !m_path.empty() && access(m_path.c_str(), F_OK) == 0;
    if (down == m_down) return LIBUSB_ERROR_TIMEOUT;
    m_down = down;
    const uint8_t packet[8] = {m_tag, static_cast<uint8_t>(down ? 1 : 0)};
    const int n = std::min(length, static_cast<int>(sizeof packet));
    std::copy(packet, packet + n, data);
    return n;
  }

 private:
  std::string m_path;
  uint8_t m_tag;
  bool m_down = false;
};

}  // namespace dravn_sim

#endif
