// The About dialog (resource 103, menu "&О программе ..."): the version
// line and a line saying what the program is. The window's menu command
// and the console's "about" show it.
#pragma once

#include <string>

namespace shell {

// The version line, "Tessarin, версия 3.14.9-MT".
std::wstring AboutVersionLine();
// What the program is.
extern const wchar_t kAboutDescription[];

}  // namespace shell
