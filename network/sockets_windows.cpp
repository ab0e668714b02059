// The socket helpers' calls over Windows Sockets 2.
#include <io.h>

#include <climits>
#include <mutex>

#include "network/socket_platform.h"
#include "network/sockets.h"

namespace cdt {

using socket_platform::keepOrClose;
using socket_platform::rawAddress;

namespace {

std::mutex gStartLock;
bool gStarted = false;

SOCKET handle(int socket) {
  return static_cast<SOCKET>(socket);
}

// Send and receive results: a would-block condition is not a failure for
// these callers, only "nothing moved this time".
ssize_t transferResult(int n) {
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
  return n;
}

// Winsock takes lengths as int.
int clampedLength(std::size_t length) {
  return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

namespace socket_platform {

int keepOrClose(int socket, int callResult) {
  if (callResult == 0) return socket;
  const int error = WSAGetLastError();
  closesocket(handle(socket));
  WSASetLastError(error);
  return -1;
}

int setSocketOption(int socket, int option, const void* value, std::size_t size) {
  return setsockopt(handle(socket), SOL_SOCKET, option, static_cast<const char*>(value),
                    clampedLength(size));
}

int bindIpv4(int socket, const SocketAddress& address) {
  return bind(handle(socket), rawAddress(address), sizeof(sockaddr_in));
}

}  // namespace socket_platform

bool localAddress(int socket, SocketAddress& out) {
  int size = sizeof out.address;
  return getsockname(handle(socket), rawAddress(out), &size) == 0;
}

int setNonBlocking(int socket) {
  if (socket < 0) return socket;
  u_long on = 1;
  return keepOrClose(socket, ioctlsocket(handle(socket), FIONBIO, &on));
}

ssize_t sendStream(int socket, const void* bytes, std::size_t length) {
  return transferResult(
      send(handle(socket), static_cast<const char*>(bytes), clampedLength(length), 0));
}

ssize_t receiveStream(int socket, void* buffer, std::size_t size) {
  return transferResult(recv(handle(socket), static_cast<char*>(buffer), clampedLength(size), 0));
}

ssize_t sendDatagram(int socket, const void* bytes, std::size_t length, const SocketAddress& to) {
  return transferResult(sendto(handle(socket), static_cast<const char*>(bytes),
                               clampedLength(length), 0, rawAddress(to), sizeof(sockaddr_in)));
}

ssize_t receiveDatagram(int socket, void* buffer, std::size_t size, SocketAddress& from) {
  from.name.clear();
  int addressSize = sizeof from.address;
  return transferResult(recvfrom(handle(socket), static_cast<char*>(buffer), clampedLength(size), 0,
                                 rawAddress(from), &addressSize));
}

int closeSocket(int& socket) {
  if (socket < 0) return 0;
  const int result = closesocket(handle(socket));
  socket = -1;
  return result;
}

// Every call that reaches Winsock starts it first; socketCleanup ends it.
int socketStartup() {
  const std::lock_guard<std::mutex> lock(gStartLock);
  if (gStarted) return 0;
  WSADATA data{};
  const int result = WSAStartup(MAKEWORD(2, 2), &data);
  gStarted = result == 0;
  return result;
}

int socketCleanup() {
  const std::lock_guard<std::mutex> lock(gStartLock);
  gStarted = false;
  return WSACleanup();
}

ssize_t readDescriptor(int descriptor, void* buffer, std::size_t size) {
  return _read(descriptor, buffer, static_cast<unsigned>(clampedLength(size)));
}

ssize_t writeDescriptor(int descriptor, const void* bytes, std::size_t size) {
  return _write(descriptor, bytes, static_cast<unsigned>(clampedLength(size)));
}

}  // namespace cdt
