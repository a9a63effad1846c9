// What the web command tests share: the exchange tests' fixture with the
// local time in UTC, and requests as a browser sends them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

#include "exchange_fixture.h"
#include "web/response.h"
#include "web/web_request.h"

namespace web_test {

// The phone that counts.
inline constexpr char kPhone[] = "375291234567";

// The query as the request line of a JSONP call, with the headers behind.
inline std::string BrowserRequest(const std::string& query) {
  return "GET /?" + query +
         " HTTP/1.1\r\nHost: 127.0.0.1:5080\r\nUser-Agent: Mozilla/5.0\r\nAccept: */*\r\n"
         "Referer: file:///C:/Tessarin/page.html\r\n\r\n";
}

class WebTest : public exchange_test::ExchangeTest {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    ExchangeTest::SetUp();
    web::SetAccessKey("");
  }

  // The body of the answer to the query; the framing is checked on the way.
  static std::string Body(const std::string& query) {
    const std::string response = web::HandleWebRequest(BrowserRequest(query));
    const std::string body = response.substr(std::min(response.size(), response.find("\r\n\r\n") + 4));
    EXPECT_EQ(response, web::FrameWebResponse(body));
    return body;
  }
};

}  // namespace web_test
