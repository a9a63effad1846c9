// A client process for the tests that kill a client in the middle of its
// work: it opens the program folder's database, selects the certificate,
// loads the list and signs the message at position 0 (or, with "intake",
// takes every waiting message), then exits. The test kills it while it
// waits for the server's answer.
//
//   exchange_reply_process PROGRAM_FOLDER IKS_HEX PIN [intake]
//
// The certificate store and the server come from TESSARIN_CERTSTORE and
// TESSARIN_SERVER.
#include <cstdio>
#include <string>

#include "core/folders.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "storage/database.h"
#include "storage/settings.h"

int main(int argc, char** argv) {
  const bool intake = argc == 5 && std::string(argv[4]) == "intake";
  if (argc != 4 && !intake) {
    std::fprintf(stderr, "usage: exchange_reply_process PROGRAM_FOLDER IKS_HEX PIN [intake]\n");
    return 2;
  }
  const std::string folder = argv[1];
  core::SetProgramFolder(folder);
  if (!storage::OpenDatabase(folder + "TS.db", storage::kSchemaScript)) return 1;
  storage::SetSettingText("IDC_CERT", core::ToWide(argv[2], core::kCodePageUtf8));
  storage::SetSettingText("IDC_PASS", core::ToWide(argv[3], core::kCodePageUtf8));
  if (crypto::ListCertificates() <= 0 || !exchange::CheckCert()) return 1;
  exchange::LoadMessagesFromBase();
  if (!exchange::CTS(nullptr)) return 1;
  if (intake) {
    std::printf("%d\n", exchange::ClientGetMessagesFromServer());
    return 0;
  }
  std::wstring text = exchange::ClientSingAndSendMessage(0, false, 0);
  std::printf("%s\n", core::ToNarrow(text, core::kCodePageUtf8).c_str());
  return 0;
}
