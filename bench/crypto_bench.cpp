// Signing, co-signing, encryption, decryption and verification of a 10 KB
// document, three ways: through the client's operations (which open the
// store, find the certificate, acquire the container, check revocation and
// log every step as the program does), through the provider layer alone
// with the key already opened, and directly with OpenSSL's CMS API on keys
// and certificates already in memory. The ratios are the figures: what the
// layer, and what the program's own steps, cost on top of the library.
//
// The test PKI is made at start-up by scripts/make-test-pki into a
// temporary folder; the log goes to a temporary folder too.
#include <benchmark/benchmark.h>

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "crypto/verify.h"
#include "storage/settings.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The PKI, the key identifiers and the OpenSSL objects of the benchmark.
struct Setup {
  std::string folder;        // temporary folder: store/ and log/
  crypto::KeyId alpha{};     // the signer and recipient
  crypto::KeyId beta{};      // the first signer of the co-signed document
  std::string alphaBase64;   // alpha's certificate as a CryptMessage recipient
  X509* alphaCertificate = nullptr;
  EVP_PKEY* alphaKey = nullptr;
  Bytes document;            // 10 KB of XML-like text
  crypto::DataBlock signedByBeta;  // the document signed by beta
  crypto::DataBlock signedByAlpha; // the document signed by alpha
  crypto::DataBlock envelope;      // the document encrypted for alpha

  Setup() {
    folder = (fs::temp_directory_path() / ("tsr-crypto-bench-" + std::to_string(std::rand()))).string();
    fs::create_directories(folder + "/log");
    std::string command = std::string(TESSARIN_SOURCE_DIR) + "/scripts/make-test-pki " + folder + "/store > /dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("make-test-pki failed");
    setenv("TESSARIN_CERTSTORE", (folder + "/store").c_str(), 1);
    setenv("TMPDIR", (folder + "/log").c_str(), 1);
    storage::SetSettingText("IDC_PASS", L"12345678");

    std::ifstream manifest(folder + "/store/pki/manifest.txt");
    std::string name, iks, rest;
    while (manifest >> name >> iks && std::getline(manifest, rest)) {
      Bytes id = core::HexDecode(iks);
      if (name == "alpha") std::copy(id.begin(), id.end(), alpha.begin());
      if (name == "beta") std::copy(id.begin(), id.end(), beta.begin());
    }
    if (!crypto::IsContainer(alpha, crypto::kContainerPin)) throw std::runtime_error("no container");

    std::string pem = ReadFile(folder + "/store/pki/certs/alpha.pem");
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    alphaCertificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    std::string key = ReadFile(folder + "/store/My/alpha.key");
    bio = BIO_new_mem_buf(key.data(), static_cast<int>(key.size()));
    alphaKey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("12345678"));
    BIO_free(bio);
    unsigned char* der = nullptr;
    int size = i2d_X509(alphaCertificate, &der);
    alphaBase64 = core::Base64Encode(der, static_cast<size_t>(size));
    OPENSSL_free(der);

    std::string text;
    while (text.size() < 10 * 1024) text += "<line>Счёт-фактура, строка документа 0123456789</line>\n";
    text.resize(10 * 1024);
    document.assign(text.begin(), text.end());
    crypto::DataBlock plain = crypto::MakeBlock(document);
    if (crypto::SignMessage(plain, beta, &signedByBeta, true) != 0 ||
        crypto::SignMessage(plain, alpha, &signedByAlpha, true) != 0 ||
        !crypto::CryptMessage(plain, {{alphaBase64, ""}}, &envelope)) {
      throw std::runtime_error("cannot prepare the messages");
    }
  }

  ~Setup() {
    X509_free(alphaCertificate);
    EVP_PKEY_free(alphaKey);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

Setup& Fixture() {
  static Setup setup;
  return setup;
}

Bytes Encode(CMS_ContentInfo* cms) {
  unsigned char* der = nullptr;
  int size = i2d_CMS_ContentInfo(cms, &der);
  Bytes out(der, der + (size > 0 ? size : 0));
  OPENSSL_free(der);
  return out;
}

CMS_ContentInfo* Decode(const crypto::DataBlock& block) {
  const unsigned char* cursor = block.buffer.get();
  return d2i_CMS_ContentInfo(nullptr, &cursor, block.count);
}

// Client operations ------------------------------------------------------------------

void ClientSign(benchmark::State& state) {
  Setup& s = Fixture();
  crypto::DataBlock plain = crypto::MakeBlock(s.document);
  for (auto _ : state) {
    crypto::DataBlock out;
    if (crypto::SignMessage(plain, s.alpha, &out, true) != 0) state.SkipWithError("SignMessage failed");
    benchmark::DoNotOptimize(out.count);
  }
  state.SetItemsProcessed(state.iterations());
}

void ClientCoSign(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    crypto::DataBlock out;
    if (crypto::SignMessage(s.signedByBeta, s.alpha, &out, true) != 0) state.SkipWithError("SignMessage failed");
    benchmark::DoNotOptimize(out.count);
  }
  state.SetItemsProcessed(state.iterations());
}

void ClientEncrypt(benchmark::State& state) {
  Setup& s = Fixture();
  crypto::DataBlock plain = crypto::MakeBlock(s.document);
  std::vector<crypto::Recipient> recipients = {{s.alphaBase64, ""}};
  for (auto _ : state) {
    crypto::DataBlock out;
    if (!crypto::CryptMessage(plain, recipients, &out)) state.SkipWithError("CryptMessage failed");
    benchmark::DoNotOptimize(out.count);
  }
  state.SetItemsProcessed(state.iterations());
}

void ClientDecrypt(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    crypto::DataBlock out;
    if (!crypto::DecryptMessage(s.envelope, s.alpha, &out)) state.SkipWithError("DecryptMessage failed");
    benchmark::DoNotOptimize(out.count);
  }
  state.SetItemsProcessed(state.iterations());
}

void ClientVerify(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    int count = 0;
    crypto::DataBlock content;
    std::wstring report;
    if (crypto::VerifyMessageSignature(s.signedByAlpha, &count, &content, &report, nullptr) != 1) {
      state.SkipWithError("VerifyMessageSignature failed");
    }
    benchmark::DoNotOptimize(content.count);
  }
  state.SetItemsProcessed(state.iterations());
}

// The provider layer alone, with the key opened once --------------------------------

struct LayerSetup {
  crypto::provider::Key key;       // alpha's key, opened with its PIN
  crypto::provider::Bytes certificate;  // alpha's certificate, DER
  crypto::provider::SignParams sign;    // the client's signing parameters
  crypto::provider::Context context;    // a verify-only context

  LayerSetup() {
    Setup& s = Fixture();
    crypto::provider::Store my;
    crypto::provider::OpenStore(crypto::provider::StoreName::My, &my);
    crypto::provider::FindCertificateByKeyId(my, s.alpha.data(), s.alpha.size(), &certificate);
    if (crypto::provider::AcquireCertificateKey(my, certificate, true, &key) != 0 ||
        crypto::provider::SetSignaturePin(&key, "12345678") != 0) {
      throw std::runtime_error("cannot open alpha's key");
    }
    sign.hashOid = crypto::kHashOid;
    sign.signingTimeOid = crypto::kSigningTimeOid;
    sign.signingTime = 134000000000000000;  // 2025
    crypto::provider::AcquireVerifyContext(crypto::provider::OwnProviderType(), &context);
  }
};

LayerSetup& Layer() {
  static LayerSetup layer;
  return layer;
}

void LayerSign(benchmark::State& state) {
  Setup& s = Fixture();
  LayerSetup& l = Layer();
  for (auto _ : state) {
    Bytes out;
    if (!crypto::provider::SignMessage(l.key, l.certificate, l.sign, s.document, &out).ok()) {
      state.SkipWithError("SignMessage failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void LayerCoSign(benchmark::State& state) {
  Setup& s = Fixture();
  LayerSetup& l = Layer();
  Bytes message = crypto::BlockBytes(s.signedByBeta);
  for (auto _ : state) {
    Bytes out;
    if (!crypto::provider::AddSigner(l.key, l.certificate, l.sign, message, &out).ok()) {
      state.SkipWithError("AddSigner failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void LayerEncrypt(benchmark::State& state) {
  Setup& s = Fixture();
  LayerSetup& l = Layer();
  crypto::provider::EncryptParams params;
  params.contentOid = crypto::kContentEncryptionOid;
  for (auto _ : state) {
    Bytes out;
    if (!crypto::provider::EncryptMessage(l.context, {l.certificate}, params, s.document, &out).ok()) {
      state.SkipWithError("EncryptMessage failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void LayerDecrypt(benchmark::State& state) {
  Setup& s = Fixture();
  LayerSetup& l = Layer();
  Bytes envelope = crypto::BlockBytes(s.envelope);
  for (auto _ : state) {
    Bytes out;
    if (!crypto::provider::DecryptMessage(l.key, l.certificate, envelope, 0, &out).ok()) {
      state.SkipWithError("DecryptMessage failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void LayerVerify(benchmark::State& state) {
  Setup& s = Fixture();
  LayerSetup& l = Layer();
  Bytes message = crypto::BlockBytes(s.signedByAlpha);
  for (auto _ : state) {
    crypto::provider::DecodedMessage decoded;
    Bytes content;
    if (!crypto::provider::DecodeMessage(message, &decoded).ok() ||
        !crypto::provider::VerifySigner(l.context, message, 0, &content).ok()) {
      state.SkipWithError("VerifySigner failed");
    }
    benchmark::DoNotOptimize(content.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The same CMS work directly with OpenSSL ---------------------------------------------

void OpensslSign(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    BIO* in = BIO_new_mem_buf(s.document.data(), static_cast<int>(s.document.size()));
    CMS_ContentInfo* cms = CMS_sign(s.alphaCertificate, s.alphaKey, nullptr, in, CMS_BINARY | CMS_NOSMIMECAP);
    if (cms == nullptr) state.SkipWithError("CMS_sign failed");
    Bytes out = Encode(cms);
    benchmark::DoNotOptimize(out.data());
    CMS_ContentInfo_free(cms);
    BIO_free(in);
  }
  state.SetItemsProcessed(state.iterations());
}

void OpensslCoSign(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    CMS_ContentInfo* cms = Decode(s.signedByBeta);
    if (cms == nullptr ||
        CMS_add1_signer(cms, s.alphaCertificate, s.alphaKey, EVP_sha256(), CMS_REUSE_DIGEST | CMS_NOSMIMECAP) == nullptr) {
      state.SkipWithError("CMS_add1_signer failed");
    }
    Bytes out = Encode(cms);
    benchmark::DoNotOptimize(out.data());
    CMS_ContentInfo_free(cms);
  }
  state.SetItemsProcessed(state.iterations());
}

void OpensslEncrypt(benchmark::State& state) {
  Setup& s = Fixture();
  STACK_OF(X509)* recipients = sk_X509_new_null();
  sk_X509_push(recipients, s.alphaCertificate);
  for (auto _ : state) {
    BIO* in = BIO_new_mem_buf(s.document.data(), static_cast<int>(s.document.size()));
    CMS_ContentInfo* cms = CMS_encrypt(recipients, in, EVP_aes_256_cbc(), CMS_BINARY);
    if (cms == nullptr) state.SkipWithError("CMS_encrypt failed");
    Bytes out = Encode(cms);
    benchmark::DoNotOptimize(out.data());
    CMS_ContentInfo_free(cms);
    BIO_free(in);
  }
  sk_X509_free(recipients);
  state.SetItemsProcessed(state.iterations());
}

void OpensslDecrypt(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    CMS_ContentInfo* cms = Decode(s.envelope);
    BIO* out = BIO_new(BIO_s_mem());
    if (cms == nullptr || CMS_decrypt(cms, s.alphaKey, s.alphaCertificate, nullptr, out, CMS_BINARY) != 1) {
      state.SkipWithError("CMS_decrypt failed");
    }
    benchmark::DoNotOptimize(BIO_pending(out));
    BIO_free(out);
    CMS_ContentInfo_free(cms);
  }
  state.SetItemsProcessed(state.iterations());
}

void OpensslVerify(benchmark::State& state) {
  Setup& s = Fixture();
  for (auto _ : state) {
    CMS_ContentInfo* cms = Decode(s.signedByAlpha);
    BIO* out = BIO_new(BIO_s_mem());
    if (cms == nullptr ||
        CMS_verify(cms, nullptr, nullptr, nullptr, out, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
      state.SkipWithError("CMS_verify failed");
    }
    benchmark::DoNotOptimize(BIO_pending(out));
    BIO_free(out);
    CMS_ContentInfo_free(cms);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(ClientSign);
BENCHMARK(LayerSign);
BENCHMARK(OpensslSign);
BENCHMARK(ClientCoSign);
BENCHMARK(LayerCoSign);
BENCHMARK(OpensslCoSign);
BENCHMARK(ClientEncrypt);
BENCHMARK(LayerEncrypt);
BENCHMARK(OpensslEncrypt);
BENCHMARK(ClientDecrypt);
BENCHMARK(LayerDecrypt);
BENCHMARK(OpensslDecrypt);
BENCHMARK(ClientVerify);
BENCHMARK(LayerVerify);
BENCHMARK(OpensslVerify);

