// Filling a Selko2 command block from its command-set entry.
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
