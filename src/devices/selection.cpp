#include "devices/selection.h"

namespace quillon::devices {

bool SelectDevice(Selection& selection, std::string_view name, report::Reporter& reporter) {
  const DeviceRecord* row = FindByName(name);
  if (row == nullptr) {
    // The part chosen before stays selected, so it keeps its own table-pointer
    // word: one of the parts with TBLPAG at 0x0054 driven through 0x0032
    // would have its memory read and written at the wrong page.
    selection.load_table_pointer = Form(selection.device).load_table_pointer();
    reporter.ReportError({"Please select PIC type.", "PIC typeを選択してください。"},
                         report::FailureKind::kPart);
    return false;
  }
  selection.selected = true;
  selection.device = *row;
  selection.name = std::string(name);
  selection.blank_word = 0xFFFF;
  selection.load_table_pointer = Form(*row).load_table_pointer();
  reporter.ShowMessagePair(report::SameText("Socket " + std::string(row->package_tag)));
  return true;
}

}  // namespace quillon::devices
