#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace murmurquill {

// The controller's view of the refine panel. Main thread only.
class RefinePresenter {
public:
  using ApplyAction = std::function<bool(const std::string &refined)>;
  using CopyAction = std::function<void(const std::string &refined)>;
  // Names one opened panel.
  using PanelToken = std::uint64_t;

  virtual ~RefinePresenter() = default;
  // Closes any open panel and opens a new one in its loading state; returns its token.
  virtual PanelToken show(ApplyAction onApply, CopyAction onCopy) = 0;
  // Shows `text` in the panel `token` names and ends its loading state; nothing when that
  // panel has been closed or replaced meanwhile.
  virtual void showResult(const std::string &text, PanelToken token) = 0;
};

} // namespace murmurquill
