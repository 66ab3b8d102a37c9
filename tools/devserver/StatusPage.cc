#include "tools/devserver/StatusPage.h"

#include <ctime>

#include "loomset/platform/Clock.h"
#include "tools/devserver/Collector.h"

namespace loomset::devserver {
namespace {

std::string utcNow() {
  const auto seconds = static_cast<std::time_t>(SystemClock().nowSeconds());
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string cell(std::string_view text) {
  return "<td>" + htmlEscape(text) + "</td>";
}

std::string textOf(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// The hit's parameters as "name=value" pairs, in the order received.
std::string describeParams(const Json& params) {
  std::string text;
  if (!params.is_object()) return text;
  for (auto it = params.begin(); it != params.end(); ++it) {
    if (!text.empty()) text += ' ';
    text += it.key() + "=" + textOf(it.value());
  }
  return text;
}

std::string field(const Json& record, const char* key) {
  const auto it = record.find(key);
  return it == record.end() ? std::string() : textOf(*it);
}

std::string param(const Json& record, const char* key) {
  const auto params = record.find("params");
  if (params == record.end() || !params->is_object()) return std::string();
  return field(*params, key);
}

}  // namespace

void FetchLog::record(const ServerRequest& request, const ServerResponse& response) {
  FetchRecord fetch;
  fetch.time = utcNow();
  fetch.containerId = textOf(decodeQuery(request.query).value("id", Json("")));
  fetch.query = request.query;
  fetch.status = response.status;
  fetch.bytes = response.body.size();
  std::lock_guard<std::mutex> lock(mu_);
  fetches_.push_back(std::move(fetch));
  while (fetches_.size() > keep_) fetches_.pop_front();
}

std::vector<FetchRecord> FetchLog::fetches() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {fetches_.begin(), fetches_.end()};
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string renderStatusPage(const std::string& endpoints, const std::vector<Json>& hits,
                             const std::vector<FetchRecord>& fetches, std::size_t shown) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>loomset-devserver</title>"
      "<style>table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:2px 6px;"
      "text-align:left;vertical-align:top}</style></head><body>\n"
      "<h1>loomset-devserver</h1>\n<pre>" +
      htmlEscape(endpoints) + "</pre>\n";

  page += "<h2>Last hits</h2>\n";
  if (hits.empty()) {
    page += "<p>No hits received yet.</p>\n";
  } else {
    page +=
        "<table id=\"hits\"><tr><th>#</th><th>request</th><th>type</th><th>tracking id</th>"
        "<th>parameters</th></tr>\n";
    const std::size_t first = hits.size() > shown ? hits.size() - shown : 0;
    for (std::size_t i = hits.size(); i-- > first;) {
      const Json& record = hits[i];
      page += "<tr>" + cell(field(record, "seq")) +
              cell(field(record, "method") + " " + field(record, "path")) +
              cell(param(record, "t")) + cell(param(record, "tid")) +
              cell(describeParams(record.value("params", Json::object()))) + "</tr>\n";
    }
    page += "</table>\n";
  }

  page += "<h2>Last container fetches</h2>\n";
  if (fetches.empty()) {
    page += "<p>No container fetched yet.</p>\n";
  } else {
    page +=
        "<table id=\"fetches\"><tr><th>time (UTC)</th><th>container</th><th>status</th>"
        "<th>bytes</th><th>query</th></tr>\n";
    const std::size_t first = fetches.size() > shown ? fetches.size() - shown : 0;
    for (std::size_t i = fetches.size(); i-- > first;) {
      const FetchRecord& fetch = fetches[i];
      page += "<tr>" + cell(fetch.time) + cell(fetch.containerId) +
              cell(std::to_string(fetch.status)) + cell(std::to_string(fetch.bytes)) +
              cell(fetch.query) + "</tr>\n";
    }
    page += "</table>\n";
  }
  return page + "</body></html>\n";
}

}  // namespace loomset::devserver
