#include "win32/registry_settings.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace quillon::win32 {

void RegistrySettings::Store(std::string_view name, std::string_view value) {
  HKEY key = nullptr;
  char empty_class[] = "";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, sub_key_.c_str(), 0, empty_class, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const std::string value_name(name);
  const std::string data(value);
  RegSetValueExA(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
}

std::string RegistrySettings::Load(std::string_view name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, sub_key_.c_str(), 0, KEY_ALL_ACCESS, &key) !=
      ERROR_SUCCESS) {
    return {};
  }
  const std::string value_name(name);
  char buffer[64] = {};
  DWORD type = 0;
  DWORD size = kReadLimit;
  const LONG result = RegQueryValueExA(key, value_name.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ || size > kReadLimit) return {};
  // A REG_SZ written by another program need not end in a zero; the buffer has
  // one spare byte, so the text always ends within it.
  buffer[size] = '\0';
  return std::string(buffer, std::strlen(buffer));
}

std::filesystem::path KeptWordsPath() {
  const wchar_t* appdata = _wgetenv(L"APPDATA");
  if (appdata == nullptr || *appdata == L'\0') return {};
  return std::filesystem::path(appdata) / L"Quillon" / L"rows";
}

}  // namespace quillon::win32
