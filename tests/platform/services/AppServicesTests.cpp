#include "platform/services/ApplicationLauncher.hpp"
#include "platform/services/AutostartLoginItemService.hpp"
#include "platform/services/InMemorySettings.hpp"
#include "platform/services/Updater.hpp"
#include "platform/system/RunLoop.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

namespace platform {
namespace {

class AutostartTest : public ::testing::Test {
protected:
  AutostartTest() {
    executable = temp.write("bin/murmur quill", "#!/bin/sh\n");
    options.autostartDirectory = temp / "config" / "autostart";
    options.executable = executable;
  }

  mqtest::TempDir temp;
  std::filesystem::path executable;
  AutostartLoginItemService::Options options;
};

TEST_F(AutostartTest, RegisteringWritesAnEntryThatStartsTheExecutable) {
  AutostartLoginItemService service(options);
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  service.registerItem();
  EXPECT_EQ(service.status(), LoginItemStatus::enabled);
  const std::string entry = mqtest::TempDir::read(service.entryPath());
  EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\nName=Murmurquill\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"" + executable.string() + "\"\n"), std::string::npos) << entry;
  EXPECT_FALSE(std::filesystem::exists(service.entryPath().string() + ".tmp"));
  service.unregisterItem();
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  EXPECT_NO_THROW(service.unregisterItem()) << "an absent entry is no error";
}

TEST_F(AutostartTest, TheEntryKeepsTheAppsOptions) {
  options.arguments = {"--model-folder", "/home/me/My Models"};
  AutostartLoginItemService service(options);
  service.registerItem();
  const std::string entry = mqtest::TempDir::read(service.entryPath());
  EXPECT_NE(entry.find("Exec=\"" + executable.string() +
                       "\" \"--model-folder\" \"/home/me/My Models\"\n"),
            std::string::npos)
      << entry;
}

TEST_F(AutostartTest, ExecArgumentsAreEscapedTwice) {
  options.executable = temp.write("bin/100% \"$odd\\", "#!/bin/sh\n");
  AutostartLoginItemService service(options);
  service.registerItem();
  const std::string entry = mqtest::TempDir::read(service.entryPath());
  // Quote level: \" \$ \\ ; string level doubles each backslash; '%' is doubled.
  EXPECT_NE(entry.find("100%% \\\\\"\\\\$odd\\\\\\\\\"\n"), std::string::npos) << entry;
}

TEST_F(AutostartTest, ASwitchedOffEntryOrAMissingProgramIsNotEnabled) {
  AutostartLoginItemService service(options);
  temp.write("config/autostart/murmurquill.desktop",
             "[Desktop Entry]\nType=Application\nHidden=true\n");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  service.registerItem();
  EXPECT_EQ(service.status(), LoginItemStatus::enabled) << "registering replaces it";
  std::filesystem::remove(executable);
  EXPECT_EQ(service.status(), LoginItemStatus::notFound);
}

TEST_F(AutostartTest, AnUnwritableFolderThrowsNamingIt) {
  temp.write("config/autostart", "a file where the folder belongs");
  AutostartLoginItemService service(options);
  try {
    service.registerItem();
    FAIL() << "no error";
  } catch (const LoginItemError &error) {
    EXPECT_NE(std::string(error.what()).find(options.autostartDirectory.string()),
              std::string::npos)
        << error.what();
  }
}

TEST(ProcessApplicationLauncherTest, StartsTheProgramWithTheSameArguments) {
  mqtest::TempDir temp;
  // The child is reaped by the launcher; the test hears its words through a pipe, whose end
  // of file comes when the child is done with it.
  const auto out = temp / "out.fifo";
  ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
  ProcessApplicationLauncher launcher(
      "/bin/sh",
      {"sh", "-c", "printf '%s|%s' \"$0\" \"$1\" > \"$2\"", "one", "two words", out.string()});
  std::exception_ptr result = std::make_exception_ptr(std::runtime_error("not called"));
  launcher.openNewInstance([&](std::exception_ptr error) { result = error; });
  EXPECT_FALSE(result);
  ASSERT_GT(launcher.lastChild(), 0);
  EXPECT_EQ(mqtest::TempDir::read(out), "one|two words");
}

TEST(ProcessApplicationLauncherTest, AMissingProgramIsReportedToTheCompletion) {
  ProcessApplicationLauncher launcher("/nonexistent/murmurquill", {"murmurquill"});
  std::string message;
  launcher.openNewInstance([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const LaunchError &caught) {
      message = caught.what();
    }
  });
  EXPECT_EQ(message, "Could not start /nonexistent/murmurquill: No such file or directory");
  EXPECT_EQ(launcher.lastChild(), 0);
}

TEST(ProcessApplicationLauncherTest, ThisProcessIsItsOwnExecutableAndArguments) {
  const char *argv[] = {"murmurquill", "--scenario", "a b.txt"};
  const auto launcher = ProcessApplicationLauncher::forThisProcess(3, argv);
  EXPECT_EQ(launcher.executable(), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(launcher.arguments(),
            (std::vector<std::string>{"murmurquill", "--scenario", "a b.txt"}));
}

TEST(BlockingRunLoopTest, RunReturnsOnceTerminated) {
  BlockingRunLoop loop;
  std::thread runner([&] { loop.run(); });
  loop.terminate();
  runner.join();
  EXPECT_TRUE(loop.isTerminated());
  loop.run(); // at once
}

TEST(UnavailableUpdaterTest, StartsAndAnswersUnavailable) {
  UnavailableUpdater updater;
  EXPECT_FALSE(updater.isStarted());
  updater.start();
  EXPECT_TRUE(updater.isStarted());
  EXPECT_EQ(updater.checkForUpdates(), UpdateCheck::unavailable);
}

TEST(InMemorySettingsTest, IntegersAreTheirOwnKind) {
  InMemorySettings settings;
  settings.setInt("onboardingResumePage", 3);
  EXPECT_EQ(settings.intValue("onboardingResumePage"), 3);
  EXPECT_FALSE(settings.boolValue("onboardingResumePage"));
  settings.setBool("flag", true);
  EXPECT_FALSE(settings.intValue("flag"));
}

} // namespace
} // namespace platform
