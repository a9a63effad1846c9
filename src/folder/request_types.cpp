// The two-way table of request type names and codes (request_types.h).
#include "folder/request_types.h"

namespace folder {

const RequestTypeName RequestTypeNames[15] = {
    {40, "getlist"},        {41, "getmessage"},       {42, "deletemessage"},
    {73, "getcertificate"}, {74, "thecertificate"},   {49, "signsingle"},
    {50, "signfirst"},      {51, "signnext"},         {52, "edocwithsign"},
    {53, "edocwithtwosigns"}, {54, "confirmation"},   {55, "delivered"},
    {56, "rejected"},       {57, "repeat"},           {58, "expired"},
};

int TypeCodeFromName(const std::string& name) {
  for (const RequestTypeName& row : RequestTypeNames) {
    if (name == row.name) return row.code;
  }
  return 0;
}

std::string TypeNameFromCode(int code) {
  for (const RequestTypeName& row : RequestTypeNames) {
    if (code == row.code) return row.name;
  }
  return std::string();
}

}  // namespace folder
