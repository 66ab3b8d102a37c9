// The development server's page at "/", fetched over libcurl from a server in process: the last
// hits and container fetches in HTML tables, with everything that came from a request escaped.
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "Library/Util/http/CurlHttpClient.h"
#include "support/TempDir.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/StatusPage.h"

namespace loomset::devserver {
namespace {

class StatusPageTest : public ::testing::Test {
 protected:
  StatusPageTest()
      : server_(
            [this] {
              DevServerOptions options;
              options.containers = containers_.path();
              return options;
            }(),
            nullptr, nullptr) {}

  HttpResponse fetch(const std::string& method, const std::string& pathAndQuery,
                     std::string body = "") {
    HttpRequest request;
    request.method = method;
    request.url = server_.baseUrl() + pathAndQuery;
    request.body = std::move(body);
    std::promise<HttpResponse> done;
    client_->send(std::move(request), loop_, [&done](HttpResponse r) { done.set_value(r); });
    auto future = done.get_future();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "no answer from the server";
      return {};
    }
    return future.get();
  }

  testing::TempDir containers_;
  DevServer server_;
  std::shared_ptr<EventLoop> loop_ = std::make_shared<AsioEventLoop>("status-page-test");
  std::shared_ptr<CurlHttpClient> client_ = std::make_shared<CurlHttpClient>();
};

TEST_F(StatusPageTest, AnEmptyServerSaysSoAndNamesItsEndpoints) {
  const HttpResponse page = fetch("GET", "/");
  ASSERT_FALSE(page.hasError()) << page.errorText;
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("<!DOCTYPE html>"), std::string::npos);
  EXPECT_NE(page.body.find("/collect, POST /batch"), std::string::npos);
  EXPECT_NE(page.body.find("No hits received yet."), std::string::npos);
  EXPECT_NE(page.body.find("No container fetched yet."), std::string::npos);
}

TEST_F(StatusPageTest, HitsAndFetchesAreListedNewestFirstAndEscaped) {
  ASSERT_EQ(fetch("GET", "/collect?v=1&t=event&tid=UA-1&ec=first").status, 200);
  ASSERT_EQ(fetch("POST", "/batch",
                  "v=1&t=screenview&tid=UA-2&cd=%3Cscript%3Ealert(1)%3C%2Fscript%3E\n"
                  "v=1&t=event&tid=UA-3&ea=%22quoted%22+%26+'single'")
                .status,
            200);
  EXPECT_EQ(fetch("GET", "/r?id=GTM-%3Cb%3E&v=1").status, 404);

  const HttpResponse page = fetch("GET", "/");
  ASSERT_EQ(page.status, 200);
  const std::string& html = page.body;
  EXPECT_EQ(html.find("<script>"), std::string::npos) << "hit text must not become markup";
  EXPECT_NE(html.find("cd=&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("ea=&quot;quoted&quot; &amp; &#39;single&#39;"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_NE(html.find("<td>GTM-&lt;b&gt;</td>"), std::string::npos);
  EXPECT_NE(html.find("<td>404</td>"), std::string::npos);

  // Newest first: the third hit's row comes before the first's.
  const auto third = html.find("<td>UA-3</td>");
  const auto first = html.find("<td>UA-1</td>");
  ASSERT_NE(third, std::string::npos);
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(third, first);
  EXPECT_NE(html.find("<td>POST /batch</td><td>screenview</td>"), std::string::npos);
}

TEST(StatusPage, OnlyTheLastHitsAreShown) {
  std::vector<Json> hits;
  for (int i = 1; i <= 30; ++i) {
    hits.push_back(Json{{"seq", i},
                        {"path", "/collect"},
                        {"method", "GET"},
                        {"params", Json{{"t", "event"}, {"el", "hit-" + std::to_string(i)}}}});
  }
  const std::string html = renderStatusPage("", hits, {}, 20);
  EXPECT_EQ(html.find("el=hit-10<"), std::string::npos);
  EXPECT_NE(html.find("el=hit-11<"), std::string::npos);
  EXPECT_NE(html.find("el=hit-30<"), std::string::npos);
}

TEST(StatusPage, EscapingCoversEveryMarkupCharacter) {
  EXPECT_EQ(htmlEscape("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(htmlEscape("plain caf\xC3\xA9"), "plain caf\xC3\xA9");
}

}  // namespace
}  // namespace loomset::devserver
