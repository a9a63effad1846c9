// Viewing and saving stored documents.
//
// ShowDocument checks the stored document's signatures and shows it as an
// HTML page: the signed content followed by the signature report, written
// to "temp.html" in the program folder and opened with the system's viewer,
// or handed to the web page. A row stored still encrypted (its decryption
// failed at intake) is decrypted here once and written back decrypted.
// SaveDocument writes the stored signed document to the "documents" folder
// under a name made of the document number's 27 digits.
//
// Called by the message dialog and the web interface on their threads; the
// row is named by its position in the message list, resolved once to the
// row's id when the operation begins.
#pragma once

#include <cstdint>
#include <string>

#include "storage/messages.h"

namespace exchange {

// The page's file name in the program folder; overwritten on every show.
inline constexpr char kTemporaryPage[] = "temp.html";

// Checks and shows the document at the position. show: write the page and
// open it; ok: set when the document could be read and verified; verdict:
// the verdict of the signature check (0 or a refusal code 111..114), which
// the dialogs propose as the refusal code; webPage (may be null): receives
// the page text instead of the file. Returns the report with every line
// break as "<BR>"; empty when there is no such row. Logs "ShowDocument".
std::wstring ShowDocument(int position, bool show, bool* ok, uint8_t* verdict, std::string* webPage);
std::wstring ShowDocumentOf(const storage::MessageEntry& entry, bool show, bool* ok, uint8_t* verdict,
                            std::string* webPage);

// The path of the saved document with this stored number: the documents
// folder, the 27 digits, ".html.sgn".
std::string SavedDocumentPath(const storage::MessageNumber& number);

// Writes the stored document at the position to SavedDocumentPath,
// replacing an earlier file, and tells the user where it went (status
// area, and a message box unless the web interface is active). Returns the
// text shown: "Электронный документ сохранен <path>" or "<path> - указанный
// каталог не доступен.".
std::wstring SaveDocument(int position);
std::wstring SaveDocumentOf(const storage::MessageEntry& entry);

}  // namespace exchange
