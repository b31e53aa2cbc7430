#pragma once

#include <string>
#include <vector>

namespace murmurquill {

// The push-to-talk key as the views show and choose it. The getters register observation, so
// a view redraws when the key changes. Main thread only.
class HotkeyChoice {
public:
  virtual ~HotkeyChoice() = default;

  // Its label ("Right Option"), its name inside a sentence ("the Right Option key"; a chord's
  // label alone) and its key caps.
  virtual std::string hotkeyLabel() const = 0;
  virtual std::string hotkeySpokenLabel() const = 0;
  virtual std::vector<std::string> hotkeyKeyCaps() const = 0;
  // The keys the user may choose, by label, and the position of the current one among them
  // (-1 when the current key is not offered).
  virtual std::vector<std::string> offeredHotkeyLabels() const = 0;
  virtual int selectedHotkeyIndex() const = 0;
  // Stores the offered key at `index` as the push-to-talk key (and restarts the monitor).
  virtual void selectHotkey(int index) = 0;
};

} // namespace murmurquill
