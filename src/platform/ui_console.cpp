// The console face of the user interface (see ui_console.h), and the parts
// of ui.h that both backends define alike: ConsolePrint, SetConsoleEcho,
// NoteUserInput.
#include "platform/ui_console.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <mutex>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/ui.h"

namespace platform::ui {

namespace {

std::mutex consoleMutex;
std::atomic<bool> consoleEcho{true};
std::atomic<int64_t> notedInputMs{MonotonicMs()};

}  // namespace

namespace console {

void Print(const std::wstring& text) {
  if (!consoleEcho.load()) return;
  std::string bytes;
  WideToCodePage(text, 65001, &bytes);
  std::lock_guard<std::mutex> lock(consoleMutex);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring Stamp() {
  CalendarTime now = LocalNow();
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"%02d:%02d:%02d ", now.hour, now.minute, now.second);
  return buffer;
}

std::wstring MessageBoxLine(const std::wstring& text, const std::wstring& caption) {
  std::wstring line = Stamp();
  if (!caption.empty()) line += L"[" + caption + L"] ";
  return line + text;
}

void PrintBalloon(const std::wstring& title, const std::wstring& text) { Print(Stamp() + title + L": " + text); }

int64_t NotedInputMs() { return notedInputMs.load(); }

}  // namespace console

void ConsolePrint(const std::wstring& text) { console::Print(text); }

void SetConsoleEcho(bool on) { consoleEcho.store(on); }

void NoteUserInput() { notedInputMs = MonotonicMs(); }

}  // namespace platform::ui
