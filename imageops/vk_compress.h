// One libjpeg compression into a growing byte vector.
#ifndef DRAVN_IMAGEOPS_VK_COMPRESS_H
#define DRAVN_IMAGEOPS_VK_COMPRESS_H

// clang-format off
#include <cstddef>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <cstdint>
#include <vector>

namespace imageops {

extern const char DEFAULT_CREATOR[8];
extern const unsigned int g_customLuminanceQuant[64];
extern const unsigned int g_customChrominanceQuant[64];

class VkCompress {
 public:
  VkCompress() = default;
  ~VkCompress();
  VkCompress(const VkCompress&) = delete;
  VkCompress& operator=(const VkCompress&) = delete;

  bool InitBase(size_t bufferSize, std::vector<uint8_t>& output);
  bool InitWithGray(int width, int height, size_t bufferSize, std::vector<uint8_t>& output);
  bool InitWithRGB(int width, int height, size_t bufferSize, std::vector<uint8_t>& output);
  void SetQuality(int quality);
  // The given tables (natural order) scaled by libjpeg's scaling of quality.
  void SetQuality(int quality, const unsigned int* luminance, const unsigned int* chrominance);
  void SetOutImageGray444();
  void SetOutImageYCbCr444();
  void SetOutImageYCbCr411();
  void SetResolution(int unit, int vertical, int horizontal);
  // false when libjpeg reported an error, memory among them.
  bool Compress(const uint8_t* pixels, int bytesPerLine, const char* creator, size_t creatorLength);

 private:
  bool Init(int width, int height, int components, J_COLOR_SPACE space, size_t bufferSize,
            std::vector<uint8_t>& output);
  void SetComponents(J_COLOR_SPACE space, int lumaSampling);
  static void ErrorExit(j_common_ptr cinfo);
  static void OutputMessage(j_common_ptr) {}
  static void InitDestination(j_compress_ptr) {}
  static boolean EmptyOutputBuffer(j_compress_ptr cinfo);
  static void TermDestination(j_compress_ptr cinfo);
  // Appends to the output; libjpeg's error exit when the vector cannot grow.
  static void Append(j_compress_ptr cinfo, size_t bytes);

  jpeg_compress_struct* m_cinfo = nullptr;
  jpeg_error_mgr m_error{};
  jpeg_destination_mgr m_destination{};
  jmp_buf m_jump;
  std::vector<uint8_t>* m_output = nullptr;
  std::vector<uint8_t> m_buffer;
  bool m_failed = false;
};

bool CompressGray2Gray444(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB, bool customTables);
bool CompressRGB2YCbCr444(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB, bool customTables);
bool CompressRGB2YCbCr411(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB);

}  // namespace imageops

#endif
