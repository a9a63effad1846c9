// Status lines of the exchange operations, collected for the web page.
//
// Every exchange operation shows what it does through ShowLine. An
// operation that the web page calls (replies, intake) opens a
// StatusCollector for its duration: every line shown on that thread until
// the collector closes, including the lines of the operations it calls
// (the link check, the session start), is also appended to the
// collector's text followed by "<BR>", which the operation returns.
#pragma once

#include <string>

namespace exchange {

// Shows the line in the status area (shell::ShowStatus) and appends it to
// the collector open on this thread, if any.
void ShowLine(const std::wstring& text);

// Collects the lines shown on this thread while it lives. Collectors nest:
// an inner one takes the lines while it is open and hands nothing to the
// outer one.
struct StatusCollector {
  StatusCollector();
  ~StatusCollector();
  StatusCollector(const StatusCollector&) = delete;
  StatusCollector& operator=(const StatusCollector&) = delete;

  std::wstring text;              // the lines so far, each followed by "<BR>"
  StatusCollector* outer;         // the collector this one replaced
};

}  // namespace exchange
