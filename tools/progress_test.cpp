// The progress line: drawn on a terminal, never on a file or a pipe.
#include "tools/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace cdt {
namespace {

// Everything the terminal's other side has been sent so far.
std::string drain(int master) {
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

TEST(CdtProgress, DrawsOnATerminalOnly) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressLine progress(file, "synth:", "revolutions", 10);
    EXPECT_FALSE(progress.active());
    progress.update(5);
  }
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminal to draw on";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ASSERT_EQ(fcntl(master, F_SETFL, O_NONBLOCK), 0);
  FILE* terminal = std::fopen(ptsname(master), "w");
  ASSERT_NE(terminal, nullptr);
  {
    ProgressLine progress(terminal, "synth:", "revolutions", 10);
    EXPECT_TRUE(progress.active());
    progress.update(5);
    // Redrawn at most every 1024 calls, and the clock is not read between.
    for (int i = 0; i < 100; ++i) progress.update(6);
    EXPECT_EQ(drain(master), "\rsynth: 5 of 10 revolutions (50%)\033[K");
  }
  // Cleared when the work is done.
  EXPECT_EQ(drain(master), "\r\033[K");

  {
    ProgressLine progress(terminal, "info: read", "bytes", 0);
    progress.update(1234);
  }
  EXPECT_EQ(drain(master), "\rinfo: read 1234 bytes\033[K\r\033[K");
  std::fclose(terminal);
  close(master);
}

}  // namespace
}  // namespace cdt
