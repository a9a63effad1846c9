// The request type names of the exchange folder and their codes, the
// message types of the wire protocol. Request files name their type in
// text ("signsingle"), answers name theirs the same way; the handlers and
// the server work with the codes.
//
// Used by the request-file reader, the answer writer's callers and
// tsr-tool. The table is constant; everything here is re-entrant.
#pragma once

#include <cstdint>
#include <string>

namespace folder {

struct RequestTypeName {
  int code;          // message type on the wire
  const char* name;  // type name as requests and answers write it, lower case
};

// The 15 rows: getlist 40, getmessage 41, deletemessage 42,
// getcertificate 73, thecertificate 74, signsingle 49, signfirst 50,
// signnext 51, edocwithsign 52, edocwithtwosigns 53, confirmation 54,
// delivered 55, rejected 56, repeat 57, expired 58.
extern const RequestTypeName RequestTypeNames[15];

// The code of the first row whose name equals the text exactly (callers
// lower it first); 0 when no row has that name.
int TypeCodeFromName(const std::string& name);

// The row's name for a code; empty when no row has that code.
std::string TypeNameFromCode(int code);

}  // namespace folder
