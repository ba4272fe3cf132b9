#include "devices/selection.h"

namespace quillon::devices {

bool SelectDevice(Selection& selection, std::string_view name, report::Reporter& reporter) {
  selection.load_table_pointer = kTablePointerAt0032;
  const DeviceRecord* row = FindByName(name);
  if (row == nullptr) {
    reporter.ReportError({"Please select PIC type.", "PIC typeを選択してください。"});
    return false;
  }
  selection.selected = true;
  selection.device = *row;
  selection.name = std::string(name);
  selection.blank_word = 0xFFFF;
  selection.load_table_pointer = LoadTablePointerFor(name);
  reporter.ShowMessagePair(report::SameText("Socket " + std::string(row->package_tag)));
  return true;
}

}  // namespace quillon::devices
