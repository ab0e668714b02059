// The socket helpers' calls over BSD sockets.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "network/socket_platform.h"
#include "network/sockets.h"

namespace cdt {

using socket_platform::keepOrClose;
using socket_platform::rawAddress;

namespace {

bool wouldBlock(int error) {
  return error == EWOULDBLOCK || error == EAGAIN;
}

// Send and receive results: a would-block condition is not a failure for
// these callers, only "nothing moved this time".
ssize_t transferResult(ssize_t n) {
  if (n < 0 && wouldBlock(errno)) return 0;
  return n;
}

}  // namespace

namespace socket_platform {

int keepOrClose(int socket, int callResult) {
  if (callResult == 0) return socket;
  const int error = errno;
  close(socket);
  errno = error;
  return -1;
}

int setSocketOption(int socket, int option, const void* value, std::size_t size) {
  return setsockopt(socket, SOL_SOCKET, option, value, static_cast<socklen_t>(size));
}

int bindIpv4(int socket, const SocketAddress& address) {
  return bind(socket, rawAddress(address), sizeof(sockaddr_in));
}

}  // namespace socket_platform

bool localAddress(int socket, SocketAddress& out) {
  socklen_t size = sizeof out.address;
  return getsockname(socket, rawAddress(out), &size) == 0;
}

int setNonBlocking(int socket) {
  if (socket < 0) return socket;
  int on = 1;
  return keepOrClose(socket, ioctl(socket, FIONBIO, &on));
}

ssize_t sendStream(int socket, const void* bytes, std::size_t length) {
  return transferResult(send(socket, bytes, length, MSG_NOSIGNAL));
}

ssize_t receiveStream(int socket, void* buffer, std::size_t size) {
  return transferResult(recv(socket, buffer, size, 0));
}

ssize_t sendDatagram(int socket, const void* bytes, std::size_t length, const SocketAddress& to) {
  return transferResult(
      sendto(socket, bytes, length, MSG_NOSIGNAL, rawAddress(to), sizeof(sockaddr_in)));
}

ssize_t receiveDatagram(int socket, void* buffer, std::size_t size, SocketAddress& from) {
  from.name.clear();
  socklen_t addressSize = sizeof from.address;
  return transferResult(recvfrom(socket, buffer, size, 0, rawAddress(from), &addressSize));
}

int closeSocket(int& socket) {
  if (socket < 0) return 0;
  const int result = close(socket);
  // Linux releases the descriptor even when close reports an error, so the
  // variable must not keep it.
  socket = -1;
  return result;
}

int socketStartup() {
  return 0;
}

int socketCleanup() {
  return 0;
}

ssize_t readDescriptor(int descriptor, void* buffer, std::size_t size) {
  return read(descriptor, buffer, size);
}

ssize_t writeDescriptor(int descriptor, const void* bytes, std::size_t size) {
  return write(descriptor, bytes, size);
}

}  // namespace cdt
