// The answer document being written: one process-wide wide-text buffer and
// the stack of its open elements. A handler starts a document with
// XMLCreate, writes its elements and saves it with XMLSave
// (answer_file.h); a new XMLCreate discards a document that was not saved.
//
// Only the folder pass writes answers, one at a time; there is no lock.
// The buffer grows as needed: an answer carrying a large document is
// written whole, never cut.
#pragma once

#include <string>

namespace folder {

// Starts a new document: empties the stack and the buffer, then writes the
// declaration <?xml version="1.0" encoding="UTF-8"?>.
void XMLCreate();

// Appends "<name>value</name>". The value goes in as it is, unescaped.
void XMLElement(const std::wstring& name, const std::wstring& value);

// Appends "<name>" and remembers the element as open.
void XMLOpen(const std::wstring& name);

// Closes the innermost open element; nothing when none is open.
void XMLClose();

// Closes every open element, innermost first.
void XMLCloseAll();

// The document's text so far.
const std::wstring& AnswerText();

// Replaces the document by a complete text written earlier (AnswerText of
// a closed document); no element is open afterwards. The handlers use it
// to save an answer they had to keep for a later pass.
void XMLRestore(const std::wstring& text);

}  // namespace folder
