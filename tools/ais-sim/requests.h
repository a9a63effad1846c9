// The requests within a session (operation 0xAC), after both cipher layers
// are off and the frame is parsed: the list of waiting messages (40),
// fetch (41), delete (42), status (3), e-mail (14, 16), program version
// digest and download (8, 9), and everything that is routed to another
// organisation (routing.h). Each answer is a record that handler.cpp
// enciphers under the session key. Called by handler.cpp.
#pragma once

#include "handler.h"
#include "link/exchange_record.h"
#include "state.h"

namespace aissim {

serverlink::ExchangeRecord AnswerInSession(const Organisation& organisation,
                                           const serverlink::ExchangeRecord& request, Exchange* exchange);

}  // namespace aissim
