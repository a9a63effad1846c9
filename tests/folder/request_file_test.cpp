// The request-file reader: canned request texts in, the fields it found
// out (as a short description of the fields that are set); the checks of
// IKS and number, files that cannot be read, and the conversion into a
// wire record.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "core/format.h"
#include "folder/request_file.h"
#include "folder/request_record.h"
#include "link/frame.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace {

const std::string kIks = "19215E7F672CD00EE122AC2BB71547DDA1B2C3D4";
const std::string kNumber = "190000002000000011202610007";

// The fields that are set, in FolderRequest's order.
std::string Describe(const folder::FolderRequest& request) {
  std::string out = core::Format("type=%d", request.type);
  auto add = [&out](const char* name, const std::string& value) {
    if (!value.empty()) out += std::string(" ") + name + "=" + value;
  };
  add("sender", request.senderIks);
  add("receiver", request.receiverIks);
  add("unp", request.receiverUnp);
  add("branch", request.receiverBranch);
  add("message", request.message);
  add("number", request.number);
  add("expire", request.expire);
  if (!request.recipients.empty()) {
    out += core::Format(" slots=%zu", request.recipients.size());
    for (size_t i : {size_t{0}, request.recipients.size() - 1}) {
      out += " " + request.recipients[i].certificate + "/" + request.recipients[i].publicKey;
    }
  }
  if (request.rejectionCode) out += core::Format(" rejection=%d", request.rejectionCode);
  if (request.confirmDelivery) out += " confirm";
  if (request.faults) out += core::Format(" faults=%d", request.faults);
  return out;
}

std::string Certificates(int count, int withoutCpkAt) {
  std::string list = "<receivercpks>";
  for (int i = 0; i < count; ++i) {
    list += i == withoutCpkAt ? "<certificate><add>K</add></certificate>"
                              : core::Format("<certificate><cpk>C%d</cpk>%s</certificate>", i,
                                             i % 2 ? "<add>K</add>" : "");
  }
  return list + "</receivercpks>";
}

TEST(RequestFile, ReadsWhatTheAccountingSystemWrites) {
  const std::string lowerIks = "19215e7f672cd00ee122ac2bb71547dda1b2c3d4";
  struct Case {
    const char* what;
    std::string text;
    std::string expected;
  } cases[] = {
      {"capitals in tags and type, lower-case IKS",
       "<?xml version=\"1.0\"?>\r\n<ROOT>\r\n <Type>SignSingle</Type><SenderIKS>" + lowerIks +
           "</SenderIKS><Number>" + kNumber + "</Number><MESSAGE>aGk=</MESSAGE></ROOT>",
       "type=49 sender=" + kIks + " message=aGk= number=" + kNumber},
      {"entity kept, values not lowered, receiver by UNP",
       "<root><type>signfirst</type><message>a &amp; B</message><receiverunp>190000002</receiverunp>"
       "<receivervranch>0001</receivervranch><expire>10</expire></root>",
       "type=50 unp=190000002 branch=0001 message=a &amp; B expire=10"},
      {"first opening and first closing tag bound a value",
       "<root><type>getlist</type><number>" + kNumber + "</number><number>1</number></root>",
       "type=40 number=" + kNumber},
      {"Yes is not yes", "<root><type>signnext</type><confirmdelivery>Yes</confirmdelivery></root>", "type=51"},
      {"any value holding yes", "<root><type>signnext</type><confirmdelivery>oh yes!</confirmdelivery></root>",
       "type=51 confirm"},
      {"300 certificates fill 251 slots", "<root><type>signfirst</type>" + Certificates(300, -1) + "</root>",
       "type=50 slots=251 C0/ C250/"},
      {"an entry without cpk ends the list", "<root><type>signfirst</type>" + Certificates(6, 3) + "</root>",
       "type=50 slots=3 C0/ C2/"},
      {"rejection code, and a type outside the table",
       "<root><type>edocwithsig</type><rejectioncode>113x</rejectioncode></root>", "type=0 rejection=113"},
      {"no root: nothing but the text",
       "<type>getlist</type><senderiks>" + kIks + "</senderiks>", "type=0"},
      {"a sender IKS of 39 digits", "<root><type>getlist</type><senderiks>" + kIks.substr(1) + "</senderiks></root>",
       "type=40 sender=" + kIks.substr(1) + " faults=2"},
      {"a receiver IKS with a non-digit",
       "<root><type>thecertificate</type><receiveriks>" + kIks.substr(1) + "Z</receiveriks></root>",
       "type=74 receiver=" + kIks.substr(1) + "Z faults=4"},
      {"a number of 26 digits",
       "<root><type>rejected</type><number>" + kNumber.substr(1) + "</number></root>",
       "type=56 number=" + kNumber.substr(1) + " faults=8"},
      {"a number with a letter", "<root><type>rejected</type><number>1" + kNumber.substr(1, 25) + "a</number></root>",
       "type=56 number=1" + kNumber.substr(1, 25) + "a faults=8"},
  };
  test_support::ScopedLogFolder log;
  for (const Case& c : cases) {
    folder::FolderRequest request;
    folder::ParseRequestText(c.text, &request);
    EXPECT_EQ(Describe(request), c.expected) << c.what;
    serverlink::ExchangeRecord record;
    EXPECT_EQ(folder::RecordFromRequest(request, &record), request.faults == 0) << c.what;
  }
}

TEST(RequestFile, FileIsReadWholeOrNamesItselfAsUnreadable) {
  test_support::ScopedLogFolder log;
  test_support::TempFolder working;
  test_support::WriteText(working.path + "a.xml", "<Root><Type>GetMessage</Type><message>17</message></Root>");
  folder::FolderRequest request;
  folder::GetXMLTypes(working.path, "a.xml", &request);
  EXPECT_EQ(request.fileName, "a.xml");
  EXPECT_EQ(request.path, working.path + "a.xml");
  EXPECT_EQ(Describe(request), "type=41 message=17");
  EXPECT_EQ(request.text, "<root><type>GetMessage</type><message>17</message></root>");

  // A file that cannot be opened or read whole keeps its name and path, so
  // the pass can answer and remove it.
  folder::GetXMLTypes(working.path, "missing.xml", &request);
  EXPECT_EQ(request.fileName, "missing.xml");
  EXPECT_EQ(request.path, working.path + "missing.xml");
  EXPECT_EQ(Describe(request), "type=0 faults=1");
  platform::InjectFault(platform::Syscall::Read, EIO);
  folder::GetXMLTypes(working.path, "a.xml", &request);
  platform::ClearFaults();
  EXPECT_EQ(request.fileName, "a.xml");
  EXPECT_EQ(Describe(request), "type=0 faults=1");
}

TEST(RequestFile, ConvertsIntoTheWireRecord) {
  test_support::ScopedLogFolder log;
  folder::FolderRequest request;
  folder::ParseRequestText("<root><type>signfirst</type><receiveriks>" + kIks + "</receiveriks><receiverunp>1"
                           "</receiverunp><number>" + kNumber + "</number><expire>2</expire><message>abc</message></root>",
                           &request);
  serverlink::ExchangeRecord record;
  ASSERT_TRUE(folder::RecordFromRequest(request, &record));
  EXPECT_EQ(record.type, 50);
  EXPECT_EQ(record.flags, 0x08 | 0x20 | 0x40);  // the IKS wins over the UNP
  EXPECT_EQ(record.iks[0], 0x19);
  EXPECT_EQ(serverlink::FormatNumber(record.number), kNumber);
  EXPECT_EQ(std::string(record.payload.begin(), record.payload.end()), "abc");
}

}  // namespace
