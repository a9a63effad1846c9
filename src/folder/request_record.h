// A request of the exchange folder as the wire record that goes to the
// server: receiver (IKS, or UNP and branch), number, expiry and the
// `message` bytes as payload, built by serverlink::RecordFromRequestFields.
//
// Called by every request handler that talks to the server or checks the
// number; the handler then sets its own type byte and payload.
#pragma once

#include "folder/folder_request.h"
#include "link/exchange_record.h"

namespace folder {

// The error text of a request whose fields do not convert; it goes to the
// accounting system as an error answer with the request's number.
inline constexpr wchar_t kConversionError[] = L"Ошибка разбора файла. Неправильный номер в сообщении";

// Fills *record from the request (type byte = the request's type code).
// False, with the record cleared, when the request carries a fault of the
// reader or the receiver IKS or number does not convert; the failure is
// logged.
bool RecordFromRequest(const FolderRequest& request, serverlink::ExchangeRecord* record);

}  // namespace folder
