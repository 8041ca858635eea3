// The bitmap entries as the page filters' callers reach them: bound by name
// from the staged libimgforge.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "abitmap.h"
#include "dravn_paths.h"

namespace {

struct Library {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F* Get(const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }
};

}  // namespace

TEST(BitmapEntries, LabelAndReduceThroughTheLibrary) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto* label = lib.Get<int(unsigned char*, int, int, int, int, int, int, int, LBL_DATA*)>("img_mono2label");
  auto* labelFree = lib.Get<int(LBL_DATA*)>("img_mono2label_free");
  auto* labelRecord = lib.Get<int(ABITMAP*, ARECT*, LBL_DATA*)>("lbl_main2");
  auto* free2 = lib.Get<int(LBL_DATA*)>("lbl_free2");
  auto* alloc = lib.Get<uint8_t*(ABITMAP*, int, int, int, int)>("abmp_alloc");
  auto* reduce = lib.Get<uint8_t*(ABITMAP*, ABITMAP*, int, int)>("abmp_n_small");
  ASSERT_TRUE(label && labelFree && labelRecord && free2 && alloc && reduce);

  ABITMAP page{};
  ASSERT_NE(alloc(&page, 20, 6, 1, 0), nullptr);
  page.data[0] = 0xC0;                 // (0,0) and (1,0)
  page.data[1 * page.bpl + 1] = 0x01;  // (15,1)
  page.data[2 * page.bpl + 2] = 0x80;  // (16,2): touches (15,1)

  LBL_DATA d{};
  ASSERT_EQ(label(page.data, page.bpl, 20, 6, 0, 0, 19, 5, &d), 0);
  ASSERT_EQ(d.maxlabel, 2);
  EXPECT_EQ(d.rects[2].xmin, 15);
  EXPECT_EQ(d.rects[2].ymax, 2);
  EXPECT_EQ(labelFree(&d), 0);

  ARECT right{8, 0, 12, 6};
  ASSERT_EQ(labelRecord(&page, &right, &d), 0);
  EXPECT_EQ(d.maxlabel, 1);
  EXPECT_EQ(d.left, 8);
  EXPECT_EQ(free2(&d), 0);

  ABITMAP small{};
  ASSERT_NE(reduce(&page, &small, 8, 1), nullptr);
  EXPECT_EQ(small.width, 3);
  EXPECT_EQ(small.height, 1);
  EXPECT_EQ(small.data[0], 0xE0);
  free(small.data);
  free(page.data);
}
