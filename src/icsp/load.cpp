#include "icsp/operations.h"

namespace quillon::icsp {

image::LoadResult LoadHexFile(Session& session, const std::string& path) {
  const image::LoadResult result =
      image::LoadHexFile(path, session.image, session.device, session.reporter);
  if (result != image::LoadResult::kLoaded) session.NoteOutcome(Outcome::kFileRejected);
  return result;
}

}  // namespace quillon::icsp
