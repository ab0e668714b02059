// The socket helpers that read and write the address area and chain the
// option calls: the same over both platforms' socket libraries.
#include "network/sockets.h"

#include <cstring>

#include "foundation/host_name.h"
#include "network/socket_platform.h"

namespace cdt {

using socket_platform::bindIpv4;
using socket_platform::keepOrClose;
using socket_platform::setSocketOption;

namespace {

// Offsets of the sockaddr_in fields inside the 64-byte area. The fields are
// copied in and out with memcpy so that no code depends on the area being
// accessed through a sockaddr_in lvalue.
constexpr std::size_t kPortOffset = offsetof(sockaddr_in, sin_port);
constexpr std::size_t kIpv4Offset = offsetof(sockaddr_in, sin_addr);

static_assert(sizeof(sockaddr_in) <= kSocketAddressSize);

in_addr ipv4Of(const SocketAddress& a) {
  in_addr ip;
  std::memcpy(&ip, a.address + kIpv4Offset, sizeof ip);
  return ip;
}

void setIpv4(SocketAddress& a, in_addr ip) {
  std::memcpy(a.address + kIpv4Offset, &ip, sizeof ip);
}

int setIntOption(int socket, int option, int value) {
  if (socket < 0) return socket;
  return keepOrClose(socket, setSocketOption(socket, option, &value, sizeof value));
}

// Looks `host` up as an IPv4 host name; on success stores the first address
// and the official name.
bool lookUpHost(const char* host, SocketAddress& out) {
  // Windows Sockets must be started before a name lookup.
  (void)socketStartup();
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
  (void)socketStartup();
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
  return keepOrClose(socket, setSocketOption(socket, SO_LINGER, &value, sizeof value));
}

int bindSocket(int socket, uint16_t port, uint16_t* boundPort) {
  if (socket < 0) return socket;
  SocketAddress any;
  // Without a host text resolveAddress cannot fail.
  (void)resolveAddress(nullptr, port, any);
  socket = keepOrClose(socket, bindIpv4(socket, any));
  if (boundPort != nullptr) {
    SocketAddress bound;
    *boundPort = socket >= 0 && localAddress(socket, bound) ? addressPort(bound) : port;
  }
  return socket;
}

}  // namespace cdt
