#include "platform/ui/x11/X11EventPump.hpp"

#include "platform/ui/x11/X11Desktop.hpp"

namespace platform::ui {

X11EventPump::X11EventPump(X11Desktop &desktop, std::shared_ptr<Executor> main)
    : desktop_(desktop),
      pump_(
          desktop.connectionNumber(), [&desktop] { desktop.processEvents(); }, std::move(main)) {
  desktop_.setOnEventsQueued([this] { pump_.requestHandling(); });
}

X11EventPump::~X11EventPump() { desktop_.setOnEventsQueued({}); }

} // namespace platform::ui
