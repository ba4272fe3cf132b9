#include "devices/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "devices/selection.h"
#include "test_support/recording_sink.h"

namespace quillon::devices {
namespace {

TEST(Catalogue, HoldsEveryPartOnceWithTheFamilyCounts) {
  const auto rows = Catalogue();
  ASSERT_EQ(rows.size(), 207u);
  std::set<std::string_view> names;
  int ds30 = 0, ds33 = 0, pic24f = 0, pic24h = 0;
  for (const auto& row : rows) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_EQ(row.instruction_width, 24);
    EXPECT_EQ(row.program_words % 4, 0) << row.name;
    EXPECT_EQ(row.eeprom_bytes % 8, 0) << row.name;
    if (row.name.starts_with("dsPIC30")) ++ds30;
    if (row.name.starts_with("dsPIC33")) ++ds33;
    if (row.name.starts_with("PIC24F")) ++pic24f;
    if (row.name.starts_with("PIC24H")) ++pic24h;
    // Every dsPIC33F/PIC24 row carries the 3.3 V socket suffix.
    EXPECT_EQ(row.package_tag.ends_with("-3.3V"), row.family_code == 1) << row.name;
  }
  EXPECT_EQ(ds30, 29);
  EXPECT_EQ(ds33, 77);
  EXPECT_EQ(pic24f, 70);
  EXPECT_EQ(pic24h, 31);
}

TEST(Catalogue, RowsKeepTheirFieldsAndOrder) {
  const auto rows = Catalogue();
  EXPECT_EQ(rows[0].name, "dsPIC30F1010");
  EXPECT_EQ(rows[206].name, "PIC24HJ256GP610A");
  const DeviceRecord* d = FindByName("dsPIC30F3010");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->device_id, 0x01C0);
  EXPECT_EQ(FindByName("dsPIC33FJ32GS406")->device_id, 0x4000);
  const DeviceRecord* ka = FindByName("PIC24F04KA200");
  ASSERT_NE(ka, nullptr);
  EXPECT_EQ(ka->program_words, 1408);
  EXPECT_EQ(FlashConfigAddress(*ka, 0), 0xAFE);
  EXPECT_EQ(FlashConfigAddress(*ka, 1), 0xAFC);
}

TEST(Catalogue, DeviceIdSearchTakesTheFirstRowUnlessTheEntryCommandRulesItOut) {
  EXPECT_EQ(FindByDeviceId(0x00C1)->name, "dsPIC30F3012");
  EXPECT_EQ(FindByDeviceIdAfterEntry(0x00C1, 0x0C)->name, "dsPIC30F3012");
  EXPECT_EQ(FindByDeviceIdAfterEntry(0x00C1, 0x0D)->name, "dsPIC33FJ64GP206");
  // A row of the other family is still found when no row of the entry's family matches.
  EXPECT_EQ(FindByDeviceIdAfterEntry(0x0101, 0x0D)->name, "dsPIC30F4011");
  EXPECT_EQ(FindByDeviceId(0x1234), nullptr);
  // Apart from 0x00C1 every DeviceID is unique.
  std::set<std::uint16_t> ids;
  int duplicates = 0;
  for (const auto& row : Catalogue()) duplicates += ids.insert(row.device_id).second ? 0 : 1;
  EXPECT_EQ(duplicates, 1);
}

TEST(FamilyRules, EntryCommandsSequencesAndLayouts) {
  const DeviceRecord& ds2020 = *FindByName("dsPIC30F2020");
  EXPECT_EQ(ds2020.family_code, 2);
  EXPECT_EQ(IcspEntryCommand(ds2020), 0x0D);
  EXPECT_EQ(EnhancedEntryCommand(ds2020), 0x8D);
  EXPECT_FALSE(UsesPic24Sequences(ds2020));
  const DeviceRecord& ds4011 = *FindByName("dsPIC30F4011");
  EXPECT_EQ(IcspEntryCommand(ds4011), 0x0C);
  EXPECT_EQ(EnhancedEntryCommand(ds4011), 0x8C);
  const DeviceRecord& ka = *FindByName("PIC24F16KA102");
  EXPECT_TRUE(UsesPic24Sequences(ka));
  EXPECT_TRUE(HasFlashConfigWords(ka));
  EXPECT_FALSE(HasFlashConfigWords(*FindByName("PIC24HJ12GP201")));
}

TEST(FamilyRules, ExecutiveExtentsAndFiles) {
  EXPECT_EQ(ExecutiveReadUnits(*FindByName("dsPIC30F4013")), 1472);
  EXPECT_EQ(ExecutiveReadUnits(*FindByName("PIC24FJ64GA002")), 2048);
  EXPECT_EQ(ExecutiveReadUnits(*FindByName("dsPIC33FJ256GP710")), 4096);
  EXPECT_EQ(ExecutiveReadUnits(*FindByName("PIC24HJ256GP610")), 4096);
  EXPECT_EQ(ExecutiveWriteExtent(*FindByName("dsPIC30F1010")).rows, 23);
  EXPECT_EQ(ExecutiveWriteExtent(*FindByName("PIC24F08KA101")).last_quad, 255);
  EXPECT_EQ(ExecutiveFileName(*FindByName("dsPIC30F2020")), "pe.hex");
  EXPECT_EQ(ExecutiveFileName(*FindByName("PIC24FJ64GA002")), "pe24f.hex");
  EXPECT_EQ(ExecutiveFileName(*FindByName("PIC24HJ64GP202")), "pe33f.hex");
}

TEST(FamilyRules, EighteenPartsLoadTablePointerThroughTheOtherAddress) {
  int variant = 0;
  for (const auto& row : Catalogue()) {
    if (LoadTablePointerFor(row.name) == kTablePointerAt0054) ++variant;
  }
  EXPECT_EQ(variant, 18);
  EXPECT_EQ(LoadTablePointerFor("PIC24FJ256DA210"), 0x8802A0u);
  EXPECT_EQ(LoadTablePointerFor("PIC24FJ128GA310"), 0x8802A0u);
  EXPECT_EQ(LoadTablePointerFor("PIC24FJ128GA110"), 0x880190u);
}

TEST(TrimBlanks, RemovesOnlySpaces) {
  EXPECT_EQ(TrimBlanks("  PIC24HJ12GP201 "), "PIC24HJ12GP201");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("\tX "), "\tX");
}

TEST(SelectDevice, SelectsByExactNameAndReportsTheSocket) {
  test_support::RecordingSink sink;
  auto reporter = sink.MakeReporter();
  Selection selection;
  ASSERT_TRUE(SelectDevice(selection, "dsPIC30F3011", *reporter));
  EXPECT_EQ(sink.last_text(), "Socket 40a");
  EXPECT_TRUE(selection.selected);
  EXPECT_EQ(selection.blank_word, 0xFFFF);
  EXPECT_EQ(selection.load_table_pointer, 0x880190u);

  ASSERT_TRUE(SelectDevice(selection, "PIC24FJ256DA210", *reporter));
  EXPECT_EQ(selection.load_table_pointer, 0x8802A0u);

  EXPECT_FALSE(SelectDevice(selection, "dspic30f3011", *reporter));
  EXPECT_EQ(sink.last_text(), "Please select PIC type.");
  EXPECT_EQ(sink.clock.ElapsedMs(), 1000);
  // The previous selection is kept whole: its table-pointer word too, or its
  // memory would be addressed through the wrong TBLPAG.
  EXPECT_EQ(selection.name, "PIC24FJ256DA210");
  EXPECT_EQ(selection.load_table_pointer, 0x8802A0u);

  Selection fresh;
  EXPECT_FALSE(SelectDevice(fresh, "PIC24FJ256DA2100", *reporter));
  EXPECT_FALSE(fresh.selected);
  EXPECT_EQ(fresh.load_table_pointer, 0x880190u);
}

}  // namespace
}  // namespace quillon::devices
