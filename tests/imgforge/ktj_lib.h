// The text-direction entries of the staged libimgforge, bound by name as an
// outside caller binds them.
#ifndef DRAVN_TESTS_IMGFORGE_KTJ_LIB_H
#define DRAVN_TESTS_IMGFORGE_KTJ_LIB_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <type_traits>

#include "dravn_paths.h"
#include "ktj.h"
#include "text_pages.h"

struct KtjLib {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ~KtjLib() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F* Get(const char* name) const {
    return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
  }
#define KTJ_ENTRY(name) decltype(&::name) name = Get<std::remove_pointer_t<decltype(&::name)>>(#name)
  KTJ_ENTRY(ktj_pginit);
  KTJ_ENTRY(ktj_pgfree);
  KTJ_ENTRY(katuji_pginit);
  KTJ_ENTRY(katuji_pgfree);
  KTJ_ENTRY(get_mojilines);
  KTJ_ENTRY(get_mojilines_g);
  KTJ_ENTRY(is_updown_e2);
  KTJ_ENTRY(is_updown_e3);
  KTJ_ENTRY(tstchdir_e);
  KTJ_ENTRY(tstchdir_e2);
  KTJ_ENTRY(katuji_chdir_e);
  KTJ_ENTRY(katuji_chdir_e2);
  KTJ_ENTRY(katuji_chdir_e3);
  KTJ_ENTRY(jdge_linedir);
  KTJ_ENTRY(mojiretu_no_muki);
  KTJ_ENTRY(copystruct_ktjbmp2abmp);
  KTJ_ENTRY(copystruct_abmp2ktjbmp);
  KTJ_ENTRY(pv_rect_rot90);
  KTJ_ENTRY(P2ICMUKI_recog);
  KTJ_ENTRY(P2ICMUKI_init);
  KTJ_ENTRY(P2ICMUKI_init_H);
  KTJ_ENTRY(P2ICMUKI_end);
  KTJ_ENTRY(P2ICMUKI_end_H);
  KTJ_ENTRY(P2iGetMojiMuki3);
  KTJ_ENTRY(P2iJugWhitePaper_ForMUKI);
  KTJ_ENTRY(_JugWhitePaper_ForMUKI);
  KTJ_ENTRY(check_lang);
  KTJ_ENTRY(check_lang_and_mk_list);
  KTJ_ENTRY(MUKIS_setting);
  KTJ_ENTRY(get_lang_info_2);
  KTJ_ENTRY(set_init_id);
  KTJ_ENTRY(ConvRGB2GrayN);
  KTJ_ENTRY(make_KTJpic);
  KTJ_ENTRY(gree_gray_pic);
  KTJ_ENTRY(change_line_param);
#undef KTJ_ENTRY
  int* pic_size_judg = Get<int>("pic_size_judg");
  double* judge_size = Get<double>("judge_size");

  bool Complete() const {
    return handle && ktj_pginit && ktj_pgfree && katuji_pginit && katuji_pgfree && get_mojilines &&
           get_mojilines_g && is_updown_e2 && is_updown_e3 && tstchdir_e && tstchdir_e2 && katuji_chdir_e &&
           katuji_chdir_e2 && katuji_chdir_e3 && jdge_linedir && mojiretu_no_muki && copystruct_ktjbmp2abmp &&
           copystruct_abmp2ktjbmp && pv_rect_rot90 && P2ICMUKI_recog && P2ICMUKI_init && P2ICMUKI_init_H &&
           P2ICMUKI_end && P2ICMUKI_end_H && P2iGetMojiMuki3 && P2iJugWhitePaper_ForMUKI && _JugWhitePaper_ForMUKI &&
           check_lang && check_lang_and_mk_list && MUKIS_setting && get_lang_info_2 && set_init_id && ConvRGB2GrayN &&
           make_KTJpic && gree_gray_pic && change_line_param && pic_size_judg && judge_size;
  }
};

inline KtjLib& Ktj() {
  static KtjLib lib;
  return lib;
}

inline KTJBITMAP AsKtj(text_pages::Page& p, int xres = 0, int yres = 0) {
  return KTJBITMAP{p.width, p.height, p.bpl, p.bits.data(), xres ? xres : p.dpi, yres ? yres : p.dpi,
                   p.bpl * p.height, 1};
}

inline KtjDirParam Whole(text_pages::Page const& p) { return KtjDirParam{0, 0, p.width - 1, p.height - 1, 1, {}}; }

class KtjTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Ktj().Complete()) << dlerror(); }
  KtjLib& K = Ktj();
};

#endif
