// The folder pass: what the exchange-folder mode does on each tick of its
// timer. It claims the request files that the accounting system dropped
// into out/, reads the claimed requests of the working folder, checks them
// and hands each to the handler of its type (handlers.h).
//
// ProcessFile runs on the pass thread that the shell's TimerService starts,
// at most one at a time; everything else here is called by ProcessFile
// (and by the tests). The memory of out/ between ticks and of requests
// whose file could not be deleted belongs to that thread.
#pragma once

#include <string>

#include "folder/folder_request.h"
#include "folder/handlers.h"

namespace folder {

// The refusal texts of the checks before any work.
inline constexpr wchar_t kSenderRefused[] = L"ИКС отправителя не соответствует ИКС выбранного сертификата";
inline constexpr wchar_t kUnpRefused[] = L"УНП отправителя не соответствует УНП выбранного сертификата";
inline constexpr wchar_t kTypeRefused[] = L"Неверный тип запроса";
inline constexpr wchar_t kUnreadableRefused[] = L"Файл запроса не прочитан: ";  // followed by the file name

// The context of a pass over the exchange folder `exchangeFolder` (ending
// with the separator): the selected certificate's IKS and УНП. False when
// no certificate is selected.
bool PassContext(const std::string& exchangeFolder, FolderPassContext* context);

// One pass: sets FolderBusy, claims (MoveFilesToWorking), reads
// (FindFilesTypes) and, when there are requests and the client state is
// 0, checks and runs them (DispatchRequests); clears FolderBusy.
void ProcessFile(const std::string& exchangeFolder);

// Creates out/ and in/ when missing, then moves every "*.xml" of out/ whose
// size is the one it had at the previous call (a file still being written
// grows) into the working folder, deciphered, under a free name when its
// name is taken there, and copies it into the day folder. The request
// reaches the working folder whole (written under a temporary name and
// renamed) before its source leaves out/; a source found again beside the
// request it became (a claim cut short) is only deleted.
// When a file moved and the client state is above 1, the accounting
// system gets an error answer carrying the tray warning. Sets MoveBusy
// while it runs. Returns the number of files moved.
int MoveFilesToWorking(const FolderPassContext& context);

// Reads the "*.xml" files of the working folder into *list, at most
// kRequestsPerPass, skipping the requests finished but not deleted.
void FindFilesTypes(FolderRequestList* list);

// Checks and runs every request of the list in order (see
// docs/exchange-folder.md for the checks and the order).
void DispatchRequests(const FolderPassContext& context, const FolderRequestList& list);

// Tests: forget the sizes seen in out/ and the undeleted requests.
void ResetPassStateForTest();

}  // namespace folder
