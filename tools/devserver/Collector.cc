#include "tools/devserver/Collector.h"

#include <algorithm>
#include <chrono>

namespace loomset::devserver {
namespace {

constexpr long long kDefaultWaitMillis = 10000;
constexpr long long kMaxWaitMillis = 60000;

// A non-negative decimal query value, or `fallback`.
long long numberParameter(const Json& query, const char* name, long long fallback) {
  if (!query.contains(name)) return fallback;
  const std::string& text = query.at(name).get_ref<const std::string&>();
  if (text.empty() || text.size() > 12 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return fallback;
  }
  return std::stoll(text);
}

}  // namespace

Json decodeQuery(std::string_view query) {
  return decodeHitText(query);
}

Collector::Collector(std::size_t keep, Sink sink) : keep_(keep), sink_(std::move(sink)) {}

ServerResponse Collector::collect(const ServerRequest& request) {
  if (request.method == "GET" && request.path == "/collect") {
    if (request.query.empty()) return ServerResponse::text(400, "a GET hit needs a query\n");
    record(request.path, request.method, {request.query});
    return ServerResponse::text(200, "");
  }
  if (request.method != "POST") {
    return ServerResponse::text(405, request.path == "/batch" ? "\"/batch\" takes POST\n"
                                                              : "\"/collect\" takes GET or POST\n");
  }
  std::string error;
  const auto body = decodeContent(request.body, request.header("Content-Encoding").value_or(""),
                                  kMaxInflatedBytes, error);
  if (!body) {
    const bool unsupported = error.rfind("unsupported", 0) == 0;
    return ServerResponse::text(unsupported ? 415 : 400, error + "\n");
  }
  const auto lines = splitHitLines(*body);
  if (lines.empty()) return ServerResponse::text(400, "the body holds no hit\n");
  record(request.path, request.method, lines);
  return ServerResponse::text(200, "");
}

void Collector::record(const std::string& path, const std::string& method,
                       const std::vector<std::string_view>& hitTexts) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::string_view text : hitTexts) {
    Json record = Json::object();
    record["seq"] = nextSeq_++;
    record["path"] = path;
    record["method"] = method;
    record["params"] = decodeHitText(text);
    if (sink_) sink_(record);
    if (keep_ == 0) continue;
    kept_.push_back(std::move(record));
    if (kept_.size() > keep_) kept_.pop_front();
  }
  changed_.notify_all();
}

ServerResponse Collector::hits(const ServerRequest& request) {
  if (request.method != "GET") return ServerResponse::text(405, "\"/hits\" takes GET\n");
  const Json query = decodeQuery(request.query);
  const long long min = numberParameter(query, "min", 0);
  const long long timeout =
      std::min(numberParameter(query, "timeout", kDefaultWaitMillis), kMaxWaitMillis);
  const bool clear = query.contains("clear") && query.at("clear") != "0";

  std::unique_lock<std::mutex> lock(mu_);
  if (min > 0) {
    changed_.wait_for(lock, std::chrono::milliseconds(timeout), [&] {
      return shuttingDown_ || kept_.size() >= static_cast<std::size_t>(min);
    });
  }
  Json array = Json::array();
  for (const Json& record : kept_) array.push_back(record);
  if (clear) kept_.clear();
  lock.unlock();
  return ServerResponse::json(200, jsonLine(array) + "\n");
}

std::vector<Json> Collector::kept() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {kept_.begin(), kept_.end()};
}

std::uint64_t Collector::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return nextSeq_ - 1;
}

void Collector::shutdown() {
  std::lock_guard<std::mutex> lock(mu_);
  shuttingDown_ = true;
  changed_.notify_all();
}

}  // namespace loomset::devserver
