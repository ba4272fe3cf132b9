// SHA-256 of a file, so that a production log can tie a programmed part to
// the exact image (the same digest `sha256sum` prints).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::image {

// Lower-case hexadecimal digest of `data`.
std::string Sha256Hex(std::string_view data);
// Of a file's bytes; empty when it cannot be read.
std::optional<std::string> FileSha256Hex(const std::string& path);

}  // namespace quillon::image
