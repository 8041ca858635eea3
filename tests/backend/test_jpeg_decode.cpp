// JPEG decoding of device pages from memory, through the staged libjpeg.
#include <gtest/gtest.h>
#include <jerror.h>
#include <sane/sane.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byte_table.h"
#include "image_layer_util.h"
#include "jpeg_decode.h"

using image_layer_test::ErrorLine;
using image_layer_test::LogCapture;

namespace {

using Bytes = std::vector<unsigned char>;

struct Decoded {
  std::unique_ptr<unsigned char, decltype(&free)> data{nullptr, &free};
  explicit operator bool() const { return data != nullptr; }
  unsigned char* get() const { return data.get(); }
};

struct Page {
  int width, height, components;
  Bytes pixels;
};

// A page whose every pixel differs from its neighbours, so that the
// compressed data spreads evenly over the rows.
Page MakePage(int width, int height, int components) {
  Page p{width, height, components, Bytes(static_cast<size_t>(width) * height * components)};
  unsigned seed = 12345;
  for (auto& b : p.pixels) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<unsigned char>((seed >> 16) & 0xFF);
  }
  return p;
}

struct CompressOptions {
  bool progressive = false;
  int restartRows = 0;
};

Bytes Compress(const Page& page, CompressOptions o = {}) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = page.width;
  c.image_height = page.height;
  c.input_components = page.components;
  c.in_color_space = page.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (o.progressive) jpeg_simple_progression(&c);
  c.restart_in_rows = o.restartRows;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(page.pixels.data()) + c.next_scanline * page.width * page.components;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes data(out, out + size);
  free(out);
  return data;
}

// What the library itself makes of a complete stream.
Bytes Reference(const Bytes& jpeg) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), jpeg.size());
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  const size_t row = d.output_width * d.output_components;
  Bytes out(row * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW r = out.data() + row * d.output_scanline;
    jpeg_read_scanlines(&d, &r, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

size_t FindMarker(const Bytes& data, unsigned char marker, size_t from = 0) {
  for (size_t i = from; i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == marker) return i;
  return std::string::npos;
}

// Offset of the first entropy-coded byte.
size_t ScanStart(const Bytes& data) {
  size_t sos = FindMarker(data, 0xDA);
  return sos + 2 + ((data[sos + 2] << 8) | data[sos + 3]);
}

// An exactly sized copy of the first n bytes: the sanitizer build sees any
// read past them.
Bytes Cut(const Bytes& data, size_t n) { return Bytes(data.begin(), data.begin() + n); }

Decoded Decode(const Bytes& data, int width, int height) {
  JPEGINFO info{static_cast<unsigned>(data.size()), static_cast<unsigned short>(width),
                static_cast<unsigned short>(height)};
  Decoded d;
  d.data.reset(ReadDataFromJpeg(data.empty() ? nullptr : data.data(), info));
  return d;
}

bool RowsEqual(const unsigned char* got, const Bytes& expected, size_t rowBytes, int first, int last) {
  return memcmp(got + rowBytes * first, expected.data() + rowBytes * first, rowBytes * (last - first)) == 0;
}

bool RowsWhite(const unsigned char* got, size_t rowBytes, int first, int last) {
  for (size_t i = rowBytes * first; i < rowBytes * last; ++i)
    if (got[i] != 0xFF) return false;
  return true;
}

class JpegDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadLibjpeg8()); }
  void TearDown() override { UnLoadLibjpeg8(); }
};

}  // namespace

TEST_F(JpegDecodeTest, WholePagesDecodeAsTheLibraryDecodesThem) {
  struct Case {
    const char* name;
    Page page;
    CompressOptions options;
  };
  const Case cases[] = {
      {"colour baseline", MakePage(64, 96, 3), {}},
      {"grey baseline", MakePage(40, 24, 1), {}},
      {"progressive", MakePage(64, 48, 3), {true, 0}},
      {"restart intervals", MakePage(64, 48, 3), {false, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes jpeg = Compress(c.page, c.options);
    Decoded out = Decode(jpeg, c.page.width, c.page.height);
    ASSERT_TRUE(out);
    Bytes ref = Reference(jpeg);
    EXPECT_EQ(memcmp(out.get(), ref.data(), ref.size()), 0);
  }
}

TEST_F(JpegDecodeTest, PageCutShortHasItsFullSizeWithWhiteRowsPastTheCut) {
  Page page = MakePage(64, 96, 3);  // six groups of 16 rows
  Bytes jpeg = Compress(page);
  Bytes ref = Reference(jpeg);
  const size_t start = ScanStart(jpeg);
  Bytes cut = Cut(jpeg, start + (jpeg.size() - start) / 2);
  LogCapture log;
  Decoded out = Decode(cut, 64, 96);
  std::string text = log.Stop();
  ASSERT_TRUE(out);
  const size_t row = 64 * 3;
  EXPECT_TRUE(RowsEqual(out.get(), ref, row, 0, 16));
  EXPECT_TRUE(RowsWhite(out.get(), row, 64, 96));
  // Running out of data is a warning the decoder counts, not an error.
  EXPECT_EQ(text.find("[error]"), std::string::npos) << text;
}

TEST_F(JpegDecodeTest, GivenSizeReplacesTheHeaderSize) {
  Page page = MakePage(64, 48, 3);
  Bytes jpeg = Compress(page);
  Bytes ref = Reference(jpeg);
  const size_t row = 64 * 3;

  // Larger than the data: the library sees the larger frame; rows the data
  // does not reach stay white.
  Decoded taller = Decode(jpeg, 64, 80);
  ASSERT_TRUE(taller);
  EXPECT_TRUE(RowsEqual(taller.get(), ref, row, 0, 32));
  EXPECT_TRUE(RowsWhite(taller.get(), row, 48, 80));

  // A header that gives a wrong size (as a scanner writes before it knows
  // the page length) decodes the whole page at the given size.
  Bytes wrong = jpeg;
  size_t sof = FindMarker(wrong, 0xC0);
  wrong[sof + 5] = 0;
  wrong[sof + 6] = 16;
  Decoded fixed = Decode(wrong, 64, 48);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(memcmp(fixed.get(), ref.data(), ref.size()), 0);

  // Neither header nor given size may make the library write or read past
  // the rows it sized: a wider given width decodes into a buffer of that
  // width.
  Decoded wider = Decode(jpeg, 128, 48);
  EXPECT_TRUE(wider);
}

// A stuffed zero between segments ends the walk for the frame header but
// not the library's: the frame keeps the huge size the stream claims. It is
// refused at the header, before the library sizes and zeroes its buffers
// for a multi-scan frame of 20000 x 20000 (over a gigabyte).
TEST_F(JpegDecodeTest, FrameTheGivenSizeMissedIsRefusedAtItsHeader) {
  Bytes jpeg = Compress(MakePage(64, 48, 3), {true, 0});
  const size_t sof = FindMarker(jpeg, 0xC2);
  ASSERT_NE(sof, std::string::npos);
  jpeg[sof + 5] = jpeg[sof + 7] = 20000 >> 8;
  jpeg[sof + 6] = jpeg[sof + 8] = 20000 & 0xFF;
  const size_t app0 = FindMarker(jpeg, 0xE0);
  ASSERT_NE(app0, std::string::npos);
  const size_t after = app0 + 2 + ((jpeg[app0 + 2] << 8) | jpeg[app0 + 3]);
  const Bytes stuffed = {0xFF, 0x00, 0x7F, 0xFF};
  jpeg.insert(jpeg.begin() + static_cast<long>(after), stuffed.begin(), stuffed.end());
  LogCapture log;
  Decoded out = Decode(jpeg, 64, 48);
  std::string text = log.Stop();
  EXPECT_FALSE(out);
  EXPECT_NE(text.find(ErrorLine("ReadDataFromJpeg", "frame size != requested size")), std::string::npos) << text;
}

TEST_F(JpegDecodeTest, StreamEndedByARestartMarkerIsMendedAndDecoded) {
  Page page = MakePage(64, 96, 3);
  Bytes jpeg = Compress(page, {false, 1});  // a restart marker after every 16 rows
  Bytes ref = Reference(jpeg);
  size_t rst = ScanStart(jpeg);
  for (int i = 0; i < 3; ++i) rst = FindMarker(jpeg, 0xD0 + i, rst) + 2;
  Bytes cut = Cut(jpeg, rst);  // ends with FF D2 after 48 rows
  ASSERT_EQ(cut[cut.size() - 1], 0xD2);

  KELO_IMAGEDATA_PARAMETERS face{SANE_FRAME_RGB, 1, 64, 96, 64 * 3, 8};
  EXPECT_TRUE(UpdateJPEGParam(cut.data(), static_cast<unsigned>(cut.size()), face));
  EXPECT_EQ(cut[cut.size() - 2], 0xFF);
  EXPECT_EQ(cut[cut.size() - 1], 0xD9);

  Decoded out = Decode(cut, 64, 96);
  ASSERT_TRUE(out);
  const size_t row = 64 * 3;
  EXPECT_TRUE(RowsEqual(out.get(), ref, row, 0, 32));
  EXPECT_TRUE(RowsWhite(out.get(), row, 64, 96));
}

TEST_F(JpegDecodeTest, DamagedRestartIntervalSpoilsOnlyItself) {
  Page page = MakePage(64, 96, 3);
  Bytes jpeg = Compress(page, {false, 1});  // a restart marker after every 16 rows
  Bytes ref = Reference(jpeg);
  // The second interval loses half its data: the decoder meets the next
  // restart marker early and picks up again after it.
  const size_t rst0 = FindMarker(jpeg, 0xD0, ScanStart(jpeg));
  const size_t rst1 = FindMarker(jpeg, 0xD1, rst0);
  Bytes damaged(jpeg.begin(), jpeg.begin() + rst0 + 2 + (rst1 - rst0 - 2) / 2);
  damaged.insert(damaged.end(), jpeg.begin() + rst1, jpeg.end());
  Decoded out = Decode(damaged, 64, 96);
  ASSERT_TRUE(out);
  const size_t row = 64 * 3;
  // Rows next to the damage take their colour from it (smoothed chroma).
  EXPECT_TRUE(RowsEqual(out.get(), ref, row, 0, 15));
  EXPECT_TRUE(RowsEqual(out.get(), ref, row, 33, 96));
}

// Also into a buffer of the caller's.
TEST_F(JpegDecodeTest, MappedDecodingGivesTheTableOfEveryDecodedByteWhiteIncluded) {
  unsigned char table[256];
  for (int v = 0; v < 256; ++v) table[v] = static_cast<unsigned char>(v * 7 + 3);  // 0xFF goes to 0xFC
  struct Case {
    const char* name;
    Page page;
    CompressOptions options;
    double cut;
  } cases[] = {
      {"colour", MakePage(64, 96, 3), {}, 1},
      {"colour cut short", MakePage(64, 96, 3), {}, 0.5},
      {"grey cut short", MakePage(40, 48, 1), {}, 0.4},
      {"progressive cut short", MakePage(64, 48, 3), {true, 0}, 0.6},
      // Rows that do not end on a pair or an eight-byte group.
      {"colour odd width", MakePage(61, 30, 3), {}, 1},
      {"grey odd width cut short", MakePage(37, 20, 1), {}, 0.7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes jpeg = Compress(c.page, c.options);
    const Bytes cut = Cut(jpeg, static_cast<size_t>(jpeg.size() * c.cut));
    Decoded plain = Decode(cut, c.page.width, c.page.height);
    ASSERT_TRUE(plain);
    JPEGINFO info{static_cast<unsigned>(cut.size()), static_cast<unsigned short>(c.page.width),
                  static_cast<unsigned short>(c.page.height)};
    Decoded mapped;
    mapped.data.reset(ReadDataFromJpegMapped(cut.data(), info, table));
    ASSERT_TRUE(mapped);
    const size_t size = c.page.pixels.size();
    Bytes expected(plain.get(), plain.get() + size);
    for (unsigned char& v : expected) v = table[v];
    EXPECT_EQ(memcmp(mapped.get(), expected.data(), size), 0);
    // Into the caller's buffer, whatever it held, the same bytes; a buffer
    // a byte short is refused and left as it was.
    Bytes into(size + 1, 0x5A);
    EXPECT_EQ(ReadDataFromJpegMappedInto(cut.data(), info, table, into.data(), size), into.data());
    EXPECT_EQ(memcmp(into.data(), expected.data(), size), 0);
    EXPECT_EQ(into[size], 0x5A);
    Bytes small(size - 1, 0x5A);
    EXPECT_EQ(ReadDataFromJpegMappedInto(cut.data(), info, table, small.data(), small.size()), nullptr);
    EXPECT_EQ(small, Bytes(size - 1, 0x5A));
  }
}

// The pair table maps every byte as the byte table does, runs of every
// length up to past two eight-byte groups, at every start.
// Every way the table is applied gives each byte its entry, at every start
// and length round the 8- and 64-byte steps; the fastest way is the vector
// one where the processor has it.
TEST(BytePairTable, MapsEveryByteAsItsTable) {
  unsigned char table[256];
  for (int v = 0; v < 256; ++v) table[v] = static_cast<unsigned char>(255 - v * 3);
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
  using Way = CBytePairTable::Way;
  for (Way way : {Way::Fastest, Way::Pairs, Way::Bytes}) {
    const CBytePairTable map(table, way);
    if (way != Way::Fastest) {
      EXPECT_FALSE(map.Vectors());
    }
    for (size_t start = 0; start < 3; ++start)
      for (size_t n = 0; n <= 200; ++n) {
        Bytes got = data, want = data;
        map.Map(got.data() + start, n);
        for (size_t i = start; i < start + n; ++i) want[i] = table[want[i]];
        ASSERT_EQ(want, got) << static_cast<int>(way) << ": " << start << "+" << n;
      }
  }
#if defined(__x86_64__)
  __builtin_cpu_init();
  EXPECT_EQ(CBytePairTable(table).Vectors(), __builtin_cpu_supports("avx512vbmi") != 0);
#endif
}

TEST_F(JpegDecodeTest, ProgressivePageCutShortStillDecodesToFullSize) {
  Page page = MakePage(64, 48, 3);
  Bytes jpeg = Compress(page, {true, 0});
  Bytes cut = Cut(jpeg, jpeg.size() * 2 / 3);
  Decoded out = Decode(cut, 64, 48);
  EXPECT_TRUE(out);
}

TEST_F(JpegDecodeTest, BrokenPagesGiveNullAndTheLogLine) {
  Page page = MakePage(64, 48, 3);
  Bytes jpeg = Compress(page);
  Bytes noise(600);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 37 + 11);
  // A page cut inside a long application segment: skipping it runs into
  // the end of the data.
  Bytes longSegment = {0xFF, 0xD8, 0xFF, 0xE2, 0xEA, 0x60, 'x', 'y', 'z'};

  struct Case {
    const char* name;
    Bytes data;
    int width, height;
  };
  const Case cases[] = {
      {"not a JPEG", noise, 64, 48},
      {"cut inside the header", Cut(jpeg, FindMarker(jpeg, 0xC0) + 4), 64, 48},
      {"cut before the scan", Cut(jpeg, FindMarker(jpeg, 0xDA)), 64, 48},
      {"cut inside a long segment", longSegment, 64, 48},
      {"no data", Bytes(), 64, 48},
      {"zero width", jpeg, 0, 48},
      {"zero height", jpeg, 64, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    Decoded out = Decode(c.data, c.width, c.height);
    std::string text = log.Stop();
    EXPECT_FALSE(out);
    EXPECT_NE(text.find(ErrorLine("ReadDataFromJpeg", "setjmp(jerr.setjmp_buffer)")), std::string::npos) << text;
  }
}

TEST_F(JpegDecodeTest, CorruptScanDataDecodesWithoutCrash) {
  Page page = MakePage(64, 48, 3);
  Bytes jpeg = Compress(page);
  const size_t start = ScanStart(jpeg);
  for (size_t i = start + 10; i + 2 < jpeg.size(); i += 23) jpeg[i] = static_cast<unsigned char>(jpeg[i] ^ 0x5A);
  Decoded out = Decode(jpeg, 64, 48);
  EXPECT_TRUE(out);
}

TEST_F(JpegDecodeTest, NothingIsDecodedWithoutTheLibrary) {
  Bytes jpeg = Compress(MakePage(16, 16, 3));
  UnLoadLibjpeg8();
  LogCapture log;
  Decoded out = Decode(jpeg, 16, 16);
  EXPECT_FALSE(out);
  EXPECT_NE(log.Stop().find(ErrorLine("ReadDataFromJpeg", "libjpeg is not loaded")), std::string::npos);
}

namespace {
struct EmptyInputTrap {
  jpeg_error_mgr pub;
  jmp_buf back;
};
void TrapError(j_common_ptr cinfo) { longjmp(reinterpret_cast<EmptyInputTrap*>(cinfo->err)->back, 1); }

// The error code the memory source raises for the input, or -1 for none.
int MemorySourceError(const unsigned char* data, unsigned long length) {
  jpeg_decompress_struct d;
  EmptyInputTrap trap;
  d.err = jpeg_std_error(&trap.pub);
  trap.pub.error_exit = TrapError;
  jpeg_create_decompress(&d);
  volatile int code = -1;
  if (setjmp(trap.back) == 0)
    kelo_jpeg_memory_src(&d, data, length);
  else
    code = trap.pub.msg_code;
  jpeg_destroy_decompress(&d);
  return code;
}
}  // namespace

TEST_F(JpegDecodeTest, MemorySourceRefusesEmptyInputThroughTheErrorManager) {
  const unsigned char byte = 0;
  EXPECT_EQ(MemorySourceError(nullptr, 10), JERR_INPUT_EMPTY);
  EXPECT_EQ(MemorySourceError(&byte, 0), JERR_INPUT_EMPTY);
  EXPECT_EQ(MemorySourceError(&byte, 1), -1);
}

TEST(UpdateJPEGParamTest, PatchesTheBaselineFrameAndMendsTheEnd) {
  Bytes jpeg = Compress(MakePage(64, 48, 3));
  const size_t sof = FindMarker(jpeg, 0xC0);
  Bytes expected = jpeg;
  expected[sof + 5] = 0x01;  // 300 lines
  expected[sof + 6] = 0x2C;
  expected[sof + 7] = 0x00;  // 200 pixels
  expected[sof + 8] = 0xC8;
  KELO_IMAGEDATA_PARAMETERS face{SANE_FRAME_RGB, 1, 200, 300, 600, 8};
  EXPECT_TRUE(UpdateJPEGParam(jpeg.data(), static_cast<unsigned>(jpeg.size()), face));
  EXPECT_EQ(jpeg, expected);

  // Progressive frame only: no patch, the end is mended all the same.
  Bytes progressive = Compress(MakePage(64, 48, 3), {true, 0});
  progressive.back() = 0xD3;
  Bytes before = progressive;
  EXPECT_FALSE(UpdateJPEGParam(progressive.data(), static_cast<unsigned>(progressive.size()), face));
  before.back() = 0xD9;
  EXPECT_EQ(progressive, before);

  // Cut inside the frame header: nothing is written past the data.
  Bytes cut = Cut(jpeg, sof + 7);
  Bytes cutBefore = cut;
  EXPECT_FALSE(UpdateJPEGParam(cut.data(), static_cast<unsigned>(cut.size()), face));
  EXPECT_EQ(cut, cutBefore);

  Bytes tiny = {0xFF};
  EXPECT_FALSE(UpdateJPEGParam(tiny.data(), 1, face));
  EXPECT_EQ(tiny, Bytes{0xFF});
}

TEST(UpdateJPEGParamTest, NullDataIsRefusedWithTheLogLine) {
  LogCapture log;
  EXPECT_FALSE(UpdateJPEGParam(nullptr, 10, KELO_IMAGEDATA_PARAMETERS{}));
  EXPECT_NE(log.Stop().find(ErrorLine("UpdateJPEGParam", "ucpJpegData == NULL")), std::string::npos);
}

TEST_F(JpegDecodeTest, MainBackendVariantReadsOnlyTheReceivedBytes) {
  Page page = MakePage(64, 48, 3);
  Bytes jpeg = Compress(page);
  Bytes ref = Reference(jpeg);
  // The face's decoded size (64 x 3 x 48) is far beyond the compressed
  // bytes received; only those may be read.
  QV_IMAGEDATA_PARAMETERS face{SANE_FRAME_RGB, 1, 64, 48, 64 * 3, 8};
  std::unique_ptr<unsigned char, decltype(&free)> out(
      ReadDataFromJpeg(jpeg.data(), static_cast<unsigned>(jpeg.size()), face), &free);
  ASSERT_TRUE(out);
  EXPECT_EQ(memcmp(out.get(), ref.data(), ref.size()), 0);

  // A cut page still fills every row it hands out.
  Bytes cut = Cut(jpeg, jpeg.size() / 2);
  out.reset(ReadDataFromJpeg(cut.data(), static_cast<unsigned>(cut.size()), face));
  EXPECT_TRUE(out);

  // The face's size, not the header's, is the page's size.
  QV_IMAGEDATA_PARAMETERS taller{SANE_FRAME_RGB, 1, 64, 64, 64 * 3, 8};
  out.reset(ReadDataFromJpeg(jpeg.data(), static_cast<unsigned>(jpeg.size()), taller));
  ASSERT_TRUE(out);
  EXPECT_EQ(memcmp(out.get(), ref.data(), 64 * 3 * 32), 0);

  for (QV_IMAGEDATA_PARAMETERS bad :
       {QV_IMAGEDATA_PARAMETERS{1, 1, 0, 48, 0, 8}, QV_IMAGEDATA_PARAMETERS{1, 1, 64, -1, 192, 8},
        QV_IMAGEDATA_PARAMETERS{1, 1, 70000, 48, 210000, 8}}) {
    LogCapture log;
    out.reset(ReadDataFromJpeg(jpeg.data(), static_cast<unsigned>(jpeg.size()), bad));
    EXPECT_FALSE(out);
    EXPECT_NE(log.Stop().find(ErrorLine("ReadDataFromJpeg", "face size out of range")), std::string::npos);
  }
}
