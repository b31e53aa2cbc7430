#pragma once

namespace murmurquill {

// The refine setting and the on-device language model behind it, as the views show them. The
// getters register observation where the value can change. Main thread only.
class RefineChoice {
public:
  virtual ~RefineChoice() = default;

  virtual bool refineEnabled() const = 0;
  // Saves "refineEnabled" on every assignment.
  virtual void setRefineEnabled(bool enabled) = 0;
  // The on-device language model can refine text.
  virtual bool languageModelAvailable() const = 0;
  // The system is one that can have the on-device language model at all.
  virtual bool systemSupportsLanguageModel() const = 0;
};

} // namespace murmurquill
