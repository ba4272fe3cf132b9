// The manual page and the bash completion script of the console tool,
// written from its command-line definitions (the build installs both).
#pragma once

#include <ostream>

namespace quillon::cli {

// The manual page, in roff.
void WriteManPage(std::ostream& out);

// The bash completion script.
void WriteBashCompletion(std::ostream& out);

}  // namespace quillon::cli
