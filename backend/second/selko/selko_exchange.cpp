// The Selko exchange steps: handshake, header, data and status.
#include "selko_exchange.h"

#include <cstdlib>

namespace {

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

void SelkoHeader(unsigned char code, unsigned char sub, uint32_t length, _FIT_CMD_HEADER_* header) {
  header->bytes[0] = selko::kMark;
  header->bytes[1] = code;
  header->bytes[2] = sub;
  header->bytes[3] = 0;
  for (int i = 0; i < 4; ++i) header->bytes[4 + i] = static_cast<unsigned char>(length >> (8 * i));
}

SelkoResult SelkoUSBRW(SelkoTransport& transport, const _FIT_CMD_HEADER_& header, const unsigned char* out,
                       FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength) {
  if (ppReply) *ppReply = nullptr;
  if (pReplyLength) *pReplyLength = 0;
  if (!status || !transport.BulkOut(header.bytes, sizeof header.bytes, SelkoPhase::Command))
    return SelkoResult::Transfer;
  const uint32_t outLength = Le32(header.bytes + 4);
  if (outLength && (!out || !transport.BulkOut(out, outLength, SelkoPhase::DataOut))) return SelkoResult::Transfer;
  if (!transport.BulkIn(status->bytes, sizeof status->bytes, SelkoPhase::Status)) return SelkoResult::Transfer;
  if (status->bytes[0] != header.bytes[1]) return SelkoResult::WrongCommand;
  if (status->bytes[3] != 0) return SelkoResult::NotReady;
  const uint32_t replyLength = Le32(status->bytes + 4);
  if (replyLength == 0) return SelkoResult::Ok;
  // The length is the device's word: one no scanner sends (more than a whole
  // uncompressed A3 colour face at 600 dpi) is a broken exchange, not an
  // allocation of up to 4 GB.
  if (replyLength > selko::kMaxReply) return SelkoResult::Transfer;
  // A reply for a command that has no slot for it is read and dropped: it
  // would otherwise stay in the pipe in front of the next status.
  unsigned char* data = static_cast<unsigned char*>(malloc(replyLength));
  if (!data) return SelkoResult::NoMemory;
  if (!transport.BulkIn(data, replyLength, SelkoPhase::DataIn)) {
    free(data);
    return SelkoResult::Transfer;
  }
  if (ppReply) {
    *ppReply = data;
    if (pReplyLength) *pReplyLength = replyLength;
  } else {
    free(data);
  }
  return SelkoResult::Ok;
}

bool SelkoStatusGood(const FIT_COMMAND_STATUS& status) { return status.bytes[1] == 0 && status.bytes[2] == 0; }

bool SelkoHandshake(SelkoTransport& transport, bool* refused) {
  if (refused) *refused = false;
  const unsigned char hello[2] = {0x97, 0x17};
  if (!transport.BulkOut(hello, sizeof hello, SelkoPhase::Command)) return false;
  unsigned char reply = 0;
  if (!transport.BulkIn(&reply, 1, SelkoPhase::Status)) return false;
  if (reply == selko::kMark) return true;
  if (refused) *refused = true;
  return false;
}
