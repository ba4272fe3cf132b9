#include "icsp/executive_check.h"

#include <algorithm>

#include "icsp/primitives.h"

namespace quillon::icsp {

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
