// The steps every Selko exchange is made of (the handshake, header, data
// out, status and reply data) over any bulk transport, for the components
// that talk to a Selko scanner through a USB layer of their own.
#ifndef DRAVN_SECOND_SELKO_EXCHANGE_H
#define DRAVN_SECOND_SELKO_EXCHANGE_H

#include <cstdint>

// The 8-byte header in front of every command.
struct _FIT_CMD_HEADER_ {
  unsigned char bytes[8];
};

// The 16-byte status read after every command and its data.
struct FIT_COMMAND_STATUS {
  unsigned char bytes[16];
};

namespace selko {
constexpr unsigned char kMark = 0x82;
constexpr uint32_t kMaxReply = 256u << 20;  // reply data of one exchange, at most
constexpr unsigned char kQuery = 0x28, kControl = 0x14, kSet = 0x2A;
constexpr unsigned char kName = 3, kStatus = 4, kReadImage = 6, kStartScan = 7, kStopScan = 8, kScanParameter = 11,
                        kMaintenance = 18, kTerminate = 29;
}  // namespace selko

// Which step a transfer belongs to, for transports that log them.
enum class SelkoPhase { Command, DataOut, Status, DataIn };

class SelkoTransport {
 public:
  virtual ~SelkoTransport() = default;
  // One bulk OUT transfer; true when every byte went.
  virtual bool BulkOut(const unsigned char* data, uint32_t length, SelkoPhase phase) = 0;
  // One bulk IN transfer; true when exactly `length` bytes came.
  virtual bool BulkIn(unsigned char* data, uint32_t length, SelkoPhase phase) = 0;
};

// How an exchange ended.
enum class SelkoResult { Ok, Transfer, WrongCommand, NotReady, NoMemory };

void SelkoHeader(unsigned char code, unsigned char sub, uint32_t length, _FIT_CMD_HEADER_* header);
// The header, the data it announces, the status (it must echo the command
// and be ready) and the reply data the status announces. Reply data goes
// to *ppReply (free() it), or is read and dropped without a slot.
SelkoResult SelkoUSBRW(SelkoTransport& transport, const _FIT_CMD_HEADER_& header, const unsigned char* out,
                       FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength);
// Bytes 1 and 2 of a status that went through: both must be 0.
bool SelkoStatusGood(const FIT_COMMAND_STATUS& status);
// The two-byte handshake: true when the scanner answered 0x82; *refused
// tells a scanner that answered something else from a failed transfer.
bool SelkoHandshake(SelkoTransport& transport, bool* refused);

#endif
