#include "app/DesktopApp.hpp"

#include "app/MurmurquillApp.hpp"
#include "app/presenters/RecordingHUD.hpp"
#include "app/presenters/RefinePanelController.hpp"
#include "app/services/DivuvovIzeSpeechModule.hpp"
#include "app/support/AppLog.hpp"

#include "platform/audio/InputEngineMicrophone.hpp"
#include "platform/input/x11/AtspiAccessibility.hpp"
#include "platform/input/x11/X11EventTapService.hpp"
#include "platform/input/x11/X11KeystrokePoster.hpp"
#include "platform/input/x11/X11Pasteboard.hpp"
#include "platform/input/x11/X11Workspace.hpp"
#include "platform/services/ApplicationLauncher.hpp"
#include "platform/services/InMemoryMicrophoneAuthorization.hpp"
#include "platform/services/AutostartLoginItemService.hpp"
#include "platform/services/JsonFileSettings.hpp"
#include "platform/services/UnavailableLanguageModel.hpp"
#include "platform/system/Environment.hpp"
#include "platform/system/EventPump.hpp"
#include "platform/system/MainExecutor.hpp"
#include "platform/system/RunLoop.hpp"
#include "platform/system/ThreadPool.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/ui/x11/X11EventPump.hpp"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <memory>
#include <optional>

namespace murmurquill {

namespace ui = platform::ui;

namespace {

constexpr int kIconSide = 22;         // pixels; panels scale it to their height
constexpr unsigned kIconOutline = 24; // the grey of the icon's outline, 0..255

// The options the app was started with (after the program name), so a start at login uses
// the same model folder and display.
std::vector<std::string> appOptions(const std::vector<std::string> &arguments) {
  if (arguments.empty()) {
    return {};
  }
  return {arguments.begin() + 1, arguments.end()};
}

// How long the app may take to shut down in order once the display is gone.
constexpr std::chrono::milliseconds kShutdownWithoutDisplay{2000};

// Runs `work` on the main executor and waits for it, without limit or for at most `limit`;
// its exception comes back here. False when the limit passed first (the work may still run).
bool onMainWithin(platform::Executor &main, std::function<void()> work,
                  std::optional<std::chrono::milliseconds> limit) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  main.post([done, work = std::move(work)] {
    try {
      work();
      done->set_value();
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  });
  if (limit && finished.wait_for(*limit) != std::future_status::ready) {
    return false;
  }
  finished.get();
  return true;
}

void onMain(platform::Executor &main, std::function<void()> work) {
  onMainWithin(main, std::move(work), std::nullopt);
}

platform::X11Error lostDisplayError(const DesktopApp::Options &options) {
  const char *variable = std::getenv("DISPLAY");
  const std::string name =
      options.displayName.empty() && variable != nullptr ? variable : options.displayName;
  return platform::X11Error("lost the connection to the X display '" + name +
                            "' (the X server ended or closed it)");
}

// Everything the app holds on the main thread, made and destroyed there, in this order.
class Session {
public:
  Session(const DesktopApp::Options &options, std::shared_ptr<platform::Executor> main,
          std::shared_ptr<platform::RunLoop> runLoop)
      : main_(main) {
    desktop_ = std::make_shared<ui::X11Desktop>(ui::X11Desktop::Options{options.displayName});
    desktop_->setAnimationExecutor(main);
    displayPump_ = std::make_unique<ui::X11EventPump>(*desktop_, main);
    // Without its display the app can show nothing and hear no key: it ends, saying why.
    desktop_->setOnConnectionLost([this, runLoop] {
      connectionLost_ = true;
      runLoop->terminate();
    });
    hud_ = std::make_shared<RecordingHUD>(*desktop_);
    refinePanel_ = std::make_shared<RefinePanelController>(*desktop_);

    const platform::Environment environment = platform::Environment::process();
    std::vector<const char *> argv;
    for (const std::string &argument : options.arguments) {
      argv.push_back(argument.c_str());
    }
    auto launcher = std::make_shared<platform::ProcessApplicationLauncher>(
        platform::ProcessApplicationLauncher::forThisProcess(static_cast<int>(argv.size()),
                                                             argv.data()));

    AppCore::Services services;
    services.main = main;
    services.engineWorker = std::make_shared<platform::ThreadPool>(
        platform::ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1});
    services.languageWorker = std::make_shared<platform::ThreadPool>(
        platform::ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1});
    services.steadyClock = platform::SteadyClock::system();
    services.wallClock = platform::WallClock::system();
    services.settings = std::make_shared<platform::JsonFileSettings>(
        environment.configDirectory() / "Murmurquill" / "settings.json", AppCore::settingsKeys(),
        main);
    services.environment = environment;
    services.eventTaps = std::make_shared<platform::X11EventTapService>(main);
    if (options.microphone) {
      services.microphone = options.microphone;
      services.microphoneAuthorization =
          std::make_shared<platform::InMemoryMicrophoneAuthorization>();
    } else {
      const auto audio = platform::AudioInputSystem::shared();
      services.microphone = std::make_shared<platform::InputEngineMicrophone>(audio);
      services.microphoneAuthorization = std::make_shared<platform::AudioInputAuthorization>(audio);
    }
    services.speech = std::make_shared<DivuvovIzeSpeechModule>(options.modelFolder);
    auto pasteboard = std::make_shared<platform::X11Pasteboard>();
    // The paste chord pastes this clipboard: offered as PRIMARY to terminals that paste that,
    // typed into programs without a paste key.
    services.keystrokes = std::make_shared<platform::X11KeystrokePoster>(
        platform::X11KeystrokePosterOptions{.pasteboard = pasteboard});
    services.pasteboard = pasteboard;
    // The refine panel's editor cuts, copies and pastes through the same clipboard.
    desktop_->setPasteboard(pasteboard);
    services.accessibility = std::make_shared<platform::AtspiAccessibility>();
    services.workspace = std::make_shared<platform::X11Workspace>();
    services.languageModel = std::make_shared<platform::UnavailableLanguageModel>();
    services.hud = hud_;
    services.refinePanel = refinePanel_;
    services.desktop = desktop_;
    services.loginItems = std::make_shared<platform::AutostartLoginItemService>(
        platform::AutostartLoginItemService::Options{
            environment.configDirectory() / "autostart", "murmurquill.desktop",
            launcher->executable(), appOptions(launcher->arguments()), "Murmurquill"});
    services.launcher = launcher;
    services.runLoop = std::move(runLoop);
    services.shortVersion = options.version;
    services.log = standardOutputLog();
    app_ = std::make_unique<MurmurquillApp>(std::move(services));
    // Coming back to the front refreshes the permission rows (the user may have changed them).
    desktop_->setDidBecomeActive([this] { app_->applicationDidBecomeActive(); });

    buildMenuWindow();
    // The icon's view runs the first-launch task (the setup window) when it appears.
    iconLabel_ = std::make_unique<ui::HostingView>(app_->makeIconLabel(), ui::Size{22, 22});
    iconLabel_->setAnimationExecutor(main);
    iconLabel_->setOnUpdate([this] { publishIcon(); });
    iconLabel_->setOnRedraw([this] { publishIcon(); });
    iconLabel_->layout();
    startStatusItem();
    publishIcon();
  }

  bool connectionLost() const { return connectionLost_; }

  ~Session() {
    desktop_->setOnConnectionLost({});
    desktop_->setDidBecomeActive({});
    statusPump_.reset();
    statusItem_.reset();
    iconLabel_.reset();
    menuWindow_.reset();
    app_.reset();
    refinePanel_.reset();
    hud_.reset();
    displayPump_.reset();
  }

private:
  void buildMenuWindow() {
    menuWindow_ = std::make_unique<ui::Window>(*desktop_, ui::makeRect(0, 0, 280, 400),
                                               ui::kTitled | ui::kClosable);
    menuWindow_->setTitle("Murmurquill");
    menuWindow_->setReleasedWhenClosed(false);
    menuWindow_->setContentView(std::make_unique<ui::HostingView>(app_->makeMenuContent()),
                                /*fitsContent=*/true);
  }

  // Shows the menu window under the pointer, kept on the pointer's screen; a second
  // activation while it shows hides it, as a menu closes.
  void toggleMenuWindow(bool underPointer) {
    if (menuWindow_->isVisible() && underPointer) {
      // Closed, not only ordered out, so the menu reads its rows again when it next shows.
      menuWindow_->close();
      return;
    }
    if (underPointer) {
      const ui::Point pointer = desktop_->mouseLocation();
      for (const ui::Screen &screen : desktop_->screens()) {
        if (!screen.frame.contains(pointer)) {
          continue;
        }
        const ui::Rect v = screen.visibleFrame;
        ui::Rect frame = menuWindow_->frame();
        frame.origin.x = std::clamp(pointer.x - frame.width() / 2, v.minX(),
                                    std::max(v.minX(), v.maxX() - frame.width()));
        frame.origin.y = std::clamp(pointer.y - frame.height(), v.minY(),
                                    std::max(v.minY(), v.maxY() - frame.height()));
        menuWindow_->setFrame(frame, true);
        break;
      }
    } else {
      DesktopApp::showMenuWindowCentred(*menuWindow_);
      return;
    }
    desktop_->activate();
    menuWindow_->makeKeyAndOrderFront();
  }

  void publishIcon() {
    if (statusItem_ && iconLabel_) {
      statusItem_->setIcon(DesktopApp::statusIcon(*iconLabel_, kIconSide));
    }
  }

  void startStatusItem() {
    AppCore &core = app_->core();
    try {
      statusItem_ = std::make_unique<ui::StatusNotifierItem>(
          ui::StatusNotifierItem::Options{}, [this] { toggleMenuWindow(true); },
          [this] {
            return DesktopApp::statusMenuItems(app_->menuModel(), app_->windowOpener(),
                                               [this] { toggleMenuWindow(true); });
          });
    } catch (const ui::StatusNotifierError &error) {
      std::fprintf(stderr, "murmurquill: no status icon (%s); the menu shows in a window\n",
                   error.what());
      toggleMenuWindow(false);
      return;
    }
    DesktopApp::showMenuWindowWithoutStatusArea(*statusItem_, *menuWindow_);
    // The panel reads the menu again when something its rows show changed.
    auto previous = core.changes().listener;
    core.changes().listener = [this, previous](AppChange change) {
      if (previous) {
        previous(change);
      }
      if (change == AppChange::refineEnabled && statusItem_) {
        statusItem_->menuChanged();
      }
    };
    statusPump_ = std::make_unique<platform::EventPump>(
        statusItem_->fd(),
        [this] {
          if (statusItem_->handle()) {
            statusPump_->requestHandling();
          }
        },
        main_);
  }

  std::shared_ptr<platform::Executor> main_;
  bool connectionLost_ = false;
  std::shared_ptr<ui::X11Desktop> desktop_;
  std::unique_ptr<ui::X11EventPump> displayPump_;
  std::shared_ptr<RecordingHUD> hud_;
  std::shared_ptr<RefinePanelController> refinePanel_;
  std::unique_ptr<MurmurquillApp> app_;
  std::unique_ptr<ui::Window> menuWindow_;
  std::unique_ptr<ui::HostingView> iconLabel_;
  std::unique_ptr<ui::StatusNotifierItem> statusItem_;
  std::unique_ptr<platform::EventPump> statusPump_;
};

} // namespace

std::vector<ui::StatusMenuItem> DesktopApp::statusMenuItems(const MenuBarView::Model &model,
                                                            MenuBarView::OpenWindow openWindow,
                                                            std::function<void()> openMenu) {
  std::vector<ui::StatusMenuItem> items;
  items.push_back({"Open Murmurquill", std::move(openMenu)});
  items.push_back({{}, {}, /*separator=*/true});
  items.push_back({"About Murmurquill", [openWindow] { openWindow(MenuBarView::Window::about); }});
  items.push_back(
      {"Permissions & Setup", [openWindow] { openWindow(MenuBarView::Window::setup); }});
  ui::StatusMenuItem refine{model.refine.languageModelAvailable() ? "AI Refine  Ctrl+Super+R"
                                                                  : "Refine  Ctrl+Super+R",
                            [model] { model.refine.setRefineEnabled(!model.refine.refineEnabled()); }};
  refine.toggle = true;
  refine.checked = model.refine.refineEnabled();
  items.push_back(refine);
  ui::StatusMenuItem login{"Open at Login", [model] {
                             if (model.loginItem.loginItemStatus() ==
                                 platform::LoginItemStatus::enabled) {
                               model.loginItem.unregisterLoginItem();
                             } else {
                               model.loginItem.registerLoginItem();
                             }
                           }};
  login.toggle = true;
  login.checked = model.loginItem.loginItemStatus() == platform::LoginItemStatus::enabled;
  items.push_back(login);
  items.push_back({{}, {}, /*separator=*/true});
  items.push_back({"Check for Updates\u2026", [model] { model.app.checkForUpdates(); }});
  items.push_back({"Quit Murmurquill", [model] { model.app.quit(); }});
  return items;
}

ui::StatusIcon DesktopApp::statusIcon(ui::HostingView &label, int side) {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
  cairo_t *cr = cairo_create(surface);
  const ui::Size size = label.size();
  cairo_scale(cr, side / std::max(1.0, size.width), side / std::max(1.0, size.height));
  label.draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const unsigned char *data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // Cairo's pixels are premultiplied words in native order.
  const auto pixelAt = [&](int x, int y) {
    return reinterpret_cast<const std::uint32_t *>(data + y * stride)[x];
  };
  const auto outlineAlpha = [&](int x, int y) {
    unsigned most = 0;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < side && ny < side) {
          most = std::max(most, pixelAt(nx, ny) >> 24);
        }
      }
    }
    return most;
  };
  // The view's opacity: the alpha of the glyph's solid middle. Glyph and outline are one
  // shape under it, so the outline shows only where the glyph does not cover.
  unsigned opacity = 0;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      opacity = std::max(opacity, pixelAt(x, y) >> 24);
    }
  }
  ui::StatusIcon icon{side, side, {}};
  icon.argb.reserve(static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const std::uint32_t pixel = pixelAt(x, y);
      const unsigned glyph = pixel >> 24;
      // The glyph over its outline, premultiplied, in 0..255.
      const unsigned under =
          opacity == 0 ? 0 : outlineAlpha(x, y) * (opacity - std::min(glyph, opacity)) / opacity;
      const unsigned alpha = glyph + under;
      const auto straight = [alpha, under](unsigned channel) {
        const unsigned premultiplied = channel + under * kIconOutline / 255;
        return static_cast<std::uint8_t>(alpha == 0 ? 0
                                                    : std::min(255u, premultiplied * 255 / alpha));
      };
      // The bus wants straight bytes, alpha first.
      icon.argb.push_back(static_cast<std::uint8_t>(alpha));
      icon.argb.push_back(straight((pixel >> 16) & 0xff));
      icon.argb.push_back(straight((pixel >> 8) & 0xff));
      icon.argb.push_back(straight(pixel & 0xff));
    }
  }
  cairo_surface_destroy(surface);
  return icon;
}

void DesktopApp::showMenuWindowCentred(ui::Window &menuWindow) {
  menuWindow.center();
  menuWindow.desktop().activate();
  menuWindow.makeKeyAndOrderFront();
}

void DesktopApp::showMenuWindowWithoutStatusArea(ui::StatusNotifierItem &item,
                                                 ui::Window &menuWindow) {
  ui::Window *window = &menuWindow;
  item.setOnRegistrationChanged([window](bool registered) {
    if (!registered && !window->isVisible()) {
      showMenuWindowCentred(*window);
    }
  });
}

void DesktopApp::run(const Options &options) {
  auto main = std::make_shared<platform::MainExecutor>();
  auto runLoop = std::make_shared<platform::BlockingRunLoop>();
  // Any connection may be the first to find the server gone, on any thread, and the main
  // executor may then be stuck for good inside a drawing call: the run loop ends at once.
  auto lost = std::make_shared<std::atomic<bool>>(false);
  platform::X11Connection::setOnAnyConnectionLost([lost, runLoop] {
    lost->store(true);
    runLoop->terminate();
  });
  std::unique_ptr<Session> session;
  try {
    onMain(*main, [&] { session = std::make_unique<Session>(options, main, runLoop); });
  } catch (...) {
    platform::X11Connection::setOnAnyConnectionLost({});
    throw;
  }
  runLoop->run();
  const bool quitting = !lost->load();
  // After a quit the app shuts down in order however long its work takes to stop; without
  // the display, only for as long as a person waits for a program that lost its screen.
  const bool ended = onMainWithin(
      *main,
      [&] {
        lost->store(lost->load() || session->connectionLost());
        session.reset();
      },
      quitting ? std::optional<std::chrono::milliseconds>() : kShutdownWithoutDisplay);
  platform::X11Connection::setOnAnyConnectionLost({});
  if (!lost->load()) {
    return;
  }
  const platform::X11Error error = lostDisplayError(options);
  if (!ended) {
    // The main executor is stuck in a call on the broken connection: nothing more can be done
    // in order, and waiting longer would only hang.
    std::fflush(stdout);
    std::fprintf(stderr, "murmurquill: %s\n", error.what());
    std::_Exit(1);
  }
  throw error;
}

} // namespace murmurquill
