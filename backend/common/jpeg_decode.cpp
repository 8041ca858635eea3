#include "jpeg_decode.h"

#include <dlfcn.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>

#include "byte_table.h"
#include "log.h"

void* g_pLibjpeg = nullptr;
bool g_bLibjpeg = false;

namespace {

// The bound entries. decltype keeps their types those of the header we
// compile against without linking the library.
struct JpegApi {
  decltype(&jpeg_resync_to_restart) resync_to_restart = nullptr;
  decltype(&jpeg_std_error) std_error = nullptr;
  decltype(&jpeg_destroy_decompress) destroy_decompress = nullptr;
  decltype(&jpeg_read_header) read_header = nullptr;
  decltype(&jpeg_start_decompress) start_decompress = nullptr;
  decltype(&jpeg_read_scanlines) read_scanlines = nullptr;
  decltype(&jpeg_finish_decompress) finish_decompress = nullptr;
  decltype(&jpeg_CreateDecompress) CreateDecompress = nullptr;
  bool complete = false;
};
JpegApi g_jpeg;

const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

template <typename F>
bool Bind(void* handle, const char* name, F& slot) {
  void* p = dlsym(handle, name);
  if (!p) {
    std::string msg = std::string("failed to load ") + name;
    WriteLog(LOG_LEVEL_ERROR, "LoadSecondBackendFunc", msg.c_str());
    return false;
  }
  slot = reinterpret_cast<F>(p);
  return true;
}

// The standard error manager with a way back to the decoder.
struct kelo_error_mgr {
  struct jpeg_error_mgr pub;
  jmp_buf setjmp_buffer;
  int dataEnded;  // the entropy data ran out before the frame was complete
};

void my_error_exit(j_common_ptr cinfo) {
  kelo_error_mgr* err = reinterpret_cast<kelo_error_mgr*>(cinfo->err);
  (*cinfo->err->output_message)(cinfo);
  longjmp(err->setjmp_buffer, 1);
}

void my_emit_message(j_common_ptr cinfo, int msg_level) {
  struct jpeg_error_mgr* err = cinfo->err;
  if (msg_level < 0) {
    // The scan stopped short: the page ran out, or the decoder met a marker
    // other than a restart where entropy data should be. A restart met early
    // only spoils its own interval; the decoder picks up again after it.
    const int marker = cinfo->is_decompressor ? reinterpret_cast<j_decompress_ptr>(cinfo)->unread_marker : 0;
    if (err->msg_code == JWRN_JPEG_EOF ||
        (err->msg_code == JWRN_HIT_MARKER && !(marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7)))
      reinterpret_cast<kelo_error_mgr*>(err)->dataEnded = 1;
    err->num_warnings++;
  } else if (err->trace_level >= msg_level) {
    (*err->output_message)(cinfo);
  }
}

// The page is served in up to three pieces: the header up to the frame
// size, the frame size we were given, and the rest. The library then sizes
// every buffer from the size it will deliver.
struct kelo_source_mgr {
  struct jpeg_source_mgr pub;
  const JOCTET* pieces[3];
  size_t sizes[3];
  int count;
  int next;
  JOCTET frameSize[4];
};

void kelo_init_memory_source(j_decompress_ptr) {}
void kelo_term_source(j_decompress_ptr) {}

boolean kelo_fill_memory_input_buffer(j_decompress_ptr cinfo) {
  kelo_source_mgr* src = reinterpret_cast<kelo_source_mgr*>(cinfo->src);
  while (src->next < src->count) {
    int i = src->next++;
    if (src->sizes[i] == 0) continue;
    src->pub.next_input_byte = src->pieces[i];
    src->pub.bytes_in_buffer = src->sizes[i];
    return TRUE;
  }
  // Past the end: an end-of-image marker lets decoding end cleanly.
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src->pub.next_input_byte = kEndOfImage;
  src->pub.bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void kelo_skip_input_data(j_decompress_ptr cinfo, long num_bytes) {
  if (num_bytes <= 0) return;
  struct jpeg_source_mgr* src = cinfo->src;
  size_t n = static_cast<size_t>(num_bytes);
  while (n > src->bytes_in_buffer) {
    n -= src->bytes_in_buffer;
    (*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= n;
}

kelo_source_mgr* InstallSource(j_decompress_ptr cinfo, const unsigned char* data, unsigned long length) {
  if (!data || length == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
  if (!cinfo->src) {
    cinfo->src = static_cast<struct jpeg_source_mgr*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(kelo_source_mgr)));
  }
  kelo_source_mgr* src = reinterpret_cast<kelo_source_mgr*>(cinfo->src);
  src->pub.init_source = kelo_init_memory_source;
  src->pub.fill_input_buffer = kelo_fill_memory_input_buffer;
  src->pub.skip_input_data = kelo_skip_input_data;
  src->pub.resync_to_restart = g_jpeg.resync_to_restart;
  src->pub.term_source = kelo_term_source;
  src->pub.next_input_byte = data;
  src->pub.bytes_in_buffer = length;
  src->count = 0;
  src->next = 0;
  return src;
}

bool IsStartOfFrame(unsigned char marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Offset of the first start-of-frame marker, walking the marker segments
// from the start-of-image marker; length when there is none before the scan.
size_t FindFrameHeader(const unsigned char* data, size_t length) {
  if (length < 4 || data[0] != 0xFF || data[1] != 0xD8) return length;
  size_t pos = 2;
  while (pos + 1 < length) {
    if (data[pos] != 0xFF) {  // stray bytes between segments, as the library skips them
      ++pos;
      continue;
    }
    if (data[pos + 1] == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    unsigned char marker = data[pos + 1];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return length;
    if (pos + 3 >= length) return length;
    size_t segment = (static_cast<size_t>(data[pos + 2]) << 8) | data[pos + 3];
    if (IsStartOfFrame(marker)) return segment >= 8 && pos + 8 < length ? pos : length;
    pos += 2 + segment;
  }
  return length;
}

// Serves data with the frame header's height and width replaced.
void InstallFramedSource(j_decompress_ptr cinfo, const unsigned char* data, size_t length, unsigned width,
                         unsigned height) {
  kelo_source_mgr* src = InstallSource(cinfo, data, length);
  size_t sof = FindFrameHeader(data, length);
  if (sof == length) return;  // no frame header: the library reports the fault
  src->frameSize[0] = static_cast<JOCTET>(height >> 8);
  src->frameSize[1] = static_cast<JOCTET>(height);
  src->frameSize[2] = static_cast<JOCTET>(width >> 8);
  src->frameSize[3] = static_cast<JOCTET>(width);
  src->pub.bytes_in_buffer = sof + 5;
  src->pieces[0] = src->frameSize;
  src->sizes[0] = sizeof src->frameSize;
  src->pieces[1] = data + sof + 9;
  src->sizes[1] = length - (sof + 9);
  src->count = 2;
}

struct DecodeRequest {
  const char* function;
  const unsigned char* data;
  size_t length;
  unsigned width;
  unsigned height;
  bool whiteBackground;  // rows past the data are white (0xFF)
  const unsigned char* table = nullptr;  // every byte handed out goes through it
  unsigned char* into = nullptr;         // the caller's buffer, when it holds the page
  size_t capacity = 0;
};

// No object with a destructor may live in this frame: a library error
// comes back here through longjmp.
unsigned char* DecodeWith(const DecodeRequest& rq, const CBytePairTable* map) {
  struct jpeg_decompress_struct cinfo;
  kelo_error_mgr jerr;
  unsigned char* volatile out = nullptr;
  volatile bool owned = false;  // out is ours to free on the way out

  cinfo.err = g_jpeg.std_error(&jerr.pub);
  jerr.pub.error_exit = my_error_exit;
  jerr.pub.emit_message = my_emit_message;
  jerr.dataEnded = 0;
  if (setjmp(jerr.setjmp_buffer)) {
    g_jpeg.destroy_decompress(&cinfo);
    if (owned) free(out);
    WriteLog(LOG_LEVEL_ERROR, rq.function, "setjmp(jerr.setjmp_buffer)");
    return nullptr;
  }
  g_jpeg.CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof(struct jpeg_decompress_struct));
  InstallFramedSource(&cinfo, rq.data, rq.length, rq.width, rq.height);
  g_jpeg.read_header(&cinfo, TRUE);
  // A frame the given size was not written into (one the library finds
  // where the walk above does not) keeps the stream's own size, which is
  // refused here, before the library sizes its buffers from it: for a
  // multi-scan frame of 60000 x 60000 those are gigabytes, zeroed.
  if (cinfo.image_width != rq.width || cinfo.image_height != rq.height) {
    g_jpeg.destroy_decompress(&cinfo);
    WriteLog(LOG_LEVEL_ERROR, rq.function, "frame size != requested size");
    return nullptr;
  }
  g_jpeg.start_decompress(&cinfo);
  if (cinfo.output_width != rq.width || cinfo.output_height != rq.height) {
    // No frame header to give the size to: the caller's size is the one its
    // buffers are made for.
    g_jpeg.destroy_decompress(&cinfo);
    WriteLog(LOG_LEVEL_ERROR, rq.function, "output size != requested size");
    return nullptr;
  }

  const size_t rowBytes = static_cast<size_t>(cinfo.output_width) * static_cast<size_t>(cinfo.output_components);
  const size_t total = rowBytes * cinfo.output_height;
  if (rq.into && rq.capacity >= total) {
    out = rq.into;
  } else if (rq.into) {
    g_jpeg.destroy_decompress(&cinfo);
    WriteLog(LOG_LEVEL_ERROR, rq.function, "buffer too small");
    return nullptr;
  } else {
    out = static_cast<unsigned char*>(malloc(total ? total : 1));
    owned = true;
  }
  if (!out) {
    WriteLog(LOG_LEVEL_ERROR, rq.function, "ucpOutImg == NULL");
    g_jpeg.destroy_decompress(&cinfo);
    return nullptr;
  }

  // A multi-scan page is read whole before the first row; its rows come
  // from whatever the scans held. A single scan is decoded row group by row
  // group, and once its data ran out the groups after it stay white.
  const bool readWhole = jerr.dataEnded != 0;
#if JPEG_LIB_VERSION >= 70
  const unsigned groupRows = static_cast<unsigned>(cinfo.max_v_samp_factor * cinfo.min_DCT_v_scaled_size);
#else
  const unsigned groupRows = static_cast<unsigned>(cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size);
#endif
  bool complete = true;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out + rowBytes * cinfo.output_scanline;
    if (g_jpeg.read_scanlines(&cinfo, &row, 1) != 1) {
      complete = false;
      break;
    }
    if (map) map->Map(row, rowBytes);  // while the row is still in the cache
    if (rq.whiteBackground && !readWhole && jerr.dataEnded && groupRows && cinfo.output_scanline % groupRows == 0 &&
        cinfo.output_scanline < cinfo.output_height) {
      complete = false;
      break;
    }
  }
  // Rows are only ever written whole, so the rows the decoder never reached
  // are those from here on; they alone take the white.
  const size_t written = rowBytes * cinfo.output_scanline;
  if (rq.whiteBackground) memset(out + written, rq.table ? rq.table[0xFF] : 0xFF, total - written);
  if (complete) {
    g_jpeg.finish_decompress(&cinfo);
  } else if (!rq.whiteBackground) {  // rows never written must not be handed out
    g_jpeg.destroy_decompress(&cinfo);
    if (owned) free(out);
    WriteLog(LOG_LEVEL_ERROR, rq.function, "jpeg_read_scanlines() != 1");
    return nullptr;
  }
  g_jpeg.destroy_decompress(&cinfo);
  return out;
}

// The table lives outside the frame that longjmp leaves.
unsigned char* Decode(const DecodeRequest& rq) {
  if (!rq.table) return DecodeWith(rq, nullptr);
  const CBytePairTable map(rq.table);
  return DecodeWith(rq, &map);
}

bool DecoderReady(const char* function) {
  if (g_pLibjpeg && g_jpeg.complete) return true;
  WriteLog(LOG_LEVEL_ERROR, function, "libjpeg is not loaded");
  return false;
}

}  // namespace

bool LoadLibjpeg8(const char* libDir) {
  CLogScope scope("LoadLibjpeg8");
  UnLoadLibjpeg8();  // a repeated init must not stack handles
  std::string path = std::string(libDir ? libDir : DRAVN_LIB_DIR) + "/libjpeg.so";
  g_pLibjpeg = dlopen(path.c_str(), RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
  if (!g_pLibjpeg) {
    WriteLog(LOG_LEVEL_ERROR, "LoadLibjpeg8", "dll open failed");
    return false;
  }
  // A missing name leaves the handle open; the next init or exit closes it.
  g_jpeg.complete = Bind(g_pLibjpeg, "jpeg_resync_to_restart", g_jpeg.resync_to_restart) &&
                    Bind(g_pLibjpeg, "jpeg_std_error", g_jpeg.std_error) &&
                    Bind(g_pLibjpeg, "jpeg_destroy_decompress", g_jpeg.destroy_decompress) &&
                    Bind(g_pLibjpeg, "jpeg_read_header", g_jpeg.read_header) &&
                    Bind(g_pLibjpeg, "jpeg_start_decompress", g_jpeg.start_decompress) &&
                    Bind(g_pLibjpeg, "jpeg_read_scanlines", g_jpeg.read_scanlines) &&
                    Bind(g_pLibjpeg, "jpeg_finish_decompress", g_jpeg.finish_decompress) &&
                    Bind(g_pLibjpeg, "jpeg_CreateDecompress", g_jpeg.CreateDecompress);
  return g_jpeg.complete;
}

void UnLoadLibjpeg8() {
  if (g_pLibjpeg) dlclose(g_pLibjpeg);
  g_pLibjpeg = nullptr;
  g_jpeg = JpegApi();  // no pointer into an unloaded library stays callable
}

void kelo_jpeg_memory_src(j_decompress_ptr cinfo, const unsigned char* data, unsigned long length) {
  InstallSource(cinfo, data, length);
}

unsigned char* ReadDataFromJpeg(const unsigned char* data, JPEGINFO info) {
  if (!DecoderReady("ReadDataFromJpeg")) return nullptr;
  return Decode({"ReadDataFromJpeg", data, info.uiDataSize, info.usWidth, info.usHeight, true});
}

unsigned char* ReadDataFromJpegMapped(const unsigned char* data, JPEGINFO info, const unsigned char* table) {
  if (!DecoderReady("ReadDataFromJpeg")) return nullptr;
  return Decode({"ReadDataFromJpeg", data, info.uiDataSize, info.usWidth, info.usHeight, true, table});
}

unsigned char* ReadDataFromJpegMappedInto(const unsigned char* data, JPEGINFO info, const unsigned char* table,
                                          unsigned char* out, size_t capacity) {
  if (!DecoderReady("ReadDataFromJpeg") || !out) return nullptr;
  return Decode({"ReadDataFromJpeg", data, info.uiDataSize, info.usWidth, info.usHeight, true, table, out, capacity});
}

unsigned char* ReadDataFromJpeg(const unsigned char* data, unsigned int receivedLength, QV_IMAGEDATA_PARAMETERS face) {
  CLogScope scope("ReadDataFromJpeg");
  if (!DecoderReady("ReadDataFromJpeg")) return nullptr;
  // A frame header holds 16-bit sizes.
  if (face.iPixelsPerLine <= 0 || face.iPixelsPerLine > 0xFFFF || face.iLines <= 0 || face.iLines > 0xFFFF) {
    WriteLog(LOG_LEVEL_ERROR, "ReadDataFromJpeg", "face size out of range");
    return nullptr;
  }
  return Decode({"ReadDataFromJpeg", data, receivedLength, static_cast<unsigned>(face.iPixelsPerLine),
                 static_cast<unsigned>(face.iLines), false});
}

bool UpdateJPEGParam(unsigned char* data, unsigned int length, KELO_IMAGEDATA_PARAMETERS params) {
  if (!data) {
    WriteLog(LOG_LEVEL_ERROR, "UpdateJPEGParam", "ucpJpegData == NULL");
    return false;
  }
  bool patched = false;
  size_t pos = 0;
  while (pos < length) {
    if (data[pos] != 0xFF) {
      ++pos;
      continue;
    }
    if (pos + 1 >= length) break;
    const unsigned char marker = data[pos + 1];
    if (marker == 0xC0) {
      if (pos + 8 < length) {
        data[pos + 5] = static_cast<unsigned char>(params.iLines >> 8);
        data[pos + 6] = static_cast<unsigned char>(params.iLines);
        data[pos + 7] = static_cast<unsigned char>(params.iPixelsPerLine >> 8);
        data[pos + 8] = static_cast<unsigned char>(params.iPixelsPerLine);
        patched = true;
      }
      break;
    }
    size_t next = pos + 2;
    // Markers without parameters (start of image) are followed straight
    // by the next marker.
    if (marker == 0xE0 || (pos + 2 < length && data[pos + 2] != 0xFF)) {
      if (pos + 3 >= length) break;
      next += (static_cast<size_t>(data[pos + 2]) << 8) | data[pos + 3];
    }
    pos = next;
  }
  if (length >= 2 && data[length - 2] == 0xFF && data[length - 1] >= 0xD0 && data[length - 1] <= 0xD7)
    data[length - 1] = 0xD9;
  return patched;
}
