// The certificate stores of the OpenSSL backend: folders "My" and "CA"
// under the store root, read whole at opening (docs/crypto-provider.md).
// Called by the code of src/crypto/ through provider.h.
//
// Every signature, decryption and revocation check opens a store, so the
// backend keeps the last reading of each store and hands out a copy of it
// while a watch on the folder reports no change: a file added, removed,
// renamed or rewritten makes the next opening read the folder afresh.
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "crypto/provider/openssl/openssl_util.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/folder_watch.h"

namespace crypto::provider {

namespace {

using namespace openssl;

struct StoreReading {
  std::string folder;           // the folder read; empty when nothing is kept
  platform::FolderWatch watch;  // started on it before the reading
  Store store;                  // what its files held
};

// The last reading of "My" and of "CA"; never destroyed, like the other
// process-wide tables of the backend. The lock is held while a store is
// read, so a reading is never kept under a watch started after it.
std::mutex readingsLock;
StoreReading* readings = new StoreReading[2];  // guarded by readingsLock

StoreReading& ReadingOf(StoreName name) { return readings[name == StoreName::My ? 0 : 1]; }

// Drops a reading, so that the next opening reads the folder again.
void Forget(StoreReading* kept) {
  kept->folder.clear();
  kept->store = Store();
  platform::FolderWatchStop(&kept->watch);
}

// A store owns no handle here, so the kept reading is handed out as a copy
// of its contents.
void CopyContents(const Store& from, Store* to) {
  to->name = from.name;
  to->certificates = from.certificates;
  to->crls = from.crls;
  to->containers = from.containers;
}

bool LooksLikePem(const Bytes& data) {
  static const char kMarker[] = "-----BEGIN ";
  return std::search(data.begin(), data.end(), kMarker, kMarker + sizeof kMarker - 1) != data.end();
}

std::string StemOf(const std::string& fileName) {
  size_t dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

// Sorts the objects of one file into the store.
void AddFile(const std::string& folder, const std::string& fileName, const Bytes& data,
             Store* store) {
  if (!LooksLikePem(data)) {
    if (ParseCertificate(data)) {
      store->certificates.push_back(data);
    } else if (ParseCrl(data)) {
      store->crls.push_back(data);
    }
    ERR_clear_error();
    return;
  }
  // Blocks are taken by their labels; whoever reads one later finds out
  // whether it parses.
  Bytes publicKey;
  bool encryptedKey = false;
  for (PemBlock& block : ReadPemBlocks(data)) {
    if (block.name == "CERTIFICATE" || block.name == "X509 CERTIFICATE") {
      store->certificates.push_back(std::move(block.der));
    } else if (block.name == "X509 CRL") {
      store->crls.push_back(std::move(block.der));
    } else if (block.name == "ENCRYPTED PRIVATE KEY") {
      encryptedKey = true;
    } else if (block.name == "PUBLIC KEY") {
      publicKey = std::move(block.der);
    }
  }
  ERR_clear_error();
  if (store->name == StoreName::My && encryptedKey && !publicKey.empty()) {
    store->containers.push_back({folder + fileName, StemOf(fileName), publicKey, Sha256(data)});
  }
}

}  // namespace

std::string StoreRoot() {
  const char* own = std::getenv("TESSARIN_CERTSTORE");
  std::string root;
  if (own != nullptr && own[0] != '\0') {
    root = own;
  } else {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] != '\0') {
      root = data;
    } else {
      const char* home = std::getenv("HOME");
      root = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    root += "/Tessarin/certstore";
  }
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

void CloseStore(Store* store) noexcept {
  store->certificates.clear();
  store->crls.clear();
  store->containers.clear();
  store->handle = 0;
}

uint32_t OpenStore(StoreName name, Store* store) {
  *store = Store();
  store->name = name;
  std::string folder = StoreRoot() + (name == StoreName::My ? "My/" : "CA/");
  std::lock_guard<std::mutex> hold(readingsLock);
  StoreReading& kept = ReadingOf(name);
  if (kept.folder == folder && !platform::FolderWatchChanged(&kept.watch)) {
    CopyContents(kept.store, store);
    return 0;
  }
  // The watch starts before the reading, so that a change made while the
  // files are read shows at the next opening.
  Forget(&kept);
  const bool watching = platform::FolderWatchStart(folder, &kept.watch);

  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(folder, "*", &entries)) {
    int code = platform::LastSystemError();
    platform::FolderWatchStop(&kept.watch);
    return code != 0 ? static_cast<uint32_t>(code) : kErrorFailed;
  }
  std::sort(entries.begin(), entries.end(),
            [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
  bool whole = true;
  for (const platform::FolderEntry& entry : entries) {
    if (entry.isFolder || entry.name.empty() || entry.name[0] == '.') continue;
    Bytes data;
    if (!platform::ReadWholeFile(folder + entry.name, &data)) {
      whole = false;  // a file that could not be read is tried again at the next opening
      continue;
    }
    AddFile(folder, entry.name, data, store);
  }
  if (watching && whole) {
    kept.folder = folder;
    CopyContents(*store, &kept.store);
  } else {
    platform::FolderWatchStop(&kept.watch);
  }
  return 0;
}

namespace openssl {

Bytes KeptContainerDigest(const std::string& path) {
  std::lock_guard<std::mutex> hold(readingsLock);
  StoreReading& kept = ReadingOf(StoreName::My);
  if (kept.folder.empty()) return {};
  if (platform::FolderWatchChanged(&kept.watch)) {
    Forget(&kept);
    return {};
  }
  for (const Container& container : kept.store.containers) {
    if (container.path == path) return container.fileDigest;
  }
  return {};
}

}  // namespace openssl

uint32_t FindCertificateByKeyId(const Store& store, const uint8_t* keyId, size_t keyIdSize, Bytes* der) {
  for (const Bytes& candidate : store.certificates) {
    X509Ptr certificate = ParseCertificate(candidate);
    if (!certificate) continue;
    Bytes id = CertificateKeyId(certificate.get());
    if (id.size() == keyIdSize && std::memcmp(id.data(), keyId, keyIdSize) == 0) {
      *der = candidate;
      return 0;
    }
  }
  return kErrorNotFound;
}

}  // namespace crypto::provider
