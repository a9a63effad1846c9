// The end of a sending request: answers before deletion, the kept answer
// of an accepted request (request_ending.h).
#include "folder/request_ending.h"

#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "folder/answer_document.h"
#include "folder/answer_file.h"
#include "platform/error.h"
#include "platform/file.h"

namespace folder {

namespace {

std::string KeptAnswerPath(const FolderRequest& request) { return request.path + kAcceptedSuffix; }

std::string PreparedSendPath(const FolderRequest& request) { return request.path + kSendingSuffix; }

// Writes a file kept beside a request under a temporary name and renames
// it, so that it is whole or absent.
bool KeepBeside(const std::string& path, const std::string& data) {
  const std::string temporary = path + ".tmp";
  if (!platform::WriteWholeFile(temporary, data.data(), data.size())) {
    core::LogError("Can't keep " + temporary, platform::LastSystemError());
    platform::FileDelete(temporary);
    return false;
  }
  if (!platform::FileMove(temporary, path)) {
    core::LogError("Can't keep " + path, platform::LastSystemError());
    platform::FileDelete(temporary);
    return false;
  }
  return true;
}

bool KeepAnswer(const FolderRequest& request, const std::wstring& text) {
  return KeepBeside(KeptAnswerPath(request), core::ToNarrow(text, core::kCodePageUtf8));
}

}  // namespace

bool SaveAnswerAndFinish(const FolderPassContext& context, const FolderRequest& request) {
  if (XMLSaveAnswerOf(context.exchangeFolder, context.iks, request.path) != 0) {
    core::LogError("The answer is not saved; the request waits for the next pass " + request.fileName, 0);
    return false;
  }
  return true;
}

void FinishAccepted(const FolderPassContext& context, const FolderRequest& request) {
  XMLCloseAll();
  const std::wstring text = AnswerText();
  if (XMLSaveAnswerOf(context.exchangeFolder, context.iks, request.path) == 0) return;
  if (KeepAnswer(request, text)) {
    core::LogError("Accepted by the server, the answer is kept for the next pass " + request.fileName, 0);
    return;
  }
  // Neither the answer nor the note that it was sent could be written:
  // the answer is lost, but the request must not go out a second time.
  core::LogError("Accepted by the server, the answer is lost " + request.fileName, 0);
  FinishRequest(request);
}

bool FinishedEarlier(const FolderPassContext& context, const FolderRequest& request) {
  const std::string path = KeptAnswerPath(request);
  if (!platform::FileExists(path)) return false;
  std::vector<uint8_t> data;
  if (!platform::ReadWholeFile(path, &data)) {
    core::LogError("Can't read the kept answer " + path, platform::LastSystemError());
    return true;
  }
  const std::string kept(data.begin(), data.end());
  if (core::FindTag(kept, "number").value_or(std::string()) != request.number) {
    // Left behind by an earlier request of the same file name.
    core::LogError("A kept answer of another request is deleted " + path, 0);
    platform::FileDelete(path);
    return false;
  }
  core::LogInfo("The server accepted this request before; its kept answer is saved " + request.fileName);
  XMLRestore(core::ToWide(kept, core::kCodePageUtf8));
  if (XMLSaveAnswerOf(context.exchangeFolder, context.iks, request.path) != 0) return true;
  // The request first: a request without its kept answer would be sent
  // again, and a kept answer left alone names another number.
  if (!platform::FileDelete(path)) core::LogError("Can't delete the kept answer " + path, platform::LastSystemError());
  return true;
}

// The prepared send's file: the wire type in decimal and a line break,
// Base64 of the envelope and a line break, then the answer's text.
bool KeepPreparedSend(const FolderRequest& request, const PreparedSend& prepared) {
  return KeepBeside(PreparedSendPath(request), std::to_string(prepared.type) + "\n" +
                                                   core::Base64Encode(prepared.payload) + "\n" +
                                                   core::ToNarrow(prepared.answer, core::kCodePageUtf8));
}

bool PreparedSendOf(const FolderRequest& request, PreparedSend* prepared) {
  const std::string path = PreparedSendPath(request);
  if (!platform::FileExists(path)) return false;
  std::vector<uint8_t> data;
  if (!platform::ReadWholeFile(path, &data)) {
    core::LogError("Can't read the prepared send " + path, platform::LastSystemError());
    return false;
  }
  const std::string kept(data.begin(), data.end());
  const size_t first = kept.find('\n');
  const size_t second = first == std::string::npos ? first : kept.find('\n', first + 1);
  const std::string answer = second == std::string::npos ? std::string() : kept.substr(second + 1);
  const std::string type = first == std::string::npos ? std::string() : kept.substr(0, first);
  const bool typeRead = !type.empty() && type.size() <= 3 && type.find_first_not_of("0123456789") == std::string::npos;
  if (second == std::string::npos || !typeRead ||
      core::FindTag(answer, "number").value_or(std::string()) != request.number) {
    core::LogError("A prepared send of another request is deleted " + path, 0);
    platform::FileDelete(path);
    return false;
  }
  prepared->type = static_cast<uint8_t>(std::stoi(type));
  prepared->payload = core::Base64Decode(kept.substr(first + 1, second - first - 1));
  prepared->answer = core::ToWide(answer, core::kCodePageUtf8);
  return true;
}

void DropPreparedSend(const FolderRequest& request) {
  const std::string path = PreparedSendPath(request);
  if (!platform::FileDelete(path) && platform::FileExists(path)) {
    core::LogError("Can't delete the prepared send " + path, platform::LastSystemError());
  }
}

void SendAndAnswerStatus(const FolderPassContext& context, const FolderRequest& request,
                         serverlink::ExchangeRecord* record, const std::wstring& status) {
  XMLCreate();
  XMLOpen(L"root");
  XMLElement(L"type", L"thestatus");
  XMLElement(L"number", core::ToWide(request.number, core::kCodePageUtf8));
  XMLElement(L"Status", status);
  XMLElement(L"message", L"Отправлено");
  PreparedSend prepared;
  const bool resend = PreparedSendOf(request, &prepared);
  if (resend) {
    // Sent before, its answer lost: the same bytes go out again.
    record->type = prepared.type;
    record->payload = std::move(prepared.payload);
    record->payloadLength = static_cast<uint32_t>(record->payload.size());
  } else {
    KeepPreparedSend(request, PreparedSend{record->type, record->payload, AnswerText()});
  }
  exchange::ReplyResult result;
  exchange::SendMessageAndGetAnswer(&result, record);
  const bool arrivedBefore = resend && exchange::Connected() && result.kind == exchange::kReplyRefused &&
                             result.code == kCodeAlreadyThere;
  if (result.kind == exchange::kReplyAccepted || arrivedBefore) {
    FinishAccepted(context, request);
    DropPreparedSend(request);
    return;
  }
  // Nothing went out, or the connection broke before the answer was
  // through (the server may hold the record): the request waits for the
  // next pass, which sends the kept record again.
  if (result.kind == exchange::kReplyNothing || !exchange::Connected()) return;
  if (RefuseRequest(context, request, kSendError, request.number, result.code)) DropPreparedSend(request);
}

}  // namespace folder
