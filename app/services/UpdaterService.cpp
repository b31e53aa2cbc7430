#include "app/services/UpdaterService.hpp"

namespace murmurquill {

UpdaterService::UpdaterService(std::shared_ptr<platform::Updater> controller)
    : controller_(std::move(controller)) {
  controller_->start();
}

} // namespace murmurquill
