// The console face of the user interface, shared by the headless backend
// (headless_ui.cpp) and the Windows one (win32/ui.cpp): what a user would
// see is also printed to stdout while the echo is on (status lines while
// the window is shown, balloons, message boxes), and the time of the input
// the client notes itself (a console line, a web request, a hand-over).
// Free of system headers.
#pragma once

#include <cstdint>
#include <string>

namespace platform::ui::console {

// Prints a line (UTF-8) while the echo is on.
void Print(const std::wstring& text);

// "hh:mm:ss " of the local time.
std::wstring Stamp();

// The line a message box is printed as: the stamp, "[caption] " when there
// is one, the text.
std::wstring MessageBoxLine(const std::wstring& text, const std::wstring& caption);

// A balloon as printed: the stamp, "title: text".
void PrintBalloon(const std::wstring& title, const std::wstring& text);

// Monotonic milliseconds of the last input noted by NoteUserInput (the
// start until then).
int64_t NotedInputMs();

}  // namespace platform::ui::console
