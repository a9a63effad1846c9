// The JSON texts of the web interface's answers (see json_answers.h).
#include "web/json_answers.h"

#include <algorithm>

#include "core/format.h"
#include "core/text.h"
#include "exchange/result_codes.h"
#include "storage/messages.h"

namespace web {

namespace {

std::string Utf8(const std::wstring& text) { return core::ToNarrow(text, core::kCodePageUtf8); }

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ",";
    text += items[i];
  }
  return text;
}

}  // namespace

namespace {

// JsonEscape into the end of `out`.
void AppendJsonEscaped(const std::string& utf8, std::string* out) {
  out->reserve(out->size() + utf8.size() + 16);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    switch (c) {
      case '\\': *out += "\\\\"; continue;
      case '"': *out += "\\\""; continue;
      case '\n': *out += "\\n"; continue;
      case '\r': *out += "\\r"; continue;
      case '\t': *out += "\\t"; continue;
      case '\b': *out += "\\b"; continue;
      case '\f': *out += "\\f"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      *out += core::Format("\\u%04x", c);
    } else if (c == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(utf8[i + 2]) == 0xA8 || static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
      *out += static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      *out += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string JsonEscape(const std::string& utf8) {
  std::string out;
  AppendJsonEscaped(utf8, &out);
  return out;
}

std::string JsonEscape(const std::wstring& text) { return JsonEscape(Utf8(text)); }

std::string MessageJson(const std::string& text, const std::string& key) {
  return "({\"" + key + "\" :\"" + JsonEscape(text) + "\"})";
}

std::string MessageJson(const std::wstring& text, const std::string& key) { return MessageJson(Utf8(text), key); }

std::string WithOperationOk(const std::string& answer) {
  std::string text = answer.size() >= 2 ? answer.substr(0, answer.size() - 2) : std::string();
  return text + ", \"operation\" :\"Ok\"})";
}

int PageType(int32_t type) { return type == storage::kMessageCertificateRequest ? 2 : 1; }

int PageStatus(int32_t status) {
  switch (status) {
    case storage::kStatusReceived: return 1;
    case storage::kStatusSending: return 4;
    case storage::kStatusSigned: return 2;
    default: return 3;
  }
}

void AppendDocumentItem(const DocumentItem& item, std::string* out) {
  *out += "{ \"Number\": \"";
  *out += std::to_string(item.idm);
  *out += "\",\"Info\" : \"\", \"Buttons\" : 0, \"TimeIn\": \"";
  AppendJsonEscaped(item.timeIn, out);
  *out += "\", \"UNP\" : \"";
  *out += std::to_string(item.unp);
  *out += "\", \"Type\" :";
  *out += std::to_string(PageType(item.type));
  *out += ",\"Name\" : \"";
  AppendJsonEscaped(item.name, out);
  *out += "\", \"Status\" :";
  *out += std::to_string(PageStatus(item.status));
  *out += "}";
}

std::string DocumentItems(const std::vector<DocumentItem>& items) {
  std::string text;
  // An item is about 170 bytes: one allocation for the whole list.
  text.reserve(items.size() * 192);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ",";
    AppendDocumentItem(items[i], &text);
  }
  return text;
}

namespace {

std::string DocumentsAnswerOf(const std::string* message, const size_t* total, const std::string& items) {
  std::string text = "({";
  if (message != nullptr) text += "\"message\" :\"" + JsonEscape(*message) + "\",";
  if (total != nullptr) text += "\"total\" :" + std::to_string(*total) + ",";
  text += "\"documents\" :[";
  text.reserve(text.size() + items.size() + 3);
  text += items;
  text += "]})";
  return text;
}

}  // namespace

std::string DocumentsAnswer(const std::string* message, const std::vector<DocumentItem>& items,
                            const size_t* total) {
  return DocumentsAnswerOf(message, total, DocumentItems(items));
}

std::string DocumentsAnswerAround(const std::string* message, const std::string& items) {
  return DocumentsAnswerOf(message, nullptr, items);
}

std::vector<DocumentItem> SampleDocuments() {
  return {
      {1001, "2026-03-02 09:15:00", 190000001, storage::kMessageDocument, "ООО \"Образец\"", storage::kStatusReceived},
      {1002, "2026-03-01 17:40:12", 190000002, storage::kMessageCertificateRequest, "ЗАО \"Пример\"",
       storage::kStatusReceived},
      {1003, "2026-02-27 11:05:30", 190000003, storage::kMessageDocument, "ИП Иванов И.И.", storage::kStatusSigned},
      {1004, "2026-02-25 14:22:47", 190000004, storage::kMessageDocument, "ОАО \"Демонстрация\"", 121},
      {1005, "2026-02-20 08:00:05", 190000005, storage::kMessageDocument, "ООО \"Проба\"", storage::kStatusSending},
  };
}

std::string SettingItem(const std::string& name, const std::string& value) {
  return "\"" + JsonEscape(name) + "\": \"" + JsonEscape(value) + "\"";
}

std::string SettingsAnswer(const std::vector<std::string>& settings, const std::vector<std::string>& certificates) {
  return "({\"settings\" :{" + Joined(settings) + "},\"certificates\" :{" + Joined(certificates) + "}})";
}

std::string RegistrationPrompt(const std::wstring& subjectName, const std::wstring& unp, const std::wstring& branch) {
  std::wstring text = L" Для получения сообщений будет произведена регистрация следующего субъекта:<BR>" + subjectName +
                      L"<BR>" + L"УНП:<span id=\"UNP\">" + unp + L"</span><BR>";
  if (!branch.empty()) text += L"Код филиала:<span id=\"BRANCH\">" + branch + L"</span><BR>";
  text += L"<BR><strong><span style=\"color:red\">Внимание !!! Изменить субъекта можно только повторно оплатив "
          L"услугу.</span></strong><BR>";
  text += L"<BR> Нажимая кнопку Да подтверждаю, что прочитал и согласен с условиями ПРАВИЛ и согласен произвести "
          L"регистрацию вышеуказанного субъекта<BR>";
  return "({\"AGREEMENT\" :\"" + JsonEscape(text) + "\"})";
}

std::string DescriptionAnswer(const std::wstring& description, int buttons, int32_t idm) {
  const std::wstring shown = core::ReplaceAll(description, L"\r\n", L"<BR>", false);
  return "({\"Info\" : \"" + JsonEscape(shown) + "\", \"Buttons\" :" + std::to_string(buttons) + ", \"Number\" : \"" +
         std::to_string(idm) + "\"})";
}

const uint8_t kChoosableRefusals[7] = {121, 122, 123, 124, 191, 192, 199};

bool ChoosableRefusal(int code) {
  return std::find(std::begin(kChoosableRefusals), std::end(kChoosableRefusals), code) != std::end(kChoosableRefusals);
}

std::string RefusalTypesAnswer() {
  std::vector<std::string> items;
  for (uint8_t code : kChoosableRefusals) {
    items.push_back("\"" + std::to_string(code) + "\": \"" + JsonEscape(exchange::RefusalText(code)) + "\"");
  }
  return "({\"answer\": \"Ok\",\"TypeRejection\":{" + Joined(items) + "}})";
}

}  // namespace web
