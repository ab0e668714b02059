#include "network/sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace cdt {
namespace {

// Open descriptors of this process (the directory's own one included each time).
int openDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  int count = 0;
  while (dir != nullptr && readdir(dir) != nullptr) ++count;
  if (dir != nullptr) closedir(dir);
  return count;
}

bool readable(int socket) {
  pollfd p{socket, POLLIN, 0};
  return poll(&p, 1, 2000) == 1;
}

SocketAddress loopback(uint16_t port) {
  SocketAddress a;
  EXPECT_TRUE(resolveAddress("127.0.0.1", port, a));
  return a;
}

TEST(SocketAddress, ResolvesNumbersNamesAndTheAnyAddress) {
  SocketAddress a;
  a.name = CountedString("stale");
  std::memset(a.address, 0xAA, sizeof a.address);
  ASSERT_TRUE(resolveAddress("127.0.0.1", 80, a));
  std::vector<unsigned char> expected(kSocketAddressSize, 0);
  const sa_family_t family = AF_INET;
  std::memcpy(expected.data(), &family, sizeof family);
  expected[3] = 80;  // port in network byte order
  expected[4] = 127;
  expected[7] = 1;
  EXPECT_EQ(std::vector<unsigned char>(a.address, a.address + kSocketAddressSize), expected);
  EXPECT_TRUE(a.name.empty());
  EXPECT_EQ(addressName(a), "127.0.0.1");
  EXPECT_EQ(addressPort(a), 80);

  for (const char* none : {static_cast<const char*>(nullptr), ""}) {
    a.name = CountedString("stale");
    ASSERT_TRUE(resolveAddress(none, 65535, a));
    EXPECT_EQ(addressText(a), "0.0.0.0");
    EXPECT_EQ(addressPort(a), 65535);
    EXPECT_TRUE(a.name.empty());
  }

  // Other numeric forms are numbers too: no name comes with them.
  for (const char* number : {"127.1", "0x7f.0.0.1", "127.0.0.1 "}) {
    a.name = CountedString("stale");
    ASSERT_TRUE(resolveAddress(number, 80, a)) << number;
    EXPECT_EQ(addressText(a), "127.0.0.1") << number;
    EXPECT_TRUE(a.name.empty()) << number;
  }

  ASSERT_TRUE(resolveAddress("localhost", 1234, a));
  EXPECT_FALSE(a.name.empty());
  EXPECT_EQ(a.address[4], 127);
  EXPECT_EQ(addressName(a), a.name);

  // These two texts are not taken as numbers directly; the name lookup reads
  // them and, unlike the direct path, names the address after them.
  for (const char* host : {"0.0.0.0", "255.255.255.255"}) {
    ASSERT_TRUE(resolveAddress(host, 7, a)) << host;
    EXPECT_EQ(addressText(a), host);
    EXPECT_EQ(addressPort(a), 7) << host;
    EXPECT_EQ(a.name, host);
  }
}

TEST(SocketAddress, ComparesAndLooksUpByTheIpv4AddressOnly) {
  SocketAddress a = loopback(80);
  SocketAddress b = loopback(81);
  b.name = CountedString("somewhere");
  EXPECT_TRUE(sameHost(a, b));
  SocketAddress c;
  ASSERT_TRUE(resolveAddress("127.0.0.2", 80, c));
  EXPECT_FALSE(sameHost(a, c));

  const CountedString viaCopy = reverseLookupCopy(a);
  EXPECT_TRUE(a.name.empty());
  EXPECT_EQ(reverseLookup(a), viaCopy);
  EXPECT_EQ(a.name, viaCopy);

  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(localHostName(), names.nodename);
}

TEST(SocketOptions, ChainEndsWithTheSocketOrWithNothingOpen) {
  const int before = openDescriptorCount();
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  uint16_t port = 0;
  int chained =
      bindSocket(setNonBlocking(setLinger(setBroadcast(setReuseAddress(s)), 1, 5)), 0, &port);
  ASSERT_EQ(chained, s);
  EXPECT_NE(port, 0);
  SocketAddress own;
  ASSERT_TRUE(localAddress(s, own));
  EXPECT_EQ(addressPort(own), port);

  // Without SO_REUSEADDR on both, the port is taken: the bind fails, closes
  // the socket, reports the requested port and the rest of the chain passes -1.
  uint16_t reported = 1;
  EXPECT_EQ(
      setLinger(bindSocket(setBroadcast(socket(AF_INET, SOCK_DGRAM, 0)), port, &reported), 1, 1),
      -1);
  EXPECT_EQ(reported, port);
  EXPECT_EQ(setBroadcast(-7), -7);
  EXPECT_EQ(bindSocket(-2, 0, &reported), -2);

  // A pipe is no socket: the option call fails and the descriptor is closed.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_EQ(setReuseAddress(ends[0]), -1);
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
  close(ends[1]);

  EXPECT_EQ(closeSocket(chained), 0);
  EXPECT_EQ(chained, -1);
  EXPECT_EQ(closeSocket(chained), 0);
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(Datagrams, ArriveWithTheSendersAddressAndWouldBlockGivesZero) {
  uint16_t port = 0;
  int s = setNonBlocking(bindSocket(socket(AF_INET, SOCK_DGRAM, 0), 0, &port));
  ASSERT_GE(s, 0);
  char buffer[32] = {};
  SocketAddress from;
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), 0);

  const SocketAddress to = loopback(port);
  EXPECT_EQ(sendDatagram(s, "hello, me", 9, to), 9);
  ASSERT_TRUE(readable(s));
  from.name = CountedString("stale");
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), 9);
  EXPECT_EQ(std::string(buffer, 9), "hello, me");
  EXPECT_TRUE(from.name.empty());
  EXPECT_TRUE(sameHost(from, to));
  EXPECT_EQ(addressPort(from), port);

  EXPECT_EQ(closeSocket(s), 0);
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), -1);
}

// A connected pair over a listening socket on the loopback interface.
struct StreamPair {
  int client = -1;
  int server = -1;
  StreamPair() {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    auto* raw = reinterpret_cast<sockaddr*>(&a);
    if (bind(listener, raw, sizeof a) == 0 && listen(listener, 1) == 0 &&
        getsockname(listener, raw, &size) == 0) {
      client = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(client, raw, sizeof a) == 0) server = accept(listener, nullptr, nullptr);
    }
    closeSocket(listener);
  }
  ~StreamPair() {
    closeSocket(client);
    closeSocket(server);
  }
};

TEST(Streams, CarryBytesAndReportWouldBlockAsZero) {
  StreamPair pair;
  ASSERT_GE(pair.server, 0);
  EXPECT_EQ(sendStream(pair.client, "ping", 4), 4);
  char buffer[16] = {};
  ASSERT_TRUE(readable(pair.server));
  EXPECT_EQ(receiveStream(pair.server, buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");

  ASSERT_EQ(setNonBlocking(pair.client), pair.client);
  EXPECT_EQ(receiveStream(pair.client, buffer, sizeof buffer), 0);
  // Nobody reads the server side, so the buffers fill and a send must
  // eventually report 0 instead of blocking.
  std::vector<char> chunk(std::size_t{64} * 1024, 'x');
  ssize_t last = 1;
  for (int i = 0; i < 10000 && last > 0; ++i) last = sendStream(pair.client, chunk.data(), 65536);
  EXPECT_EQ(last, 0);
}

TEST(Streams, SendingToAClosedPeerFailsWithoutASignal) {
  StreamPair pair;
  ASSERT_GE(pair.server, 0);
  ASSERT_EQ(closeSocket(pair.server), 0);
  char buffer[4];
  ASSERT_TRUE(readable(pair.client));
  EXPECT_EQ(receiveStream(pair.client, buffer, sizeof buffer), 0);
  // The first send may still be accepted; the reset that answers it makes a
  // later one fail. A SIGPIPE would end the test program here.
  ssize_t result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) {
    result = sendStream(pair.client, "data", 4);
    if (result >= 0) usleep(1000);
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

}  // namespace
}  // namespace cdt
