#include "icsp/executive_check.h"

#include <algorithm>

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

void ReadExecutiveQuads(Session& session, std::size_t first, std::size_t last) {
  GotoResetVector(session);
  SetTablePointer(session, kExecutiveBase, 6);
  session.link().SendBatch();
  for (std::size_t q = first; q <= last; ++q) {
    SetTablePointer(session, kExecutiveBase + 8 * static_cast<std::uint32_t>(q), 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, session.image().executive, q);
    GotoResetVector(session);
  }
}

}  // namespace

bool CheckExecutive(Session& session) {
  const devices::ExecutiveForm& form = session.form().executive;
  if (!form.present) return false;
  const std::vector<std::uint16_t>& exe = session.image().executive;
  const std::size_t first = static_cast<std::size_t>(form.check_first_quad);
  ReadExecutiveQuads(session, first, first + 1);
  if (form.factory_words_from != 0) {
    std::copy(exe.begin() + 8 * first, exe.begin() + 8 * first + 16,
              session.executive_tail().begin());
  }
  const std::uint16_t id = exe[form.id_unit];
  return id == form.id_value || (form.id_alternate != 0 && id == form.id_alternate);
}

}  // namespace quillon::icsp
