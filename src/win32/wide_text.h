// Conversions between the core's UTF-8 texts and the UTF-16 of the wide
// Win32 calls, so Japanese texts show whatever the system's code page.
#pragma once

#include <string>
#include <string_view>

namespace quillon::win32 {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace quillon::win32
