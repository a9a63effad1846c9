// Inside the settings store: what LoadSettings and SaveSettings need of the
// in-memory table besides the public accessors of settings.h.
#pragma once

#include <vector>

#include "storage/settings.h"

namespace storage {

// Puts the records in place of the whole table, in one step under the lock.
void ReplaceSettingsTable(std::vector<SettingRecord> records);

// Shows a text in the status bar through the installed hook, if any.
void ShowSettingsStatus(const std::wstring& text);

}  // namespace storage
