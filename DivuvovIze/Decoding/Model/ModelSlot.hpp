#pragma once

#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"

#include <memory>
#include <mutex>

namespace divuvovize {

// A WhisperMLModel that stores its model behind a lock, so the engine's components (feature
// extractor, audio encoder, text decoder) can be loaded and unloaded while windows run: each
// call takes the model reference once and keeps the model alive for that call.
class ModelSlot : public WhisperMLModel {
public:
  std::shared_ptr<platform::MLModel> model() const override {
    std::lock_guard lock(mutex_);
    return model_;
  }
  void setModel(std::shared_ptr<platform::MLModel> model) override {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
  }

private:
  mutable std::mutex mutex_;
  std::shared_ptr<platform::MLModel> model_;
};

} // namespace divuvovize
