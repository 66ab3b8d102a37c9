// Blocking socket helpers for the loopback servers of the tests.
#pragma once

#include <string>

namespace loomset::testing {

// A non-blocking listening socket on 127.0.0.1 and a free port (accepted sockets block); throws
// std::runtime_error on failure.
int listenOnLoopback(int* port);
// A connected socket to 127.0.0.1:port, or -1.
int connectToLoopback(int port);
bool writeAll(int fd, const std::string& bytes);
// Reads until the blank line that ends a request head; `head` gets everything up to and
// including it, `rest` what arrived after. False on EOF, error or an oversized head.
bool readHead(int fd, std::string* head, std::string* rest);
// Waits until `fd` can be read or `wakeFd` is readable (stop); true for `fd`.
bool waitReadable(int fd, int wakeFd);

}  // namespace loomset::testing
