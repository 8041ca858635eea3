// The Brenna exchange steps: command block, data phases, status, and the inquiry records.
#include "brenna_exchange.h"

#include <algorithm>

namespace {

uint32_t Be24(const unsigned char* p) { return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]); }
void SetBe24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  BrennaSetBe16(p + 1, v);
}

}  // namespace

uint16_t BrennaBe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t BrennaBe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

void BrennaSetBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

BrennaResult BrennaDoIo(BrennaTransport& transport, unsigned char* block, unsigned char* data, unsigned inLength,
                        unsigned outLength, uint16_t tag) {
  // A command the device never took has no status to wait for.
  if (!transport.SendBlock(block)) return BrennaResult::Block;
  if (outLength != 0 && (!data || !transport.BulkOut(data, outLength))) return BrennaResult::DataOut;
  if (inLength != 0) {
    uint32_t got = 0;
    if (!data || !transport.BulkIn(data, inLength, &got)) return BrennaResult::DataIn;
    if (got != inLength) return BrennaResult::ShortDataIn;
    // Page data (type 0) and two vendor reads carry no tag.
    const uint16_t type = BrennaBe16(block + 3);
    if (type != 0x0000 && type != 0x009A && type != 0x009B && (inLength < 2 || BrennaBe16(data) != tag))
      return BrennaResult::ReplyTag;
  }
  unsigned char status[3] = {};
  uint32_t got = 0;
  if (!transport.BulkIn(status, sizeof status, &got)) return BrennaResult::StatusIn;
  if (got < sizeof status) return BrennaResult::ShortStatus;
  if (BrennaBe16(status) != tag) return BrennaResult::StatusTag;
  if (status[2] == 0) return BrennaResult::Ok;
  return status[2] == 2 ? BrennaResult::CheckCondition : BrennaResult::BadStatus;
}

void BrennaReadBlock(unsigned char* block, uint16_t dataType, unsigned char length) {
  block[3] = static_cast<unsigned char>(dataType >> 8);
  block[4] = static_cast<unsigned char>(dataType);
  block[7] = 0;
  block[8] = block[9] = 0;
  block[10] = length;
}

bool BrennaSendData(int dataType, int value, const unsigned char* record, uint16_t tag, BrennaSendBlock* out) {
  *out = BrennaSendBlock{};
  BrennaSetBe16(out->data, tag);
  switch (dataType) {
    case 3:
    case 4:
      out->type = static_cast<uint16_t>(0x0100 | dataType);
      out->data[2] = 0x01, out->data[3] = 0x04;
      out->length = 8;
      return true;
    case 5:
    case 6:
      out->type = static_cast<uint16_t>(0x0100 | dataType);
      out->data[2] = 0x01, out->data[3] = 0x02;
      BrennaSetBe16(out->data + 4, static_cast<uint32_t>(value));
      out->length = 6;
      return true;
    case 0xE0:
      out->type = BRENNA_ERROR_RECORD_TYPE;
      out->data[2] = 0x01, out->data[3] = 0x10;
      if (record) memcpy(out->data + 4, record, BRENNA_ERROR_RECORD_SIZE);
      out->length = 4 + BRENNA_ERROR_RECORD_SIZE;
      return true;
    default:
      return false;
  }
}

void BrennaFirstReadDateData(const unsigned char* date, uint16_t tag, BrennaSendBlock* out) {
  *out = BrennaSendBlock{};
  out->type = 0x0102;
  BrennaSetBe16(out->data, tag);
  out->data[2] = 0x01, out->data[3] = 0x06;
  out->data[5] = date[1];
  out->data[7] = date[2];
  BrennaSetBe16(out->data + 8, date[0] + 2000u);
  out->length = 10;
}

void BrennaSendCommand(unsigned char* block, const BrennaSendBlock& send) {
  block[3] = static_cast<unsigned char>(send.type >> 8);
  block[4] = static_cast<unsigned char>(send.type);
  block[10] = static_cast<unsigned char>(send.length);
}

void BrennaInquiryTemplates(const char* model, unsigned char* standard, unsigned char* vpd) {
  memset(standard, 0, BRENNA_STANDARD_SIZE);
  const unsigned char head[] = {0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x10};
  memcpy(standard, head, sizeof head);
  memcpy(standard + 8, "MORANTI ", 8);
  memset(standard + 16, ' ', 16);
  if (model) memcpy(standard + 16, model, std::min<size_t>(strlen(model), 16));
  memcpy(standard + 32, "0000", 4);
  standard[44] = 0x03;

  memset(vpd, 0, BRENNA_VPD_SIZE);
  const unsigned char page[] = {0x06, 0xF0, 0x02, 0x00, 0x8B, 0x02, 0x58, 0x02, 0x58, 0x11,
                                0x02, 0x58, 0x02, 0x58, 0x00, 0x32, 0x00, 0x32, 0xFF, 0xFC};
  memcpy(vpd, page, sizeof page);
  SetBe24(vpd + 21, 0x1440);
  SetBe24(vpd + 25, 0x22A4);
  const unsigned char fixed28[] = {0x8F, 0x00, 0x00, 0x00, 0xD2, 0x6A, 0x08};
  memcpy(vpd + 28, fixed28, sizeof fixed28);
  const unsigned char fixed40[] = {0xEF, 0xBF, 0x00, 0x1C};
  memcpy(vpd + 40, fixed40, sizeof fixed40);
  vpd[49] = 0x06;
  vpd[83] = 0xFF;
  const unsigned char fixed86[] = {0x42, 0x04, 0xA8, 0x41, 0x08};
  memcpy(vpd + 86, fixed86, sizeof fixed86);
  vpd[98] = 0x02;
  vpd[101] = 0xEA;
  vpd[103] = 0x78;
  vpd[105] = 0x80;
  vpd[106] = 0xC0;
  vpd[111] = 0x20;
  vpd[112] = 0x08;
  const unsigned char fixed114[] = {0x10, 0x90, 0x01, 0x00, 0x81, 0x00, 0x08};
  memcpy(vpd + 114, fixed114, sizeof fixed114);
}

bool BrennaCompleteInquiry(const unsigned char* reply, unsigned total, unsigned char* standard, unsigned char* vpd) {
  // Offsets come from the device: a field it places outside what it sent
  // keeps the template.
  if (total >= 12) {
    const unsigned at = BrennaBe16(reply + 10);
    if (at < total) {
      unsigned n = 0;
      while (n < 16 && at + n < total && reply[at + n] != 0) ++n;
      memcpy(standard + 16, reply + at, n);
    }
  }
  if (total >= 14) {
    const unsigned at = BrennaBe16(reply + 12);
    if (at + 4 <= total) memcpy(standard + 32, reply + at, 4);
  }
  if (total >= 30) {
    SetBe24(vpd + 21, 2 * Be24(reply + 27));
    SetBe24(vpd + 25, 2 * Be24(reply + 24));
  }
  if (total >= 112 && reply[109] == 1 && reply[110] == 1 && reply[111] == 1) {
    vpd[104] |= 0x02;
    return true;
  }
  return false;
}
