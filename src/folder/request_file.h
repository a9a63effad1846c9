// The reader of request files: one deciphered file of the exchange folder
// into a FolderRequest. The file is read by plain text search, not as XML;
// docs/exchange-folder.md describes what it accepts.
//
// Called by the folder pass for every file it claimed, by the fuzz target
// and by the tests. Re-entrant.
#pragma once

#include <string>

#include "folder/folder_request.h"

namespace folder {

// Reads folder + fileName (folder ends with the separator) into *request.
// The name and path are set before anything else, so that a file that
// cannot be opened or read whole still names itself; it gets the fault
// kFaultUnreadable and type 0. Failures are logged, nothing is thrown.
void GetXMLTypes(const std::string& folder, const std::string& fileName, FolderRequest* request);

// GetXMLTypes of a file whose text is already in hand (a request the pass
// has just claimed and written there).
void GetXMLTypesOfText(const std::string& folder, const std::string& fileName, std::string text,
                       FolderRequest* request);

// The fields of a file's text (all but name and path). Lowers the tag
// names first, then takes each element between its first opening and
// first closing tag; see docs/exchange-folder.md.
void ParseRequestText(std::string text, FolderRequest* request);

// Lowers (ASCII) every character between a '<' and the next '>'.
void LowerTagNames(std::string* text);

}  // namespace folder
