#include "network/sockets.h"

// The socket helpers over Windows Sockets 2.
#include <io.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

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

std::mutex gStartLock;
bool gStarted = false;

// Every call that reaches Winsock starts it first; socketCleanup ends it.
int startWinsock() {
  const std::lock_guard<std::mutex> lock(gStartLock);
  if (gStarted) return 0;
  WSADATA data{};
  const int result = WSAStartup(MAKEWORD(2, 2), &data);
  gStarted = result == 0;
  return result;
}

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

// The common tail of every chainable call: keep the socket on success, close
// it on failure so the chain ends with no open descriptor.
int keepOrClose(int socket, int callResult) {
  if (callResult == 0) return socket;
  // The caller sees the error of the failed call, not of the clean-up.
  const int error = WSAGetLastError();
  closesocket(handle(socket));
  WSASetLastError(error);
  return -1;
}

int setIntOption(int socket, int option, int value) {
  if (socket < 0) return socket;
  return keepOrClose(socket, setsockopt(handle(socket), SOL_SOCKET, option,
                                        reinterpret_cast<const char*>(&value), sizeof value));
}

// Looks `host` up as an IPv4 host name; on success stores the first address
// and the official name.
bool lookUpHost(const char* host, SocketAddress& out) {
  startWinsock();
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
  startWinsock();
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
  int size = sizeof out.address;
  return getsockname(handle(socket), rawAddress(out), &size) == 0;
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
  return keepOrClose(socket, setsockopt(handle(socket), SOL_SOCKET, SO_LINGER,
                                        reinterpret_cast<const char*>(&value), sizeof value));
}

int setNonBlocking(int socket) {
  if (socket < 0) return socket;
  u_long on = 1;
  return keepOrClose(socket, ioctlsocket(handle(socket), FIONBIO, &on));
}

int bindSocket(int socket, uint16_t port, uint16_t* boundPort) {
  if (socket < 0) return socket;
  SocketAddress any;
  // Without a host text resolveAddress cannot fail.
  (void)resolveAddress(nullptr, port, any);
  socket = keepOrClose(socket, bind(handle(socket), rawAddress(any), sizeof(sockaddr_in)));
  if (boundPort != nullptr) {
    SocketAddress bound;
    *boundPort = socket >= 0 && localAddress(socket, bound) ? addressPort(bound) : port;
  }
  return socket;
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

int socketStartup() {
  return startWinsock();
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
