// Operations not built yet. Each definition here is removed when its real one lands.
#include "icsp/operations.h"

namespace quillon::icsp {

void BulkErase(Session&) {}
bool PrepareExecutive(Session&) {
  return true;
}
void WriteDevice(Session&) {}

}  // namespace quillon::icsp
