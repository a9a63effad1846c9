// Status lines and their collection for the web page (see status_lines.h).
#include "exchange/status_lines.h"

#include "shell/status.h"

namespace exchange {

namespace {

thread_local StatusCollector* current = nullptr;  // innermost collector of this thread

}  // namespace

void ShowLine(const std::wstring& text) {
  shell::ShowStatus(text, current != nullptr ? &current->text : nullptr);
}

StatusCollector::StatusCollector() : outer(current) { current = this; }

StatusCollector::~StatusCollector() { current = outer; }

}  // namespace exchange
