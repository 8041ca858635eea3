#include "vk_compress.h"

#include <jerror.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace imageops {

const char DEFAULT_CREATOR[8] = {'V', 'E', 'L', 'M', 'O', 'R', 'A', 'K'};

const unsigned int g_customLuminanceQuant[64] = {4,  3,  3,  4,  3,  3,  4,  4,  3,  4,  5,  5,  4,  5,  7,  12,
                                                 7,  7,  6,  6,  7,  14, 10, 11, 8,  12, 17, 15, 18, 18, 17, 15,
                                                 16, 16, 19, 21, 27, 23, 19, 20, 26, 20, 16, 16, 24, 32, 24, 26,
                                                 28, 29, 30, 31, 30, 18, 23, 33, 36, 33, 30, 36, 27, 30, 30, 29};

const unsigned int g_customChrominanceQuant[64] = {5,  5,  5,  7,  6,  7,  14, 7,  7,  14, 29, 19, 16, 19, 29, 29,
                                                   29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29,
                                                   29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29,
                                                   29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29, 29};

constexpr size_t kBufferSize = 0x80000;

VkCompress::~VkCompress() {
  if (!m_cinfo) return;
  jpeg_destroy_compress(m_cinfo);
  std::free(m_cinfo);
}

void VkCompress::ErrorExit(j_common_ptr cinfo) {
  std::longjmp(static_cast<VkCompress*>(cinfo->client_data)->m_jump, 1);
}

void VkCompress::Append(j_compress_ptr cinfo, size_t bytes) {
  auto* self = static_cast<VkCompress*>(cinfo->client_data);
  bool grown = true;
  try {
    self->m_output->insert(self->m_output->end(), self->m_buffer.data(), self->m_buffer.data() + bytes);
  } catch (...) {
    grown = false;
  }
  // Outside the handler: the exit leaves through libjpeg's frames.
  if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

boolean VkCompress::EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* self = static_cast<VkCompress*>(cinfo->client_data);
  Append(cinfo, self->m_buffer.size());
  cinfo->dest->next_output_byte = self->m_buffer.data();
  cinfo->dest->free_in_buffer = self->m_buffer.size();
  return TRUE;
}

void VkCompress::TermDestination(j_compress_ptr cinfo) {
  auto* self = static_cast<VkCompress*>(cinfo->client_data);
  Append(cinfo, self->m_buffer.size() - cinfo->dest->free_in_buffer);
}

bool VkCompress::InitBase(size_t bufferSize, std::vector<uint8_t>& output) {
  if (m_cinfo || bufferSize == 0) return false;
  try {
    m_buffer.resize(bufferSize);
  } catch (...) {
    return false;
  }
  m_cinfo = static_cast<jpeg_compress_struct*>(std::calloc(1, sizeof(jpeg_compress_struct)));
  if (!m_cinfo) return false;
  m_cinfo->err = jpeg_std_error(&m_error);
  m_error.error_exit = ErrorExit;
  m_error.output_message = OutputMessage;
  m_cinfo->client_data = this;
  if (setjmp(m_jump)) {
    std::free(m_cinfo);  // nothing of libjpeg's was left to destroy
    m_cinfo = nullptr;
    return false;
  }
  jpeg_create_compress(m_cinfo);
  m_cinfo->client_data = this;
  m_destination.init_destination = InitDestination;
  m_destination.empty_output_buffer = EmptyOutputBuffer;
  m_destination.term_destination = TermDestination;
  m_cinfo->dest = &m_destination;
  m_output = &output;
  return true;
}

bool VkCompress::Init(int width, int height, int components, J_COLOR_SPACE space, size_t bufferSize,
                      std::vector<uint8_t>& output) {
  if (!InitBase(bufferSize, output)) return false;
  if (setjmp(m_jump)) return false;
  m_cinfo->image_width = JDIMENSION(width);
  m_cinfo->image_height = JDIMENSION(height);
  m_cinfo->input_components = components;
  m_cinfo->in_color_space = space;
  jpeg_set_defaults(m_cinfo);
  m_cinfo->JFIF_minor_version = 2;
  return true;
}

bool VkCompress::InitWithGray(int width, int height, size_t bufferSize, std::vector<uint8_t>& output) {
  return Init(width, height, 1, JCS_GRAYSCALE, bufferSize, output);
}

bool VkCompress::InitWithRGB(int width, int height, size_t bufferSize, std::vector<uint8_t>& output) {
  return Init(width, height, 3, JCS_RGB, bufferSize, output);
}

// The setters report through m_failed: libjpeg's error exit needs a live
// frame to jump back to.
#define VK_GUARDED                  \
  if (!m_cinfo || setjmp(m_jump)) { \
    m_failed = true;                \
    return;                         \
  }

void VkCompress::SetQuality(int quality) {
  VK_GUARDED
  jpeg_set_quality(m_cinfo, quality, TRUE);
}

void VkCompress::SetQuality(int quality, const unsigned int* luminance, const unsigned int* chrominance) {
  VK_GUARDED
  const int scale = jpeg_quality_scaling(quality);
  if (luminance) jpeg_add_quant_table(m_cinfo, 0, luminance, scale, TRUE);
  if (chrominance) jpeg_add_quant_table(m_cinfo, 1, chrominance, scale, TRUE);
}

void VkCompress::SetComponents(J_COLOR_SPACE space, int lumaSampling) {
  const volatile int sampling = lumaSampling;
  VK_GUARDED
  jpeg_set_colorspace(m_cinfo, space);
  for (int i = 0; i < m_cinfo->num_components; ++i) {
    m_cinfo->comp_info[i].component_id = i;
    m_cinfo->comp_info[i].h_samp_factor = m_cinfo->comp_info[i].v_samp_factor = i == 0 ? sampling : 1;
  }
}

void VkCompress::SetOutImageGray444() { SetComponents(JCS_GRAYSCALE, 1); }
void VkCompress::SetOutImageYCbCr444() { SetComponents(JCS_YCbCr, 1); }
void VkCompress::SetOutImageYCbCr411() { SetComponents(JCS_YCbCr, 2); }

void VkCompress::SetResolution(int unit, int vertical, int horizontal) {
  if (!m_cinfo) return;
  m_cinfo->density_unit = UINT8(unit);
  m_cinfo->Y_density = UINT16(vertical);
  m_cinfo->X_density = UINT16(horizontal);
}

bool VkCompress::Compress(const uint8_t* pixels, int bytesPerLine, const char* creator, size_t creatorLength) {
  if (!m_cinfo || !pixels || m_failed) return false;
  if (setjmp(m_jump)) {
    jpeg_abort_compress(m_cinfo);
    return false;
  }
  m_destination.next_output_byte = m_buffer.data();
  m_destination.free_in_buffer = m_buffer.size();
  jpeg_start_compress(m_cinfo, TRUE);
  if (creator) jpeg_write_marker(m_cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(creator), unsigned(creatorLength));
  constexpr int kRows = 16;
  JSAMPROW rows[kRows];
  while (m_cinfo->next_scanline < m_cinfo->image_height) {
    const JDIMENSION first = m_cinfo->next_scanline;
    const JDIMENSION n = std::min<JDIMENSION>(kRows, m_cinfo->image_height - first);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = const_cast<JSAMPROW>(pixels + ptrdiff_t(first + i) * bytesPerLine);
    jpeg_write_scanlines(m_cinfo, rows, n);
  }
  jpeg_finish_compress(m_cinfo);
  return true;
}

bool CompressGray2Gray444(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB, bool customTables) {
  VkCompress c;
  if (!c.InitWithGray(width, height, kBufferSize, out)) return false;
  if (customTables)
    c.SetQuality(quality, g_customLuminanceQuant, nullptr);
  else
    c.SetQuality(quality);
  c.SetOutImageGray444();
  c.SetResolution(1, resolutionA, resolutionB);
  return c.Compress(pixels, bytesPerLine, DEFAULT_CREATOR, sizeof DEFAULT_CREATOR);
}

bool CompressRGB2YCbCr444(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB, bool customTables) {
  VkCompress c;
  if (!c.InitWithRGB(width, height, kBufferSize, out)) return false;
  if (customTables)
    c.SetQuality(quality, g_customLuminanceQuant, g_customChrominanceQuant);
  else
    c.SetQuality(quality);
  c.SetOutImageYCbCr444();
  c.SetResolution(1, resolutionA, resolutionB);
  return c.Compress(pixels, bytesPerLine, DEFAULT_CREATOR, sizeof DEFAULT_CREATOR);
}

bool CompressRGB2YCbCr411(const uint8_t* pixels, int bytesPerLine, int width, int height, std::vector<uint8_t>& out,
                          int quality, int resolutionA, int resolutionB) {
  VkCompress c;
  if (!c.InitWithRGB(width, height, kBufferSize, out)) return false;
  c.SetQuality(quality);
  c.SetOutImageYCbCr411();
  c.SetResolution(1, resolutionA, resolutionB);
  return c.Compress(pixels, bytesPerLine, DEFAULT_CREATOR, sizeof DEFAULT_CREATOR);
}

}  // namespace imageops
