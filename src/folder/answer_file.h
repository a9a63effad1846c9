// Saving the answer document (answer_document.h) as an enciphered file in
// the exchange folder's in/, and the error answer.
//
// Called by the folder pass and the request handlers. The file is written
// under a temporary name ending in ".tmp" and renamed to its ".xml" name
// when it is complete, so the accounting system, which takes "*.xml",
// never reads half an answer. An answer never replaces one that the
// accounting system has not taken yet. docs/exchange-folder.md describes
// the format for integrators.
#pragma once

#include <cstdint>
#include <string>

namespace folder {

// Longest answer name (without ".xml") taken from `refer` or `number`; a
// longer one is replaced by the time stamp.
constexpr size_t kAnswerNameMax = 200;

// The local time as "hhmmss_mmm", the name of answers that carry no
// number.
std::wstring AnswerTimeStamp();

// The file name an answer named `name` gets in the folder `in` (ending
// with the separator): name + ".xml" when no file of that name is there
// (names compared without regard to case, as Windows does), otherwise
// name + "_1.xml", name + "_2.xml", … the first that is free.
std::string FreeAnswerName(const std::string& in, const std::string& name);

// Makes the exchange folder's in/ and out/ when they are missing (folder
// ends with the separator); a failure is logged.
void MakeExchangeFolders(const std::string& folder);

// Closes the open elements and saves the document into folder + "in/"
// (folder ends with the separator; in/ and out/ are made when missing),
// UTF-8 without byte-order mark, enciphered with the key of the first 32
// hexadecimal digits of `iks`. The name is the value of `refer`, else of
// `number`, when it holds no path separator, ':', "..", control
// character and is not empty or longer than kAnswerNameMax; otherwise the
// time stamp. 0 when the whole file is in place (its path in *written when
// given); -1 when it could not be saved, and then no file is left behind:
// a caller that keeps its request for the next pass loses nothing.
int XMLSave(const std::string& folder, const std::string& iks, std::string* written = nullptr);

// The answer of one request, saved so that the request is answered once
// even when the process ends between any two steps. The answer is written
// whole into in/ under the request file's name + kStagedAnswerSuffix; the
// request file (`requestPath`, in the working folder) is then renamed to
// requestPath + kAnsweredSuffix, which the pass never takes as a request;
// the staged answer gets its name as XMLSave gives it, and the marker is
// deleted. A process that ends after the marker was made leaves the answer
// to PublishAnsweredRequests; one that ends before leaves the request to be
// carried out again, and its staged answer is overwritten. 0 when the
// request is answered (its answer named, or staged for the next pass);
// -1 when nothing changed: the request stays.
inline constexpr char kStagedAnswerSuffix[] = ".answer.tmp";
inline constexpr char kAnsweredSuffix[] = ".answered";
int XMLSaveAnswerOf(const std::string& folder, const std::string& iks, const std::string& requestPath,
                    std::string* written = nullptr);

// At the start of a pass: names the staged answers of the requests of
// `workingFolder` marked answered and deletes the markers.
void PublishAnsweredRequests(const std::string& folder, const std::string& iks, const std::string& workingFolder);

// The error answer: root with `number` (when not empty), `refer` =
// "error_" + number or "error_" + time stamp, `error` = text, and for a
// code other than 0 `errorcode` and `errorinfo` (the server's text of the
// code). Saved with XMLSave, or as the answer of the request `requestPath`
// with XMLSaveAnswerOf; the text is logged as an error with the code. The
// save's result.
int WriteErrorAnswer(const std::string& folder, const std::string& iks, const std::wstring& text,
                     const std::string& number, int code, const std::string& requestPath = "");

}  // namespace folder
