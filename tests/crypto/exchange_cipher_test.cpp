// Tests of the exchange-file cipher: the key derivation and cipher against
// the openssl command line, Decode in place, and files that cannot be read.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "crypto_fixture.h"
#include "platform/fault_injection.h"

namespace crypto_test {
namespace {

using ExchangeCipherTest = CryptoTest;

const uint8_t kKey[16] = {0x19, 0x21, 0x5E, 0x7F, 0x67, 0x2C, 0xD0, 0x0E,
                          0xE1, 0x22, 0xAC, 0x2B, 0xB7, 0x15, 0x47, 0xDD};

Bytes Enciphered(const Bytes& plain) {
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(kKey);
  crypto::KeyMaterialHash hash;
  EXPECT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
  Bytes data = plain;
  EXPECT_TRUE(crypto::EncryptBuffer(&hash, &data));
  EXPECT_FALSE(hash.open);
  return data;
}

TEST_F(ExchangeCipherTest, KeyIsMd5OfTheMaterialAndCipherIsFortyBitRc4) {
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(kKey);
  EXPECT_EQ(material[16] | material[17] | material[18] | material[19], 0);
  test_support::WriteBytes(Scratch() + "material", Bytes(material.begin(), material.end()));
  ASSERT_TRUE(Run("openssl dgst -md5 -binary -out " + Scratch() + "digest " + Scratch() + "material"));
  Bytes digest = test_support::ReadBytes(Scratch() + "digest");
  crypto::KeyMaterialHash hash;
  testing::internal::CaptureStdout();
  ASSERT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Hased data size: 20"), std::string::npos);
  EXPECT_EQ(Bytes(hash.digest.begin(), hash.digest.end()), digest);

  std::string plain = "<?xml version=\"1.0\"?><request>Запрос</request>";
  test_support::WriteText(Scratch() + "plain", plain);
  ASSERT_TRUE(Run("openssl enc -rc4-40 -provider legacy -provider default -K " +
                  core::HexEncode(digest.data(), 5) + " -in " + Scratch() + "plain -out " + Scratch() + "cipher"));
  Bytes cipher = Enciphered(Bytes(plain.begin(), plain.end()));
  EXPECT_EQ(cipher, test_support::ReadBytes(Scratch() + "cipher"));
  EXPECT_EQ(cipher.size(), plain.size());
}

TEST_F(ExchangeCipherTest, DecodeRestoresTheFileInPlace) {
  Bytes plain(5000);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i % 251);
  std::string path = Scratch() + "request.xml";
  test_support::WriteBytes(path, Enciphered(plain));
  EXPECT_NE(test_support::ReadBytes(path), plain);
  ASSERT_EQ(crypto::Decode(path, kKey), 0);
  EXPECT_EQ(test_support::ReadBytes(path), plain);
  EXPECT_NE(NormalLog().find(" ready-1 \r\n"), std::string::npos);
}

TEST_F(ExchangeCipherTest, EmptyFileStaysEmpty) {
  std::string path = Scratch() + "empty.xml";
  test_support::WriteBytes(path, {});
  EXPECT_EQ(crypto::Decode(path, kKey), 0);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(ExchangeCipherTest, FilesThatCannotBeOpenedOrReadAreLeftAlone) {
  EXPECT_EQ(crypto::Decode(Scratch() + "missing.xml", kKey), -1);
  std::string path = Scratch() + "held.xml";
  test_support::WriteText(path, "held by another program");
  platform::InjectFault(platform::Syscall::Open, EBUSY, 1, path);
  EXPECT_EQ(crypto::Decode(path, kKey), -1);
  EXPECT_EQ(NormalLog(), "");  // logs nothing
  platform::InjectFault(platform::Syscall::Read, EIO, 1);
  EXPECT_EQ(crypto::Decode(path, kKey), -1);
  platform::ClearFaults();
  EXPECT_EQ(test_support::ReadText(path), "held by another program");
  EXPECT_NE(NormalLog().find("Error = Error read from file. Size 23, read 0"), std::string::npos);
}

TEST_F(ExchangeCipherTest, UnhashedKeyCannotCipher) {
  crypto::KeyMaterialHash hash;
  Bytes data = {1, 2, 3};
  EXPECT_FALSE(crypto::DecryptBuffer(&hash, &data));
  EXPECT_EQ(data, (Bytes{1, 2, 3}));
  EXPECT_NE(NormalLog().find("CryptDeriveKey failed: -2146893822 80090002"), std::string::npos);
}

TEST_F(ExchangeCipherTest, ToolEnciphersAndDeciphers) {
  std::string tool = test_support::BuiltProgram("tools/tsr-tool/tsr-tool");
  std::string iks = core::HexEncode(kKey, 16) + "00112233";
  test_support::WriteText(Scratch() + "answer.xml", "<answer>Ответ</answer>");
  ASSERT_TRUE(Run(tool + " exchange encrypt --iks " + iks + " " + Scratch() + "answer.xml " + Scratch() + "answer.enc"));
  std::string plain = "<answer>Ответ</answer>";
  EXPECT_EQ(test_support::ReadBytes(Scratch() + "answer.enc"), Enciphered(Bytes(plain.begin(), plain.end())));
  ASSERT_EQ(crypto::Decode(Scratch() + "answer.enc", kKey), 0);
  EXPECT_EQ(test_support::ReadText(Scratch() + "answer.enc"), plain);
  ASSERT_TRUE(Run(tool + " exchange decrypt --iks " + iks + " " + Scratch() + "answer.xml " + Scratch() + "back.xml"));
  EXPECT_FALSE(Run(tool + " exchange decrypt --iks 1234 " + Scratch() + "answer.xml " + Scratch() + "x.xml"));

  // The answer writer's form of the key, the first 32 digits, gives the same.
  const std::string files = " " + Scratch() + "answer.xml " + Scratch() + "answer32.enc";
  EXPECT_EQ(test_support::RunTool("exchange encrypt --iks " + iks.substr(0, 32) + files).exitCode, 0);
  EXPECT_EQ(test_support::ReadBytes(Scratch() + "answer32.enc"), Enciphered(Bytes(plain.begin(), plain.end())));
  EXPECT_EQ(test_support::RunTool("exchange decrypt --iks " + iks.substr(0, 33) + files).exitCode, 2);
  EXPECT_NE(test_support::RunTool("--help").output.find("--iks HEX40|HEX32"), std::string::npos);
}

}  // namespace
}  // namespace crypto_test
