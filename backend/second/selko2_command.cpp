#include "selko2_command.h"

#include <cstring>

void CreateCommand(_FCL_CMD* block, uint8_t opcode, uint8_t subCode, uint16_t parameter, uint32_t length) {
  if (!block) return;
  memset(block->bytes, 0, sizeof block->bytes);
  PutLe32(block->bytes, FCL_CMD_SIGNATURE);
  block->bytes[4] = opcode;
  block->bytes[6] = subCode;
  PutLe16(block->bytes + 8, parameter);
  PutLe32(block->bytes + 12, length);
}

void BuildSelko2LockOwner(unsigned char owner[FCL_LOCK_OWNER_SIZE]) {
  static const char kHead[] = "5d8e2c71-a3f4-4b09";
  static const char kTail[] = "-9e6c-2f17d04a8b35";
  memset(owner, 0, FCL_LOCK_OWNER_SIZE);
  memcpy(owner, kHead, sizeof kHead - 1);
  memcpy(owner + sizeof kHead - 1, kTail, sizeof kTail - 1);
}
