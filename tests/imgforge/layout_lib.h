// The layout entries of the staged libimgforge, bound by name as an outside
// caller binds them.
#ifndef DRAVN_TESTS_IMGFORGE_LAYOUT_LIB_H
#define DRAVN_TESTS_IMGFORGE_LAYOUT_LIB_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "dravn_paths.h"
#include "gray2mono.h"
#include "layout.h"
#include "layout_pages.h"

struct LayoutLib {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ~LayoutLib() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F* Get(const char* name) const {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }

#define LAYOUT_ENTRY(name) decltype(&::name) name = Get<std::remove_pointer_t<decltype(&::name)>>(#name)
  LAYOUT_ENTRY(table_main);
  LAYOUT_ENTRY(table_free);
  LAYOUT_ENTRY(table_set_para);
  LAYOUT_ENTRY(table_convert);
  LAYOUT_ENTRY(table_convert2);
  LAYOUT_ENTRY(table_main2);
  LAYOUT_ENTRY(bit2run);
  LAYOUT_ENTRY(run2bit);
  LAYOUT_ENTRY(abmp_rotate90);
  LAYOUT_ENTRY(abmp_rotate180);
  LAYOUT_ENTRY(abmp_rotate270);
  LAYOUT_ENTRY(katuji_set_para);
  LAYOUT_ENTRY(insertion_sort);
  LAYOUT_ENTRY(seg_main);
  LAYOUT_ENTRY(seg_format);
  LAYOUT_ENTRY(seg_free);
  LAYOUT_ENTRY(P2i_gray2mono);
  LAYOUT_ENTRY(P2i_gray2mono_free);
  LAYOUT_ENTRY(img_img2mono);
  LAYOUT_ENTRY(img_img2mono_free);
#undef LAYOUT_ENTRY

  bool Complete() const {
    return handle && table_main && table_free && table_set_para && table_convert && table_convert2 && table_main2 &&
           bit2run && run2bit && abmp_rotate90 && abmp_rotate180 && abmp_rotate270 && katuji_set_para &&
           insertion_sort && seg_main && seg_format && seg_free && P2i_gray2mono && P2i_gray2mono_free &&
           img_img2mono && img_img2mono_free;
  }
};

inline ABITMAP AsBitmap(layout_pages::Page& p) { return layout_pages::MonoRecord(p.bits.data(), p.width, p.height, p.bpl); }

// One library per test program.
inline LayoutLib& Lib() {
  static LayoutLib lib;
  return lib;
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Lib().Complete()) << dlerror(); }
  LayoutLib& L = Lib();
};

#endif
