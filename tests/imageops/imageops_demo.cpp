// Shows the image operations library at work on a rendered page: loads the
// staged libopencv.so as the units do, then writes into a folder the page
// compressed to JPEG, read back, deskewed, turned a quarter and halved.
//   imageops_demo OUTDIR
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravn_paths.h"
#include "opcv.h"
#include "test_pages.h"

namespace {

void* g_lib = nullptr;

template <class F>
F* Entry(const char* name) {
  auto* f = reinterpret_cast<F*>(dlsym(g_lib, name));
  if (!f) {
    std::fprintf(stderr, "missing %s\n", name);
    std::exit(1);
  }
  return f;
}
#define ENTRY(name) Entry<decltype(::name)>(#name)

void Save(const std::string& path, const VKIMG* page) {
  dravn_pages::Image img;
  img.width = page->width;
  img.height = page->height;
  img.channels = page->depth / 8;
  img.pixels.resize(img.BytesPerLine() * size_t(img.height));
  for (int y = 0; y < img.height; ++y)
    std::memcpy(img.Row(y), page->baseAddr + size_t(y) * page->rowBytes, img.BytesPerLine());
  const std::string pnm = dravn_pages::EncodePnm(img);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(pnm.data(), 1, pnm.size(), f) != pnm.size()) std::exit(1);
  std::fclose(f);
  std::printf("%s: %dx%d, depth %d\n", path.c_str(), page->width, page->height, page->depth);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: imageops_demo OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  g_lib = dlopen(DRAVN_LIB_DIR "/libopencv.so", RTLD_NOW | DRAVN_RTLD_DEEPBIND);
  if (!g_lib) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  dravn_pages::PageSpec spec;
  spec.dpi = 150;
  auto img = dravn_pages::RenderDocumentPage(spec);
  VKIMG page{img.pixels.data(),
             24,
             img.width,
             img.height,
             int32_t(img.BytesPerLine()),
             int32_t(img.BytesPerLine() * img.height)};
  VkImageDesc desc{img.width, img.height, 150, 150, 0, 24, 0};
  VkImageDesc* handle = &desc;

  uint8_t* jpeg = nullptr;
  uint32_t size = 0;
  if (ENTRY(CompressJPEGWithIPP)(&page, &handle, 450, &jpeg, &size)) return 1;
  FILE* f = std::fopen((dir + "/page.jpg").c_str(), "wb");
  if (!f || std::fwrite(jpeg, 1, size, f) != size) return 1;
  std::fclose(f);
  std::printf("%s/page.jpg: %u bytes (quality code 450, 4:2:0)\n", dir.c_str(), size);

  VKIMG* read = nullptr;
  if (ENTRY(ReadJPEG)(jpeg, size, &handle, &read)) return 1;
  std::free(jpeg);
  Save(dir + "/read.pnm", read);
  VKIMG* deskewed = nullptr;
  if (ENTRY(DeskewImageWithIPP)(read, &handle, &deskewed, 1, 1, 3.0)) return 1;
  Save(dir + "/deskewed3deg.pnm", deskewed);
  VKIMG* turned = nullptr;
  if (ENTRY(RotateImageWithIPP)(read, &handle, &turned, 90)) return 1;
  Save(dir + "/turned90.pnm", turned);
  VKIMG* half = nullptr;
  if (ENTRY(ResizeImageWithIPPEx)(read, &half, 150, 75)) return 1;
  Save(dir + "/75dpi.pnm", half);
  for (VKIMG* p : {read, deskewed, turned, half}) ENTRY(DisposeVKIMG)(p);
  dlclose(g_lib);
  return 0;
}
