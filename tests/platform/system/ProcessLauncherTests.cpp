#include "platform/system/ProcessLauncher.hpp"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TempDir.hpp"

namespace platform {
namespace {

// A safety net for a child that never ends, not a timing assumption.
constexpr auto kSafetyNet = std::chrono::seconds(30);

// Launches and hands back the future of the child's wait status.
std::future<int> launchAndWatch(const std::string &program, std::vector<std::string> arguments) {
  auto ended = std::make_shared<std::promise<int>>();
  auto status = ended->get_future();
  ProcessLauncher::launch(program, std::move(arguments),
                          [ended](int waitStatus) { ended->set_value(waitStatus); });
  return status;
}

struct ExitCase {
  std::string program;
  int exitCode;
};

TEST(ProcessLauncherTest, ReapsEachChildAndReportsHowItEnded) {
  // By path and by name on PATH.
  for (const ExitCase &c : {ExitCase{"/bin/true", 0}, ExitCase{"false", 1}}) {
    SCOPED_TRACE(c.program);
    auto status = launchAndWatch(c.program, {});
    ASSERT_EQ(status.wait_for(kSafetyNet), std::future_status::ready);
    const int waitStatus = status.get();
    EXPECT_TRUE(WIFEXITED(waitStatus));
    EXPECT_EQ(WEXITSTATUS(waitStatus), c.exitCode);
  }
}

TEST(ProcessLauncherTest, ReturnsWhileTheChildStillRuns) {
  mqtest::TempDir temp;
  const auto gate = temp / "gate";
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  // The child blocks until the test opens the pipe's other end.
  auto status = launchAndWatch("/bin/cat", {"cat", gate.string()});
  EXPECT_EQ(status.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  ::close(::open(gate.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_EQ(status.wait_for(kSafetyNet), std::future_status::ready);
  EXPECT_TRUE(WIFEXITED(status.get()));
}

TEST(ProcessLauncherTest, AProgramThatDoesNotExistThrowsNamingIt) {
  for (const std::string program : {"/nonexistent/murmurquill", "murmurquill-no-such-program"}) {
    SCOPED_TRACE(program);
    try {
      ProcessLauncher::launch(program, {}, [](int) { ADD_FAILURE() << "no child to end"; });
      FAIL() << "started a program that does not exist";
    } catch (const LaunchError &error) {
      EXPECT_EQ(std::string(error.what()),
                "Could not start " + program + ": No such file or directory");
    }
  }
}

} // namespace
} // namespace platform
