#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

namespace {

class EmptyBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Empty"; }
  Size measure(const Node &, ProposedSize, const Environment &, Axis) const override { return {}; }
};

} // namespace

const ViewBehaviour &emptyBehaviour() {
  static const EmptyBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
