// Selko2 wire format: the 16-byte command block, its command set, the status
// records and the in-scanner lock owner. Every component that talks to a
// Selko2 scanner builds its blocks from here.
#ifndef DRAVN_SECOND_SELKO2_COMMAND_H
#define DRAVN_SECOND_SELKO2_COMMAND_H

#include <cstddef>
#include <cstdint>

// The 16-byte command block, little-endian on the wire.
struct _FCL_CMD {
  unsigned char bytes[16];
};
static_assert(sizeof(_FCL_CMD) == 16, "_FCL_CMD is 16 bytes");

constexpr uint32_t FCL_CMD_SIGNATURE = 0x00000230;

// Fills a command block.
void CreateCommand(_FCL_CMD* block, uint8_t opcode, uint8_t subCode, uint16_t parameter, uint32_t length);

// What follows a command block on the wire.
enum class Selko2Reply {
  Status,       // the 32-byte _FCL_DEVICE_STATUS
  StatusExt,    // the 108-byte _FCL_DEVICE_STATUS_EXT
  BlockStatus,  // the 64-byte _FCL_BLKIMG_STATUS
  None,         // nothing: the Read command
};

// One command of the set.
struct Selko2Command {
  uint8_t opcode;
  uint8_t subCode;
  uint16_t parameter;
  uint32_t length;  // data phase after the status, 0 when none
  Selko2Reply reply;
};

namespace selko2 {
constexpr Selko2Command kGetHardwareStatus{0x12, 0x02, 32, 0, Selko2Reply::Status};
constexpr Selko2Command kGetHardwareStatusExt{0x12, 0x7A, 108, 0, Selko2Reply::StatusExt};
constexpr Selko2Command kScan{0x14, 0x04, 0, 0, Selko2Reply::Status};
constexpr Selko2Command kCalibrateDevice{0x14, 0x05, 0, 0, Selko2Reply::Status};
constexpr Selko2Command kStopScan{0x14, 0x06, 0, 0, Selko2Reply::Status};
constexpr Selko2Command kAbortScan{0x14, 0x07, 0, 0, Selko2Reply::BlockStatus};
constexpr Selko2Command kSetWindow{0x2A, 0x09, 4, 260, Selko2Reply::Status};
constexpr Selko2Command kSetNvram{0x2A, 0x10, 0, 288, Selko2Reply::Status};
constexpr Selko2Command kLockScanner{0x2A, 0x78, 1, 40, Selko2Reply::Status};
constexpr Selko2Command kUnlockScanner{0x2A, 0x78, 2, 40, Selko2Reply::Status};
constexpr Selko2Command kGetNvram{0x28, 0x10, 0, 288, Selko2Reply::Status};
constexpr Selko2Command kReadLockOwner{0x28, 0x78, 1, 40, Selko2Reply::Status};
constexpr Selko2Command kRead{0x28, 0x04, 0, 0, Selko2Reply::None};
}  // namespace selko2

inline void CreateCommand(_FCL_CMD* block, const Selko2Command& command) {
  CreateCommand(block, command.opcode, command.subCode, command.parameter, command.length);
}

// Record sizes.
constexpr size_t FCL_DEVICE_STATUS_SIZE = 32;
constexpr size_t FCL_DEVICE_STATUS_EXT_SIZE = 108;
constexpr size_t FCL_BLKIMG_STATUS_SIZE = 64;
constexpr size_t FCL_SCAN_PARAM_EXT_SIZE = 260;
constexpr size_t NVRAM_TABLE_SIZE = 288;
constexpr size_t FCL_LOCK_OWNER_SIZE = 40;

inline uint32_t GetLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t GetLe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void PutLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline void PutLe16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// _FCL_DEVICE_STATUS (32 bytes).
struct _FCL_DEVICE_STATUS {
  unsigned char bytes[FCL_DEVICE_STATUS_SIZE];
  uint32_t StatusCode() const { return GetLe32(bytes); }
  uint16_t Condition() const { return GetLe16(bytes + 8); }
  bool CoverOpen() const { return Condition() & 0x01; }
  bool PaperPresent() const { return Condition() & 0x02; }
};

// _FCL_DEVICE_STATUS_EXT (108 bytes).
struct _FCL_DEVICE_STATUS_EXT {
  unsigned char bytes[FCL_DEVICE_STATUS_EXT_SIZE];
  uint32_t StatusCode() const { return GetLe32(bytes); }
  uint32_t dwLockStatus() const { return GetLe32(bytes + 32); }
};

// _FCL_BLKIMG_STATUS (64 bytes): one block of page data and its trailer.
struct _FCL_BLKIMG_STATUS {
  unsigned char bytes[FCL_BLKIMG_STATUS_SIZE];
  uint32_t dwLastErr() const { return GetLe32(bytes); }
  uint8_t Phase() const { return bytes[6]; }
  uint8_t Side() const { return bytes[11]; }
  uint32_t Height() const { return GetLe32(bytes + 16); }
  uint32_t Width() const { return GetLe32(bytes + 20); }
  uint32_t dwLastBlockEffBytes() const { return GetLe32(bytes + 36); }
  uint8_t ImageFormat() const { return bytes[48]; }
};

constexpr uint32_t FCLE_END_OF_SIDE = 4101;
constexpr uint32_t FCLE_END_OF_SIDE_AND_NO_PAPER = 4102;

// NVRAM_STRUCT fields touched by the driver.
constexpr size_t NVRAM_BODM = 16;  // month of the first read, 0 unset
constexpr size_t NVRAM_BODD = 17;  // day of the first read, 0 unset
constexpr size_t NVRAM_BODY = 18;  // year modulo 100

// The in-scanner lock owner of this process: a GUID text padded with zero
// bytes to 40, whose last groups carry a tag of this host and the process
// id, so that a later run can tell a lock left by a process of this host
// that has ended from one that another host or a live process holds.
void BuildSelko2LockOwner(unsigned char owner[FCL_LOCK_OWNER_SIZE]);

// Who holds a lock whose owner record the scanner answered.
enum class Selko2LockHolder {
  Self,   // this process (an unlock of its own that did not get through)
  Gone,   // a process of this host that no longer runs
  Other,  // a live process, another host, or an owner text not of ours
};
Selko2LockHolder WhoHoldsSelko2Lock(const unsigned char held[FCL_LOCK_OWNER_SIZE]);

// The 4-byte status-file record: error-code byte, then the sense qualifier,
// code and key of the last error.
inline uint32_t MakeSCValue(uint8_t errorCode, uint8_t key, uint8_t code, uint8_t qualifier) {
  return static_cast<uint32_t>(errorCode) | static_cast<uint32_t>(qualifier) << 8 | static_cast<uint32_t>(code) << 16 |
         static_cast<uint32_t>(key) << 24;
}

#endif
