// The steps every Brenna exchange is made of (the 12-byte command block by
// control transfer, data out, data in, and the 3-byte status that carries
// the command tag), the inquiry reply, the Read and the Send data blocks,
// over any transport, for the components that talk to a Brenna scanner
// through a USB layer of their own.
#ifndef DRAVN_SECOND_BRENNA_EXCHANGE_H
#define DRAVN_SECOND_BRENNA_EXCHANGE_H

#include <cstdint>
#include <cstring>

constexpr unsigned BRENNA_BLOCK_SIZE = 12;
constexpr unsigned BRENNA_ERROR_RECORD_SIZE = 16;
constexpr unsigned BRENNA_INQUIRY_MAX = 255;
constexpr unsigned BRENNA_STANDARD_SIZE = 96;
constexpr unsigned BRENNA_VPD_SIZE = 144;
// Data types of the Read command.
constexpr uint16_t BRENNA_READ_DATA_TYPE = 0x0069;
constexpr uint16_t BRENNA_ERROR_RECORD_TYPE = 0xFFE0;

class BrennaTransport {
 public:
  virtual ~BrennaTransport() = default;
  // The command block by vendor control transfer OUT (type 0x40, request 4).
  virtual bool SendBlock(unsigned char* block) = 0;
  // One bulk OUT transfer; true when every byte went.
  virtual bool BulkOut(const unsigned char* data, uint32_t length) = 0;
  // One bulk IN transfer; true when it went, the bytes that came in *count.
  virtual bool BulkIn(unsigned char* data, uint32_t length, uint32_t* count) = 0;
};

// How an exchange ended: done, a check condition (a sense waits), or the
// step that failed.
enum class BrennaResult {
  Ok,
  CheckCondition,
  Block,
  DataOut,
  DataIn,
  ShortDataIn,
  ReplyTag,
  StatusIn,
  ShortStatus,
  StatusTag,
  BadStatus
};

// The block, the data out (none when `outLength` is 0), exactly `inLength`
// bytes in, whose first two must carry the tag unless the block reads page
// data, then the status.
BrennaResult BrennaDoIo(BrennaTransport& transport, unsigned char* block, unsigned char* data, unsigned inLength,
                        unsigned outLength, uint16_t tag);

uint16_t BrennaBe16(const unsigned char* p);
uint32_t BrennaBe32(const unsigned char* p);
void BrennaSetBe16(unsigned char* p, uint32_t v);

// The bytes a Read block (0xA8) takes for `length` bytes of a data type.
void BrennaReadBlock(unsigned char* block, uint16_t dataType, unsigned char length);

// The data of one Send (0xAA) and its data type.
struct BrennaSendBlock {
  uint16_t type = 0;
  unsigned length = 0;
  unsigned char data[20] = {};
};
// Data types 3 and 4 (clear a counter), 5 and 6 (minutes in `value`), 0xE0
// (the error record); false for any other.
bool BrennaSendData(int dataType, int value, const unsigned char* record, uint16_t tag, BrennaSendBlock* out);
// The first-read date (year - 2000, month, day) as data type 0x0102.
void BrennaFirstReadDateData(const unsigned char* date, uint16_t tag, BrennaSendBlock* out);
// The bytes a Send block takes for `send`.
void BrennaSendCommand(unsigned char* block, const BrennaSendBlock& send);

// The two inquiry records before the device completes them: the standard
// answer naming `model`, and page 0xF0.
void BrennaInquiryTemplates(const char* model, unsigned char* standard, unsigned char* vpd);
// Completes both records from the device's inquiry reply of `total` bytes;
// true when the device reports automatic page size (marked in page 0xF0).
bool BrennaCompleteInquiry(const unsigned char* reply, unsigned total, unsigned char* standard, unsigned char* vpd);

// Steps of several commands, each run through `io` (block, data, in
// length, out length) -> true when the command went through: the caller's
// own DoIo with its sense handling and log.
enum class BrennaStep { Ok, First, TooLong, Second };

// Read of a data type; type 0x0069 comes in two steps, 5 bytes whose byte 3
// gives the length (at most `length`), then that many.
template <typename Io>
BrennaStep BrennaReadData(Io&& io, unsigned char* block, unsigned char* buffer, uint16_t dataType, unsigned length) {
  if (dataType == BRENNA_READ_DATA_TYPE) {
    unsigned char header[5] = {};
    BrennaReadBlock(block, dataType, sizeof header);
    if (!io(block, header, sizeof header, 0u)) return BrennaStep::First;
    if (header[3] > length) return BrennaStep::TooLong;
    length = header[3];
  }
  BrennaReadBlock(block, dataType, static_cast<unsigned char>(length));
  return io(block, buffer, length & 0xFF, 0u) ? BrennaStep::Ok : BrennaStep::Second;
}

// The inquiry reply (block 0xE2): 5 bytes whose bytes 3-4 give the whole
// length, at most 255, then that many into `reply` (256 bytes).
template <typename Io>
BrennaStep BrennaReadInquiry(Io&& io, unsigned char* block, unsigned char* reply, unsigned* total) {
  *total = 0;
  block[4] = 0;
  block[10] = 5;
  memset(reply, 0, BRENNA_INQUIRY_MAX + 1);
  if (!io(block, reply, 5u, 0u)) return BrennaStep::First;
  const unsigned length = BrennaBe16(reply + 3);
  if (length > BRENNA_INQUIRY_MAX) return BrennaStep::TooLong;
  block[10] = static_cast<unsigned char>(length);
  memset(reply, 0, BRENNA_INQUIRY_MAX + 1);
  if (length > 0 && !io(block, reply, length, 0u)) return BrennaStep::Second;
  *total = length;
  return BrennaStep::Ok;
}

// The error record: 16 bytes of data type 0xFFE0 read by `read` (buffer,
// data type, length) -> true, the record being what follows their 4-byte
// head (its last four bytes 0).
template <typename Read>
bool BrennaReadErrorRecord(Read&& read, unsigned char* record) {
  unsigned char scratch[4 + BRENNA_ERROR_RECORD_SIZE] = {};
  if (!read(scratch, BRENNA_ERROR_RECORD_TYPE, BRENNA_ERROR_RECORD_SIZE)) return false;
  memcpy(record, scratch + 4, BRENNA_ERROR_RECORD_SIZE);
  return true;
}

#endif
