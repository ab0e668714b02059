#include "network/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/host_name.h"

namespace cdt {
namespace {

// Offsets of the sockaddr_in fields inside the 64-byte area. The fields are
// copied in and out with memcpy so that no code depends on the area being
// accessed through a sockaddr_in lvalue.
constexpr std::size_t kPortOffset = offsetof(sockaddr_in, sin_port);
constexpr std::size_t kIpv4Offset = offsetof(sockaddr_in, sin_addr);

static_assert(sizeof(sockaddr_in) <= kSocketAddressSize);

sockaddr* rawAddress(SocketAddress& a) {
  return reinterpret_cast<sockaddr*>(a.address);
}
const sockaddr* rawAddress(const SocketAddress& a) {
  return reinterpret_cast<const sockaddr*>(a.address);
}

in_addr ipv4Of(const SocketAddress& a) {
  in_addr ip;
  std::memcpy(&ip, a.address + kIpv4Offset, sizeof ip);
  return ip;
}

void setIpv4(SocketAddress& a, in_addr ip) {
  std::memcpy(a.address + kIpv4Offset, &ip, sizeof ip);
}

bool wouldBlock(int error) {
  return error == EWOULDBLOCK || error == EAGAIN;
}

// Send and receive results: a would-block condition is not a failure for
// these callers, only "nothing moved this time".
ssize_t transferResult(ssize_t n) {
  if (n < 0 && wouldBlock(errno)) return 0;
  return n;
}

// The common tail of every chainable call: keep the socket on success, close
// it on failure so the chain ends with no open descriptor.
int keepOrClose(int socket, int callResult) {
  if (callResult == 0) return socket;
  // The caller sees errno of the failed call, not of the clean-up.
  const int error = errno;
  close(socket);
  errno = error;
  return -1;
}

int setIntOption(int socket, int option, int value) {
  if (socket < 0) return socket;
  return keepOrClose(socket, setsockopt(socket, SOL_SOCKET, option, &value, sizeof value));
}

// Looks `host` up as an IPv4 host name; on success stores the first address
// and the official name.
bool lookUpHost(const char* host, SocketAddress& out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // Restricting the socket type keeps one entry per address instead of one
  // per protocol.
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) return false;
  bool found = false;
  if (result->ai_family == AF_INET && result->ai_addr != nullptr &&
      result->ai_addrlen >= sizeof(sockaddr_in)) {
    sockaddr_in foundAddress;
    std::memcpy(&foundAddress, result->ai_addr, sizeof foundAddress);
    setIpv4(out, foundAddress.sin_addr);
    if (result->ai_canonname != nullptr) out.name = CountedString(result->ai_canonname);
    found = true;
  }
  freeaddrinfo(result);
  return found;
}

}  // namespace

CountedString localHostName() {
  return localComputerName();
}

bool resolveAddress(const char* host, uint16_t port, SocketAddress& out) {
  out.name.clear();
  std::memset(out.address, 0, sizeof out.address);
  sockaddr_in head{};
  head.sin_family = AF_INET;
  head.sin_port = htons(port);
  std::memcpy(out.address, &head, sizeof head);

  if (host == nullptr || host[0] == '\0') return true;

  // inet_addr reads every numeric form (127.1, 0x7f.0.0.1, ...) that a host
  // name lookup would also read, so such texts get no name. Its error value
  // is the all-ones address, and the all-zero address is not used either:
  // both go through the name lookup, which still accepts them as numbers.
  in_addr ip{};
  ip.s_addr = inet_addr(host);
  if (ip.s_addr != INADDR_NONE && ip.s_addr != INADDR_ANY) {
    setIpv4(out, ip);
    return true;
  }
  return lookUpHost(host, out);
}

CountedString reverseLookup(SocketAddress& address) {
  sockaddr_in query{};
  query.sin_family = AF_INET;
  query.sin_addr = ipv4Of(address);
  char host[NI_MAXHOST];
  // NI_NAMEREQD: a host without a name is "not found", never its numeric form.
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&query), sizeof query, host, sizeof host,
                  nullptr, 0, NI_NAMEREQD) != 0) {
    address.name.clear();
    return {};
  }
  host[sizeof host - 1] = '\0';
  address.name = CountedString(host);
  return address.name;
}

CountedString reverseLookupCopy(const SocketAddress& address) {
  SocketAddress copy = address;
  return reverseLookup(copy);
}

bool sameHost(const SocketAddress& a, const SocketAddress& b) {
  return std::memcmp(a.address + kIpv4Offset, b.address + kIpv4Offset, sizeof(in_addr)) == 0;
}

CountedString addressText(const SocketAddress& address) {
  const in_addr ip = ipv4Of(address);
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &ip, text, sizeof text) == nullptr) return {};
  return CountedString(text);
}

CountedString addressName(const SocketAddress& address) {
  if (!address.name.empty()) return address.name;
  return addressText(address);
}

uint16_t addressPort(const SocketAddress& address) {
  uint16_t port;
  std::memcpy(&port, address.address + kPortOffset, sizeof port);
  return ntohs(port);
}

bool localAddress(int socket, SocketAddress& out) {
  socklen_t size = sizeof out.address;
  return getsockname(socket, rawAddress(out), &size) == 0;
}

int setReuseAddress(int socket) {
  return setIntOption(socket, SO_REUSEADDR, 1);
}

int setBroadcast(int socket) {
  return setIntOption(socket, SO_BROADCAST, 1);
}

int setLinger(int socket, uint8_t on, uint16_t seconds) {
  if (socket < 0) return socket;
  linger value{};
  value.l_onoff = on;
  value.l_linger = seconds;
  return keepOrClose(socket, setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value));
}

int setNonBlocking(int socket) {
  if (socket < 0) return socket;
  int on = 1;
  return keepOrClose(socket, ioctl(socket, FIONBIO, &on));
}

int bindSocket(int socket, uint16_t port, uint16_t* boundPort) {
  if (socket < 0) return socket;
  SocketAddress any;
  // Without a host text resolveAddress cannot fail.
  (void)resolveAddress(nullptr, port, any);
  socket = keepOrClose(socket, bind(socket, rawAddress(any), sizeof(sockaddr_in)));
  if (boundPort != nullptr) {
    SocketAddress bound;
    *boundPort = socket >= 0 && localAddress(socket, bound) ? addressPort(bound) : port;
  }
  return socket;
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
