// The sending handlers of the exchange folder against the simulator, the
// way the folder pass calls them: "beta" (the client) signs, sends,
// refuses and exchanges certificates with "alpha"; the answers in in/ are
// deciphered and read field by field, what the server received is read
// from its admin API.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/exchange_cipher.h"
#include "crypto/verify.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "folder/handlers.h"
#include "folder/request_file.h"
#include "folder/request_record.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/ui.h"

namespace {

using exchange_test::Bytes;
using exchange_test::json;

// One answer file, deciphered.
struct Answer {
  std::string file;
  std::string text;
  std::string operator[](const char* name) const { return core::FindTag(text, name).value_or("<absent>"); }
};

class FolderSendTest : public exchange_test::ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    folder::SetSignFirstEnabled(true);
    crypto::CertificateEntry own;
    ASSERT_TRUE(crypto::GetSelectedEntry(&own));
    unp = core::ToNarrow(own.unpText, core::kCodePageUtf8);
    alphaUnp = core::ToNarrow(crypto::GetUNP(alpha.certificate), core::kCodePageUtf8);
    context = {exchange.path, beta.iksHex, unp};
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
    ASSERT_EQ(exchange::ServiceStatus(), 3);
  }
  void TearDown() override {
    folder::SetSignFirstEnabled(true);
    ExchangeTest::TearDown();
  }

  // A fresh document number of beta, or of alpha.
  std::string Number(bool ofAlpha = false) {
    ++serial;
    return (ofAlpha ? alphaUnp : unp) + core::Format("%09d0000000%02d", 1000 + serial, serial % 100);
  }

  // The request file `elements` (inside root, after senderiks) in the
  // working folder, read as the folder pass reads it.
  folder::FolderRequest Request(const std::string& type, const std::string& elements) {
    std::string name = core::Format("request%d.xml", serial++);
    test_support::WriteText(working.path + name, "<?xml version=\"1.0\"?><Root><Type>" + type +
                                                     "</Type><SenderIKS>" + beta.iksHex + "</SenderIKS>" +
                                                     elements + "</Root>");
    folder::FolderRequest request;
    folder::GetXMLTypes(working.path, name, &request);
    return request;
  }
  static std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + value + "</" + name + ">";
  }
  std::string ToAlpha(const std::string& number, const Bytes& document, bool confirm = false) {
    return Element("number", number) + Element("receiveriks", alpha.iksHex) +
           Element("message", core::Base64Encode(document)) + (confirm ? "<confirmdelivery>yes</confirmdelivery>" : "") +
           "<receivercpks><certificate><cpk>" + core::Base64Encode(alpha.certificate) + "</cpk></certificate></receivercpks>";
  }

  // Every answer in in/, deciphered with beta's key; they are taken away.
  std::vector<Answer> TakeAnswers() {
    std::vector<Answer> answers;
    if (!platform::FolderExists(exchange.path + "in/")) return answers;
    for (const std::string& file : test_support::ListTree(exchange.path + "in/")) {
      std::vector<uint8_t> data = test_support::ReadBytes(exchange.path + "in/" + file);
      std::vector<uint8_t> key = core::HexDecode(beta.iksHex.substr(0, 32));
      auto material = crypto::KeyMaterial(key.data());
      crypto::KeyMaterialHash hash;
      EXPECT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
      EXPECT_TRUE(crypto::DecryptBuffer(&hash, &data));
      answers.push_back({file, std::string(data.begin(), data.end())});
      platform::FileDelete(exchange.path + "in/" + file);
    }
    return answers;
  }
  std::vector<std::string> WorkingFiles() const { return test_support::ListTree(working.path); }

  // A document of alpha waiting in beta's mailbox, and its signed message.
  Bytes DocumentFromAlpha(const std::string& number) {
    Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "<html>Счёт</html>"}, {"number", number}});
    for (const json& message : Mailbox("beta", true)) {
      if (message["number"] == number) return OpenFor("beta", exchange_test::Base64Field(message["payload"]));
    }
    ADD_FAILURE() << "no document " << number;
    return {};
  }
  // The types of what beta sent, in order.
  std::vector<int> SentTypes() const {
    std::vector<int> types;
    for (const json& message : Received("beta")) types.push_back(message["type"].get<int>());
    return types;
  }

  test_support::TempFolder exchange;
  test_support::TempFolder working;
  folder::FolderPassContext context;
  std::string unp;
  std::string alphaUnp;
  int serial = 0;
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

int SignatureCount(const Bytes& message, Bytes* content = nullptr) {
  int count = 0;
  crypto::DataBlock plain;
  std::wstring report;
  EXPECT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(message), &count, &plain, &report, nullptr), 1);
  if (content) *content = crypto::BlockBytes(plain);
  return count;
}

TEST_F(FolderSendTest, SignSingleAndTheRightsGate) {
  const Bytes document = Text("<html>Акт №7</html>");
  const std::string number = Number();
  folder::PSSingle(context, Request("SignSingle", Element("number", number) + Element("message", core::Base64Encode(document))));
  std::vector<Answer> answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  const Answer& a = answers[0];
  EXPECT_EQ(a.file, number + "_eDocWithSign.xml");
  EXPECT_EQ(a["type"], "eDocWithSign");
  EXPECT_EQ(a["number"], number);
  EXPECT_EQ(a["refer"], number + "_eDocWithSign");
  Bytes content;
  EXPECT_EQ(SignatureCount(core::Base64Decode(a["message"]), &content), 1);
  EXPECT_EQ(content, document);
  EXPECT_EQ(a["VerifySign"], "true");
  EXPECT_NE(a["VerifyInfo"], "");
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_TRUE(SentTypes().empty());

  // No service status yet: the request waits, unanswered.
  exchange::SetServiceStatus(0);
  folder::PSS(context, Request("signfirst", ToAlpha(Number(), document)), L"EDocWithSign");
  EXPECT_EQ(WorkingFiles().size(), 1u);
  EXPECT_TRUE(TakeAnswers().empty());
  platform::FileDelete(working.path + WorkingFiles()[0]);

  // Status 2: two error answers, the first without the number.
  exchange::SetServiceStatus(2);
  const std::string refused = Number();
  folder::PSSingle(context, Request("signsingle", Element("number", refused) + Element("message", "QQ==")));
  answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 2u);
  std::map<std::string, Answer> byRefer;
  for (const Answer& answer : answers) byRefer[answer["refer"]] = answer;
  ASSERT_EQ(byRefer.count("error_" + refused), 1u);
  EXPECT_EQ(byRefer["error_" + refused]["number"], refused);
  for (const auto& [refer, answer] : byRefer) {
    EXPECT_EQ(answer["error"], "Нет прав на отправку файлов") << refer;
    EXPECT_EQ(answer["errorcode"], "<absent>") << refer;
    if (refer != "error_" + refused) {
      EXPECT_EQ(answer["number"], "<absent>");
    }
  }
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_TRUE(SentTypes().empty());
}

TEST_F(FolderSendTest, SignFirstReachesAlphaCompressedAbove1000Bytes) {
  // The signature's length varies by a byte or two: the document's size
  // is steered until signed messages of 1000 and of 1001 bytes have gone
  // out; every one sent goes by the same rule.
  crypto::CertificateEntry own;
  ASSERT_TRUE(crypto::GetSelectedEntry(&own));
  size_t size = 100;
  bool seen1000 = false;
  bool seen1001 = false;
  for (int attempt = 0; attempt < 60 && !(seen1000 && seen1001); ++attempt) {
    const std::string number = Number();
    folder::PSS(context, Request("signfirst", ToAlpha(number, Bytes(size, 'x'))), L"EDocWithSign");
    std::vector<Answer> answers = TakeAnswers();
    ASSERT_EQ(answers.size(), 1u);
    const Answer& a = answers[0];
    EXPECT_EQ(a.file, number + "_EDocWithSign.xml");
    EXPECT_EQ(a["type"], "EDocWithSign");
    EXPECT_EQ(a["number"], number);
    EXPECT_EQ(a["refer"], number + "_EDocWithSign");
    EXPECT_EQ(a["VerifySign"], "true");
    EXPECT_NE(a["VerifyInfo"], "<absent>");
    const Bytes signedMessage = core::Base64Decode(a["message"]);
    const json sent = Received("beta", true).back();
    EXPECT_EQ(sent["number"], number);
    EXPECT_EQ(sent["type"], signedMessage.size() > 1000 ? 152 : 52) << signedMessage.size();
    if (signedMessage.size() <= 1000) {
      EXPECT_EQ(OpenFor("alpha", exchange_test::Base64Field(sent["payload"])), signedMessage);
    }
    seen1000 = seen1000 || signedMessage.size() == 1000;
    seen1001 = seen1001 || signedMessage.size() == 1001;
    const size_t target = seen1000 ? 1001 : 1000;
    size = size + target - signedMessage.size();
  }
  EXPECT_TRUE(seen1000 && seen1001);
  // With a delivery confirmation wanted: 62, and 162 compressed.
  folder::PSS(context, Request("signfirst", ToAlpha(Number(), Text("<html>1</html>"), true)), L"EDocWithSign");
  folder::PSS(context, Request("signfirst", ToAlpha(Number(), Bytes(3000, 'y'), true)), L"EDocWithSign");
  std::vector<int> types = SentTypes();
  EXPECT_EQ(std::vector<int>(types.end() - 2, types.end()), (std::vector<int>{62, 162}));
  EXPECT_EQ(TakeAnswers().size(), 2u);
  EXPECT_TRUE(WorkingFiles().empty());
  int delivered = 0;
  for (const json& message : Mailbox("alpha")) delivered += message["senderUnp"].get<int>() == own.unpNumber;
  EXPECT_EQ(delivered, static_cast<int>(types.size()));
}

TEST_F(FolderSendTest, SignNextGoesBackWithBothSignatures) {
  for (bool confirm : {false, true}) {
    const std::string number = Number(true);
    const Bytes signedByAlpha = DocumentFromAlpha(number);
    folder::PSS(context, Request("signnext", ToAlpha(number, signedByAlpha, confirm)), L"EDocWithTwoSigns");
    std::vector<Answer> answers = TakeAnswers();
    ASSERT_EQ(answers.size(), 1u) << confirm;
    EXPECT_EQ(answers[0].file, number + "_EDocWithTwoSigns.xml");
    EXPECT_EQ(answers[0]["type"], "EDocWithTwoSigns");
    EXPECT_EQ(answers[0]["refer"], number + "_EDocWithTwoSigns");
    EXPECT_EQ(answers[0]["VerifySign"], "true");
    const Bytes signedMessage = core::Base64Decode(answers[0]["message"]);
    EXPECT_EQ(SignatureCount(signedMessage), 2);
    EXPECT_EQ(SentTypes().back(), (confirm ? 63 : 53) + (signedMessage.size() > 1000 ? 100 : 0));
  }
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(FolderSendTest, RefusalsOfTheServerAndSignFirstEnabled) {
  // 14: nothing is answered, the request waits, signfirst stops, the link
  // is checked again in five minutes.
  ArmFault(json{{"action", "code"}, {"code", 14}, {"type", 52}});
  const folder::FolderRequest first = Request("signfirst", ToAlpha(Number(), Text("<html>2</html>")));
  folder::PSS(context, first, L"EDocWithSign");
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{first.fileName}));
  EXPECT_TRUE(TakeAnswers().empty());
  EXPECT_FALSE(folder::SignFirstEnabled());
  EXPECT_EQ(platform::ui::TimerPeriod(exchange::kTimerLink), 300000);
  // Later signfirst requests wait unsent.
  folder::PSS(context, first, L"EDocWithSign");
  EXPECT_EQ(WorkingFiles().size(), 1u);
  EXPECT_EQ(Counter("requests.52"), 1);
  platform::FileDelete(first.path);

  // A signnext refused now is deleted, with its error answer; 15 too.
  for (int code : {9, 15}) {
    const std::string number = Number();
    ArmFault(json{{"action", "code"}, {"code", code}, {"type", 53}});
    folder::PSS(context, Request("signnext", ToAlpha(number, Text("<html>3</html>"))), L"EDocWithTwoSigns");
    std::vector<Answer> answers = TakeAnswers();
    ASSERT_EQ(answers.size(), 1u) << code;
    EXPECT_EQ(answers[0].file, "error_" + number + ".xml");
    EXPECT_EQ(answers[0]["number"], number);
    EXPECT_EQ(answers[0]["error"], "Ошибка при отправке сообщения");
    EXPECT_EQ(answers[0]["errorcode"], std::to_string(code));
    EXPECT_EQ(answers[0]["errorinfo"], core::ToNarrow(exchange::ResultText(code), core::kCodePageUtf8));
    EXPECT_TRUE(WorkingFiles().empty()) << code;
  }
}

TEST_F(FolderSendTest, RejectedAnsweredStaysWhenNotSentOrIsRefused) {
  const std::string number = Number(true);
  DocumentFromAlpha(number);
  const std::string body = Element("number", number) + Element("rejectioncode", "113");

  // Nothing could be sent: the request waits, unanswered.
  platform::InjectFault(platform::Syscall::Connect, ECONNREFUSED);
  const folder::FolderRequest waiting = Request("rejected", body);
  folder::ProcessSendMessage(context, waiting);
  platform::ClearFaults();
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{waiting.fileName}));
  EXPECT_TRUE(TakeAnswers().empty());
  ASSERT_TRUE(exchange::CTS(nullptr));

  folder::ProcessSendMessage(context, waiting);
  std::vector<Answer> answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].file, number + ".xml");
  EXPECT_EQ(answers[0]["type"], "thestatus");
  EXPECT_EQ(answers[0]["number"], number);
  EXPECT_EQ(answers[0]["Status"], "rejectionconfirmed");
  EXPECT_EQ(answers[0]["message"], "Отправлено");
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_EQ(SentTypes(), (std::vector<int>{56}));
  bool refusalArrived = false;
  for (const json& message : Mailbox("alpha", true)) {
    refusalArrived = refusalArrived || (message["type"] == 56 && exchange_test::Base64Field(message["payload"]) == Bytes{113});
  }
  EXPECT_TRUE(refusalArrived);

  // Refused by the server: the error answer with its code, deleted.
  ArmFault(json{{"action", "code"}, {"code", 5}, {"type", 56}});
  folder::ProcessSendMessage(context, Request("rejected", body));
  answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["error"], "Ошибка при отправке сообщения");
  EXPECT_EQ(answers[0]["errorcode"], "5");
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(FolderSendTest, CertificatesAskedAndSent) {
  const std::string asked = Number();
  folder::ProcessGetCertificate(context, Request("getcertificate", Element("number", asked) + Element("receiveriks", alpha.iksHex)));
  std::vector<Answer> answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["type"], "thestatus");
  EXPECT_EQ(answers[0]["number"], asked);
  EXPECT_EQ(answers[0]["Status"], "sent");
  EXPECT_EQ(answers[0]["message"], "Отправлено");
  crypto::DataBlock ownKey;
  ASSERT_TRUE(crypto::GPKFCBC(beta.iks, &ownKey));
  const json request = Received("beta", true).back();
  EXPECT_EQ(request["type"], 73);
  EXPECT_EQ(exchange_test::Base64Field(request["payload"]), crypto::BlockBytes(ownKey));

  // alpha asks beta; beta answers with its certificate and the details.
  const std::string number = Number(true);
  Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}, {"number", number}});
  Bytes alphaKey;
  for (const json& message : Mailbox("beta", true)) {
    if (message["type"] == 73) alphaKey = exchange_test::Base64Field(message["payload"]);
  }
  ASSERT_FALSE(alphaKey.empty());
  folder::ProcessSendCertificate(
      context, Request("thecertificate", Element("number", number) + Element("receiveriks", alpha.iksHex) +
                                             Element("receiverpk", core::Base64Encode(alphaKey)) +
                                             Element("face", "Иванова И. И.") + Element("base", "Устава") +
                                             Element("post", "Директор") + Element("name", "Иванов И. И.")));
  answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["Status"], "sent");
  EXPECT_EQ(answers[0]["number"], number);
  EXPECT_TRUE(WorkingFiles().empty());
  Bytes envelope;
  for (const json& message : Mailbox("alpha", true)) {
    if (message["type"] == 74) envelope = exchange_test::Base64Field(message["payload"]);
  }
  EXPECT_EQ(OpenFor("alpha", envelope),
            exchange::CertificateAnswerData(beta.certificate, {"Иванова И. И.", "Устава", "Директор", "Иванов И. И."}));
}

TEST_F(FolderSendTest, MalformedRequestsGetTheConversionError) {
  const std::string number = Number();
  const std::string badNumber = number.substr(0, 26) + "X";
  struct Case {
    const char* type;
    std::string elements;
    std::string answerNumber;
  } cases[] = {
      {"signsingle", Element("number", badNumber) + Element("message", "QQ=="), badNumber},
      {"signfirst", ToAlpha(badNumber, Text("a")), badNumber},
      {"signnext", Element("number", number) + Element("receiveriks", "12") + Element("message", "QQ=="), number},
      {"rejected", Element("number", "12345") + Element("rejectioncode", "113"), "12345"},
      {"getcertificate", Element("number", badNumber), badNumber},
      {"thecertificate", Element("number", number) + Element("receiverpk", "QQ=="), number},
  };
  for (const Case& c : cases) {
    folder::FolderRequest request = Request(c.type, c.elements);
    switch (request.type) {
      case 49: folder::PSSingle(context, request); break;
      case 50: folder::PSS(context, request, L"EDocWithSign"); break;
      case 51: folder::PSS(context, request, L"EDocWithTwoSigns"); break;
      case 56: folder::ProcessSendMessage(context, request); break;
      case 73: folder::ProcessGetCertificate(context, request); break;
      default: folder::ProcessSendCertificate(context, request); break;
    }
    std::vector<Answer> answers = TakeAnswers();
    ASSERT_EQ(answers.size(), 1u) << c.type;
    EXPECT_EQ(answers[0]["number"], c.answerNumber) << c.type;
    EXPECT_EQ(answers[0]["error"], core::ToNarrow(folder::kConversionError, core::kCodePageUtf8)) << c.type;
    EXPECT_TRUE(WorkingFiles().empty()) << c.type;
  }
  EXPECT_TRUE(SentTypes().empty());
}

TEST_F(FolderSendTest, NothingSentTwiceWhenTheAnswerCannotBeSaved) {
  const std::string in = exchange.path + "in/";
  platform::FolderCreate(in);
  const std::string signedNumber = Number();
  const std::string rejectedNumber = Number(true);
  DocumentFromAlpha(rejectedNumber);
  const folder::FolderRequest requests[] = {
      Request("signfirst", ToAlpha(signedNumber, Text("<html>4</html>"))),
      Request("rejected", Element("number", rejectedNumber) + Element("rejectioncode", "112")),
  };
  auto run = [&](const folder::FolderRequest& request) {
    if (request.type == 56) folder::ProcessSendMessage(context, request);
    else folder::PSS(context, request, L"EDocWithSign");
  };
  for (const folder::FolderRequest& request : requests) {
    const std::string counter = core::Format("requests.%d", request.type == 56 ? 56 : 52);
    // Accepted, but no answer can be written: the request stays, sent.
    platform::InjectFault(platform::Syscall::Open, EACCES, -1, in);
    run(request);
    platform::ClearFaults();
    EXPECT_TRUE(platform::FileExists(request.path)) << request.type;
    EXPECT_TRUE(TakeAnswers().empty());
    // The next pass writes the answer and sends nothing.
    run(request);
    EXPECT_FALSE(platform::FileExists(request.path)) << request.type;
    std::vector<Answer> answers = TakeAnswers();
    ASSERT_EQ(answers.size(), 1u) << request.type;
    EXPECT_EQ(answers[0]["number"], request.number);
    EXPECT_EQ(answers[0]["type"], request.type == 56 ? "thestatus" : "EDocWithSign");
    EXPECT_NE(answers[0]["VerifyInfo"], request.type == 56 ? "" : "<absent>");
    EXPECT_EQ(Counter(counter), 1) << request.type;
  }
  EXPECT_EQ(SentTypes(), (std::vector<int>{52, 56}));
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_TRUE(TakeAnswers().empty());

  // Accepted while the connected flag is clear: done all the same.
  exchange::SetConnected(false);
  folder::PSS(context, Request("signfirst", ToAlpha(Number(), Text("<html>5</html>"))), L"EDocWithSign");
  EXPECT_EQ(SentTypes().size(), 3u);
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_EQ(TakeAnswers().size(), 1u);

  // A refusal whose error answer cannot be saved stays for the next pass.
  platform::InjectFault(platform::Syscall::Open, EACCES, -1, in);
  const folder::FolderRequest malformed = Request("signsingle", Element("number", "1"));
  folder::PSSingle(context, malformed);
  platform::ClearFaults();
  EXPECT_TRUE(platform::FileExists(malformed.path));
}

}  // namespace
