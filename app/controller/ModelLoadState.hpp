#pragma once

#include "platform/system/Clock.hpp"

#include <optional>
#include <string>

namespace murmurquill {

// What the views read of the speech model's load, and the two requests they make of it. The
// getters register observation, so a view redraws when a value it read changes. Main thread
// only.
class ModelLoadState {
public:
  virtual ~ModelLoadState() = default;

  virtual bool isModelReady() const = 0;
  virtual bool isModelLoadFailed() const = 0;
  virtual std::string modelStatus() const = 0;
  virtual std::optional<double> loadProgress() const = 0;
  virtual std::optional<std::string> loadDetailText() const = 0;
  // On the steady clock: the setup page counts the seconds since.
  virtual std::optional<platform::SteadyClock::time_point> modelInitStartedAt() const = 0;

  // Starts the whole model load again; progress arrives through the getters. A load asked for
  // while one runs joins it instead of starting a second one.
  virtual void loadModel() = 0;
  // Marks the user as waiting, unless the model is ready.
  virtual void noteUserWaitingForModel() = 0;
};

} // namespace murmurquill
