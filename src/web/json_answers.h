// The JSON texts of the web interface's answers: the fixed pieces the page
// expects, spacing included, and the escaping of every text put into them.
// Pure text assembly, no shared state; called by the web commands on any
// worker thread. The page's side of it is in docs/web-api.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace web {

// The text as the inside of a JSON string: backslash and double quote get a
// backslash, control characters their short escape (\n, \r, \t, \b, \f) or
// \u00XX, and U+2028/U+2029 (which end a script line) \u2028/\u2029.
// Everything else, UTF-8 included, stays as it is.
std::string JsonEscape(const std::string& utf8);
std::string JsonEscape(const std::wstring& text);

// ({"key" :"text"}) with the text escaped.
std::string MessageJson(const std::string& text, const std::string& key = "message");
std::string MessageJson(const std::wstring& text, const std::string& key = "message");

// A message answer that reports the operation as done: the closing "})"
// becomes ", " followed by "operation" :"Ok"}).
std::string WithOperationOk(const std::string& answer);

// One document of the documents answer, its values as shown.
struct DocumentItem {
  int32_t idm = 0;            // the server's message identifier
  std::string timeIn;         // "%Y-%m-%d %H:%M:%S", local time
  int32_t unp = 0;            // the sender's taxpayer number
  int32_t type = 0;           // the stored type code
  std::string name;           // the sender's name, UTF-8
  int32_t status = 0;         // the stored status
};

// The page's type (2 for a certificate request, 1 otherwise) and status (1
// not answered, 4 being sent, 2 signed, 3 refused).
int PageType(int32_t type);
int PageStatus(int32_t status);

// ({, the message element when one is given ("message" :"...",), then
// "documents" :[ with the items separated by ",", then ]}).
// `total`, when given, goes before the documents as "total" :N (the
// answer to a page of the list).
std::string DocumentsAnswer(const std::string* message, const std::vector<DocumentItem>& items,
                            const size_t* total = nullptr);

// The items of the documents answer alone, separated by "," (what goes
// between "documents" :[ and ]), and the answer around items made so.
std::string DocumentItems(const std::vector<DocumentItem>& items);
std::string DocumentsAnswerAround(const std::string* message, const std::string& items);

// The five made-up documents answered while the page gives no phone.
std::vector<DocumentItem> SampleDocuments();

// One item of the settings answer: "name": "value" (the value escaped).
std::string SettingItem(const std::string& name, const std::string& value);

// ({"settings" :{ items },"certificates" :{ items }}).
std::string SettingsAnswer(const std::vector<std::string>& settings, const std::vector<std::string>& certificates);

// ({"AGREEMENT" :"text"}): the registration prompt for the organisation.
std::string RegistrationPrompt(const std::wstring& subjectName, const std::wstring& unp, const std::wstring& branch);

// ({"Info" : "description", "Buttons" :n, "Number" : "idm"}); every
// "\r\n" of the description becomes "<BR>".
std::string DescriptionAnswer(const std::wstring& description, int buttons, int32_t idm);

// The refusal codes a person may choose, in the order the page lists them.
extern const uint8_t kChoosableRefusals[7];
bool ChoosableRefusal(int code);

// ({"answer": "Ok","TypeRejection":{"121": "text",...}}).
std::string RefusalTypesAnswer();

}  // namespace web
