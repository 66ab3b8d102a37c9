#include "support/PLUCollector.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "Library/Util/http/CurlHttpClient.h"
#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUURLConnection.h"
#include "platform/WaitFor.h"

namespace loomset::testing {

PLUCollector::PLUCollector() {
  server_.setResponse("/collect", LocalHttpServer::Response::text(200, ""));
  server_.setResponse("/batch", LocalHttpServer::Response::text(200, ""));
}

PLUCollectorEndpoints PLUCollector::endpoints() const {
  PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = server_.baseUrl();
  endpoints.secureBaseUrl = server_.baseUrl();
  return endpoints;
}

std::vector<PLUCollector::Request> PLUCollector::requests() const {
  std::vector<Request> decoded;
  for (const auto& raw : server_.requests()) {
    Request request;
    request.raw = raw;
    request.method = raw.method;
    request.path = raw.path;
    request.contentEncoding = raw.header("Content-Encoding");
    if (!request.contentEncoding) {
      request.body = raw.body;
    } else if (*request.contentEncoding == "gzip" || *request.contentEncoding == "deflate") {
      request.body = inflate(raw.body);
    }
    if (raw.method == "GET") {
      request.hitTexts.push_back(raw.query);
    } else if (request.body) {
      std::string_view rest = *request.body;
      for (;;) {
        const auto end = rest.find('\n');
        request.hitTexts.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
      }
    }
    for (const auto& text : request.hitTexts) request.hits.push_back(decodeHit(text));
    decoded.push_back(std::move(request));
  }
  return decoded;
}

std::vector<PLUCollector::DecodedHit> PLUCollector::hits() const {
  std::vector<DecodedHit> all;
  for (auto& request : requests()) {
    for (auto& hit : request.hits) all.push_back(std::move(hit));
  }
  return all;
}

std::string PLUCollector::urlDecode(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
               hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

PLUCollector::DecodedHit PLUCollector::decodeHit(std::string_view text) {
  DecodedHit hit;
  while (!text.empty()) {
    const auto end = text.find('&');
    const std::string_view piece = text.substr(0, end);
    const auto eq = piece.find('=');
    hit[urlDecode(piece.substr(0, eq))] =
        eq == std::string_view::npos ? std::string() : urlDecode(piece.substr(eq + 1));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return hit;
}

std::optional<std::string> PLUCollector::inflate(std::string_view data) {
  z_stream stream{};
  // 15 + 32: either a gzip or a zlib header, detected automatically.
  if (inflateInit2(&stream, 15 + 32) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  unsigned char chunk[4096];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = ::inflate(&stream, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(chunk), sizeof chunk - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!complete) return std::nullopt;
  return out;
}

namespace {

class FakeWatch final : public PLUReachabilityHandle {};

}  // namespace

PLUDispatcherHarness::PLUDispatcherHarness(Customize customize)
    // A client of its own, so that requests still in flight end with the test.
    : platform_([](Platform& p) { p.http = std::make_shared<CurlHttpClient>(); }),
      logger_(std::make_shared<PLURecordingLogger>()),
      worker_(std::make_shared<ManualEventLoop>(
          std::dynamic_pointer_cast<FakeClock>(platform_.platform()->clock), "PLUThread-test")),
      reachabilityCallback_(std::make_shared<std::function<void(std::uint32_t)>>()) {
  plu_log::setSharedLogger(logger_);
  store_ = PLUDataStore::create(platform_.platform(), worker_);

  PLUBatchingDispatcher::Options options;
  options.context.platform = platform_.platform();
  options.context.worker = worker_;
  options.context.hitStore = store_;
  options.context.endpoints = collector_.endpoints();
  auto callback = reachabilityCallback_;
  PLUReachabilityApi api;
  api.createWithName = [](const std::string&) { return std::make_shared<FakeWatch>(); };
  api.setCallback = [callback](const PLUReachabilityApi::Handle&, PLUReachabilityApi::Callback cb) {
    *callback = std::move(cb);
    return true;
  };
  api.scheduleWithRunLoop = [](const PLUReachabilityApi::Handle&,
                               const std::shared_ptr<EventLoop>&) { return true; };
  api.unscheduleFromRunLoop = [](const PLUReachabilityApi::Handle&,
                                 const std::shared_ptr<EventLoop>&) { return true; };
  api.release = [](const PLUReachabilityApi::Handle&) {};
  options.reachabilityApi = api;
  if (customize) customize(options);
  dispatcher_ = PLUBatchingDispatcher::create(std::move(options));
  worker_->runUntilIdle();
}

PLUDispatcherHarness::~PLUDispatcherHarness() {
  dispatcher_.reset();
  worker_->runUntilIdle();
  store_.reset();
  worker_->runUntilIdle();
  PLUURLConnection::setDryRun(false);
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
}

PLUHitMap PLUDispatcherHarness::eventHit(const std::string& label, const std::string& trackingId) {
  return {
      {"&t", "event"},
      {"&tid", trackingId},
      {"&cid", "35009a79-1a05-49d7-b876-2b884d0f825b"},
      {"&v", "1"},
      {"&_v", "mi3.1.7"},
      {"&ec", "video"},
      {"&ea", "play"},
      {"&el", label},
      {"&an", "LoomsetTests"},
      {"&av", "1.0"},
      {"&aid", "org.loomset.tests"},
      {"&ul", "en-us"},
      {"&sr", "2048x1536"},
      {"&dm", "x86_64"},
      {"&ds", "app"},
      {"&a", "1283476263"},
      {"&_crc", "0"},
      {"&_u", ".nL"},
      {"&z", "4611686018427387904"},
      {"pluVersion", "3.17"},
  };
}

void PLUDispatcherHarness::queue(PLUHitMap hit) {
  dispatcher_->queueDispatch(std::move(hit));
  worker_->runUntilIdle();
}

PLUDispatchOutcome PLUDispatcherHarness::dispatchAndWait() {
  auto outcome = std::make_shared<std::optional<PLUDispatchOutcome>>();
  dispatcher_->dispatchWithCompletionHandler([outcome](PLUDispatchOutcome o) { *outcome = o; });
  if (!driveUntil([&] { return outcome->has_value(); })) {
    ADD_FAILURE() << "the dispatch never completed";
    return kPLUDispatchFailed;
  }
  return **outcome;
}

bool PLUDispatcherHarness::driveUntil(const std::function<bool()>& condition) {
  return waitFor([&] {
    worker_->runUntilIdle();
    platform_.runUntilIdle();  // completion handlers and observers
    return condition();
  });
}

void PLUDispatcherHarness::setReachable(bool reachable) {
  if (*reachabilityCallback_) (*reachabilityCallback_)(reachable ? 0x2u : 0x0u);
  worker_->runUntilIdle();
}

}  // namespace loomset::testing
