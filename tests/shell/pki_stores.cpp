// pki_stores install|remove FOLDER: puts the RSA test PKI that
// scripts/make-test-pki --rsa made in FOLDER into the certificate stores of
// the Wine prefix's user, or takes it out again. Run by wine_client_sim.sh
// before and after the client it starts under Wine, which finds its
// certificate and key there as on any Windows machine.
#include <cstdio>
#include <string>

#include "crypto/provider/test_stores.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pki_stores install|remove FOLDER\n");
    return 2;
  }
  std::string action = argv[1];
  uint32_t code = action == "install" ? crypto::provider::InstallTestPki(argv[2])
                                      : crypto::provider::RemoveTestPki(argv[2]);
  if (code != 0) {
    std::fprintf(stderr, "pki_stores %s: failed with 0x%08X\n", argv[1], static_cast<unsigned>(code));
    return 1;
  }
  return 0;
}
