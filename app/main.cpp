#include "app/ScenarioRunner.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char *kUsage =
    "Usage: murmurquill --scenario FILE [--model-folder DIR]\n"
    "       murmurquill --version\n"
    "\n"
    "--scenario FILE runs the dictation controller without a desktop, on virtual time, with\n"
    "the speech engine, and prints its log lines and then each text typed at the cursor.\n"
    "--model-folder DIR uses that model folder instead of downloading the model.\n"
    "\n"
    "Scenario lines ('#' starts a comment):\n"
    "  field \"TEXT\"          the focused text field holds TEXT, caret at the end\n"
    "  at SECONDS keydown    the push-to-talk key (Right Option) goes down\n"
    "  at SECONDS keyup      ... and up\n"
    "  at SECONDS audio PATH a WAV file reaches the microphone (PATH relative to FILE)\n";

int usageError(const std::string &message) {
  std::fprintf(stderr, "murmurquill: %s\n%s", message.c_str(), kUsage);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  std::optional<std::string> scenario;
  std::optional<std::string> modelFolder;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--version") {
      std::printf("Murmurquill %s\n", MQ_VERSION);
      return 0;
    }
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((flag == "--scenario" || flag == "--model-folder") && i + 1 < argc) {
      (flag == "--scenario" ? scenario : modelFolder) = argv[++i];
      continue;
    }
    return usageError("unknown or incomplete option '" + flag + "'");
  }
  if (!scenario) {
    // The desktop backends (X11 input, windows, menu) are not built: only headless runs work.
    const char *display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      std::fprintf(stderr, "murmurquill: needs a desktop session (DISPLAY is not set); run "
                           "headless with: murmurquill --scenario FILE [--model-folder DIR]\n");
    } else {
      std::fprintf(stderr, "murmurquill: the desktop app is not built yet; run headless with: "
                           "murmurquill --scenario FILE [--model-folder DIR]\n");
    }
    return 1;
  }
  try {
    murmurquill::ScenarioRunner::Options options;
    options.scenario = *scenario;
    if (modelFolder) {
      options.modelFolder = *modelFolder;
    }
    const auto result = murmurquill::ScenarioRunner::run(options);
    for (const std::string &text : result.typed) {
      std::printf("Typed: %s\n", text.c_str());
    }
    if (result.field) {
      std::printf("Field: %s\n", result.field->c_str());
    }
  } catch (const std::exception &error) {
    std::fflush(stdout);
    std::fprintf(stderr, "murmurquill: %s\n", error.what());
    return 1;
  }
  return 0;
}
