// Inside network/: the system's socket headers and the few calls whose types
// or error reporting differ between BSD sockets (sockets_posix.cpp) and
// Windows Sockets (sockets_windows.cpp). sockets.cpp holds everything else
// over them, once for both.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstddef>

#include "network/sockets.h"

namespace cdt::socket_platform {

// The address area as the system's address type.
inline sockaddr* rawAddress(SocketAddress& a) {
  return reinterpret_cast<sockaddr*>(a.address);
}
inline const sockaddr* rawAddress(const SocketAddress& a) {
  return reinterpret_cast<const sockaddr*>(a.address);
}

// The common tail of every chainable call: `socket` when `callResult` (a
// system call's result) is 0; otherwise closes it, keeping the failed call's
// error for the caller, and gives -1, so a chain ends with no open socket.
int keepOrClose(int socket, int callResult);

// setsockopt at the socket level; the system call's result.
int setSocketOption(int socket, int option, const void* value, std::size_t size);

// bind to the sockaddr_in at the start of `address`; the system call's result.
int bindIpv4(int socket, const SocketAddress& address);

}  // namespace cdt::socket_platform
