// The POSIX side of the test helpers: scratch directories and running the
// built programs.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "test/support.h"

namespace cdt::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "cdt-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

bool fileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

namespace {

std::string drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory) {
  TempDir scratch;
  std::string outPath = scratch.file("out");
  std::string errPath = scratch.file("err");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || chdir(workingDirectory.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    // The memcheck tests run the program under Valgrind: an invalid access or
    // a definite or indirect leak makes it exit with 99, and the report goes
    // to its standard error, where the test sees it.
    const char* valgrind = std::getenv("CDT_VALGRIND");
    if (valgrind != nullptr && std::string_view(valgrind) == "1") {
      for (const char* word : {"valgrind", "-q", "--leak-check=full", "--error-exitcode=99",
                               "--errors-for-leak-kinds=definite,indirect"}) {
        argv.push_back(const_cast<char*>(word));
      }
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  int fd = open(outPath.c_str(), O_RDONLY);
  if (fd >= 0) {
    result.out = drain(fd);
    close(fd);
  }
  fd = open(errPath.c_str(), O_RDONLY);
  if (fd >= 0) {
    result.err = drain(fd);
    close(fd);
  }
  return result;
}

std::string builtProgram(const std::string& relativePath) {
  const char* dir = std::getenv("CDT_BUILD_DIR");
  std::string base = dir != nullptr ? dir : ".";
  return base + "/" + relativePath;
}

}  // namespace cdt::testing
