// The user's autostart entries on Windows: string values of the current
// user's Run key, their data the command (see autostart.h). Called by the
// shell's UpdateAutostart.
#include "platform/autostart.h"

#include <windows.h>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool Fail(LSTATUS status) {
  SetLastSystemError(static_cast<int>(status));
  return false;
}

}  // namespace

std::string AutostartExecValue(const std::string& path) { return "\"" + path + "\""; }

bool ListAutostartEntries(std::vector<AutostartEntry>* entries) {
  entries->clear();
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return true;  // no key: no entries
  if (status != ERROR_SUCCESS) return Fail(status);
  DWORD longestName = 0;
  DWORD longestData = 0;
  status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                            &longestData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    RegCloseKey(key);
    return Fail(status);
  }
  std::wstring name(longestName + 1, L'\0');
  std::wstring data(longestData / sizeof(wchar_t) + 2, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return Fail(status);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    size_t dataLength = dataBytes / sizeof(wchar_t);
    while (dataLength > 0 && data[dataLength - 1] == L'\0') --dataLength;
    entries->push_back(AutostartEntry{win32::Narrow(name.data(), nameLength), win32::Narrow(data.data(), dataLength)});
  }
  RegCloseKey(key);
  return true;
}

bool WriteAutostartEntry(const std::string& name, const std::string& executablePath) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Fail(status);
  std::wstring command = win32::Wide(AutostartExecValue(executablePath));
  status = RegSetValueExW(key, win32::Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Fail(status);
  return true;
}

bool DeleteAutostartEntry(const std::string& name) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
  if (status != ERROR_SUCCESS) return Fail(status);
  status = RegDeleteValueW(key, win32::Wide(name).c_str());
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Fail(status);
  return true;
}

}  // namespace platform
