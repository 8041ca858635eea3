// Run-time binding of libjpeg and the image libraries, shown stand-in
// libraries with entries left out.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "image_layer_util.h"
#include "image_libs.h"
#include "jpeg_decode.h"
#include "option_layer_util.h"

using image_layer_test::ErrorLine;
using image_layer_test::LogCapture;

namespace {

// A library directory of the test's own: each file name linked to a stub.
class LibDir {
 public:
  LibDir() : m_dir(dravn_test::MakeTempDir("libs")) {}
  LibDir& Link(const std::string& file, const std::string& target) {
    unlink(Path(file).c_str());
    EXPECT_EQ(symlink(target.c_str(), Path(file).c_str()), 0) << file;
    return *this;
  }
  LibDir& Stub(const std::string& file, const std::string& stub) {
    return Link(file, std::string(DRAVN_STUB_DIR) + "/" + stub + ".so");
  }
  LibDir& Remove(const std::string& file) {
    unlink(Path(file).c_str());
    return *this;
  }
  // Every library present and complete.
  LibDir& Complete() {
    Link("libjpeg.so", DRAVN_SYSTEM_LIBJPEG);
    Stub("libimgforge.so", "stub_imgforge_all");
    Stub("libtoneflat.so", "stub_toneflat");
    Stub("librotation.so", "stub_rotation");
    Stub("libturnsense3.so", "stub_turnsense");
    return Stub("libbinarization.so", "stub_binarization");
  }
  std::string Path(const std::string& file) const { return m_dir + "/" + file; }
  const char* c_str() const { return m_dir.c_str(); }

 private:
  std::string m_dir;
};

class ImageLibsTest : public ::testing::Test {
 protected:
  void TearDown() override { UnLoadImageLibraries(); }
};

}  // namespace

TEST_F(ImageLibsTest, CompleteDirectoryBindsEveryEntryAndExitForgetsThem) {
  LibDir dir;
  dir.Complete();
  ASSERT_EQ(LoadImageLibraries(dir.c_str()), SANE_STATUS_GOOD);
  EXPECT_TRUE(g_bLibjpeg);
  EXPECT_NE(g_pLibjpeg, nullptr);
  for (const void* p :
       {(const void*)g_BPDFunction, (const void*)g_FSIPCTLFucntion, (const void*)g_FSIPIMAGEFILTERFunction,
        (const void*)g_FSIP_DROPOUTCOLOREXFunction, (const void*)g_FSIP_FREESINCOS, (const void*)g_MergeImageFunction,
        (const void*)g_BGSmoothingFunction, (const void*)g_SplitFunction, (const void*)g_TurnsenseFunction,
        (const void*)g_BinAutoFunction})
    EXPECT_NE(p, nullptr);
  // Each unit's flag is its own: the orientation stub is ready, the
  // binarization stub is not.
  ASSERT_NE(g_pTurnsense3Initialized, nullptr);
  ASSERT_NE(g_pBinarizationInitialized, nullptr);
  EXPECT_EQ(*g_pTurnsense3Initialized, 1);
  EXPECT_EQ(*g_pBinarizationInitialized, 0);

  UnLoadImageLibraries();
  EXPECT_FALSE(g_bLibjpeg);
  for (const void* p :
       {(const void*)g_pLibjpeg, (const void*)g_hLibKeloImage, (const void*)g_hLibToneflat, (const void*)g_hLibRotation,
        (const void*)g_hLibTurnsense3, (const void*)g_hLibBinarization, (const void*)g_FSIP_DROPOUTCOLOREXFunction,
        (const void*)g_FSIPCTLFucntion, (const void*)g_BinAutoFunction, (const void*)g_pTurnsense3Initialized})
    EXPECT_EQ(p, nullptr);
}

TEST_F(ImageLibsTest, ImgforgeEntriesAreOptional) {
  struct Case {
    const char* name;
    const char* stub;  // nullptr: no file
    std::vector<std::string> lines;
    std::vector<std::string> absentLines;
  };
  const Case cases[] = {
      {"complete", "stub_imgforge_all", {}, {"[LoadLibFunc] dll open failed", "load failed"}},
      {"no entries",
       "stub_empty",
       {ErrorLine("LoadLibFunc", "BPD load failed"), ErrorLine("LoadLibFunc", "fsipctl load failed"),
        "[trace] [LoadLibFunc] fsipimagefilter load failed \n",
        ErrorLine("LoadLibFunc", "fsip_DropoutColorEx load failed"),
        ErrorLine("LoadLibFunc", "fsip_FreeSinCos load failed"), ErrorLine("LoadLibFunc", "MergeImage load failed")},
       {}},
      {"no file", nullptr, {ErrorLine("LoadLibFunc", "dll open failed")}, {"BPD load failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LibDir dir;
    dir.Complete();
    if (c.stub)
      dir.Stub("libimgforge.so", c.stub);
    else
      dir.Remove("libimgforge.so");
    LogCapture log;
    EXPECT_EQ(LoadImageLibraries(dir.c_str()), SANE_STATUS_GOOD);
    std::string text = log.Stop();
    for (const auto& line : c.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    for (const auto& line : c.absentLines) EXPECT_EQ(text.find(line), std::string::npos) << line << "\n" << text;
    const bool bound = c.stub && std::string(c.stub) == "stub_imgforge_all";
    EXPECT_EQ(g_FSIPCTLFucntion != nullptr, bound);
    EXPECT_EQ(g_FSIP_DROPOUTCOLOREXFunction != nullptr, bound);
    EXPECT_EQ(g_MergeImageFunction != nullptr, bound);
    EXPECT_NE(g_BinAutoFunction, nullptr);  // init went on to the last library
    UnLoadImageLibraries();
  }
}

// The main backend binds libimgforge in the same way but reports every miss
// as a trace line.
TEST_F(ImageLibsTest, MainBackendFormTracesEveryMiss) {
  const char* misses[] = {"BPD load failed", "fsipctl load failed", "fsipimagefilter load failed",
                          "fsip_DropoutColorEx load failed", "fsip_FreeSinCos load failed", "MergeImage load failed"};
  LibDir dir;
  dir.Complete();
  dir.Stub("libimgforge.so", "stub_empty");
  LogCapture log;
  LoadLibFunc(dir.c_str(), true);
  std::string text = log.Stop();
  for (const char* miss : misses)
    EXPECT_NE(text.find(std::string("[trace] [LoadLibFunc] ") + miss + " \n"), std::string::npos) << miss << text;
  EXPECT_EQ(text.find("[error]"), std::string::npos) << text;
  dir.Remove("libimgforge.so");
  LogCapture missing;
  LoadLibFunc(dir.c_str(), true);
  EXPECT_NE(missing.Stop().find("[trace] [LoadLibFunc] dll open failed \n"), std::string::npos);
  UnLoadLibFunc();
}

TEST_F(ImageLibsTest, RequiredLibraryThatFailsEndsInitWithItsMessage) {
  struct Case {
    const char* file;
    const char* stub;  // nullptr: no file
    const char* function;
    const char* message;      // nullptr: dlerror's text, which names the file
    void* const* nextHandle;  // the loader after it, never reached
  };
  const Case cases[] = {
      {"libjpeg.so", nullptr, "LoadLibjpeg8", "dll open failed", &g_hLibKeloImage},
      {"libtoneflat.so", nullptr, "LoadLibToneflat", nullptr, &g_hLibRotation},
      {"libtoneflat.so", "stub_empty", "LoadLibToneflat", "I3ipIpunitProcess_BGSmoothing load failed", &g_hLibRotation},
      {"librotation.so", nullptr, "LoadLibRotation", nullptr, &g_hLibTurnsense3},
      {"librotation.so", "stub_empty", "LoadLibRotation", "I3ipIpunitProcess_Split load failed", &g_hLibTurnsense3},
      {"libturnsense3.so", nullptr, "LoadI3ipOrientation3", nullptr, &g_hLibBinarization},
      {"libturnsense3.so", "stub_turnsense_noflag", "LoadI3ipOrientation3", "failed to load gInitialized",
       &g_hLibBinarization},
      {"libturnsense3.so", "stub_turnsense_noentry", "LoadI3ipOrientation3",
       "failed to load I3ipIpunitProcess_Turnsense", &g_hLibBinarization},
      {"libbinarization.so", nullptr, "LoadI3ipBinarization", nullptr, nullptr},
      {"libbinarization.so", "stub_binarization_noflag", "LoadI3ipBinarization", "failed to load gInitialized",
       nullptr},
      {"libbinarization.so", "stub_binarization_noentry", "LoadI3ipBinarization",
       "I3ipIpunitProcess_BinAuto load failed", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + (c.stub ? c.stub : "missing"));
    LibDir dir;
    dir.Complete();
    if (c.stub)
      dir.Stub(c.file, c.stub);
    else
      dir.Remove(c.file);
    LogCapture log;
    EXPECT_EQ(LoadImageLibraries(dir.c_str()), SANE_STATUS_IO_ERROR);
    std::string text = log.Stop();
    if (c.message) {
      EXPECT_NE(text.find(ErrorLine(c.function, c.message)), std::string::npos) << text;
    } else {
      std::string prefix = std::string("[error] [") + c.function + "] " + dir.Path(c.file);
      EXPECT_NE(text.find(prefix), std::string::npos) << text;
    }
    if (c.nextHandle) {
      EXPECT_EQ(*c.nextHandle, nullptr);
    }
    if (std::string(c.file) != "libjpeg.so") {
      EXPECT_TRUE(g_bLibjpeg);  // what was bound stays bound
    }
    UnLoadImageLibraries();
  }
}

TEST_F(ImageLibsTest, EachMissingLibjpegEntryIsNamed) {
  const char* names[] = {"jpeg_resync_to_restart", "jpeg_std_error",        "jpeg_destroy_decompress",
                         "jpeg_read_header",       "jpeg_start_decompress", "jpeg_read_scanlines",
                         "jpeg_finish_decompress", "jpeg_CreateDecompress"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    LibDir dir;
    dir.Stub("libjpeg.so", std::string("stub_jpeg_without_") + name);
    LogCapture log;
    EXPECT_FALSE(LoadLibjpeg8(dir.c_str()));
    std::string text = log.Stop();
    EXPECT_NE(text.find(ErrorLine("LoadSecondBackendFunc", std::string("failed to load ") + name)), std::string::npos)
        << text;
    EXPECT_NE(g_pLibjpeg, nullptr);  // the handle stays open until unloaded
    // An incomplete binding decodes nothing rather than calling a hole.
    const unsigned char page[4] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(ReadDataFromJpeg(page, JPEGINFO{4, 8, 8}), nullptr);
    UnLoadLibjpeg8();
  }
}

TEST_F(ImageLibsTest, RepeatedLoadKeepsOneHandle) {
  LibDir dir;
  dir.Complete();
  ASSERT_TRUE(LoadLibToneflat(dir.c_str()));
  ASSERT_TRUE(LoadLibToneflat(dir.c_str()));
  UnLoadLibToneflat();
  const std::string stub = std::string(DRAVN_STUB_DIR) + "/stub_toneflat.so";
  EXPECT_EQ(dlopen(stub.c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr);
}

TEST_F(ImageLibsTest, ImgforgeWithoutDropoutOffersColourOnlyAndNoDropoutOption) {
  using namespace option_layer_test;
  ResetState();
  LibDir dir;
  dir.Complete().Stub("libimgforge.so", "stub_imgforge_nodropout");
  ASSERT_EQ(LoadImageLibraries(dir.c_str()), SANE_STATUS_GOOD);
  ASSERT_EQ(g_FSIP_DROPOUTCOLOREXFunction, nullptr);
  ASSERT_NE(g_FSIPCTLFucntion, nullptr);

  const dravn::CatalogModel& m = dravn::kSelko2Models[0];
  ASSERT_EQ(CreateOptList(m.vendorId, m.productId, "/nonexistent"), SANE_STATUS_GOOD);
  const SANE_Option_Descriptor* mode = GetOptionDescriptor(OPTION_MODE);
  ASSERT_EQ(mode->constraint_type, SANE_CONSTRAINT_STRING_LIST);
  EXPECT_STREQ(mode->constraint.string_list[0], "Color");
  EXPECT_EQ(mode->constraint.string_list[1], nullptr);
  EXPECT_EQ(Text(OPTION_MODE), "Color");
  EXPECT_EQ(SetText(OPTION_MODE, "Gray"), SANE_STATUS_INVAL);

  const SANE_Option_Descriptor* dropout = GetOptionDescriptor(OPTION_DROP_OUT);
  EXPECT_STREQ(dropout->name, "");
  EXPECT_EQ(dropout->type, SANE_TYPE_BOOL);
  EXPECT_TRUE(dropout->cap & SANE_CAP_INACTIVE);
  char value[16];
  EXPECT_EQ(GetControlOption(OPTION_DROP_OUT, value), SANE_STATUS_INVAL);
  EXPECT_FALSE(Active(OPTION_THRESHOLD));
  EXPECT_TRUE(Active(OPTION_PAGE_AUTO));  // fsip_control is there
}

TEST_F(ImageLibsTest, MissingImgforgeTurnsItsOptionsOff) {
  using namespace option_layer_test;
  ResetState();
  LibDir dir;
  dir.Complete().Remove("libimgforge.so");
  ASSERT_EQ(LoadImageLibraries(dir.c_str()), SANE_STATUS_GOOD);
  const dravn::CatalogModel& m = dravn::kSelko2Models[0];
  ASSERT_EQ(CreateOptList(m.vendorId, m.productId, "/nonexistent"), SANE_STATUS_GOOD);
  EXPECT_FALSE(Active(OPTION_PAGE_AUTO));
  EXPECT_EQ(Word(OPTION_PAGE_AUTO), 0);
  EXPECT_FALSE(Active(OPTION_BLANK_PAGE_SKIP));
  EXPECT_FALSE(Active(OPTION_BLANK_PAGE_SKIP_SENSITIVITY));
  EXPECT_FALSE(Active(OPTION_CLEANUP_SHARPNESS_COLOR));
  EXPECT_STREQ(GetOptionDescriptor(OPTION_DROP_OUT)->name, "");
}
