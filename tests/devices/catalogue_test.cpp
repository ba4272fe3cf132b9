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

// One part of each form, and the rules the engine and the simulator take from it.
struct FormCase {
  std::string_view part;
  const FamilyForm* form;
  std::uint8_t entry;
  std::uint32_t reset_vector;
  std::uint32_t row;
  ConfigLayout config;
  int config_written;
  std::string_view executive_file;  // empty: no executive
  int executive_read_units;
  int executive_rows;
  std::uint32_t load_table_pointer;
};

TEST(FamilyRules, EachPartAsksItsForm) {
  const FormCase cases[] = {
      {"dsPIC30F4011", &kFormDsPic30F, 0x0C, 0x100, 32, ConfigLayout::kRegisters, 8, "pe.hex", 1472,
       23, 0x880190},
      {"dsPIC30F2020", &kFormDsPic30FKey, 0x0D, 0x100, 32, ConfigLayout::kRegisters, 8, "pe.hex",
       1472, 23, 0x880190},
      {"dsPIC33FJ256GP710", &kFormDsPic33F, 0x0D, 0x200, 64, ConfigLayout::kRegisters, 8,
       "pe33f.hex", 4096, 16, 0x880190},
      {"PIC24HJ256GP610", &kFormDsPic33F, 0x0D, 0x200, 64, ConfigLayout::kRegisters, 8, "pe33f.hex",
       4096, 16, 0x880190},
      {"PIC24FJ64GA002", &kFormPic24FJ, 0x0D, 0x200, 64, ConfigLayout::kFlashWords, 2, "pe24f.hex",
       2048, 16, 0x880190},
      {"PIC24FJ256DA210", &kFormPic24FJ0054, 0x0D, 0x200, 64, ConfigLayout::kFlashWords, 2,
       "pe24f.hex", 2048, 16, 0x8802A0},
      {"PIC24F16KA102", &kFormPic24FKA, 0x0D, 0x200, 32, ConfigLayout::kRegisters, 9, "", 0, 0,
       0x880190},
  };
  for (const FormCase& c : cases) {
    const DeviceRecord& row = *FindByName(c.part);
    const FamilyForm& form = Form(row);
    EXPECT_EQ(&form, c.form) << c.part;
    EXPECT_EQ(IcspEntryCommand(row), c.entry) << c.part;
    EXPECT_EQ(form.enhanced_entry, c.entry | 0x80) << c.part;
    EXPECT_EQ(form.reset_vector, c.reset_vector) << c.part;
    EXPECT_EQ(form.row_instructions, c.row) << c.part;
    EXPECT_EQ(form.config.layout, c.config) << c.part;
    EXPECT_EQ(form.config.written, c.config_written) << c.part;
    EXPECT_EQ(form.executive.present, !c.executive_file.empty()) << c.part;
    EXPECT_EQ(form.executive.file, c.executive_file) << c.part;
    EXPECT_EQ(form.executive.read_units, c.executive_read_units) << c.part;
    EXPECT_EQ(form.executive.write_rows, c.executive_rows) << c.part;
    EXPECT_EQ(form.load_table_pointer(), c.load_table_pointer) << c.part;
  }
  // A record without a form (nothing selected yet) programs as a dsPIC30F.
  EXPECT_EQ(&Form(DeviceRecord{}), &kFormDsPic30F);
}

TEST(FamilyRules, FormsFollowTheFamiliesAndKaPartsHoldTheirEeprom) {
  int variant = 0, ka = 0;
  for (const auto& row : Catalogue()) {
    if (Form(row).load_table_pointer() == kTablePointerAt0054) ++variant;
    if (Form(row).key_entry() != (row.family_code != 0)) ADD_FAILURE() << row.name;
    if (&Form(row) != &kFormPic24FKA) continue;
    ++ka;
    // 512 bytes from 0x7FFE00 on the 08KA and 16KA parts, none on the 04KA parts.
    EXPECT_EQ(row.eeprom_bytes, row.name.starts_with("PIC24F04") ? 0 : 512) << row.name;
  }
  EXPECT_EQ(variant, 18);
  EXPECT_EQ(ka, 6);
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
