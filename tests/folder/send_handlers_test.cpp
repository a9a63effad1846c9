// The sending handlers of the exchange folder against the simulator, called
// as the folder pass calls them: "beta" (the client) signs, sends, refuses
// and exchanges certificates with "alpha". Answers in in/ are deciphered
// and read field by field; what the server got is read from its admin API.
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
#include "folder/pass.h"
#include "folder/request_file.h"
#include "folder/request_record.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/ui.h"

namespace {

using exchange_test::Bytes;
using exchange_test::json;
using Fields = std::map<std::string, std::string>;

std::string Element(const std::string& name, const std::string& value) { return "<" + name + ">" + value + "</" + name + ">"; }
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string Utf8(const std::wstring& text) { return core::ToNarrow(text, core::kCodePageUtf8); }

// One answer file, deciphered; Pick gives the named elements ("-" when absent).
struct Answer {
  std::string file, text;
  std::string operator[](const std::string& name) const { return core::FindTag(text, name).value_or("-"); }
  Fields Pick(std::initializer_list<std::string> names) const {
    Fields fields;
    for (const std::string& name : names) fields[name] = (*this)[name];
    return fields;
  }
};

// The signed message's signature count (and its content).
int Signatures(const Bytes& message, Bytes* content = nullptr) {
  int count = 0;
  crypto::DataBlock plain;
  std::wstring report;
  EXPECT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(message), &count, &plain, &report, nullptr), 1);
  if (content) *content = crypto::BlockBytes(plain);
  return count;
}

class FolderSendTest : public exchange_test::ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    folder::SetSignFirstEnabled(true);
    crypto::CertificateEntry own;
    ASSERT_TRUE(crypto::GetSelectedEntry(&own));
    unp = Utf8(own.unpText);
    alphaUnp = Utf8(crypto::GetUNP(alpha.certificate));
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
  // A request file of beta in the working folder, read as the pass reads it.
  folder::FolderRequest Request(const std::string& type, const std::string& elements) {
    const std::string name = core::Format("request%d.xml", ++serial);
    test_support::WriteText(working.path + name, "<?xml version=\"1.0\"?><Root><Type>" + type + "</Type><SenderIKS>" +
                                                     beta.iksHex + "</SenderIKS>" + elements + "</Root>");
    folder::FolderRequest request;
    folder::GetXMLTypes(working.path, name, &request);
    return request;
  }
  std::string ToAlpha(const std::string& number, const Bytes& document, bool confirm = false) const {
    return Element("number", number) + Element("receiveriks", alpha.iksHex) +
           Element("message", core::Base64Encode(document)) + (confirm ? Element("confirmdelivery", "yes") : "") +
           "<receivercpks><certificate>" + Element("cpk", core::Base64Encode(alpha.certificate)) +
           "</certificate></receivercpks>";
  }
  // The request as the folder pass runs it: its checks, then the handler
  // of its type.
  void Run(const folder::FolderRequest& request) { folder::DispatchRequests(context, {request}); }

  // Every answer in in/, deciphered with beta's key, and taken away.
  std::vector<Answer> TakeAnswers() {
    std::vector<Answer> answers;
    const std::string in = exchange.path + "in/";
    if (!platform::FolderExists(in)) return answers;
    const std::vector<uint8_t> key = core::HexDecode(beta.iksHex.substr(0, 32));
    for (const std::string& file : test_support::ListTree(in)) {
      std::vector<uint8_t> data = test_support::ReadBytes(in + file);
      auto material = crypto::KeyMaterial(key.data());
      crypto::KeyMaterialHash hash;  // used up by one decryption
      EXPECT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
      EXPECT_TRUE(crypto::DecryptBuffer(&hash, &data));
      answers.push_back({file, std::string(data.begin(), data.end())});
      platform::FileDelete(in + file);
    }
    return answers;
  }
  Answer OneAnswer() {
    std::vector<Answer> answers = TakeAnswers();
    EXPECT_EQ(answers.size(), 1u);
    return answers.empty() ? Answer{} : answers.back();
  }
  Fields SendError(const std::string& number, int code) const {
    return {{"number", number}, {"error", "Ошибка при отправке сообщения"}, {"errorcode", std::to_string(code)},
            {"errorinfo", Utf8(exchange::ResultText(static_cast<uint8_t>(code)))}};
  }
  std::vector<std::string> WorkingFiles() const { return test_support::ListTree(working.path); }

  // A document of alpha waiting for beta: its signed message.
  Bytes DocumentFromAlpha(const std::string& number) {
    Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "<html>Счёт</html>"}, {"number", number}});
    for (const json& message : Mailbox("beta", true)) {
      if (message["number"] == number) return OpenFor("beta", exchange_test::Base64Field(message["payload"]));
    }
    return {};
  }
  // What alpha's mailbox holds of a type: the last payload.
  Bytes AlphaGot(int type) const {
    Bytes payload;
    for (const json& message : Mailbox("alpha", true)) {
      if (message["type"] == type) payload = exchange_test::Base64Field(message["payload"]);
    }
    return payload;
  }
  std::vector<int> SentTypes() const {
    std::vector<int> types;
    for (const json& message : Received("beta")) types.push_back(message["type"].get<int>());
    return types;
  }

  test_support::TempFolder exchange, working;
  folder::FolderPassContext context;
  std::string unp, alphaUnp;
  int serial = 0;
};

TEST_F(FolderSendTest, SignSingleAndTheRightsGate) {
  const Bytes document = Text("<html>Акт №7</html>");
  const std::string number = Number();
  Run(Request("SignSingle", Element("number", number) + Element("message", core::Base64Encode(document))));
  Answer answer = OneAnswer();
  EXPECT_EQ(answer.file, number + "_eDocWithSign.xml");
  EXPECT_EQ(answer.Pick({"type", "number", "refer", "VerifySign"}),
            (Fields{{"type", "eDocWithSign"}, {"number", number}, {"refer", number + "_eDocWithSign"}, {"VerifySign", "true"}}));
  Bytes content;
  EXPECT_EQ(Signatures(core::Base64Decode(answer["message"]), &content), 1);
  EXPECT_EQ(content, document);
  EXPECT_NE(answer["VerifyInfo"], "-");

  // No service status yet (the handler alone: the pass asks for one
  // first): the request waits unanswered. Status 2: two error answers, the
  // first without the number.
  exchange::SetServiceStatus(0);
  folder::PSS(context, Request("signfirst", ToAlpha(Number(), document)), L"EDocWithSign");
  EXPECT_EQ(WorkingFiles().size(), 1u);
  EXPECT_TRUE(TakeAnswers().empty());
  platform::FileDelete(working.path + WorkingFiles()[0]);
  exchange::SetServiceStatus(2);
  Run(Request("signsingle", Element("number", number) + Element("message", "QQ==")));
  std::vector<Answer> answers = TakeAnswers();
  ASSERT_EQ(answers.size(), 2u);
  if (answers[0]["number"] != "-") std::swap(answers[0], answers[1]);
  EXPECT_EQ(answers[0].Pick({"number", "error", "errorcode"}), (Fields{{"number", "-"}, {"error", "Нет прав на отправку файлов"}, {"errorcode", "-"}}));
  EXPECT_EQ(answers[1].Pick({"number", "error", "errorcode"}), (Fields{{"number", number}, {"error", "Нет прав на отправку файлов"}, {"errorcode", "-"}}));
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_TRUE(SentTypes().empty());
}

TEST_F(FolderSendTest, SignFirstReachesAlphaCompressedAbove1000Bytes) {
  // The signature's length varies by a byte or two: the document's size is
  // steered until signed messages of 1000 and 1001 bytes have gone out.
  size_t size = 100;
  bool seen1000 = false, seen1001 = false;
  for (int attempt = 0; attempt < 60 && !(seen1000 && seen1001); ++attempt) {
    const std::string number = Number();
    Run(Request("signfirst", ToAlpha(number, Bytes(size, 'x'))));
    const Answer answer = OneAnswer();
    EXPECT_EQ(answer.Pick({"type", "number", "refer", "VerifySign"}),
              (Fields{{"type", "EDocWithSign"}, {"number", number}, {"refer", number + "_EDocWithSign"}, {"VerifySign", "true"}}));
    const Bytes signedMessage = core::Base64Decode(answer["message"]);
    const json sent = Received("beta", true).back();
    EXPECT_EQ(sent["type"], signedMessage.size() > 1000 ? 152 : 52) << signedMessage.size();
    if (signedMessage.size() <= 1000) {
      EXPECT_EQ(OpenFor("alpha", exchange_test::Base64Field(sent["payload"])), signedMessage);
    }
    seen1000 = seen1000 || signedMessage.size() == 1000;
    seen1001 = seen1001 || signedMessage.size() == 1001;
    size = size + (seen1000 ? 1001 : 1000) - signedMessage.size();
  }
  EXPECT_TRUE(seen1000 && seen1001);
  // A delivery confirmation wanted: 62, and 162 compressed.
  Run(Request("signfirst", ToAlpha(Number(), Text("<html>1</html>"), true)));
  Run(Request("signfirst", ToAlpha(Number(), Bytes(3000, 'y'), true)));
  const std::vector<int> types = SentTypes();
  EXPECT_EQ(std::vector<int>(types.end() - 2, types.end()), (std::vector<int>{62, 162}));
  EXPECT_EQ(Mailbox("alpha").size(), types.size());
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(FolderSendTest, SignNextGoesBackWithBothSignatures) {
  for (bool confirm : {false, true}) {
    const std::string number = Number(true);
    Run(Request("signnext", ToAlpha(number, DocumentFromAlpha(number), confirm)));
    const Answer answer = OneAnswer();
    EXPECT_EQ(answer.Pick({"type", "refer", "VerifySign"}),
              (Fields{{"type", "EDocWithTwoSigns"}, {"refer", number + "_EDocWithTwoSigns"}, {"VerifySign", "true"}}));
    const Bytes signedMessage = core::Base64Decode(answer["message"]);
    EXPECT_EQ(Signatures(signedMessage), 2);
    EXPECT_EQ(SentTypes().back(), (confirm ? 63 : 53) + (signedMessage.size() > 1000 ? 100 : 0));
  }
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(FolderSendTest, RefusalsOfTheServerAndSignFirstEnabled) {
  // 14: no answer, the request waits, signfirst stops, the link is checked
  // again in five minutes; later signfirst requests wait unsent.
  ArmFault(json{{"action", "code"}, {"code", 14}, {"type", 52}});
  const folder::FolderRequest first = Request("signfirst", ToAlpha(Number(), Text("<html>2</html>")));
  Run(first);
  Run(first);
  // What went out is kept beside it, to go out again byte for byte.
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{first.fileName, first.fileName + ".sending"}));
  EXPECT_TRUE(TakeAnswers().empty());
  EXPECT_FALSE(folder::SignFirstEnabled());
  EXPECT_EQ(platform::ui::TimerPeriod(exchange::kTimerLink), 300000);
  EXPECT_EQ(Counter("requests.52"), 1);
  platform::FileDelete(first.path);
  platform::FileDelete(first.path + ".sending");

  // A signnext refused now is deleted with its error answer; 15 too.
  for (int code : {9, 15}) {
    const std::string number = Number();
    ArmFault(json{{"action", "code"}, {"code", code}, {"type", 53}});
    Run(Request("signnext", ToAlpha(number, Text("<html>3</html>"))));
    EXPECT_EQ(OneAnswer().Pick({"number", "error", "errorcode", "errorinfo"}), SendError(number, code));
    EXPECT_TRUE(WorkingFiles().empty()) << code;
  }
}

TEST_F(FolderSendTest, RejectedAnsweredStaysWhenNotSentOrIsRefused) {
  const std::string number = Number(true);
  DocumentFromAlpha(number);
  const std::string body = Element("number", number) + Element("rejectioncode", "113");
  const folder::FolderRequest waiting = Request("rejected", body);
  platform::InjectFault(platform::Syscall::Connect, ECONNREFUSED);
  Run(waiting);
  platform::ClearFaults();
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{waiting.fileName}));
  EXPECT_TRUE(TakeAnswers().empty());

  ASSERT_TRUE(exchange::CTS(nullptr));
  Run(waiting);
  const Answer answer = OneAnswer();
  EXPECT_EQ(answer.file, number + ".xml");
  EXPECT_EQ(answer.Pick({"type", "number", "Status", "message"}),
            (Fields{{"type", "thestatus"}, {"number", number}, {"Status", "rejectionconfirmed"}, {"message", "Отправлено"}}));
  EXPECT_EQ(AlphaGot(56), Bytes{113});

  ArmFault(json{{"action", "code"}, {"code", 5}, {"type", 56}});
  Run(Request("rejected", body));
  EXPECT_EQ(OneAnswer().Pick({"number", "error", "errorcode", "errorinfo"}), SendError(number, 5));
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_EQ(SentTypes(), (std::vector<int>{56}));
}

TEST_F(FolderSendTest, CertificatesAskedAndSent) {
  const Fields sent{{"type", "thestatus"}, {"Status", "sent"}, {"message", "Отправлено"}};
  Run(Request("getcertificate", Element("number", Number()) + Element("receiveriks", alpha.iksHex)));
  EXPECT_EQ(OneAnswer().Pick({"type", "Status", "message"}), sent);
  crypto::DataBlock ownKey;
  ASSERT_TRUE(crypto::GPKFCBC(beta.iks, &ownKey));
  EXPECT_EQ(AlphaGot(73), crypto::BlockBytes(ownKey));

  // alpha asks beta; beta answers with its certificate and the details.
  const std::string number = Number(true);
  Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}, {"number", number}});
  const Bytes alphaKey = exchange_test::Base64Field(Mailbox("beta", true).back()["payload"]);
  Run(Request("thecertificate", Element("number", number) + Element("receiveriks", alpha.iksHex) +
                                    Element("receiverpk", core::Base64Encode(alphaKey)) + Element("face", "Иванова И. И.") +
                                    Element("base", "Устава") + Element("post", "Директор") + Element("name", "Иванов И. И.")));
  EXPECT_EQ(OneAnswer().Pick({"type", "Status", "message"}), sent);
  EXPECT_EQ(OpenFor("alpha", AlphaGot(74)),
            exchange::CertificateAnswerData(beta.certificate, {"Иванова И. И.", "Устава", "Директор", "Иванов И. И."}));
  EXPECT_EQ(SentTypes(), (std::vector<int>{73, 74}));
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(FolderSendTest, MalformedRequestsGetTheConversionError) {
  const std::string number = Number();
  const std::string bad = number.substr(0, 26) + "X";
  const std::pair<const char*, std::string> cases[] = {
      {"signsingle", Element("number", bad) + Element("message", "QQ==")},
      {"signfirst", ToAlpha(bad, Text("a"))},
      {"signnext", Element("number", number) + Element("receiveriks", "12") + Element("message", "QQ==")},
      {"rejected", Element("number", bad) + Element("rejectioncode", "113")},
      {"getcertificate", Element("number", bad)},
      {"thecertificate", Element("number", number) + Element("receiverpk", "QQ==")},  // no receiveriks
  };
  for (const auto& [type, elements] : cases) {
    const folder::FolderRequest request = Request(type, elements);
    Run(request);
    EXPECT_EQ(OneAnswer().Pick({"number", "error"}), (Fields{{"number", request.number}, {"error", Utf8(folder::kConversionError)}})) << type;
    EXPECT_TRUE(WorkingFiles().empty()) << type;
  }
  EXPECT_TRUE(SentTypes().empty());
}

TEST_F(FolderSendTest, NothingSentTwiceWhenTheAnswerCannotBeSaved) {
  const std::string in = exchange.path + "in/";
  const std::string rejected = Number(true);
  DocumentFromAlpha(rejected);
  for (const folder::FolderRequest& request :
       {Request("signfirst", ToAlpha(Number(), Text("<html>4</html>"))),
        Request("rejected", Element("number", rejected) + Element("rejectioncode", "112"))}) {
    // Accepted, but no answer can be written: the request stays; the next
    // pass writes the answer and sends nothing.
    platform::InjectFault(platform::Syscall::Open, EACCES, -1, in);
    Run(request);
    platform::ClearFaults();
    EXPECT_TRUE(platform::FileExists(request.path)) << request.type;
    EXPECT_TRUE(TakeAnswers().empty());
    Run(request);
    EXPECT_FALSE(platform::FileExists(request.path)) << request.type;
    const Answer answer = OneAnswer();
    EXPECT_EQ(answer["number"], request.number);
    EXPECT_EQ(answer["type"], request.type == 56 ? "thestatus" : "EDocWithSign");
    EXPECT_NE(answer["VerifyInfo"], request.type == 56 ? "" : "-");
    EXPECT_EQ(Counter(core::Format("requests.%d", request.type == 56 ? 56 : 52)), 1) << request.type;
  }
  EXPECT_EQ(SentTypes(), (std::vector<int>{52, 56}));
  EXPECT_TRUE(WorkingFiles().empty());

  // Accepted while the connected flag is clear: done all the same.
  exchange::SetConnected(false);
  Run(Request("signfirst", ToAlpha(Number(), Text("<html>5</html>"))));
  EXPECT_EQ(SentTypes().size(), 3u);
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_EQ(TakeAnswers().size(), 1u);

  // A refusal whose error answer cannot be saved stays for the next pass.
  platform::InjectFault(platform::Syscall::Open, EACCES, -1, in);
  const folder::FolderRequest malformed = Request("signsingle", Element("number", "1"));
  Run(malformed);
  platform::ClearFaults();
  EXPECT_TRUE(platform::FileExists(malformed.path));
}

TEST_F(FolderSendTest, AnAnswerLostAfterTheServerAcceptedNeitherSendsTwiceNorAnswersAnError) {
  // The server takes the document, then the connection breaks before its
  // answer is through: the request waits. The next pass, with a new link,
  // answers it once, with the document the recipient got; nothing else
  // reaches alpha.
  for (bool confirm : {false, true}) {
    const std::string number = Number();
    ArmFault(json{{"action", "truncate"}, {"type", confirm ? 62 : 52}});
    const folder::FolderRequest request = Request("signfirst", ToAlpha(number, Text("<html>6</html>"), confirm));
    Run(request);
    EXPECT_TRUE(platform::FileExists(request.path));
    EXPECT_TRUE(TakeAnswers().empty());
    ASSERT_TRUE(exchange::CTS(nullptr));
    Run(request);
    const Answer answer = OneAnswer();
    EXPECT_EQ(answer.Pick({"type", "number", "VerifySign", "error"}),
              (Fields{{"type", "EDocWithSign"}, {"number", number}, {"VerifySign", "true"}, {"error", "-"}}));
    const json got = Mailbox("alpha", true).back();
    EXPECT_EQ(got["number"], number);
    EXPECT_EQ(OpenFor("alpha", exchange_test::Base64Field(got["payload"])), core::Base64Decode(answer["message"]));
    EXPECT_TRUE(WorkingFiles().empty());
  }
  EXPECT_EQ(Received("beta").size(), 2u);
  EXPECT_EQ(Mailbox("alpha").size(), 2u);

  // A refusal whose answer is lost alike is answered as sent.
  const std::string refused = Number(true);
  DocumentFromAlpha(refused);
  ArmFault(json{{"action", "truncate"}, {"type", 56}});
  const folder::FolderRequest request = Request("rejected", Element("number", refused) + Element("rejectioncode", "121"));
  Run(request);
  EXPECT_TRUE(TakeAnswers().empty());
  ASSERT_TRUE(exchange::CTS(nullptr));
  Run(request);
  EXPECT_EQ(OneAnswer().Pick({"type", "Status", "error"}),
            (Fields{{"type", "thestatus"}, {"Status", "rejectionconfirmed"}, {"error", "-"}}));
  EXPECT_EQ(Mailbox("alpha").size(), 3u);
  EXPECT_TRUE(WorkingFiles().empty());
}

}  // namespace
