#include "command_block_core.h"

#include <algorithm>
#include <cstring>

namespace dravn_sim {

int CommandBlockModel::BulkOut(const uint8_t* data, int length) {
  if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
  if (m_dataOutOpen) {
    size_t left = m_dataOutExpected - m_dataOut.size();
    size_t take = std::min(static_cast<size_t>(length), left);
    m_dataOut.insert(m_dataOut.end(), data, data + take);
    if (m_dataOut.size() == m_dataOutExpected)
      FinishDataOut(true);
    else if (take % kMaxPacket != 0)
      FinishDataOut(false);  // a short packet ends the host's data phase early
    return static_cast<int>(take);
  }
  // Anything but a whole command block is garbage to the firmware.
  if (length != kBlockSize || data[0] != 'C') return LIBUSB_ERROR_PIPE;
  memcpy(m_cdb, data + kCdbOffset, kCdbSize);
  m_in.clear();  // a new command drops what the host left unread
  m_status = kGood;
  if (m_cdb[0] == 0x03) {  // REQUEST SENSE: the sense of the last command, then cleared
    ReplyIn(Bytes(m_sense, m_sense + sizeof m_sense), m_cdb[4]);
    memset(m_sense, 0, sizeof m_sense);
    QueueStatus();
    return length;
  }
  DataOut out = OnCommand(m_cdb);
  if (out.length > 0) {
    m_dataOut.clear();
    m_dataOutExpected = out.length;
    m_dataOutOpen = true;
  } else {
    QueueStatus();
  }
  return length;
}

int CommandBlockModel::BulkIn(uint8_t* data, int length) {
  if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
  // The host asks for the status while data it owes has not all come.
  if (m_dataOutOpen) FinishDataOut(false);
  if (m_in.empty()) return LIBUSB_ERROR_TIMEOUT;
  Bytes& head = m_in.front();
  size_t n = std::min(head.size(), static_cast<size_t>(length));
  memcpy(data, head.data(), n);
  head.erase(head.begin(), head.begin() + static_cast<long>(n));
  if (head.empty()) m_in.pop_front();
  return static_cast<int>(n);
}

void CommandBlockModel::ReplyIn(Bytes reply, size_t length) {
  reply.resize(length, 0);
  if (!reply.empty()) m_in.push_back(std::move(reply));
}

void CommandBlockModel::CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
  m_status = kCheckCondition;
  memset(m_sense, 0, sizeof m_sense);
  m_sense[0] = 0x70;
  m_sense[2] = key;
  m_sense[7] = 10;
  m_sense[12] = asc;
  m_sense[13] = ascq;
}

void CommandBlockModel::SetSenseBits(bool endOfMedium, bool incorrectLength, uint32_t information) {
  m_sense[2] = static_cast<uint8_t>((m_sense[2] & 0x0F) | (endOfMedium ? 0x40 : 0) | (incorrectLength ? 0x20 : 0));
  for (int i = 0; i < 4; ++i) m_sense[3 + i] = static_cast<uint8_t>(information >> (24 - 8 * i));
}

void CommandBlockModel::PendSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  const uint8_t status = m_status;
  CheckCondition(key, asc, ascq);
  m_status = status;
}

void CommandBlockModel::FinishDataOut(bool complete) {
  m_dataOutOpen = false;
  OnDataOut(m_cdb, m_dataOut, complete);
  QueueStatus();
}

void CommandBlockModel::QueueStatus() {
  Bytes status(kStatusSize, 0);
  status[0] = 'S';
  status[9] = m_status;
  BeforeStatus(status);
  m_in.push_back(std::move(status));
}

}  // namespace dravn_sim
