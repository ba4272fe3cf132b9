#include "posix/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon::posix {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("quillon_settings_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    path = dir / "quillon" / "settings";
  }
  void TearDown() override { fs::remove_all(dir); }
  void Write(const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
  }
  std::string Contents() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir;
  fs::path path;
};

TEST(SettingsFilePath, FollowsXdgThenHome) {
  EXPECT_EQ(SettingsFile::DefaultPath("/x/cfg", "/home/u"), fs::path("/x/cfg/quillon/settings"));
  EXPECT_EQ(SettingsFile::DefaultPath("", "/home/u"), fs::path("/home/u/.config/quillon/settings"));
  EXPECT_EQ(SettingsFile::DefaultPath("relative", "/home/u"),
            fs::path("/home/u/.config/quillon/settings"));
  EXPECT_EQ(SettingsFile::DefaultPath(nullptr, "/home/u"),
            fs::path("/home/u/.config/quillon/settings"));
  EXPECT_TRUE(SettingsFile::DefaultPath(nullptr, nullptr).empty());
}

TEST_F(SettingsFileTest, FirstRunReadsAsNothingStoredAndTheFirstStoreCreatesTheFile) {
  SettingsFile settings(path);
  EXPECT_EQ(settings.Load("COM"), "");
  EXPECT_EQ(settings.Load("CHIP"), "");
  EXPECT_FALSE(fs::exists(path));
  settings.Store("COM", "COM2");
  EXPECT_EQ(Contents(), "COM=COM2\n");
  EXPECT_EQ(settings.Load("COM"), "COM2");
}

TEST_F(SettingsFileTest, StoresReplaceTheirOwnValueAndKeepTheOther) {
  SettingsFile settings(path);
  settings.Store("COM", "/dev/ttyUSB0");
  settings.Store("CHIP", "dsPIC30F4013");
  settings.Store("COM", "/dev/pts/7");
  EXPECT_EQ(Contents(), "COM=/dev/pts/7\nCHIP=dsPIC30F4013\n");
  EXPECT_EQ(SettingsFile(path).Load("COM"), "/dev/pts/7");
  EXPECT_EQ(SettingsFile(path).Load("CHIP"), "dsPIC30F4013");
  // No temporary is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, GarbledFileReadsAsNothingStoredAndIsRepairedByAStore) {
  static const char kGarbled[] =
      "\x01\x02junk\nno equals sign\n=orphan\nCHIP=dsPIC\0"
      "30F\n";
  Write(std::string(kGarbled, sizeof kGarbled - 1));
  SettingsFile settings(path);
  EXPECT_EQ(settings.Load("COM"), "");
  EXPECT_EQ(settings.Load("CHIP"), "");
  settings.Store("COM", "COM3");
  EXPECT_EQ(Contents(), "COM=COM3\n");
}

TEST_F(SettingsFileTest, ToleratesCrLfAndValuesWithEquals) {
  Write("CHIP=PIC24FJ64GA002\r\nCOM=a=b\r\n");
  SettingsFile settings(path);
  EXPECT_EQ(settings.Load("CHIP"), "PIC24FJ64GA002");
  EXPECT_EQ(settings.Load("COM"), "a=b");
}

TEST_F(SettingsFileTest, LongPortPathsAreKeptAndOverlongValuesReadAsNothing) {
  SettingsFile settings(path);
  const std::string by_id =
      "/dev/serial/by-id/usb-Quillon_Programmer_Board_Rev_B_0123456789ABCDEF-if00-port0";
  ASSERT_GT(by_id.size(), 63u);
  settings.Store("COM", by_id);
  EXPECT_EQ(settings.Load("COM"), by_id);
  settings.Store("CHIP", std::string(kMaxSettingLength, 'x'));
  EXPECT_EQ(settings.Load("CHIP"), std::string(kMaxSettingLength, 'x'));
  settings.Store("CHIP", std::string(kMaxSettingLength + 1, 'x'));
  EXPECT_EQ(settings.Load("CHIP"), "");
}

TEST_F(SettingsFileTest, UnsafeNamesAndValuesAreNotStored) {
  SettingsFile settings(path);
  settings.Store("CHIP", "dsPIC30F4013");
  settings.Store("CHIP", "evil\nCOM=/dev/mem");
  settings.Store("A=B", "x");
  settings.Store("", "x");
  EXPECT_EQ(Contents(), "CHIP=dsPIC30F4013\n");
  EXPECT_EQ(settings.Load("COM"), "");
}

TEST_F(SettingsFileTest, UnwritableLocationIsIgnored) {
  Write("CHIP=dsPIC30F4013\n");
  SettingsFile blocked(path / "under_a_file");
  blocked.Store("COM", "COM1");  // must neither throw nor touch anything
  EXPECT_EQ(blocked.Load("COM"), "");
  EXPECT_EQ(Contents(), "CHIP=dsPIC30F4013\n");
  SettingsFile none{fs::path()};
  none.Store("COM", "COM1");
  EXPECT_EQ(none.Load("COM"), "");
}

}  // namespace
}  // namespace quillon::posix
