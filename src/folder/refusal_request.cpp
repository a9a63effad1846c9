// "rejected": ProcessSendMessage sends the refusal of a received document
// with the accounting system's refusal code (handlers.h). Called by the
// folder pass's dispatcher.
#include "core/log.h"
#include "folder/handlers.h"
#include "folder/request_ending.h"
#include "folder/request_record.h"

namespace folder {

void ProcessSendMessage(const FolderPassContext& context, const FolderRequest& request) {
  core::LogInfo("PSM");
  try {
    if (FinishedEarlier(context, request)) return;
    serverlink::ExchangeRecord record;
    if (!RecordFromRequest(request, &record)) {
      RefuseRequest(context, request, kConversionError, request.number, 0);
      return;
    }
    // The type byte stays the request's: 56.
    record.payload = {request.rejectionCode};
    record.payloadLength = 1;
    SendAndAnswerStatus(context, request, &record, L"rejectionconfirmed");
  } catch (...) {
    core::LogException("ProcessSendMessage");
  }
}

}  // namespace folder
