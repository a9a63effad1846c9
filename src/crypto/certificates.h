// The organisation's certificates: the list of usable certificates of the
// user's "My" store with the selected one, the УНП carried in a certificate
// extension, the encoded certificate, the key-container checks that also
// learn the provider type, and the revocation checks against the lists of
// the "CA" store ("СОС" in the program's messages).
//
// Called by the session and registration code, the certificate dialog, the
// web interface, the exchange-folder handlers and by cms.h / verify.h.
//
// Shared state: the list, the selected index, the provider type in force and
// the container-presence flag are process-wide. The list and the index sit
// under one lock (readers get copies); the type and the flag are atomics.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crypto/data_block.h"
#include "crypto/provider/provider.h"
#include "platform/thread.h"

namespace crypto {

// A certificate is always named by its 20-byte key identifier (IKS).
using KeyId = std::array<uint8_t, 20>;

constexpr int kMaxCertificates = 100;  // entries of the list; further certificates are left out
constexpr char kUnpExtensionOid[] = "1.2.112.1.2.1.1.1.1.2";
constexpr int kProviderTypeSilent = 424;  // the provider type whose message calls get the silent flag

struct CertificateEntry {
  std::wstring subjectName;          // simple display name, at most 128 characters
  KeyId keyId{};                     // key identifier (IKS)
  std::wstring keyIdText;            // its 40 upper-case hexadecimal digits
  std::wstring unpText;              // УНП, 9 characters
  std::wstring validFromText;        // "yyyy.mm.dd"
  std::wstring validToText;          // "yyyy.mm.dd"
  int32_t unpNumber = 0;             // the УНП read as a decimal number
  std::array<uint8_t, 64> clientId{};    // client identifier, zero until made for the session
  std::vector<uint8_t> identityDigest;   // identity digest (its size is the 32-bit length)
  std::array<uint8_t, 64> sessionId{};   // session identifier, zero when no session
  std::array<uint8_t, 64> sessionKey{};  // session key
  std::wstring issuerName;           // simple display name of the issuer
  int64_t validFrom = 0;             // validity start, file time (UTC)
  int64_t validTo = 0;               // validity end, file time (UTC)
};

// The list ------------------------------------------------------------------------

// Rebuilds the list from "My": certificates with a УНП whose validity has
// not ended. The number of entries, or -1 (store not opened, a name not
// read). The selected index is left as it is.
int ListCertificates();

int CertificateCount();
// A copy of entry `index`; false when there is none.
bool GetCertificateEntry(int index, CertificateEntry* entry);
// Runs change on entry `index` under the list's lock; false when there is none.
bool UpdateCertificateEntry(int index, const std::function<void(CertificateEntry&)>& change);

int SelectedCertificate();             // -1 when none is selected
void SelectCertificate(int index);     // -1 clears the selection
// A copy of the selected entry; false when none is selected.
bool GetSelectedEntry(CertificateEntry* entry);

// The УНП -------------------------------------------------------------------------

// Nine characters taken from the УНП extension (a BMPString: the low byte of
// each character); empty without the extension or when its value holds
// fewer than nine characters.
std::wstring GetUNP(const provider::CertInfo& certificate);
std::wstring GetUNP(const std::vector<uint8_t>& certificateDer);

// Certificates ----------------------------------------------------------------------

// The DER certificate of "My" with that key identifier. Logs "GCB" / "GCB - end".
bool GetCertBlob(const KeyId& keyId, DataBlock* out);

// The DER of the certificate with that key identifier among the certificates
// carried by a signed message. Logs "GCFSM" / "GCFSM - end".
bool GetCertFromSignedMessage(const DataBlock& message, const KeyId& keyId, DataBlock* out);

// Key container -------------------------------------------------------------------

enum ContainerMode {
  kContainerPresent = 0,  // the container can be acquired
  kContainerOpening = 1,  // the key medium answers to a fresh opening
  kContainerPin = 2,      // the stored password ("IDC_PASS") opens it
};

// True when the container of the certificate is usable in that mode. Learns
// the provider type from the container.
bool IsContainer(const KeyId& keyId, int mode);

// The provider type in force: 0 until IsContainer learns it.
int ProviderTypeInForce();
// 0x40 (the silent flag) when the provider type in force is 424, else 0.
uint32_t SilentMessageFlag();

// Container-presence flag: 0 not yet known, 1 present, 2 absent.
constexpr int kPresenceUnknown = 0;
constexpr int kPresencePresent = 1;
constexpr int kPresenceAbsent = 2;
int ContainerPresence();
void SetContainerPresence(int value);

// Starts the worker that runs IsContainer for the selected entry in mode 0
// and stores the answer in the presence flag. Null when no thread started.
platform::ThreadHandle StartContainerPresenceWorker();

// Revocation ----------------------------------------------------------------------

enum CrlResult {
  kCrlCurrent = 0,          // not revoked, the list is current
  kCrlOutOfDate = 1,        // not revoked, but the list is out of date
  kCrlRevoked = 2,          // revoked
  kCrlLookupFailed = 252,   // the lookup in the list failed
  kCrlNotFound = 253,       // no list of the certificate's issuer
  kCrlCopyFailed = 254,     // the certificate could not be read
  kCrlStoreFailed = -1,     // the "CA" store did not open
  kCrlFailedAfterOpen = -2, // an exception after opening the store
  kCrlFailedAfterList = -3, // an exception after choosing the list
  kCrlFailedAfterLookup = -4, // an exception after a failed lookup
};

// The list of "CA" that the check below uses for a DER certificate: of
// the lists whose issuer is the certificate's issuer (compared as names,
// not as encodings) and whose signature a certificate of that issuer in
// "CA" verifies, the newest (latest this-update). `list` is null when there
// is none; `unverified` says that a list of the issuer failed its
// signature. With `log` each list's issuer and each failed signature are
// logged as the check logs them.
struct ChosenCrl {
  const std::vector<uint8_t>* list = nullptr;  // points into the store; null when none
  provider::CrlInfo info;                      // the list's dates and issuer
  bool unverified = false;                     // a list of the issuer did not verify
};
ChosenCrl ChooseCrl(const provider::Store& ca, const std::vector<uint8_t>& certificateDer, bool log);

// Checks a DER certificate against the newest list of "CA" whose issuer is
// the certificate's issuer (compared as names, not as encodings) and whose
// signature a certificate of that issuer in "CA" verifies. A list that
// does not verify is not used: without another, the result is kCrlNotFound.
int CheckCertCRL(const std::vector<uint8_t>& certificateDer);

// CheckCertCRL of the certificate of "My" with that key identifier; -1
// when the store does not open, -2 when there is no such certificate.
// Logs "CCICBI" / "CCICBI - end".
int CheckCertInCRLByID(const KeyId& keyId);

// Test support: forget the list, the selection, the type and the flag.
void ResetCertificateStateForTest();
void SetProviderTypeForTest(int type);

}  // namespace crypto
