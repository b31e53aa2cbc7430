#pragma once

#include "platform/services/Updater.hpp"

#include <memory>

namespace murmurquill {

// Holds the application's software updater, started when the service is made (with the
// application) and asked for checks by the menu. Main thread only.
class UpdaterService final {
public:
  explicit UpdaterService(std::shared_ptr<platform::Updater> controller);

  platform::Updater &controller() const { return *controller_; }

private:
  std::shared_ptr<platform::Updater> controller_;
};

} // namespace murmurquill
