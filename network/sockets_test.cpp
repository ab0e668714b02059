#include "network/sockets.h"

#include <arpa/inet.h>
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

// Open descriptors of this process; the directory's own descriptor is counted
// every time, so differences are exact.
int openDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

bool isOpen(int descriptor) {
  return fcntl(descriptor, F_GETFD) != -1;
}

bool readable(int socket, int timeoutMs = 2000) {
  pollfd p{socket, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

sockaddr_in rawLoopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

std::vector<unsigned char> bytesOf(const SocketAddress& a) {
  return {a.address, a.address + kSocketAddressSize};
}

SocketAddress loopback(uint16_t port) {
  SocketAddress a;
  EXPECT_TRUE(resolveAddress("127.0.0.1", port, a));
  return a;
}

TEST(SocketAddress, NumericHostGivesExactAreaAndNoName) {
  SocketAddress a;
  a.name = CountedString("stale");
  std::memset(a.address, 0xAA, sizeof a.address);
  ASSERT_TRUE(resolveAddress("127.0.0.1", 80, a));

  std::vector<unsigned char> expected(kSocketAddressSize, 0);
  const sa_family_t family = AF_INET;
  std::memcpy(expected.data(), &family, sizeof family);
  expected[2] = 0;  // port 80, network byte order
  expected[3] = 80;
  expected[4] = 127;
  expected[7] = 1;
  EXPECT_EQ(bytesOf(a), expected);
  EXPECT_TRUE(a.name.empty());
  EXPECT_EQ(addressText(a), "127.0.0.1");
  EXPECT_EQ(addressName(a), "127.0.0.1");
  EXPECT_EQ(addressPort(a), 80);
}

TEST(SocketAddress, NoHostTextGivesAnyAddress) {
  for (const char* host : {static_cast<const char*>(nullptr), ""}) {
    SocketAddress a;
    a.name = CountedString("stale");
    ASSERT_TRUE(resolveAddress(host, 65535, a));
    EXPECT_EQ(addressText(a), "0.0.0.0");
    EXPECT_EQ(addressPort(a), 65535);
    EXPECT_TRUE(a.name.empty());
  }
}

TEST(SocketAddress, AllZeroAndAllOnesTextsGoThroughLookupConsistently) {
  for (const char* host : {"0.0.0.0", "255.255.255.255"}) {
    SocketAddress first;
    SocketAddress second;
    const bool ok1 = resolveAddress(host, 7, first);
    const bool ok2 = resolveAddress(host, 7, second);
    EXPECT_EQ(ok1, ok2) << host;
    EXPECT_EQ(bytesOf(first), bytesOf(second)) << host;
    EXPECT_EQ(first.name, second.name) << host;
    EXPECT_EQ(addressPort(first), 7) << host;
  }
}

TEST(SocketAddress, LocalhostResolvesByNameAndKeepsTheName) {
  SocketAddress a;
  ASSERT_TRUE(resolveAddress("localhost", 1234, a));
  EXPECT_FALSE(a.name.empty());
  EXPECT_EQ(a.address[4], 127);
  EXPECT_EQ(addressPort(a), 1234);
  EXPECT_EQ(addressName(a), a.name);
  EXPECT_NE(addressText(a), a.name);
}

TEST(SocketAddress, SameHostComparesOnlyTheIpv4Address) {
  SocketAddress a = loopback(80);
  SocketAddress b = loopback(81);
  b.name = CountedString("somewhere");
  SocketAddress c;
  ASSERT_TRUE(resolveAddress("127.0.0.2", 80, c));
  EXPECT_TRUE(sameHost(a, b));
  EXPECT_FALSE(sameHost(a, c));
}

TEST(SocketAddress, ReverseLookupCopyLeavesTheAddressAlone) {
  SocketAddress a = loopback(80);
  const CountedString viaCopy = reverseLookupCopy(a);
  EXPECT_TRUE(a.name.empty());

  const CountedString direct = reverseLookup(a);
  EXPECT_EQ(direct, viaCopy);
  EXPECT_EQ(a.name, direct);
  EXPECT_EQ(addressPort(a), 80);
  EXPECT_EQ(addressText(a), "127.0.0.1");
}

TEST(SocketAddress, LocalHostNameIsTheKernelNodeName) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(localHostName(), names.nodename);
}

TEST(SocketOptions, ChainKeepsTheSocketOrEndsClosed) {
  const int before = openDescriptorCount();

  int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  int chained = setNonBlocking(setLinger(setBroadcast(setReuseAddress(s)), 1, 5));
  EXPECT_EQ(chained, s);
  uint16_t port = 0;
  chained = bindSocket(chained, 0, &port);
  ASSERT_EQ(chained, s);

  // A second socket cannot take the same port without SO_REUSEADDR on both:
  // the bind fails, the socket is closed and the rest of the chain passes -1.
  int t = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(t, 0);
  uint16_t reported = 1;
  int failed = setLinger(bindSocket(setBroadcast(t), port, &reported), 1, 1);
  EXPECT_EQ(failed, -1);
  EXPECT_EQ(reported, port);
  EXPECT_FALSE(isOpen(t));
  EXPECT_EQ(setNonBlocking(setReuseAddress(-1)), -1);
  EXPECT_EQ(setBroadcast(-7), -7);
  uint16_t untouched = 99;
  EXPECT_EQ(bindSocket(-2, 0, &untouched), -2);
  EXPECT_EQ(untouched, 99);

  EXPECT_EQ(closeSocket(chained), 0);
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SocketOptions, FailedOptionClosesTheDescriptor) {
  const int before = openDescriptorCount();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  // A pipe is no socket: the option call fails and the descriptor goes.
  EXPECT_EQ(setBroadcast(setReuseAddress(ends[0])), -1);
  EXPECT_FALSE(isOpen(ends[0]));
  close(ends[1]);
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SocketOptions, BindReportsTheAssignedPort) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  uint16_t port = 0;
  s = bindSocket(s, 0, &port);
  ASSERT_GE(s, 0);
  EXPECT_NE(port, 0);
  SocketAddress own;
  ASSERT_TRUE(localAddress(s, own));
  EXPECT_EQ(addressPort(own), port);
  EXPECT_EQ(addressText(own), "0.0.0.0");
  EXPECT_EQ(closeSocket(s), 0);

  SocketAddress none;
  EXPECT_FALSE(localAddress(-1, none));
}

TEST(Datagrams, SentToOneselfArriveWithTheSendersAddress) {
  uint16_t port = 0;
  int s = bindSocket(socket(AF_INET, SOCK_DGRAM, 0), 0, &port);
  ASSERT_GE(s, 0);
  const SocketAddress to = loopback(port);

  EXPECT_EQ(sendDatagram(s, "hello, me", 9, to), 9);
  ASSERT_TRUE(readable(s));
  char buffer[32] = {};
  SocketAddress from;
  from.name = CountedString("stale");
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), 9);
  EXPECT_EQ(std::string(buffer, 9), "hello, me");
  EXPECT_TRUE(from.name.empty());
  EXPECT_TRUE(sameHost(from, to));
  EXPECT_EQ(addressPort(from), port);

  // A datagram larger than the buffer is cut to the buffer's size.
  EXPECT_EQ(sendDatagram(s, "0123456789", 10, to), 10);
  ASSERT_TRUE(readable(s));
  char small[4];
  EXPECT_EQ(receiveDatagram(s, small, sizeof small, from), 4);
  EXPECT_EQ(std::string(small, 4), "0123");

  EXPECT_EQ(closeSocket(s), 0);
}

TEST(Datagrams, WouldBlockGivesZeroAndErrorsGiveMinusOne) {
  int s = setNonBlocking(bindSocket(socket(AF_INET, SOCK_DGRAM, 0), 0, nullptr));
  ASSERT_GE(s, 0);
  char buffer[8];
  SocketAddress from;
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), 0);
  EXPECT_EQ(closeSocket(s), 0);

  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), -1);
  EXPECT_EQ(sendDatagram(s, "x", 1, loopback(9)), -1);
}

// A connected pair over a listening socket on the loopback interface.
struct StreamPair {
  int client = -1;
  int server = -1;

  StreamPair() {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = rawLoopback(0);
    socklen_t size = sizeof a;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
      closeSocket(listener);
      return;
    }
    client = socket(AF_INET, SOCK_STREAM, 0);
    if (client >= 0 && connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      server = accept(listener, nullptr, nullptr);
    }
    closeSocket(listener);
  }
  ~StreamPair() {
    closeSocket(client);
    closeSocket(server);
  }
  StreamPair(const StreamPair&) = delete;
  StreamPair& operator=(const StreamPair&) = delete;
};

TEST(Streams, BytesTravelBothWays) {
  StreamPair pair;
  ASSERT_GE(pair.server, 0);
  EXPECT_EQ(sendStream(pair.client, "ping", 4), 4);
  char buffer[16] = {};
  ASSERT_TRUE(readable(pair.server));
  EXPECT_EQ(receiveStream(pair.server, buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");

  EXPECT_EQ(sendStream(pair.server, "pong!", 5), 5);
  ASSERT_TRUE(readable(pair.client));
  EXPECT_EQ(receiveStream(pair.client, buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "pong!");

  SocketAddress own;
  ASSERT_TRUE(localAddress(pair.client, own));
  EXPECT_EQ(addressText(own), "127.0.0.1");
}

TEST(Streams, WouldBlockGivesZeroInBothDirections) {
  StreamPair pair;
  ASSERT_GE(pair.server, 0);
  ASSERT_EQ(setNonBlocking(pair.client), pair.client);
  char buffer[16];
  EXPECT_EQ(receiveStream(pair.client, buffer, sizeof buffer), 0);

  // Nobody reads the server side, so the buffers fill and a send must
  // eventually report 0 instead of blocking.
  std::vector<char> chunk(64 * 1024, 'x');
  ssize_t last = 1;
  for (int i = 0; i < 10000 && last > 0; ++i)
    last = sendStream(pair.client, chunk.data(), chunk.size());
  EXPECT_EQ(last, 0);
}

TEST(Streams, SendingToAClosedPeerFailsWithoutASignal) {
  StreamPair pair;
  ASSERT_GE(pair.server, 0);
  ASSERT_EQ(closeSocket(pair.server), 0);
  char buffer[4];
  ASSERT_TRUE(readable(pair.client));
  EXPECT_EQ(receiveStream(pair.client, buffer, sizeof buffer), 0);  // orderly close

  // The first send may still be accepted; the reset that answers it makes a
  // later one fail. Without MSG_NOSIGNAL this would kill the process.
  ssize_t result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) {
    result = sendStream(pair.client, "data", 4);
    if (result >= 0) usleep(1000);
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

TEST(Descriptors, CloseTwiceAndUnbufferedIo) {
  const int before = openDescriptorCount();
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  EXPECT_EQ(closeSocket(s), 0);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(closeSocket(s), 0);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(socketCleanup(), 0);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_EQ(writeDescriptor(ends[1], "abc", 3), 3);
  char buffer[8];
  EXPECT_EQ(readDescriptor(ends[0], buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  closeSocket(ends[0]);
  closeSocket(ends[1]);
  EXPECT_EQ(readDescriptor(ends[0], buffer, sizeof buffer), -1);
  EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
}  // namespace cdt
