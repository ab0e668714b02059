// The socket helpers over Windows Sockets: the same contracts as on POSIX,
// with Winsock's SOCKET numbers in an int and WSAEWOULDBLOCK as 0 bytes.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "network/sockets.h"

namespace cdt {
namespace {

class WindowsSockets : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketStartup(), 0); }
};

TEST_F(WindowsSockets, ResolvesNumbersAndNames) {
  SocketAddress a;
  ASSERT_TRUE(resolveAddress("127.0.0.1", 80, a));
  EXPECT_EQ(addressText(a), "127.0.0.1");
  EXPECT_EQ(addressPort(a), 80);
  EXPECT_TRUE(a.name.empty());
  ASSERT_TRUE(resolveAddress(nullptr, 7, a));
  EXPECT_EQ(addressText(a), "0.0.0.0");
  EXPECT_FALSE(localHostName().empty());
}

TEST_F(WindowsSockets, DatagramsChainBindAndWouldBlock) {
  EXPECT_EQ(setReuseAddress(-1), -1);
  uint16_t port = 0;
  int s = setNonBlocking(bindSocket(
      setBroadcast(setReuseAddress(static_cast<int>(socket(AF_INET, SOCK_DGRAM, 0)))), 0, &port));
  ASSERT_GE(s, 0);
  EXPECT_NE(port, 0);
  char buffer[32] = {};
  SocketAddress from;
  EXPECT_EQ(receiveDatagram(s, buffer, sizeof buffer, from), 0);

  SocketAddress to;
  ASSERT_TRUE(resolveAddress("127.0.0.1", port, to));
  EXPECT_EQ(sendDatagram(s, "hello, me", 9, to), 9);
  ssize_t received = 0;
  for (int i = 0; i < 200 && received == 0; ++i) {
    received = receiveDatagram(s, buffer, sizeof buffer, from);
    if (received == 0) Sleep(5);
  }
  EXPECT_EQ(received, 9);
  EXPECT_EQ(std::string(buffer, 9), "hello, me");
  EXPECT_TRUE(sameHost(from, to));
  EXPECT_EQ(addressPort(from), port);

  EXPECT_EQ(closeSocket(s), 0);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(closeSocket(s), 0);
}

}  // namespace
}  // namespace cdt
