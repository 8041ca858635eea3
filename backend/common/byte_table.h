// A 256-byte table applied to a run of bytes in place. Where the processor
// has byte permutes over 64-byte registers (AVX-512 VBMI) the table lives
// in four registers and 64 bytes are mapped at once; elsewhere two bytes go
// per look-up, through a 128 KiB pair table that stays in the cache for a
// whole page.
#ifndef DRAVN_COMMON_BYTE_TABLE_H
#define DRAVN_COMMON_BYTE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <memory>

class CBytePairTable {
 public:
  enum class Way { Fastest, Pairs, Bytes };
  // Without the memory for the pair table the bytes are mapped one by one;
  // a way the processor lacks falls back to the next.
  explicit CBytePairTable(const unsigned char* table, Way way = Way::Fastest);
  // data[i] = table[data[i]] for every i < size.
  void Map(unsigned char* data, size_t size) const;
  // Whether Map uses the 64-byte permutes.
  bool Vectors() const { return m_vectors; }

 private:
  const unsigned char* m_table;
  bool m_vectors = false;
  std::unique_ptr<uint16_t[]> m_pairs;
};

#endif
