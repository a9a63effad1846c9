// RecordFromRequest (request_record.h).
#include "folder/request_record.h"

#include "core/log.h"
#include "link/frame.h"

namespace folder {

bool RecordFromRequest(const FolderRequest& request, serverlink::ExchangeRecord* record) {
  *record = serverlink::ExchangeRecord{};
  if (request.faults != 0) {
    core::LogValue("Request with faults is not converted", request.faults);
    return false;
  }
  serverlink::RequestFields fields;
  fields.type = static_cast<uint8_t>(request.type);
  fields.iks = request.receiverIks;
  fields.unp = request.receiverUnp;
  fields.branch = request.receiverBranch;
  fields.number = request.number;
  fields.expiryDays = request.expire;
  fields.data = request.message;
  return serverlink::RecordFromRequestFields(fields, record) == serverlink::RecordFromFieldsResult::Ok;
}

}  // namespace folder
