// JPEG compression and reading through the staged library, held against
// libjpeg-turbo driven directly with the same quality, tables and sampling.
// clang-format off
#include <cstddef>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first
#include <jpeglib.h>
// clang-format on

#include <cmath>
#include <csetjmp>
#include <map>

#include "imageops_test_util.h"
#include "test_pages.h"

using namespace imageops_test;

namespace {

struct PageDeleter {
  void operator()(VKIMG* p) const { OPCV(DisposeVKIMG)(p); }
};
using Page = std::unique_ptr<VKIMG, PageDeleter>;

// A rendered page as a record of depth 8 or 24 with rows wider than needed.
struct Source {
  explicit Source(int depth, int dpi = 60) {
    dravn_pages::PageSpec spec;
    spec.dpi = dpi;
    spec.colour = depth == 24;
    image = dravn_pages::RenderDocumentPage(spec);
    if (depth == 8) image = dravn_pages::ToGrey(image);
    rec.depth = depth;
    rec.width = image.width;
    rec.height = image.height;
    rec.rowBytes = int32_t(image.BytesPerLine() + 5);
    rec.size = rec.rowBytes * rec.height;
    pixels.assign(size_t(rec.size), 0);
    for (int y = 0; y < image.height; ++y)
      std::memcpy(pixels.data() + size_t(y) * rec.rowBytes, image.Row(y), image.BytesPerLine());
    rec.baseAddr = pixels.data();
  }
  dravn_pages::Image image;
  std::vector<uint8_t> pixels;
  VKIMG rec{};
};

struct Decoded {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
};

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void JumpOut(j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }

Decoded Decode(const std::vector<uint8_t>& data) {
  jpeg_decompress_struct cinfo{};
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JumpOut;
  Decoded d;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    ADD_FAILURE() << "reference decode failed";
    return Decoded{};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), data.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  d.width = int(cinfo.output_width);
  d.height = int(cinfo.output_height);
  d.components = cinfo.output_components;
  d.pixels.resize(size_t(d.width) * d.height * d.components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = d.pixels.data() + size_t(cinfo.output_scanline) * d.width * d.components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return d;
}

const unsigned int kCustomLuma[64] = {4,  3,  3,  4,  3,  3,  4,  4,  3,  4,  5,  5,  4,  5,  7,  12,
                                      7,  7,  6,  6,  7,  14, 10, 11, 8,  12, 17, 15, 18, 18, 17, 15,
                                      16, 16, 19, 21, 27, 23, 19, 20, 26, 20, 16, 16, 24, 32, 24, 26,
                                      28, 29, 30, 31, 30, 18, 23, 33, 36, 33, 30, 36, 27, 30, 30, 29};
unsigned int CustomChroma(int i) {
  const unsigned int row0[8] = {5, 5, 5, 7, 6, 7, 14, 7}, row1[8] = {7, 14, 29, 19, 16, 19, 29, 29};
  return i < 8 ? row0[i] : i < 16 ? row1[i - 8] : 29;
}
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                         41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                         30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Compresses with libjpeg directly: `setup` adjusts the defaults, `row`
// gives each input row.
template <class Setup, class Row>
std::vector<uint8_t> EncodeWith(int width, int height, int components, J_COLOR_SPACE space, Setup setup, Row row) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buf, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  setup(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW r = row(int(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buf, buf + size);
  free(buf);
  return out;
}

// The same compression made with libjpeg directly.
std::vector<uint8_t> Reference(const Source& s, int quality, bool custom, bool subsample) {
  const bool grey = s.rec.depth == 8;
  return EncodeWith(
      s.rec.width, s.rec.height, grey ? 1 : 3, grey ? JCS_GRAYSCALE : JCS_RGB,
      [&](jpeg_compress_struct& cinfo) {
        if (custom) {
          unsigned int chroma[64];
          for (int i = 0; i < 64; ++i) chroma[i] = CustomChroma(i);
          jpeg_add_quant_table(&cinfo, 0, kCustomLuma, jpeg_quality_scaling(quality), TRUE);
          if (!grey) jpeg_add_quant_table(&cinfo, 1, chroma, jpeg_quality_scaling(quality), TRUE);
        } else {
          jpeg_set_quality(&cinfo, quality, TRUE);
        }
        if (!grey) cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = subsample ? 2 : 1;
      },
      [&](int y) { return const_cast<uint8_t*>(s.rec.baseAddr) + size_t(y) * s.rec.rowBytes; });
}

// What the markers before the scan say.
struct Markers {
  std::map<int, std::vector<int>> tables;       // table id -> natural order
  std::vector<std::pair<int, int>> components;  // id, sampling byte
  int jfifMajor = 0, jfifMinor = 0, units = -1, xDensity = 0, yDensity = 0;
  std::string comment;
  bool commentBeforeTables = false;
};

Markers Parse(const std::vector<uint8_t>& d) {
  Markers m;
  size_t p = 2;
  while (p + 4 <= d.size() && d[p] == 0xFF && d[p + 1] != 0xDA) {
    const int type = d[p + 1], len = d[p + 2] << 8 | d[p + 3];
    const uint8_t* s = &d[p + 4];
    if (type == 0xE0 && len >= 16 && std::memcmp(s, "JFIF", 5) == 0) {
      m.jfifMajor = s[5];
      m.jfifMinor = s[6];
      m.units = s[7];
      m.xDensity = s[8] << 8 | s[9];
      m.yDensity = s[10] << 8 | s[11];
    } else if (type == 0xFE) {
      m.comment.assign(reinterpret_cast<const char*>(s), size_t(len - 2));
      m.commentBeforeTables = m.tables.empty();
    } else if (type == 0xDB) {
      for (int q = 0; q + 65 <= len - 2; q += 65) {
        std::vector<int> natural(64);
        for (int i = 0; i < 64; ++i) natural[size_t(kZigzag[i])] = s[q + 1 + i];
        m.tables[s[q] & 15] = natural;
      }
    } else if (type == 0xC0) {
      for (int c = 0; c < s[5]; ++c) m.components.push_back({s[6 + 3 * c], s[7 + 3 * c]});
    }
    p += 2 + size_t(len);
  }
  return m;
}

double Psnr(const Source& s, const Decoded& d) {
  double se = 0;
  const int ch = s.rec.depth / 8;
  for (int y = 0; y < s.rec.height; ++y)
    for (int x = 0; x < s.rec.width * ch; ++x) {
      const double e = double(s.image.Row(y)[x]) - d.pixels[(size_t(y) * s.rec.width) * ch + x];
      se += e * e;
    }
  return 10 * std::log10(255.0 * 255.0 / (se / (double(s.rec.width) * s.rec.height * ch)));
}

struct Entry {
  const char* name;
  bool record;  // resolution through a record handle
  bool custom;
  int qualities[5];
};
const int kCodes[5] = {0, 286, 389, 450, 788};
const Entry kEntries[] = {{"CompressJPEG", false, true, {15, 50, 67, 80, 95}},
                          {"CompressJPEGWithIPP", true, false, {15, 45, 67, 80, 95}},
                          {"CompressJPEGEx", true, false, {14, 35, 55, 70, 95}},
                          {"CompressJPEGWithIPPEx", true, false, {14, 35, 55, 70, 95}}};

std::vector<uint8_t> Compress(const Entry& e, const VKIMG* page, VkImageDesc* res, int code, int16_t* status) {
  uint8_t* out = reinterpret_cast<uint8_t*>(1);
  uint32_t size = 7;
  if (e.record)
    *status = reinterpret_cast<decltype(&CompressJPEGEx)>(Bound(e.name))(page, &res, code, &out, &size);
  else
    *status = OPCV(CompressJPEG)(page, res->vRes, code, &out, &size);
  std::vector<uint8_t> data;
  if (*status == 0)
    data.assign(out, out + size);
  else {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
  }
  free(out);
  return data;
}

}  // namespace

TEST(Jpeg, EveryEntryGreyAndColourEveryQualityCode) {
  for (int depth : {8, 24}) {
    Source src(depth);
    for (const auto& e : kEntries) {
      double last = 0;
      for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(testing::Message() << e.name << " depth " << depth << " code " << kCodes[i]);
        VkImageDesc res{0, 0, e.record ? 200 : 300, 300, 0, 0, 0};
        int16_t st = 1;
        const auto data = Compress(e, &src.rec, &res, kCodes[i], &st);
        ASSERT_EQ(st, 0);
        const int q = e.qualities[i];
        const bool subsample = !e.custom && depth == 24;
        const Decoded got = Decode(data), want = Decode(Reference(src, q, e.custom, subsample));
        ASSERT_EQ(got.width, src.rec.width);
        ASSERT_EQ(got.components, depth / 8);
        EXPECT_TRUE(got.pixels == want.pixels) << "pixels differ from libjpeg's own";
        const double psnr = Psnr(src, got);
        EXPECT_GT(psnr, last);
        last = psnr;

        const Markers m = Parse(data);
        EXPECT_EQ(m.jfifMajor, 1);
        EXPECT_EQ(m.jfifMinor, 2);
        EXPECT_EQ(m.units, 1);
        EXPECT_EQ(m.xDensity, res.hRes);
        EXPECT_EQ(m.yDensity, 300);
        EXPECT_EQ(m.comment, "VELMORAK");
        EXPECT_TRUE(m.commentBeforeTables);
        ASSERT_EQ(m.tables.size(), depth == 8 ? 1u : 2u);
        ASSERT_EQ(m.components.size(), size_t(depth / 8));
        for (size_t c = 0; c < m.components.size(); ++c) {
          EXPECT_EQ(m.components[c].first, int(c));
          EXPECT_EQ(m.components[c].second, c == 0 && subsample ? 0x22 : 0x11);
        }
        // The tables: the custom ones scaled for the quality, or libjpeg's standard ones.
        const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
        jpeg_compress_struct std{};
        jpeg_error_mgr err;
        std.err = jpeg_std_error(&err);
        jpeg_create_compress(&std);
        std.in_color_space = JCS_RGB;
        std.input_components = 3;
        jpeg_set_defaults(&std);
        jpeg_set_quality(&std, q, TRUE);
        for (const auto& [id, values] : m.tables)
          for (int k = 0; k < 64; ++k) {
            const int base = id == 0 ? int(kCustomLuma[k]) : int(CustomChroma(k));
            const int want =
                e.custom ? std::clamp((base * scale + 50) / 100, 1, 255) : int(std.quant_tbl_ptrs[id]->quantval[k]);
            ASSERT_EQ(values[size_t(k)], want) << "table " << id << " cell " << k;
          }
        jpeg_destroy_compress(&std);
      }
    }
  }
}

TEST(Jpeg, CompressionRefusals) {
  Source grey(8);
  VkImageDesc res{0, 0, 300, 300, 0, 0, 0};
  int16_t st = 0;
  Compress(kEntries[0], &grey.rec, &res, 287, &st);
  EXPECT_EQ(st, -50);
  Compress(kEntries[2], &grey.rec, &res, 287, &st);
  EXPECT_EQ(st, -50);
  VKIMG deep = grey.rec;
  deep.depth = 16;
  Compress(kEntries[1], &deep, &res, 0, &st);
  EXPECT_EQ(st, -50);
  VKIMG empty = grey.rec;
  empty.baseAddr = nullptr;
  Compress(kEntries[0], &empty, &res, 0, &st);
  EXPECT_EQ(st, -50);
  Compress(kEntries[0], nullptr, &res, 0, &st);
  EXPECT_EQ(st, -50);
  uint8_t* out = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(OPCV(CompressJPEGWithIPP)(&grey.rec, nullptr, 0, &out, &size), -50);
  EXPECT_EQ(OPCV(CompressJPEG)(&grey.rec, 300, 0, nullptr, &size), -50);
}

namespace {

std::vector<uint8_t> Encoded(int depth) {
  Source s(depth);
  VkImageDesc res{0, 0, 300, 300, 0, 0, 0};
  int16_t st = 1;
  auto data = Compress(kEntries[2], &s.rec, &res, 788, &st);
  EXPECT_EQ(st, 0);
  return data;
}

std::vector<uint8_t> CmykStream() {
  std::vector<uint8_t> row(64, 100);
  return EncodeWith(
      16, 8, 4, JCS_CMYK, [](jpeg_compress_struct&) {}, [&](int) { return row.data(); });
}

}  // namespace

TEST(Jpeg, ReadersGiveGreyOrRgbPagesAndDescribeThem) {
  for (int depth : {8, 24}) {
    const auto data = Encoded(depth);
    const Decoded want = Decode(data);
    for (auto* read : {OPCV(ReadJPEG), OPCV(ReadJPEGWithIPP)}) {
      VkImageDesc d{};
      VkImageDesc* dp = &d;
      VKIMG* out = nullptr;
      ASSERT_EQ(read(data.data(), uint32_t(data.size()), &dp, &out), 0);
      Page page(out);
      EXPECT_EQ(out->depth, depth);
      EXPECT_EQ(d.width, want.width);
      EXPECT_EQ(d.height, want.height);
      EXPECT_EQ(d.depth, depth);
      EXPECT_EQ(out->rowBytes, want.width * depth / 8);
      EXPECT_EQ(out->size, out->rowBytes * out->height);
      EXPECT_TRUE(std::equal(want.pixels.begin(), want.pixels.end(), out->baseAddr));
    }
  }
  // Colour order: the page's red box stays red.
  Source colour(24);
  const auto data = Encoded(24);
  VkImageDesc d{};
  VkImageDesc* dp = &d;
  VKIMG* out = nullptr;
  ASSERT_EQ(OPCV(ReadJPEG)(data.data(), uint32_t(data.size()), &dp, &out), 0);
  Page page(out);
  double diff = 0;
  for (int y = 0; y < out->height; ++y)
    for (int x = 0; x < out->width * 3; ++x)
      diff += std::abs(out->baseAddr[size_t(y) * out->rowBytes + x] - colour.image.Row(y)[x]);
  EXPECT_LT(diff / (double(out->width) * out->height * 3), 3.0);
}

TEST(Jpeg, SplitReaderWantsTheDescribedSize) {
  const auto grey = Encoded(8);
  const Decoded want = Decode(grey);
  VkImageDesc d{want.width, want.height, 0, 0, 0, 8, 0};
  VkImageDesc* dp = &d;
  VKIMG* out = nullptr;
  ASSERT_EQ(OPCV(ReadSplitJPEG)(grey.data(), uint32_t(grey.size()), &dp, &out), 0);
  Page page(out);
  EXPECT_EQ(out->depth, 24);
  for (int i = 0; i < want.width; ++i)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(out->baseAddr[3 * i + c], want.pixels[size_t(i)]);
  d.width += 1;
  out = reinterpret_cast<VKIMG*>(1);
  EXPECT_EQ(OPCV(ReadSplitJPEG)(grey.data(), uint32_t(grey.size()), &dp, &out), -50);
  EXPECT_EQ(out, nullptr);
}

TEST(Jpeg, DamagedOrUnsupportedStreamsAreRefused) {
  const auto good = Encoded(24);
  auto truncated = std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2));
  auto corrupt = good;
  for (size_t i = corrupt.size() / 3; i < corrupt.size() / 3 + 64; ++i) corrupt[i] = 0xFF;
  auto badHeader = good;
  badHeader[3] ^= 0x40;
  const auto cmyk = CmykStream();
  const std::vector<uint8_t> noise(500, 0x5A);
  struct Case {
    const char* what;
    const std::vector<uint8_t>* data;
  };
  for (const Case& c : {Case{"truncated", &truncated}, Case{"corrupt", &corrupt}, Case{"bad header", &badHeader},
                        Case{"4 channels", &cmyk}, Case{"not a JPEG", &noise}})
    for (auto* read : {OPCV(ReadJPEG), OPCV(ReadSplitJPEG)}) {
      VkImageDesc d{16, 8, 0, 0, 0, 0, 0};
      VkImageDesc* dp = &d;
      VKIMG* out = reinterpret_cast<VKIMG*>(1);
      EXPECT_EQ(read(c.data->data(), uint32_t(c.data->size()), &dp, &out), -50) << c.what;
      EXPECT_EQ(out, nullptr) << c.what;
    }
  VkImageDesc d{};
  VkImageDesc* dp = &d;
  VKIMG* out = nullptr;
  EXPECT_EQ(OPCV(ReadJPEG)(good.data(), 0, &dp, &out), -50);
  EXPECT_EQ(OPCV(ReadJPEG)(good.data(), uint32_t(good.size()), nullptr, &out), -50);
  EXPECT_EQ(OPCV(ReadJPEG)(nullptr, 10, &dp, &out), -50);
}
