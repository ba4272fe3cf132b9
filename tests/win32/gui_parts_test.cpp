// The window's helpers on their own: the status throttle, the About OS line,
// the registry store and the text conversions.
#include <gtest/gtest.h>

#include <string>

#include "gui_fixture.h"
#include "win32/status_throttle.h"
#include "win32/system_actions.h"
#include "win32/wide_text.h"

namespace quillon::win32 {
namespace {

using report::StatusKind;

TEST(StatusThrottle, HoldsRoutineTextsWithinTheIntervalOnly) {
  StatusThrottle throttle(30);
  EXPECT_EQ(throttle.Offer("a", StatusKind::kRoutine, 100), "a");  // the first always shows
  EXPECT_EQ(throttle.Offer("b", StatusKind::kRoutine, 110), std::nullopt);
  EXPECT_EQ(throttle.Offer("c", StatusKind::kRoutine, 129), std::nullopt);
  EXPECT_EQ(throttle.TakeDue(129), std::nullopt);
  EXPECT_EQ(throttle.TakeDue(130), "c");  // the latest, not the first held
  EXPECT_FALSE(throttle.has_pending());
  EXPECT_EQ(throttle.Offer("d", StatusKind::kRoutine, 160), "d");
}

TEST(StatusThrottle, ResultsAndErrorsShowAtOnceAndReplaceHeldText) {
  StatusThrottle throttle(30);
  throttle.Offer("start", StatusKind::kRoutine, 0);
  throttle.Offer("row", StatusKind::kRoutine, 1);
  EXPECT_EQ(throttle.Offer("Writing Successful!", StatusKind::kResult, 2), "Writing Successful!");
  EXPECT_EQ(throttle.Flush(3), std::nullopt);
  EXPECT_EQ(throttle.Offer("Receiving timeout!", StatusKind::kError, 4), "Receiving timeout!");
  EXPECT_EQ(throttle.Offer("Receiving timeout!", StatusKind::kError, 5), "Receiving timeout!");
}

TEST(StatusThrottle, FlushShowsTheHeldTextOnce) {
  StatusThrottle throttle(30);
  throttle.Offer("Reading:Prg Adr 0000", StatusKind::kRoutine, 0);
  throttle.Offer("Reading:Prg Adr 7FC0", StatusKind::kRoutine, 10);
  EXPECT_EQ(throttle.Flush(11), "Reading:Prg Adr 7FC0");
  EXPECT_EQ(throttle.Flush(12), std::nullopt);
  // Flushing counts as painting: the next routine text waits its turn.
  EXPECT_EQ(throttle.Offer("next", StatusKind::kRoutine, 20), std::nullopt);
}

TEST(AboutOsLine, NamesThePlatformAndVersion) {
  EXPECT_EQ(OsLineFor(2, 6, 1), "Windows NT/2000/XP/Vista/7 V6.1");
  EXPECT_EQ(OsLineFor(2, 10, 0), "Windows NT/2000/XP/Vista/7 V10.0");
  EXPECT_EQ(OsLineFor(1, 4, 10), "on Windows 95/98/Me V4.10");
  EXPECT_EQ(OsLineFor(0, 3, 11), "on Windows 3.1 V3.11");
  EXPECT_EQ(OsLineFor(3, 5, 0), std::nullopt);
  EXPECT_EQ(InternetExplorerPath("C:\\Program Files"),
            "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
}

class RegistrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteTestSettings(); }
  void TearDown() override { DeleteTestSettings(); }

  void PutRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kTestSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }

  RegistrySettings settings_{kTestSettingsKey};
};

TEST_F(RegistrySettingsTest, StoresWithTheZeroAndReadsBack) {
  EXPECT_EQ(settings_.Load("COM"), "");  // no key yet
  settings_.Store("COM", "COM2");
  EXPECT_EQ(settings_.Load("COM"), "COM2");
  EXPECT_EQ(settings_.Load("CHIP"), "");
  char data[8] = {};
  DWORD size = sizeof(data), type = 0;
  ASSERT_EQ(
      RegGetValueA(HKEY_CURRENT_USER, kTestSettingsKey, "COM", RRF_RT_ANY, &type, data, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5u);
}

TEST_F(RegistrySettingsTest, ReadsAtMostSixtyThreeBytes) {
  const std::string fits(62, 'P');
  settings_.Store("CHIP", fits);
  EXPECT_EQ(settings_.Load("CHIP"), fits);
  settings_.Store("CHIP", fits + "X");  // 64 bytes with the zero
  EXPECT_EQ(settings_.Load("CHIP"), "");
}

TEST_F(RegistrySettingsTest, ForeignDataReadsAsNothingOrAsItsText) {
  const DWORD number = 3;
  PutRaw("COM", REG_DWORD, &number, sizeof(number));
  EXPECT_EQ(settings_.Load("COM"), "");
  PutRaw("CHIP", REG_SZ, "dsPIC30F4013", 12);  // written without its zero
  EXPECT_EQ(settings_.Load("CHIP"), "dsPIC30F4013");
  EXPECT_EQ(app::LoadCom(settings_), -1);
}

TEST(WideText, JapaneseSurvivesBothWays) {
  const std::string text = "ｴﾗｰ : ﾁｪｯｸ･ｻﾑが正しくありません。\r\nTime=00:00:01";
  const std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(wide, L"ｴﾗｰ : ﾁｪｯｸ･ｻﾑが正しくありません。\r\nTime=00:00:01");
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(Utf8ToWide(""), L"");
}

}  // namespace
}  // namespace quillon::win32
