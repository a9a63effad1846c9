// Exchange-folder throughput: requests of 10 KB documents dropped into out/
// at once and carried out by one folder pass (ProcessFile: claim, decipher,
// day copy, read, check, handle, answer), in files per second.
//   SignSingle: 4 901 "signsingle" requests (a pass takes at most 4 901):
//     each document is signed, the signature checked and the answer written.
//   SignFirst: 1 000 "signfirst" requests: each document is also
//     compressed, encrypted for alpha and sent through the local simulator
//     (which routes without checking contents, as the intake benchmark's
//     client figure does).
// Two passes of each; beside each pass, in the same run and on the same
// kind of files (first before the pass, then after it), the bare work of the
// same requests with OpenSSL and stdio called directly: rename into the
// working folder, copy into the day folder, read, decipher (RC4), Base64
// decoding, CMS signing and verification, for SignFirst the envelope for
// alpha, the coding every record needs on the wire (LZARI compression and
// Xtea128, the server's own formats, which no library offers: ours are
// called) and one loopback connection to a server that only answers, Base64
// encoding, the answer enciphered, written under a temporary name and
// renamed, the request deleted. "ratio" is the client's rate over the bare
// rate (the machine's speed varies between runs, so only the ratio of one
// run means much). "bare_wire_ms_per_file" is the share of the bare work
// spent on the wire coding. The client's folders are made under TESSARIN_BENCH_DIR
// when set, else the temporary folder. The client also writes its log, some
// forty lines a request, into the temporary folder ($TMPDIR, else /tmp),
// which the bare work does not: about a tenth of the client's time.
#define OPENSSL_SUPPRESS_DEPRECATED  // RC4 is the exchange files' cipher
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rc4.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/exchange_cipher.h"
#include "crypto/provider/provider.h"
#include "exchange/session.h"
#include "folder/handlers.h"
#include "folder/pass.h"
#include "link/payload.h"
#include "link/xtea128.h"
#include "platform/net.h"
#include "sample_documents.h"
#include "sim_process.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDocumentBytes = 10 * 1024;
constexpr int kWaitMs = 10000;

struct Folder {
  explicit Folder(const char* prefix) {
    const char* base = std::getenv("TESSARIN_BENCH_DIR");
    std::random_device random;
    path = ((base != nullptr && base[0] != '\0' ? fs::path(base) : fs::temp_directory_path()) /
            (prefix + std::to_string(random())))
               .string() +
           "/";
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string path;  // ends with the separator
};

// The four organisation files of the tests' PKI that the bare work uses.
struct Pki {
  Pki() {
    const std::string pki = sim_test::PkiFolder();
    ownCertificate = Certificate(pki + "pki/certs/beta.pem");
    ownKey = Key(pki + "My/beta.key");
    recipient = Certificate(pki + "pki/certs/alpha.pem");
  }
  ~Pki() {
    X509_free(ownCertificate);
    X509_free(recipient);
    EVP_PKEY_free(ownKey);
  }
  static X509* Certificate(const std::string& path) {
    std::string pem = test_support::ReadText(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (certificate == nullptr) throw std::runtime_error("no certificate in " + path);
    return certificate;
  }
  static EVP_PKEY* Key(const std::string& path) {
    std::string pem = test_support::ReadText(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("12345678"));
    BIO_free(bio);
    if (key == nullptr) throw std::runtime_error("no key in " + path);
    return key;
  }
  X509* ownCertificate = nullptr;
  EVP_PKEY* ownKey = nullptr;
  X509* recipient = nullptr;
};

std::string KeyIdText(const std::string& org) {
  std::string pem = test_support::ReadText(sim_test::PkiFolder() + "pki/certs/" + org + ".pem");
  crypto::provider::Bytes der;
  crypto::provider::QueryCertificate(Bytes(pem.begin(), pem.end()), &der);
  crypto::provider::CertInfo info;
  crypto::provider::ReadCertificate(der, &info);
  return core::HexEncode(info.keyId);
}

// The exchange files' cipher, with the digest of the IKS's key material
// computed once.
struct Rc4 {
  explicit Rc4(const std::string& iks) {
    const Bytes head = core::HexDecode(iks.substr(0, 32));
    const auto material = crypto::KeyMaterial(head.data());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(material.data(), material.size(), digest, &size, EVP_md5(), nullptr);
    key.assign(digest, digest + 5);
  }
  void Run(std::string* data) const {
    RC4_KEY state;
    RC4_set_key(&state, static_cast<int>(key.size()), key.data());
    RC4(&state, data->size(), reinterpret_cast<const unsigned char*>(data->data()),
        reinterpret_cast<unsigned char*>(data->data()));
  }
  Bytes key;
};

Bytes Encode(CMS_ContentInfo* cms) {
  unsigned char* der = nullptr;
  int size = i2d_CMS_ContentInfo(cms, &der);
  if (size <= 0) throw std::runtime_error("i2d_CMS_ContentInfo failed");
  Bytes out(der, der + size);
  OPENSSL_free(der);
  CMS_ContentInfo_free(cms);
  return out;
}

std::string Base64(const Bytes& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  out.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                                 static_cast<int>(data.size()))));
  return out;
}

Bytes Unbase64(const std::string& text) {
  Bytes out(3 * text.size() / 4 + 3);
  int size = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                             static_cast<int>(text.size()));
  if (size < 0) throw std::runtime_error("EVP_DecodeBlock failed");
  size_t padding = text.size() - text.find_last_not_of('=') - 1;
  out.resize(static_cast<size_t>(size) - padding);
  return out;
}

std::string Between(const std::string& text, const std::string& name) {
  const size_t open = text.find("<" + name + ">");
  const size_t start = open + name.size() + 2;
  return open == std::string::npos ? std::string() : text.substr(start, text.find("</" + name + ">", start) - start);
}

// A server that answers every connection with one byte once it has read
// the request (until the client ends its sending side).
struct AnsweringServer {
  AnsweringServer() {
    listener = platform::NetListen(true, 0, 64);
    port = platform::NetLocalPort(listener);
    thread = std::thread([this] {
      while (!stop.load()) {
        platform::Socket socket = platform::NetAccept(listener, 100);
        if (!platform::SocketValid(socket)) continue;
        uint8_t chunk[65536];
        while (platform::NetRecv(socket, chunk, sizeof chunk, kWaitMs) > 0) {
        }
        static const uint8_t kAccepted = 174;
        platform::NetSendAll(socket, &kAccepted, 1, kWaitMs);
        platform::NetClose(&socket);
      }
    });
  }
  ~AnsweringServer() {
    stop.store(true);
    thread.join();
    platform::NetClose(&listener);
  }
  platform::Socket listener;
  uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::thread thread;
};

void Send(uint16_t port, const Bytes& data) {
  platform::Socket socket = platform::NetConnect(platform::NetAddress{0x7F000001, port}, kWaitMs);
  if (!platform::SocketValid(socket)) throw std::runtime_error("no connection");
  platform::NetSendAll(socket, data.data(), data.size(), kWaitMs);
  platform::NetShutdownSend(socket);
  uint8_t answer = 0;
  if (platform::NetRecv(socket, &answer, 1, kWaitMs) != 1) throw std::runtime_error("no answer");
  platform::NetClose(&socket);
}

// The bare work of the requests waiting in `out` (deciphered with `cipher`),
// sending to `server` when given. Files done.
int BareWork(const std::string& out, const std::string& work, const std::string& in, const Rc4& cipher,
             const Pki& pki, const AnsweringServer* server, double* wireSeconds) {
  const uint8_t wireKey[serverlink::kXteaKeyBytes] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                      17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  fs::create_directories(work + "day");
  int done = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    const std::string claimed = work + name;
    if (std::rename((out + name).c_str(), claimed.c_str()) != 0) throw std::runtime_error("rename");
    std::FILE* file = std::fopen(claimed.c_str(), "rb");
    std::string text;
    char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
    std::fclose(file);
    cipher.Run(&text);
    file = std::fopen((work + "day/" + name).c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);

    const Bytes document = Unbase64(Between(text, "message"));
    BIO* content = BIO_new_mem_buf(document.data(), static_cast<int>(document.size()));
    const Bytes signedMessage =
        Encode(CMS_sign(pki.ownCertificate, pki.ownKey, nullptr, content, CMS_BINARY | CMS_NOSMIMECAP));
    BIO_free(content);
    const unsigned char* cursor = signedMessage.data();
    CMS_ContentInfo* check = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(signedMessage.size()));
    BIO* checked = BIO_new(BIO_s_mem());
    if (CMS_verify(check, nullptr, nullptr, nullptr, checked, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
      throw std::runtime_error("CMS_verify failed");
    }
    BIO_free(checked);
    CMS_ContentInfo_free(check);
    if (server != nullptr) {
      STACK_OF(X509)* recipients = sk_X509_new_null();
      sk_X509_push(recipients, pki.recipient);
      BIO* plain = BIO_new_mem_buf(signedMessage.data(), static_cast<int>(signedMessage.size()));
      const Bytes envelope = Encode(CMS_encrypt(recipients, plain, EVP_aes_256_cbc(), CMS_BINARY));
      BIO_free(plain);
      sk_X509_free(recipients);
      const auto wireStart = std::chrono::steady_clock::now();
      const Bytes wire = serverlink::Xtea128Crypt(serverlink::CompressPayload(envelope.data(), envelope.size()),
                                                  wireKey, serverlink::XteaDirection::Encrypt);
      *wireSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wireStart).count();
      Send(server->port, wire);
    }

    const std::string number = Between(text, "number");
    std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root><type>eDocWithSign</type><number>" +
                         number + "</number><refer>" + number + "_eDocWithSign</refer><message>" +
                         Base64(signedMessage) + "</message><VerifySign>true</VerifySign></root>";
    cipher.Run(&answer);
    const std::string target = in + number + "_eDocWithSign.xml";
    file = std::fopen((target + ".tmp").c_str(), "wb");
    std::fwrite(answer.data(), 1, answer.size(), file);
    std::fclose(file);
    std::rename((target + ".tmp").c_str(), target.c_str());
    std::remove(claimed.c_str());
    ++done;
  }
  return done;
}

// Drops `count` requests of `type` into out/, enciphered as the
// accounting system writes them.
void DropRequests(const std::string& out, const std::string& type, int count, const std::string& iks,
                  const std::string& unp, const std::string& recipients) {
  fs::create_directories(out);
  const Bytes page = bench_support::SampleHtml(kDocumentBytes);
  crypto::KeyMaterialHash hash;
  for (int i = 0; i < count; ++i) {
    std::string document = "<!-- " + std::to_string(i) + " -->" + std::string(page.begin(), page.end());
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root><type>" + type + "</type><senderiks>" +
                             iks + "</senderiks><number>" + unp + core::Format("%09d0000000%02d", i, i % 100) +
                             "</number><message>" + core::Base64Encode(Bytes(document.begin(), document.end())) +
                             "</message>" + recipients + "</root>";
    const Bytes head = core::HexDecode(iks.substr(0, 32));
    Bytes data(text.begin(), text.end());
    crypto::HashKeyMaterial(crypto::KeyMaterial(head.data()).data(), &hash);
    crypto::EncryptBuffer(&hash, &data);
    test_support::WriteText(out + core::Format("%s%05d.xml", type.c_str(), i), std::string(data.begin(), data.end()));
  }
}

int XmlFiles(const std::string& folder) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) count += entry.path().extension() == ".xml";
  return count;
}

// One run: the bare work, then the client's pass, on the same requests.
void FolderPass(benchmark::State& state, const std::string& type, int count) {
  const bool sends = type == "signfirst";
  Pki pki;
  double files = 0, seconds = 0, bareSeconds = 0, wireSeconds = 0;
  int iteration = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Folder program("tsr-folder-"), store("tsr-store-"), exchange("tsr-exchange-"), bare("tsr-bare-");
    fs::copy(sim_test::PkiFolder(), store.path, fs::copy_options::recursive);
    setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
    auto sim = std::make_unique<sim_test::SimProcess>(std::vector<std::string>{"--quiet", "--no-content-checks"});
    if (!sim->started()) return state.SkipWithError("the simulator did not start");
    setenv("TESSARIN_SERVER", sim->endpoint().c_str(), 1);
    sim->Post("/organisations", nlohmann::json{{"pki", "alpha"}});
    sim->Post("/organisations", nlohmann::json{{"pki", "beta"}});
    core::SetProgramFolder(program.path);
    fs::create_directories(core::WorkingFolder() + "day");
    core::SetWorkingDayFolder(core::WorkingFolder() + "day/");
    if (!storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript)) {
      return state.SkipWithError("no database");
    }
    storage::ClearSettings();
    storage::SetSettingText("IDC_PASS", L"12345678");
    const std::string iks = KeyIdText("beta");
    storage::SetSettingText("IDC_CERT", core::ToWide(iks, core::kCodePageUtf8));
    crypto::ResetCertificateStateForTest();
    crypto::ListCertificates();
    exchange::ResetSessionStateForTest();
    folder::ResetPassStateForTest();
    folder::SetSignFirstEnabled(true);
    folder::FolderPassContext context;
    if (!exchange::CheckCert() || !exchange::CTS(nullptr) || !folder::PassContext(exchange.path, &context)) {
      return state.SkipWithError("no session with the simulator");
    }
    std::string recipients;
    if (sends) {
      const std::string pem = test_support::ReadText(sim_test::PkiFolder() + "pki/certs/alpha.pem");
      crypto::provider::Bytes der;
      crypto::provider::QueryCertificate(Bytes(pem.begin(), pem.end()), &der);
      recipients = "<receiveriks>" + KeyIdText("alpha") + "</receiveriks><receivercpks><certificate><cpk>" +
                   core::Base64Encode(der) + "</cpk></certificate></receivercpks>";
    }

    // The bare work of the same requests.
    const auto bareWork = [&]() {
      DropRequests(bare.path + "out/", type, count, iks, context.unp, recipients);
      fs::create_directories(bare.path + "in/");
      std::unique_ptr<AnsweringServer> server(sends ? new AnsweringServer : nullptr);
      const auto start = std::chrono::steady_clock::now();
      const int done = BareWork(bare.path + "out/", bare.path + "work/", bare.path + "in/", Rc4(iks), pki,
                                server.get(), &wireSeconds);
      bareSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      return done == count;
    };
    // The file system makes a new file dearer while many were deleted just
    // before (ext4 looks past recently freed inodes), so whichever of the
    // two runs second pays for the other's deletions: they take turns
    // going first.
    const bool bareFirst = iteration++ % 2 == 0;
    if (bareFirst && !bareWork()) return state.SkipWithError("the bare work missed files");

    DropRequests(exchange.path + "out/", type, count, iks, context.unp, recipients);
    folder::MoveFilesToWorking(context);  // the tick before: sizes noted, nothing taken
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();

    folder::ProcessFile(exchange.path);

    state.PauseTiming();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!bareFirst && !bareWork()) return state.SkipWithError("the bare work missed files");
    const int answers = XmlFiles(exchange.path + "in/");
    const int left = XmlFiles(core::WorkingFolder());
    const int64_t sent = sim->Get("/counters").body.value("requests.152", int64_t{0});
    storage::CloseDatabase();
    sim.reset();
    unsetenv("TESSARIN_SERVER");
    unsetenv("TESSARIN_CERTSTORE");
    if (answers != count || left != 0 || (sends && sent != count)) {
      return state.SkipWithError(
          core::Format("answers %d, left %d, sent %d", answers, left, static_cast<int>(sent)).c_str());
    }
    files += count;
    state.ResumeTiming();
  }
  state.counters["files/s"] = files / seconds;
  state.counters["bare_files/s"] = files / bareSeconds;
  state.counters["ratio"] = bareSeconds / seconds;
  state.counters["ms_per_file"] = seconds * 1000.0 / files;
  state.counters["bare_ms_per_file"] = bareSeconds * 1000.0 / files;
  state.counters["bare_wire_ms_per_file"] = wireSeconds * 1000.0 / files;
}

void SignSingle(benchmark::State& state) { FolderPass(state, "signsingle", 4901); }
void SignFirst(benchmark::State& state) { FolderPass(state, "signfirst", 1000); }
BENCHMARK(SignSingle)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SignFirst)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
