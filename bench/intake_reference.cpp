// The bare work of intake, for reading the intake figure against the
// machine it ran on: per document, three new loopback connections to a
// server that only answers (the first answer carries the document), the
// document's envelope opened and its signature verified, a confirmation
// signed and enveloped, and one autocommit insert of the document into a
// SQLite table in WAL mode. OpenSSL's CMS API and SQLite are called
// directly, with none of the client's steps around them. The speed of
// the machine this benchmark runs on varies between runs by up to a
// third, so it is part of the same program as the intake benchmark
// (intake_bench.cpp) and runs just before it.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sqlite3.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "sample_documents.h"
#include "sim_process.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kDocuments = 500;
constexpr size_t kDocumentBytes = 10 * 1024;
constexpr size_t kConfirmationBytes = 1800;  // a confirmation's HTML with its report
constexpr int kWaitMs = 10000;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

X509* ReadCertificate(const std::string& path) {
  std::string pem = ReadText(path);
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (certificate == nullptr) throw std::runtime_error("no certificate in " + path);
  return certificate;
}

EVP_PKEY* ReadKey(const std::string& path) {
  std::string pem = ReadText(path);
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("12345678"));
  BIO_free(bio);
  if (key == nullptr) throw std::runtime_error("no key in " + path);
  return key;
}

Bytes Encode(CMS_ContentInfo* cms) {
  unsigned char* der = nullptr;
  int size = i2d_CMS_ContentInfo(cms, &der);
  if (size <= 0) throw std::runtime_error("i2d_CMS_ContentInfo failed");
  Bytes out(der, der + size);
  OPENSSL_free(der);
  return out;
}

Bytes Sign(X509* certificate, EVP_PKEY* key, const Bytes& content) {
  BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
  CMS_ContentInfo* cms = CMS_sign(certificate, key, nullptr, in, CMS_BINARY | CMS_NOSMIMECAP);
  BIO_free(in);
  if (cms == nullptr) throw std::runtime_error("CMS_sign failed");
  Bytes out = Encode(cms);
  CMS_ContentInfo_free(cms);
  return out;
}

Bytes Envelope(X509* recipient, const Bytes& content) {
  STACK_OF(X509)* recipients = sk_X509_new_null();
  sk_X509_push(recipients, recipient);
  BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
  CMS_ContentInfo* cms = CMS_encrypt(recipients, in, EVP_aes_256_cbc(), CMS_BINARY);
  BIO_free(in);
  sk_X509_free(recipients);
  if (cms == nullptr) throw std::runtime_error("CMS_encrypt failed");
  Bytes out = Encode(cms);
  CMS_ContentInfo_free(cms);
  return out;
}

Bytes ReadAll(BIO* bio) {
  Bytes out;
  unsigned char chunk[4096];
  for (int got; (got = BIO_read(bio, chunk, sizeof chunk)) > 0;) out.insert(out.end(), chunk, chunk + got);
  return out;
}

// Opens the envelope and verifies the signed document inside; its content.
Bytes OpenAndVerify(X509* certificate, EVP_PKEY* key, const Bytes& envelope) {
  const unsigned char* cursor = envelope.data();
  CMS_ContentInfo* enveloped = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(envelope.size()));
  BIO* plain = BIO_new(BIO_s_mem());
  bool opened = enveloped != nullptr && CMS_decrypt(enveloped, key, certificate, nullptr, plain, CMS_BINARY) == 1;
  CMS_ContentInfo_free(enveloped);
  Bytes signedDocument = ReadAll(plain);
  BIO_free(plain);
  if (!opened) throw std::runtime_error("CMS_decrypt failed");
  cursor = signedDocument.data();
  CMS_ContentInfo* signedMessage =
      d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(signedDocument.size()));
  BIO* content = BIO_new(BIO_s_mem());
  bool verified = signedMessage != nullptr &&
                  CMS_verify(signedMessage, nullptr, nullptr, nullptr, content,
                             CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
  CMS_ContentInfo_free(signedMessage);
  Bytes out = ReadAll(content);
  BIO_free(content);
  if (!verified) throw std::runtime_error("CMS_verify failed");
  return out;
}

// A server that reads one request byte per connection and answers: the
// document for a 'G', one byte otherwise.
struct AnsweringServer {
  explicit AnsweringServer(Bytes document) : document(std::move(document)) {
    listener = platform::NetListen(true, 0, 64);
    port = platform::NetLocalPort(listener);
    thread = std::thread([this] { Serve(); });
  }
  ~AnsweringServer() {
    stop.store(true);
    thread.join();
    platform::NetClose(&listener);
  }
  void Serve() {
    while (!stop.load()) {
      platform::Socket socket = platform::NetAccept(listener, 100);
      if (!platform::SocketValid(socket)) continue;
      uint8_t request[4096];
      int64_t got = platform::NetRecv(socket, request, sizeof request, kWaitMs);
      if (got > 0) {
        static const uint8_t kAccepted = 1;
        if (request[0] == 'G') {
          platform::NetSendAll(socket, document.data(), document.size(), kWaitMs);
        } else {
          platform::NetSendAll(socket, &kAccepted, 1, kWaitMs);
        }
      }
      platform::NetShutdownSend(socket);
      platform::NetClose(&socket);
    }
  }
  Bytes document;                  // the answer to 'G'
  platform::Socket listener;       // on 127.0.0.1
  uint16_t port = 0;               // its port
  std::atomic<bool> stop{false};   // ends Serve
  std::thread thread;              // runs Serve
};

// One new connection: the request out, the whole answer back.
Bytes Ask(uint16_t port, const Bytes& request) {
  platform::Socket socket = platform::NetConnect(platform::NetAddress{0x7F000001, port}, kWaitMs);
  if (!platform::SocketValid(socket)) throw std::runtime_error("no connection");
  platform::NetSendAll(socket, request.data(), request.size(), kWaitMs);
  Bytes answer;
  uint8_t chunk[16384];
  for (int64_t got; (got = platform::NetRecv(socket, chunk, sizeof chunk, kWaitMs)) > 0;) {
    answer.insert(answer.end(), chunk, chunk + got);
  }
  platform::NetClose(&socket);
  return answer;
}

void IntakeReference(benchmark::State& state) {
  const std::string pki = sim_test::PkiFolder();
  X509* senderCertificate = ReadCertificate(pki + "pki/certs/alpha.pem");
  EVP_PKEY* senderKey = ReadKey(pki + "My/alpha.key");
  X509* ownCertificate = ReadCertificate(pki + "pki/certs/beta.pem");
  EVP_PKEY* ownKey = ReadKey(pki + "My/beta.key");
  const Bytes document = bench_support::SampleHtml(kDocumentBytes);
  const Bytes envelope = Envelope(ownCertificate, Sign(senderCertificate, senderKey, document));
  const Bytes confirmationText = bench_support::SampleHtml(kConfirmationBytes);

  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("tsr-reference-" + std::to_string(random()));
  fs::create_directories(folder);
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    AnsweringServer server(envelope);
    sqlite3* db = nullptr;
    sqlite3_open((folder / "reference.db").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; CREATE TABLE IF NOT EXISTS MESSAGES (id INTEGER PRIMARY KEY "
                 "AUTOINCREMENT, idm INTEGER, message BLOB)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO MESSAGES (idm, message) VALUES (?, ?)", -1, &insert, nullptr);
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();

    for (int i = 0; i < kDocuments; ++i) {
      Bytes fetched = Ask(server.port, Bytes(48, 'G'));
      Bytes content = OpenAndVerify(ownCertificate, ownKey, fetched);
      Bytes confirmation = Envelope(senderCertificate, Sign(ownCertificate, ownKey, confirmationText));
      confirmation.insert(confirmation.begin(), 'C');
      Ask(server.port, confirmation);
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_blob(insert, 2, content.data(), static_cast<int>(content.size()), SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("insert failed");
      sqlite3_reset(insert);
      Ask(server.port, Bytes(48, 'D'));
    }

    state.PauseTiming();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sqlite3_finalize(insert);
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.counters["docs/s"] = kDocuments * static_cast<double>(state.iterations()) / seconds;
  state.counters["ms_per_doc"] = seconds * 1000.0 / (kDocuments * static_cast<double>(state.iterations()));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  X509_free(senderCertificate);
  X509_free(ownCertificate);
  EVP_PKEY_free(senderKey);
  EVP_PKEY_free(ownKey);
}
BENCHMARK(IntakeReference)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
