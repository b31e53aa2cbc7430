#pragma once

#include "app/scenario/ScenarioScript.hpp"
#include "app/support/AppLog.hpp"
#include "platform/system/Environment.hpp"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace murmurquill {

// Runs the controller headless on the in-memory platform from a scenario file, against the real
// speech engine, on virtual time: the push-to-talk key, microphone audio from WAV files, the
// focused text field, the model load's end, the refine chord, the permissions and the chosen
// key are scripted; onboarding is complete and every permission is granted at launch.
//
// Scenario format, one statement per line ('#' starts a comment line):
//   field "TEXT"               the focused text field holds TEXT with the caret at its end
//   at SECONDS keydown         the push-to-talk key (the chosen one; Right Alt) goes down
//   at SECONDS keyup           ... and up
//   at SECONDS audio PATH      the WAV file's samples reach the microphone (in tap-sized
//                              buffers, at the file's own rate and channels; the capture
//                              resamples them)
//   at SECONDS load-finishes   the model load, held until now, runs (without this line it
//                              runs at launch)
//   at SECONDS refine          the refine chord (Control-Command-R) is pressed
//   at SECONDS permission NAME granted|denied
//                              the user changes a permission (microphone, accessibility or
//                              input-monitoring) and comes back to the app
//   at SECONDS key NAME        the push-to-talk key becomes rightOption, rightCommand or
//                              leftOption
// Times are seconds of virtual time from launch, 0 to one day, non-decreasing. PATH is
// relative to the scenario file's folder; each file is read once, and all the files of a
// scenario have the same rate and channel count and at most ScenarioScript::kMaxAudioSamples
// samples together.
//
// Besides the controller's log lines, the log receives "HUD: MODE" each time the HUD's mode
// changes and "Refined: TEXT" for each refine answer.
//
// Between statements the runner lets the engine's worker finish (the model load, a
// transcription) and runs the main queue until idle, then moves the clock on; so the run is
// deterministic and as fast as the engine.
class ScenarioRunner {
public:
  struct Options {
    // The scenario file.
    std::filesystem::path scenario;
    // A model folder used as is (no download); absent: the model is downloaded as the app does.
    std::optional<std::filesystem::path> modelFolder;
    // Folders (the app's model folder lives under Application Support).
    platform::Environment environment = platform::Environment::process();
    // Where the controller's log lines go.
    LogSink log = standardOutputLog();
  };

  struct Result {
    // Each text pasted at the cursor, in order.
    std::vector<std::string> typed;
    // The focused field's final contents, when the scenario set a field.
    std::optional<std::string> field;
  };

  // Parses the scenario (throws ScenarioError) and runs it; audio file errors are thrown as
  // ScenarioError too.
  static Result run(const Options &options);
};

} // namespace murmurquill
