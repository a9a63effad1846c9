// tsr-tool: the support command line for the payload primitives (LZARI
// compression, the Xtea128 cipher, SHA-512), the exchange folder's files
// and whatever later commands join the table below. Usage is in docs/tsr-tool.md.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"

namespace tsr_tool {
namespace {

const Command kCommands[] = {
    {"lzari", "compress|expand IN OUT", "LZARI-compress a file, or expand a compressed one", RunLzari},
    {"xtea", "encrypt|decrypt KEYHEX IN OUT",
     "Xtea128 in code book mode; KEYHEX is 64 hex digits (32 key bytes)", RunXtea},
    {"sha512", "FILE", "print the SHA-512 of a file as 128 hex digits", RunSha512},
    {"frame", "dump FILE",
     "print the fields of a deciphered request or answer frame (flags, type, UNP, branch, IKS, "
     "name, number, expiry, payload length)",
     RunFrame},
    {"settings", "list|get NAME|set NAME VALUE --folder DIR",
     "read or change the settings of the client in DIR (not while it runs)", RunSettings},
    {"exchange", "encrypt|decrypt --iks HEX40|HEX32 IN OUT",
     "encipher or decipher an exchange-folder file with the key of the certificate whose key "
     "identifier is HEX40; HEX32, its first 32 digits, gives the same key",
     RunExchange},
    {"request",
     "FOLDER --iks HEX40|HEX32 --type NAME [--senderiks HEX40] [--number DIGITS27] "
     "[--message TEXT | --message-file FILE] [--cpk CERTFILE[,KEYFILE]]... [--receiveriks HEX40] "
     "[--receiverunp UNP] [--receiverbranch CODE] [--expire DAYS] [--rejectioncode CODE] "
     "[--confirmdelivery] [--receiverpk-file FILE] [--face T] [--base T] [--post T] [--name T] "
     "[--as NAME.xml]",
     "write an enciphered request file into FOLDER/out/ as an accounting system does; file "
     "contents are Base64-encoded by the tool",
     RunRequest},
    {"answers", "FOLDER --iks HEX40|HEX32 [--xml]",
     "decipher and print the answer files in FOLDER/in/: one line each, or the whole text",
     RunAnswers},
    {"doctor", "[--folder DIR] [--json]",
     "check the client in DIR (default: the current folder), its certificate, revocation list, "
     "exchange folder, proxy, server and web interface; one line per check (ok, warn, FAIL), "
     "exit 1 when a check failed",
     RunDoctor},
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: tsr-tool COMMAND ARGS...\n\ncommands:\n");
  for (const Command& command : kCommands) {
    std::fprintf(to, "  %s %s\n      %s\n", command.name, command.usage, command.summary);
  }
  std::fprintf(to, "\nexit codes: 0 done, 1 failed, 2 wrong arguments\n");
}

}  // namespace

int UsageError(const Command& self, const std::string& problem) {
  std::fprintf(stderr, "tsr-tool %s: %s\nusage: tsr-tool %s %s\n", self.name, problem.c_str(),
               self.name, self.usage);
  return kExitUsage;
}

bool ReadInput(const std::string& path, std::vector<uint8_t>* data) {
  if (platform::ReadWholeFile(path, data)) return true;
  std::fprintf(stderr, "tsr-tool: cannot read %s (system error %d)\n", path.c_str(),
               platform::LastSystemError());
  return false;
}

bool WriteOutput(const std::string& path, const std::vector<uint8_t>& data) {
  if (platform::WriteWholeFile(path, data.data(), data.size())) return true;
  std::fprintf(stderr, "tsr-tool: cannot write %s (system error %d)\n", path.c_str(),
               platform::LastSystemError());
  return false;
}

}  // namespace tsr_tool

int main(int argc, char** argv) {
  using namespace tsr_tool;
  // Its output, answers printed whole included, is the same bytes on Windows.
  platform::StandardStreamsAsBytes();
  // UTF-8 on every system: folders and files are named in it.
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
    PrintUsage(args.size() < 2 ? stderr : stdout);
    return args.size() < 2 ? kExitUsage : kExitOk;
  }
  for (const Command& command : kCommands) {
    if (args[1] != command.name) continue;
    try {
      return command.run(command, std::vector<std::string>(args.begin() + 2, args.end()));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "tsr-tool %s: %s\n", command.name, error.what());
      return kExitFailure;
    }
  }
  std::fprintf(stderr, "tsr-tool: unknown command '%s'\n\n", args[1].c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
