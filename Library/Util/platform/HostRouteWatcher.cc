#include "Library/Util/platform/HostRouteWatcher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

namespace loomset {

namespace {

bool isCellularInterface(const std::string& name) {
  for (const char* prefix : {"wwan", "rmnet", "ccmni"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

bool sameAddress(const sockaddr* a, const sockaddr* b) {
  if (!a || !b || a->sa_family != b->sa_family) return false;
  if (a->sa_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
  }
  if (a->sa_family == AF_INET6) {
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr, sizeof(in6_addr)) == 0;
  }
  return false;
}

// The name of the interface that owns a local address, if any.
std::optional<std::string> interfaceOwning(const sockaddr* local) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::string> name;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (sameAddress(it->ifa_addr, local)) {
      name = it->ifa_name;
      break;
    }
  }
  ::freeifaddrs(list);
  return name;
}

// Flags for one resolved address: a connected datagram socket asks the kernel for a route
// without a packet leaving the machine.
std::uint32_t flagsForAddress(const addrinfo& address) {
  const int fd = ::socket(address.ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_storage target{};
  std::memcpy(&target, address.ai_addr, address.ai_addrlen);
  // Any port will do; 0 is refused by connect on some kernels.
  if (target.ss_family == AF_INET) reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(9);
  if (target.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(9);
  }
  std::uint32_t flags = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&target), address.ai_addrlen) == 0) {
    flags = kMOXReachabilityFlagReachable;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
      const auto name = interfaceOwning(reinterpret_cast<sockaddr*>(&local));
      if (name && isCellularInterface(*name)) flags |= kMOXReachabilityFlagIsWWAN;
      if (name && *name == "lo") flags |= kMOXReachabilityFlagIsLocalAddress;
    }
  }
  ::close(fd);
  return flags;
}

int openRouteMonitor() {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups =
      RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void drain(int fd) {
  char buffer[8192];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

// Shared by the watcher and its thread, so that `stop` never has to wait for a blocked lookup:
// the thread finishes on its own and releases the state last.
struct HostRouteWatcher::State {
  std::atomic<bool> stopped{false};
  int wake[2] = {-1, -1};
  FlagsCallback callback;

  ~State() {
    if (wake[0] >= 0) ::close(wake[0]);
    if (wake[1] >= 0) ::close(wake[1]);
  }
};

std::uint32_t HostRouteWatcher::probe(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* results = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0) return 0;
  std::uint32_t flags = 0;
  for (addrinfo* it = results; it && !flags; it = it->ai_next) flags = flagsForAddress(*it);
  ::freeaddrinfo(results);
  return flags;
}

HostRouteWatcher::HostRouteWatcher(std::string host, std::shared_ptr<EventLoop> deliveryLoop,
                                   double recheckSeconds)
    : host_(std::move(host)),
      deliveryLoop_(std::move(deliveryLoop)),
      recheckSeconds_(recheckSeconds > 0 ? recheckSeconds : 30.0) {}

HostRouteWatcher::~HostRouteWatcher() {
  stop();
}

bool HostRouteWatcher::start(FlagsCallback callback) {
  if (state_ || host_.empty() || !deliveryLoop_ || !callback) return false;
  auto state = std::make_shared<State>();
  if (::pipe2(state->wake, O_CLOEXEC) != 0) return false;
  state->callback = std::move(callback);
  state_ = state;

  std::thread([state, host = host_, loop = deliveryLoop_,
               timeoutMs = static_cast<int>(recheckSeconds_ * 1000)] {
    const int monitor = openRouteMonitor();
    std::optional<std::uint32_t> last;
    while (!state->stopped.load()) {
      const std::uint32_t flags = probe(host);
      if (state->stopped.load()) break;
      if (!last || *last != flags) {
        last = flags;
        loop->post([state, flags] {
          if (!state->stopped.load()) state->callback(flags);
        });
      }
      pollfd fds[2] = {{state->wake[0], POLLIN, 0}, {monitor, POLLIN, 0}};
      const int ready = ::poll(fds, monitor >= 0 ? 2 : 1, timeoutMs);
      if (ready < 0 && errno != EINTR) break;
      if (fds[0].revents) break;
      if (monitor >= 0 && fds[1].revents) drain(monitor);
    }
    if (monitor >= 0) ::close(monitor);
  }).detach();
  return true;
}

void HostRouteWatcher::stop() {
  if (!state_) return;
  state_->stopped.store(true);
  const char wake = 1;
  (void)!::write(state_->wake[1], &wake, 1);
  state_.reset();
}

}  // namespace loomset
