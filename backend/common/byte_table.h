// A 256-byte table applied to a run of bytes in place, two bytes per
// look-up: half the look-ups of a byte table, through a 128 KiB pair table
// that stays in the cache for a whole page.
#ifndef DRAVN_COMMON_BYTE_TABLE_H
#define DRAVN_COMMON_BYTE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <memory>

class CBytePairTable {
 public:
  // Without the memory for the pair table the bytes are mapped one by one.
  explicit CBytePairTable(const unsigned char* table);
  // data[i] = table[data[i]] for every i < size.
  void Map(unsigned char* data, size_t size) const;

 private:
  const unsigned char* m_table;
  std::unique_ptr<uint16_t[]> m_pairs;
};

#endif
