// The name of the event through which a second client asks the running one
// to show its window: the running client (ui.cpp) waits on it, the second
// one (process.cpp) sets it. Included by the win32/ files only.
#pragma once

#include <string>

namespace platform::win32 {

inline std::wstring HandOverEventName(int pid) { return L"Local\\TessarinHandOver-" + std::to_wstring(pid); }

}  // namespace platform::win32
