// Reading the scan button by family, and the first-read date of the
// command-block models, on the open record of the active-device list.
#include <cstring>
#include <ctime>
#include <memory>

#include "scan_manager.h"
#include "selko2_exchange.h"

namespace {

constexpr unsigned kBulkTimeoutMs = 15000;
constexpr unsigned kInterruptTimeoutMs = 1000;
constexpr int kCommandBlockSize = 31;
constexpr int kCdbOffset = 19;
constexpr int kStatusBlockSize = 13;
constexpr int kHardwareStatusSize = 12;
constexpr int kInterruptPacketSize = 8;
constexpr int kButtonRecordSize = 64;
constexpr uint32_t kButtonHeld = 2;
constexpr uint32_t kLockedElsewhere = 1;

libusb_device_handle* Handle(int index) {
  if (index < 0 || index >= ACTIVE_DEVICE_MAX) return nullptr;
  return g_taActiveDevList[index].ptHandle;
}

// The Selko2 steps over the record's bulk endpoints.
class RecordTransport : public Selko2Transport {
 public:
  explicit RecordTransport(int index) : m_index(index) {}
  bool BulkOut(const unsigned char* data, uint32_t length) override {
    return RawWriteData(data, static_cast<int>(length), m_index) == 1;
  }
  int BulkIn(unsigned char* data, uint32_t length) override {
    libusb_device_handle* h = Handle(m_index);
    if (!h) return LIBUSB_ERROR_NO_DEVICE;
    int n = 0;
    int r = libusb_bulk_transfer(h, static_cast<unsigned char>(g_taActiveDevList[m_index].dwBulkIn), data,
                                 static_cast<int>(length), &n, kBulkTimeoutMs);
    return r == 0 || n > 0 ? n : r;
  }

 private:
  int m_index;
};

// The two button commands of the Selko2 set.
constexpr Selko2Command kReadButton{0x28, 0x79, 1, kButtonRecordSize, Selko2Reply::Status};
constexpr Selko2Command kEndButton{0x14, 0x79, 0, 0, Selko2Reply::Status};

bool Selko2Exchange(RecordTransport& t, const Selko2Command& command, unsigned char* status, size_t size) {
  _FCL_CMD block;
  CreateCommand(&block, command);
  return Selko2SendCommand(t, block, status, size);
}

int ReadInterruptPacket(int index, unsigned char (&packet)[kInterruptPacketSize], bool* timedOut) {
  int count = 0;
  *timedOut = false;
  if (!RawReadInterruptData(packet, kInterruptPacketSize, &count, index)) return -1;
  *timedOut = count == 0;
  return 0;
}

}  // namespace

int RawWriteData(const unsigned char* data, int length, int index) {
  libusb_device_handle* h = Handle(index);
  if (!h || !data || length < 0) return 0;
  int n = 0;
  int r = libusb_bulk_transfer(h, static_cast<unsigned char>(g_taActiveDevList[index].dwBulkOut),
                               const_cast<unsigned char*>(data), length, &n, kBulkTimeoutMs);
  return r == 0 && n == length ? 1 : 0;
}

int RawReadData(unsigned char* data, int length, int* count, int index) {
  if (count) *count = 0;
  libusb_device_handle* h = Handle(index);
  if (!h || !data || length < 0) return 0;
  int n = 0;
  int r = libusb_bulk_transfer(h, static_cast<unsigned char>(g_taActiveDevList[index].dwBulkIn), data, length, &n,
                               kBulkTimeoutMs);
  if (count) *count = n;
  return r == 0 && n == length ? 1 : 0;
}

int RawWriteCommand(const unsigned char* cdb, int length, int index) {
  if (!cdb || length < 0 || length > kCommandBlockSize - kCdbOffset) return 0;
  unsigned char block[kCommandBlockSize] = {};
  block[0] = 'C';
  memcpy(block + kCdbOffset, cdb, static_cast<size_t>(length));
  return RawWriteData(block, kCommandBlockSize, index);
}

int RawReadStatus(unsigned char* status, int index) {
  unsigned char block[kStatusBlockSize] = {};
  int n = 0;
  if (!RawReadData(block, kStatusBlockSize, &n, index) || block[0] != 'S') return 0;
  if (status) *status = block[9] & 0x3E;
  return 1;
}

int DoScanButtonRecieve(unsigned char* data, int length, int index) {
  int n = 0;
  unsigned char status = 0;
  return RawReadData(data, length, &n, index) && RawReadStatus(&status, index) ? 1 : 0;
}

int RawReadInterruptData(unsigned char* data, int length, int* count, int index) {
  if (count) *count = 0;
  libusb_device_handle* h = Handle(index);
  if (!h || !data || length < 0) return 0;
  int n = 0;
  int r = libusb_interrupt_transfer(h, static_cast<unsigned char>(g_taActiveDevList[index].dwIntIn), data, length, &n,
                                    kInterruptTimeoutMs);
  if (r == LIBUSB_ERROR_TIMEOUT) return 1;  // nothing to report: count stays 0
  if (count) *count = n;
  return r == 0 && n == length ? 1 : 0;
}

int GetScanButtonStatusByInterrupt(int index) {
  unsigned char packet[kInterruptPacketSize] = {};
  bool timedOut = false;
  if (ReadInterruptPacket(index, packet, &timedOut) != 0) return -1;
  if (timedOut) return 0;
  return packet[0] == 0x0A && packet[1] == 1 ? 1 : 0;
}

int GetScanButtonStatusByInterruptEvent(int index) {
  unsigned char packet[kInterruptPacketSize] = {};
  bool timedOut = false;
  if (ReadInterruptPacket(index, packet, &timedOut) != 0) return -1;
  if (timedOut) return 0;
  return packet[0] == 0x81 && packet[1] != 0 ? 1 : 0;
}

int GetScanButtonStatusByCommand(int index) {
  RecordTransport t(index);
  _FCL_DEVICE_STATUS_EXT ext{};
  if (!Selko2Exchange(t, selko2::kGetHardwareStatusExt, ext.bytes, sizeof ext.bytes)) return -1;
  // Another host or a live process holds the scanner's lock: its button is
  // not ours to read. A lock that an ended run of this host left holds no
  // one: the scan a press starts takes it over.
  if (ext.dwLockStatus() == kLockedElsewhere) {
    unsigned char owner[FCL_LOCK_OWNER_SIZE] = {};
    _FCL_DEVICE_STATUS status{};
    if (!Selko2Exchange(t, selko2::kReadLockOwner, status.bytes, sizeof status.bytes) ||
        !Selko2GetData(t, owner, sizeof owner))
      return -1;
    if (WhoHoldsSelko2Lock(owner) != Selko2LockHolder::Gone) return 0;
  }
  auto record = std::make_unique<unsigned char[]>(kButtonRecordSize);
  _FCL_DEVICE_STATUS status{};
  if (!Selko2Exchange(t, kReadButton, status.bytes, sizeof status.bytes) ||
      !Selko2GetData(t, record.get(), kButtonRecordSize))
    return -1;
  if (!Selko2Exchange(t, kEndButton, status.bytes, sizeof status.bytes)) return -1;
  return GetLe32(record.get()) == kButtonHeld ? 1 : 0;
}

int GetScanButtonStatusByHardwareStatus(int index) {
  static const unsigned char kCdb[10] = {0xC2, 0, 0, 0, 0, 0, 0, 0, kHardwareStatusSize, 0};
  unsigned char data[kHardwareStatusSize] = {};
  if (!RawWriteCommand(kCdb, sizeof kCdb, index) || !DoScanButtonRecieve(data, kHardwareStatusSize, index)) return -1;
  return data[4] & 0x01;
}

int CheckButtonStatus(int index) {
  if (!Handle(index)) return -1;
  switch (ButtonKindOf(g_taActiveDevList[index].iDeviceType)) {
    case BUTTON_BY_INTERRUPT:
      return GetScanButtonStatusByInterrupt(index);
    case BUTTON_BY_INTERRUPT_EVENT:
      return GetScanButtonStatusByInterruptEvent(index);
    case BUTTON_BY_COMMAND:
      return GetScanButtonStatusByCommand(index);
    case BUTTON_BY_HARDWARE_STATUS:
      break;
  }
  return GetScanButtonStatusByHardwareStatus(index);
}

int GetSelfTestDate(uint8_t* year, uint8_t* month, uint8_t* day, int index) {
  static const unsigned char kSend[6] = {0x1D, 0, 0, 0, 0x10, 0};
  static const unsigned char kReceive[6] = {0x1C, 0, 0, 0, 0x04, 0};
  static const char kText[] = "GET FIRST DATE  ";
  unsigned char data[4] = {};
  unsigned char status = 0xFF;
  int n = 0;
  if (!RawWriteCommand(kSend, sizeof kSend, index) ||
      !RawWriteData(reinterpret_cast<const unsigned char*>(kText), 16, index) || !RawReadStatus(&status, index) ||
      !RawWriteCommand(kReceive, sizeof kReceive, index) || !RawReadData(data, sizeof data, &n, index) ||
      !RawReadStatus(&status, index) || status != 0)
    return 0;
  *year = data[1];
  *month = data[2];
  *day = data[3];
  return 1;
}

int SetSelfTestDate(uint8_t year, uint8_t month, uint8_t day, int index) {
  static const unsigned char kSend[6] = {0x1D, 0, 0, 0, 0x14, 0};
  static const unsigned char kReceive[6] = {0x1C, 0, 0, 0, 0x01, 0};
  unsigned char record[20];
  memcpy(record, "FIRST READ DATE ", 16);
  record[16] = 0;
  record[17] = year;
  record[18] = month;
  record[19] = day;
  unsigned char answer = 0xFF;
  unsigned char status = 0xFF;
  int n = 0;
  if (!RawWriteCommand(kSend, sizeof kSend, index) || !RawWriteData(record, sizeof record, index) ||
      !RawReadStatus(&status, index) || !RawWriteCommand(kReceive, sizeof kReceive, index) ||
      !RawReadData(&answer, 1, &n, index) || !RawReadStatus(&status, index))
    return 0;
  return status == 0 && answer == 0 ? 1 : 0;
}

int SetFirstReadDate(int index) {
  uint8_t year = 0, month = 0, day = 0;
  if (!GetSelfTestDate(&year, &month, &day, index)) return 0;
  if (year != 0 && month != 0 && day != 0) return 1;
  struct tm now {};
  g_tSeams.localTime(&now);
  return SetSelfTestDate(static_cast<uint8_t>((now.tm_year + 1900) % 100), static_cast<uint8_t>(now.tm_mon + 1),
                         static_cast<uint8_t>(now.tm_mday), index);
}
