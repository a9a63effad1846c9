// The headless user interface's console events on Windows (see ui.h):
// Ctrl+C, Ctrl+Break and closing the console end the message loop, and the
// hand-over event of this process is a second client's hand-over. Called
// once by the client's start-up; the rest of the headless interface is in
// ../headless_ui.cpp until the Windows client has real windows.
#include "platform/ui.h"

#include <windows.h>

#include "platform/win32/handover.h"

namespace platform::ui {

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    PostQuit(0);
    return TRUE;
  }
  return FALSE;
}

DWORD WINAPI WaitForHandOvers(void* event) {
  while (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) ReceiveHandOver();
  return 0;
}

}  // namespace

void InstallSignalHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // An auto-reset event: each SetEvent of a second client is one hand-over.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, win32::HandOverEventName(static_cast<int>(GetCurrentProcessId())).c_str());
  if (event == nullptr) return;
  HANDLE waiter = CreateThread(nullptr, 0, WaitForHandOvers, event, 0, nullptr);
  if (waiter != nullptr) CloseHandle(waiter);
}

}  // namespace platform::ui
