// Fuzz target: the reader of the accounting system's request files on any
// deciphered bytes. The recipient slots never pass their limit, the type is
// 0 or a code of the table, tag names come out lowered, a value the reader
// did not flag is well formed, and a request with a fault never converts
// into a wire record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"
#include "folder/folder_request.h"
#include "folder/request_file.h"
#include "folder/request_record.h"
#include "folder/request_types.h"
#include "link/exchange_record.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  folder::FolderRequest request;
  folder::ParseRequestText(std::string(reinterpret_cast<const char*>(data), size), &request);
  if (request.recipients.size() > folder::kRecipientSlotsMax) __builtin_trap();
  if (request.type != 0 && folder::TypeNameFromCode(request.type).empty()) __builtin_trap();
  if (request.text.size() != size) __builtin_trap();
  std::string again = request.text;
  folder::LowerTagNames(&again);
  if (again != request.text) __builtin_trap();
  if ((request.faults & folder::kFaultNumber) == 0 && !request.number.empty() &&
      !serverlink::ParseNumber(request.number)) {
    __builtin_trap();
  }
  if ((request.faults & folder::kFaultReceiverIks) == 0 && !request.receiverIks.empty() &&
      !core::IsHexText(request.receiverIks, 40)) {
    __builtin_trap();
  }
  serverlink::ExchangeRecord record;
  bool converted = folder::RecordFromRequest(request, &record);
  if (request.faults != 0 && converted) __builtin_trap();
  if (converted && record.payload.size() != request.message.size()) __builtin_trap();
  return 0;
}
