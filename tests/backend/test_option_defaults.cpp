// Per-model option defaults from optdefault.xml.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "dravn_paths.h"
#include "image_layer_util.h"
#include "option_defaults.h"
#include "option_layer_util.h"

using image_layer_test::ErrorLine;
using image_layer_test::LogCapture;
using namespace option_layer_test;

namespace {

class OptionDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetState(); }

  // Writes a defaults file and builds the table of the device type with it.
  std::string OpenWith(int devType, const std::string& xml, std::string* log = nullptr) {
    std::string path = dravn_test::MakeTempDir("optdefault") + "/optdefault.xml";
    dravn_test::WriteFile(path, xml);
    LogCapture capture;
    EXPECT_EQ(Open(devType, {}, path.c_str()), SANE_STATUS_GOOD);
    if (log) *log = capture.Stop();
    return path;
  }

  static std::string Section(const std::string& id, const std::string& settings) {
    return "<device id=\"" + id + "\">" + settings + "</device>";
  }
};

const char* Model(int devType) { return ModelOf(devType).model; }

}  // namespace

TEST_F(OptionDefaultsTest, SectionOfTheModelSetsItsOptions) {
  std::string lower = Model(kSelko2);
  for (char& ch : lower) ch = static_cast<char>(tolower(ch));
  std::string log;
  OpenWith(kSelko2,
           "<defaults>" +
               Section(lower,  // the id matches without regard to case
                       "<source> Adf-front </source><mode>\n  Lineart\n</mode>"
                       "<resolution>300</resolution><page-auto>YES</page-auto>"
                       "<bw-mode>SDTC</bw-mode><rotation>90</rotation>"
                       "<!-- a comment is no setting --><color-cleanup>Automatic</color-cleanup>") +
               Section(Model(kSelko), "<resolution>400</resolution>") + "</defaults>",
           &log);
  EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
  EXPECT_EQ(Text(OPTION_SOURCE), "Adf-front");
  EXPECT_EQ(Text(OPTION_MODE), "Lineart");
  EXPECT_EQ(Word(OPTION_RESOLUTION), 300);
  EXPECT_EQ(Word(OPTION_PAGE_AUTO), 1);
  EXPECT_EQ(Text(OPTION_BW_MODE), "SDTC");
  EXPECT_EQ(Text(OPTION_ROTATION), "90");
  EXPECT_EQ(Text(OPTION_COLOR_CLEANUP), "Automatic");
  // The record and capabilities follow the file's values.
  EXPECT_EQ(g_PropInfo.SCAN_FACE, 1);
  EXPECT_EQ(g_PropInfo.SCAN_MODE, 0);
  EXPECT_TRUE(Active(OPTION_BW_SDTC_VARIANCE));
}

TEST_F(OptionDefaultsTest, EachSettingIsAppliedInOrderWithItsEffects) {
  std::string log;
  OpenWith(kSelko2,
           "<x>" + Section(Model(kSelko2), "<source>Adf-front</source><paper-size>A5</paper-size>") +
               Section(Model(kSelko2), "<paper-size>Letter</paper-size><mf-overlapping>yes</mf-overlapping>") +
               "<device>no id</device></x>",
           &log);
  EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
  EXPECT_EQ(Text(OPTION_PAPER_SIZE), "Letter");
  EXPECT_EQ(Word(OPTION_PAGE_HEIGHT), 18310758);
  EXPECT_EQ(Word(OPTION_BR_Y), 18310758);
  // A default for an option that is not active yet is kept for when it is.
  EXPECT_EQ(Word(OPTION_MF_OVERLAPPING), 1);
  EXPECT_FALSE(Active(OPTION_MF_OVERLAPPING));
}

TEST_F(OptionDefaultsTest, BadSettingsAreLoggedAndLeaveTheBuiltInValue) {
  std::string log;
  OpenWith(kSelko2,
           "<d>" +
               Section(Model(kSelko2),
                       "<brightness>10</brightness><resolution>300dpi</resolution><resolution>99999999999</resolution>"
                       "<mode>Sepia</mode><page-auto>maybe</page-auto><cropping></cropping>"
                       "<rotation>" +
                           std::string(300, '9') + "</rotation>") +
               "</d>",
           &log);
  const std::string expected[] = {
      ErrorLine("SetOptDefaultValueFromXmlFile", "The option setting is not supported.\nOptionName:brightness."),
      ErrorLine("SetOptDefaultValue", "Failed to set option value.\nOptionName:resolution,Value:300dpi."),
      ErrorLine("SetOptDefaultValue", "Failed to set option value.\nOptionName:resolution,Value:99999999999."),
      ErrorLine("SetOptDefaultValue", "Failed to set option value.\nOptionName:mode,Value:Sepia."),
      ErrorLine("SetOptDefaultValue", "Failed to set option value.\nOptionName:page-auto,Value:maybe."),
      ErrorLine("SetOptDefaultValue", "The option value is empty in the XML file.\nOptionName:cropping."),
      ErrorLine("SetOptDefaultValue",
                "Failed to set option value.\nOptionName:rotation,Value:" + std::string(255, '9') + "."),
  };
  for (const auto& line : expected) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(Word(OPTION_RESOLUTION), 200);
  EXPECT_EQ(Text(OPTION_MODE), "Color");
  EXPECT_EQ(Word(OPTION_PAGE_AUTO), 1);
  EXPECT_EQ(Text(OPTION_CROPPING), "Old_specification");
  EXPECT_EQ(Text(OPTION_ROTATION), "0");
}

TEST_F(OptionDefaultsTest, MissingOrBrokenFileKeepsTheBuiltInDefaults) {
  struct Case {
    const char* name;
    const char* xml;      // nullptr: no file
    const char* message;  // nullptr: no error line
  };
  const Case cases[] = {
      {"no file", nullptr, nullptr},
      {"not XML", "this is <not xml", "Failed to parse XML file.\nFileName:"},
      {"unclosed", "<d><device id=\"x\"><mode>Gray</mode></d>", "Failed to parse XML file.\nFileName:"},
      {"empty", "", "Failed to parse XML file.\nFileName:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetState();
    std::string path = dravn_test::MakeTempDir("optdefault") + "/optdefault.xml";
    if (c.xml) dravn_test::WriteFile(path, c.xml);
    LogCapture capture;
    ASSERT_EQ(Open(kSelko2, {}, path.c_str()), SANE_STATUS_GOOD);
    std::string log = capture.Stop();
    if (c.message)
      EXPECT_NE(log.find(ErrorLine("ParseXMLFile::GetRootNode", c.message + path + ".")), std::string::npos) << log;
    else  // no file is the usual case and says nothing
      EXPECT_EQ(log.find("[ParseXMLFile::GetRootNode]"), std::string::npos) << log;
    EXPECT_EQ(Text(OPTION_MODE), "Color");
    EXPECT_EQ(Word(OPTION_RESOLUTION), 200);
  }
}

// A folder in the file's place is unreadable for root too, so the case runs
// wherever the tests run; a file without read permission only for others.
TEST_F(OptionDefaultsTest, UnreadableFileIsLogged) {
  for (bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "a folder" : "no read permission");
    if (!folder && geteuid() == 0) continue;  // root reads every file
    std::string path = dravn_test::MakeTempDir("optdefault") + "/optdefault.xml";
    if (folder) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    } else {
      dravn_test::WriteFile(path, "<d/>");
      chmod(path.c_str(), 0);
    }
    ResetState();
    LogCapture capture;
    ASSERT_EQ(Open(kSelko2, {}, path.c_str()), SANE_STATUS_GOOD);
    EXPECT_NE(capture.Stop().find(
                  ErrorLine("ParseXMLFile::GetRootNode", "The XML file cannot access.\nFileName:" + path + ".")),
              std::string::npos);
  }
}

TEST_F(OptionDefaultsTest, InstalledDefaultFileNamesEveryModelAndChangesNothing) {
  const std::string path = std::string(DRAVN_ETC_DIR) + "/optdefault.xml";
  ASSERT_EQ(access(path.c_str(), R_OK), 0) << path;
  for (int type = 0; type < KELO_DEVICE_NUM; ++type) {
    SCOPED_TRACE(type);
    ParseXMLFile file(path.c_str());
    ASSERT_TRUE(file.GetDeviceOptionInfoFromXMLFile(Model(type)));
    EXPECT_TRUE(file.Settings().empty());
    EXPECT_NE(dravn_test::ReadFile(path).find(std::string("<device id=\"") + Model(type) + "\"/>"), std::string::npos);

    ResetState();
    LogCapture capture;
    const dravn::CatalogModel& m = ModelOf(type);
    BindLibraries({});
    ASSERT_EQ(CreateOptList(m.vendorId, m.productId), SANE_STATUS_GOOD);
    EXPECT_EQ(capture.Stop().find("[error]"), std::string::npos);
    EXPECT_EQ(Word(OPTION_RESOLUTION), 200);
  }
}
