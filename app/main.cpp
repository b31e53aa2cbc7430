#include "app/DesktopApp.hpp"
#include "app/ScenarioRunner.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char *kUsage =
    "Usage: murmurquill [--model-folder DIR]\n"
    "       murmurquill --scenario FILE [--model-folder DIR]\n"
    "       murmurquill --version\n"
    "\n"
    "Without --scenario, runs the app on the X11 desktop session (DISPLAY): hold the\n"
    "push-to-talk key, speak, release, and the text is typed where the cursor is.\n"
    "--scenario FILE runs the dictation controller without a desktop, on virtual time, with\n"
    "the speech engine, and prints its log lines and then each text typed at the cursor.\n"
    "--model-folder DIR uses that model folder instead of downloading the model.\n"
    "\n"
    "Scenario lines ('#' starts a comment; SECONDS of virtual time from launch, 0 to 86400,\n"
    "never decreasing):\n"
    "  field \"TEXT\"               the focused text field holds TEXT, caret at the end\n"
    "  at SECONDS keydown         the push-to-talk key (Right Alt, or as chosen) goes down\n"
    "  at SECONDS keyup           ... and up\n"
    "  at SECONDS audio PATH      a WAV file reaches the microphone (PATH relative to FILE)\n"
    "  at SECONDS load-finishes   the model load runs only now (without it: at launch)\n"
    "  at SECONDS refine          the refine chord (Ctrl+Super+R) is pressed\n"
    "  at SECONDS permission NAME granted|denied\n"
    "                             the user changes a permission and comes back to the app;\n"
    "                             NAME: microphone, accessibility or input-monitoring\n"
    "  at SECONDS key NAME        the push-to-talk key becomes NAME: rightOption,\n"
    "                             rightCommand or leftOption\n"
    "\n"
    "Output lines besides the log:\n"
    "  HUD: MODE                  the HUD's mode changed: hidden, recording, transcribing,\n"
    "                             notReady, micDenied, injectionDenied or ready (KEY)\n"
    "  Refined: TEXT              the refine panel's answer\n"
    "  Typed: TEXT                after the run, each text typed at the cursor, in order\n"
    "  Field: TEXT                after the run, the field's final text (when a field is set)\n";

int usageError(const std::string &message) {
  std::fprintf(stderr, "murmurquill: %s\n%s", message.c_str(), kUsage);
  return 2;
}

int runDesktop(int argc, char **argv, const std::optional<std::string> &modelFolder) {
  const char *display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
      std::fprintf(stderr, "murmurquill: this is a Wayland session without an X server "
                           "(WAYLAND_DISPLAY is set, DISPLAY is not), which is not supported: "
                           "the push-to-talk key, typing at the cursor and the windows need X11 "
                           "(XWayland)\n");
    } else {
      std::fprintf(stderr, "murmurquill: needs a desktop session (DISPLAY is not set); run "
                           "headless with: murmurquill --scenario FILE [--model-folder DIR]\n");
    }
    return 1;
  }
  try {
    murmurquill::DesktopApp::Options options;
    if (modelFolder) {
      options.modelFolder = *modelFolder;
    }
    options.arguments.assign(argv, argv + argc);
    options.version = MQ_VERSION;
    murmurquill::DesktopApp::run(options);
  } catch (const std::exception &error) {
    std::fprintf(stderr, "murmurquill: %s\n", error.what());
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  // The model runner picks its matrix kernels while this is the only thread. A BLAS library
  // that cannot be loaded fails again where the first model loads, which reports it.
  try {
    platform::startMLRunner();
  } catch (const std::exception &) {
  }
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
    return runDesktop(argc, argv, modelFolder);
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
