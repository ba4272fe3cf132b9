// Operations not built yet. Each definition here is removed when its real one lands.
#include "icsp/operations.h"

namespace quillon::icsp {

void DetectDevice(Session&) {}
void BulkErase(Session&) {}
void BlankCheck(Session&) {}
bool PrepareExecutive(Session&) { return true; }
void WriteDevice(Session&) {}
void ReadDevice(Session&, const std::string&) {}

}  // namespace quillon::icsp
