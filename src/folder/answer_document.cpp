// The answer document buffer and its element writer (answer_document.h).
#include "folder/answer_document.h"

#include <vector>

#include "core/log.h"

namespace folder {
namespace {

struct AnswerDocument {
  std::wstring text;               // the document so far
  std::vector<std::wstring> open;  // names of the open elements, innermost last
};

AnswerDocument& Document() {
  static AnswerDocument document;
  return document;
}

}  // namespace

void XMLCreate() {
  core::LogInfo("XMLCreate - Begin");
  AnswerDocument& document = Document();
  document.open.clear();
  document.text.clear();
  document.text += L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
}

void XMLElement(const std::wstring& name, const std::wstring& value) {
  std::wstring& text = Document().text;
  text.reserve(text.size() + 2 * name.size() + value.size() + 5);
  text += L'<';
  text += name;
  text += L'>';
  text += value;
  text += L"</";
  text += name;
  text += L'>';
}

void XMLOpen(const std::wstring& name) {
  AnswerDocument& document = Document();
  document.text += L'<';
  document.text += name;
  document.text += L'>';
  document.open.push_back(name);
}

void XMLClose() {
  AnswerDocument& document = Document();
  if (document.open.empty()) return;
  document.text += L"</";
  document.text += document.open.back();
  document.text += L'>';
  document.open.pop_back();
}

void XMLCloseAll() {
  while (!Document().open.empty()) XMLClose();
}

const std::wstring& AnswerText() { return Document().text; }

void XMLRestore(const std::wstring& text) {
  AnswerDocument& document = Document();
  document.open.clear();
  document.text = text;
}

}  // namespace folder
