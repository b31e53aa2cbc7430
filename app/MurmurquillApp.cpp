#include "app/MurmurquillApp.hpp"

namespace murmurquill {

MurmurquillApp::MurmurquillApp(AppCore::Services services)
    : main_(services.main), core_(AppCore::make(std::move(services))) {}

std::shared_ptr<MenuBarView> MurmurquillApp::makeMenuContent() const {
  return std::make_shared<MenuBarView>(*core_, core_->onboarding());
}

std::shared_ptr<MenuBarIconLabel> MurmurquillApp::makeIconLabel() const {
  return std::make_shared<MenuBarIconLabel>(core_, core_->onboarding(), main_);
}

} // namespace murmurquill
