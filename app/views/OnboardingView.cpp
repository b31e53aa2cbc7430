#include "app/views/OnboardingView.hpp"

#include <cstdio>
#include <vector>

namespace murmurquill {

namespace ui = platform::ui;

namespace {

ui::View permissionIcon(const char *symbol, const ui::Color &colour) {
  return ui::RoundedRectangle(18)
      .fill(colour.opacity(0.12))
      .frame(76.0, 76.0)
      .overlay(ui::Symbol(symbol)
                   .font(ui::Font::system(34, ui::FontWeight::light))
                   .foregroundStyle(colour));
}

ui::View pageHeading(const std::string &title, std::vector<ui::TextRun> explanation) {
  return ui::VStack({ui::Text(title).font(ui::Font::title2().withWeight(ui::FontWeight::bold)),
                     ui::Text(std::move(explanation))
                         .font(ui::Font::callout())
                         .foregroundStyle(ui::Color::secondary())
                         .multilineTextAlignment(ui::TextAlignment::center)},
                    6, ui::HorizontalAlignment::center);
}

ui::View permissionStatusPill(bool needed) {
  const ui::View symbol =
      needed ? ui::Symbol("circle").foregroundStyle(ui::Color::secondary())
             : ui::Symbol("checkmark.circle.fill").foregroundStyle(ui::Color::green());
  const ui::View text =
      ui::Text(needed ? "Permission needed" : "Permission granted")
          .foregroundStyle(needed ? ui::Color::secondary() : ui::Color::primary());
  return ui::HStack({symbol, text}, 6)
      .font(ui::Font::callout())
      .padding(ui::kHorizontal, 14)
      .padding(ui::kVertical, 6)
      .background(ui::Capsule().fill(needed ? ui::Color::gray().opacity(0.1)
                                            : ui::Color::green().opacity(0.12)))
      .animation(ui::Animation::easeInOut(0.2), needed ? "needed" : "granted");
}

ui::View mainButton(const std::string &title, std::function<void()> action) {
  return ui::Button(ui::Text(title).frame(220.0, std::nullopt, std::nullopt, std::nullopt),
                    std::move(action))
      .controlSize(ui::ControlSize::large)
      .buttonStyle(ui::ButtonStyle::borderedProminent());
}

ui::View footnote(const std::string &text) {
  return ui::Text(text)
      .font(ui::Font::caption())
      .foregroundStyle(ui::Color::tertiary())
      .multilineTextAlignment(ui::TextAlignment::center)
      .frame(std::nullopt, 320.0, std::nullopt, std::nullopt);
}

ui::View permissionPage(std::vector<ui::View> middle) {
  std::vector<ui::View> items{ui::Spacer()};
  for (ui::View &view : middle) {
    items.push_back(std::move(view));
  }
  items.push_back(ui::Spacer());
  return ui::VStack(std::move(items), 20, ui::HorizontalAlignment::center);
}

} // namespace

std::string percentText(double fraction) {
  return std::to_string(static_cast<long long>(fraction * 100)) + "%";
}

std::string timerText(std::chrono::steady_clock::duration elapsed) {
  const auto seconds =
      std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

OnboardingView::OnboardingView(Model model, ui::Desktop &desktop, std::function<void()> dismiss,
                               std::int64_t startPage, std::shared_ptr<platform::SteadyClock> clock)
    : model_(model), desktop_(desktop), dismiss_(std::move(dismiss)), clock_(std::move(clock)),
      page_(startPage) {}

OnboardingView::Step OnboardingView::stepFor(std::int64_t page) {
  const std::int64_t last = static_cast<std::int64_t>(steps.size()) - 1;
  return steps[static_cast<std::size_t>(std::clamp<std::int64_t>(page, 0, last))];
}

std::string OnboardingView::permissionCountSubtitle() {
  int count = 0;
  for (Step step : steps) {
    count += step != Step::welcome && step != Step::done;
  }
  return std::string(count == 2 ? "Two" : "Three") + " quick permissions to set up";
}

void OnboardingView::activationRefresh() {
  model_.permissions.startHotkey();
  model_.permissions.refreshMicStatus();
  model_.permissions.refreshAccessibility();
}

OnboardingView::~OnboardingView() { counting_.cancel(); }

void OnboardingView::startCounting() {
  const auto &executor = desktop_.animationExecutor();
  if (!executor || counting_.isValid()) {
    return;
  }
  counting_ = executor->after(std::chrono::seconds(1), [this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.lock()) {
      return;
    }
    counting_ = platform::TimerHandle();
    startCounting();
    seconds_.set(seconds_.peek() + 1);
  });
}

void OnboardingView::stopCounting() {
  counting_.cancel();
  counting_ = platform::TimerHandle();
}

void OnboardingView::finish() {
  model_.progress.setOnboardingComplete(true);
  model_.permissions.permitHotkey();
  model_.permissions.startHotkey();
  model_.modelLoad.noteUserWaitingForModel();
  if (model_.loginItem.loginItemStatus() == platform::LoginItemStatus::notRegistered) {
    model_.loginItem.registerLoginItem();
  }
}

ui::View OnboardingView::relaunchButton() {
  return ui::Button(ui::Text("Already granted it? Relaunch")
                        .frame(220.0, std::nullopt, std::nullopt, std::nullopt),
                    [this] { saveAndRelaunch(); })
      .controlSize(ui::ControlSize::regular)
      .buttonStyle(ui::ButtonStyle::bordered());
}

void OnboardingView::saveAndRelaunch() {
  model_.progress.setResumePage(page_.peek());
  model_.app.relaunch();
}

ui::View OnboardingView::welcomePage() {
  return ui::VStack(
      {ui::Spacer(),
       ui::Symbol("mic.fill")
           .font(ui::Font::system(68, ui::FontWeight::light))
           .foregroundStyle(ui::Color::tint()),
       ui::VStack(
           {ui::Text("Murmurquill").font(ui::Font::largeTitle().withWeight(ui::FontWeight::bold)),
            ui::Text("On-device dictation, everywhere.")
                .font(ui::Font::title3())
                .foregroundStyle(ui::Color::secondary())},
           8, ui::HorizontalAlignment::center),
       ui::Text({{"Hold ", false},
                 {model_.hotkey.hotkeySpokenLabel(), true},
                 {" in any app to start dictating. Murmurquill transcribes your voice entirely "
                  "on this computer \u2014 audio never leaves your device.",
                  false}})
           .font(ui::Font::callout())
           .foregroundStyle(ui::Color::secondary())
           .multilineTextAlignment(ui::TextAlignment::center),
       ui::Spacer(),
       ui::Label(permissionCountSubtitle(), "arrow.right.circle")
           .font(ui::Font::caption())
           .foregroundStyle(ui::Color::tertiary())},
      28, ui::HorizontalAlignment::center);
}

ui::View OnboardingView::inputMonitoringPage() {
  const bool needed = !model_.permissions.inputMonitoringGranted();
  std::vector<ui::View> items{
      permissionIcon("keyboard", ui::Color::blue()),
      pageHeading("Input Monitoring",
                  {{"Murmurquill listens for the " + model_.hotkey.hotkeyLabel() +
                        " key system-wide, even when another app is in the foreground. No "
                        "other keystrokes are captured.",
                    false}}),
      permissionStatusPill(needed)};
  if (needed) {
    ui::Desktop *desktop = &desktop_;
    items.push_back(mainButton("Open Input Monitoring Settings",
                               [desktop] { desktop->openURL(kInputMonitoringURL); }));
    items.push_back(relaunchButton());
  }
  items.push_back(footnote(needed ? "Enable " + model_.app.appName() +
                                        " in the list, then relaunch \u2014 a new grant doesn't "
                                        "reach an app that's already running."
                                  : "Hotkey is active \u2014 you're good to go."));
  const Model model = model_;
  return permissionPage(std::move(items)).onAppear([model] {
    model.permissions.permitHotkey();
    model.permissions.startHotkey();
  });
}

ui::View OnboardingView::microphonePage() {
  const platform::AuthorizationStatus status = model_.permissions.micStatus();
  const bool needed = status != platform::AuthorizationStatus::authorized;
  std::vector<ui::View> items{
      permissionIcon("mic.fill", ui::Color::red()),
      pageHeading("Microphone",
                  {{"Audio is recorded only while you hold " + model_.hotkey.hotkeyLabel() +
                        ". Transcription runs locally on this computer \u2014 nothing is "
                        "sent to the internet.",
                    false}}),
      permissionStatusPill(needed)};
  if (needed) {
    const Model model = model_;
    ui::Desktop *desktop = &desktop_;
    if (status == platform::AuthorizationStatus::notDetermined) {
      items.push_back(mainButton("Allow Microphone Access",
                                 [model] { model.permissions.requestMicrophoneAccess(nullptr); }));
    } else {
      items.push_back(
          mainButton("Open Microphone Settings", [desktop] { desktop->openURL(kMicrophoneURL); }));
    }
  }
  return permissionPage(std::move(items));
}

ui::View OnboardingView::accessibilityPage() {
  const bool needed = !model_.permissions.accessibilityGranted();
  const Model model = model_;
  std::vector<ui::View> items{
      permissionIcon("hand.raised.fill", ui::Color::rgb(0.69, 0.32, 0.87)),
      pageHeading("Accessibility",
                  {{"Murmurquill types the transcribed text at your cursor by simulating a "
                    "paste. No other app data is read or modified.",
                    false}}),
      permissionStatusPill(needed)};
  if (needed) {
    items.push_back(mainButton("Open Accessibility Settings",
                               [model] { model.permissions.requestAccessibility(); }));
    items.push_back(relaunchButton());
  }
  items.push_back(footnote(needed ? "Enable " + model_.app.appName() +
                                        " in System Settings \u2192 Privacy & Security \u2192 "
                                        "Accessibility, then relaunch \u2014 a new grant doesn't "
                                        "reach an app that's already running."
                                  : "Text injection is active."));
  return permissionPage(std::move(items)).onAppear([model] {
    model.permissions.requestAccessibility();
  });
}

ui::View OnboardingView::modelStatusCard() {
  const bool failed = model_.modelLoad.isModelLoadFailed();
  const auto startedAt = model_.modelLoad.modelInitStartedAt();
  std::vector<ui::View> rows;
  if (failed) {
    const Model model = model_;
    rows.push_back(ui::HStack(
        {ui::Symbol("exclamationmark.triangle.fill").foregroundStyle(ui::Color::orange()),
         ui::VStack({ui::Text(model_.modelLoad.modelStatus())
                         .font(ui::Font::caption().withWeight(ui::FontWeight::medium)),
                     ui::Text("Check your internet connection and try again.")
                         .font(ui::Font::caption2())
                         .foregroundStyle(ui::Color::secondary())},
                    1, ui::HorizontalAlignment::leading),
         ui::Spacer(),
         ui::Button("Retry", [model] { model.modelLoad.loadModel(); })
             .buttonStyle(ui::ButtonStyle::bordered())
             .controlSize(ui::ControlSize::small)},
        10, ui::VerticalAlignment::center));
  } else if (!startedAt) {
    const auto progress = model_.modelLoad.loadProgress();
    std::vector<ui::View> header{ui::Symbol("arrow.down.circle")
                                     .font(ui::Font::caption())
                                     .foregroundStyle(ui::Color::tint()),
                                 ui::Text(model_.modelLoad.modelStatus())
                                     .font(ui::Font::caption().withWeight(ui::FontWeight::medium)),
                                 ui::Spacer()};
    if (progress) {
      header.push_back(
          ui::Text(percentText(*progress))
              .font(ui::Font::caption2().monospacedDigit().withWeight(ui::FontWeight::medium))
              .foregroundStyle(ui::Color::secondary()));
    }
    const auto detail = model_.modelLoad.loadDetailText();
    rows.push_back(ui::VStack(
        {ui::HStack(std::move(header), 8),
         ui::ProgressView(progress.value_or(0.0)).tint(ui::Color::accent()),
         ui::Text(detail ? *detail
                         : std::string("Downloading the speech model \u2014 this happens once."))
             .font(ui::Font::caption2().monospacedDigit())
             .foregroundStyle(ui::Color::secondary())},
        6, ui::HorizontalAlignment::leading));
  } else {
    (void)seconds_.get(); // a tick renders the counter again
    rows.push_back(ui::VStack(
        {ui::HStack({ui::Symbol("cpu").font(ui::Font::caption()).foregroundStyle(ui::Color::tint()),
                     ui::Text(model_.modelLoad.modelStatus())
                         .font(ui::Font::caption().withWeight(ui::FontWeight::medium)),
                     ui::Spacer(),
                     ui::Text(timerText(clock_->now() - *startedAt))
                         .font(ui::Font::caption2().monospacedDigit())
                         .foregroundStyle(ui::Color::secondary())
                         .onAppear([this] { startCounting(); })
                         .onDisappear([this] { stopCounting(); })},
                    8),
         ui::LinearProgressView().tint(ui::Color::accent()),
         ui::Text("Preparing the model. Takes up to a minute or two the first time "
                  "\u2014 after this, it loads in about a second.")
             .font(ui::Font::caption2())
             .foregroundStyle(ui::Color::secondary())},
        6, ui::HorizontalAlignment::leading));
  }
  if (!failed) {
    rows.push_back(ui::Text("Safe to close this window \u2014 setup continues in the background.")
                       .font(ui::Font::caption2())
                       .foregroundStyle(ui::Color::secondary())
                       .padding(ui::kTop, 2));
  }
  const std::string animationKey =
      std::string(model_.modelLoad.isModelReady() ? "ready" : "loading") +
      (startedAt ? ":preparing" : ":downloading");
  return ui::VStack(std::move(rows), 8, ui::HorizontalAlignment::leading)
      .padding(ui::kHorizontal, 14)
      .padding(ui::kVertical, 11)
      .frame(std::nullopt, ui::kInfinity, std::nullopt, std::nullopt, ui::Alignment::leading())
      .background(ui::RoundedRectangle(8).fill(failed ? ui::Color::orange().opacity(0.06)
                                                      : ui::Color::accent().opacity(0.06)))
      .transition(ui::Transition{0.96, true})
      .animation(ui::Animation::easeInOut(0.3), animationKey)
      .id("modelStatusCard");
}

ui::View OnboardingView::donePage() {
  std::vector<ui::View> items{
      ui::Spacer(),
      ui::Circle()
          .fill(ui::Color::green().opacity(0.12))
          .frame(88.0, 88.0)
          .overlay(ui::Symbol("checkmark")
                       .font(ui::Font::system(36, ui::FontWeight::semibold))
                       .foregroundStyle(ui::Color::green())),
      ui::VStack({ui::Text("You're all set!")
                      .font(ui::Font::largeTitle().withWeight(ui::FontWeight::bold)),
                  ui::Text({{"Hold ", false},
                            {model_.hotkey.hotkeySpokenLabel(), true},
                            {" in any app to start.", false}})
                      .font(ui::Font::title3())
                      .foregroundStyle(ui::Color::secondary())
                      .multilineTextAlignment(ui::TextAlignment::center)},
                 6, ui::HorizontalAlignment::center),
      ui::Spacer()};
  if (!model_.modelLoad.isModelReady()) {
    items.push_back(modelStatusCard());
  }
  if (model_.permissions.setupNeeded()) {
    items.push_back(ui::HStack(
        {ui::Symbol("exclamationmark.triangle.fill")
             .font(ui::Font::caption())
             .foregroundStyle(ui::Color::orange()),
         ui::Text("Some permissions are missing \u2014 the menu bar icon will show details.")
             .font(ui::Font::caption())
             .foregroundStyle(ui::Color::secondary())},
        6));
  }
  if (model_.refine.systemSupportsLanguageModel() && !model_.refine.languageModelAvailable()) {
    items.push_back(ui::HStack(
        {ui::Symbol("sparkles").font(ui::Font::caption()).foregroundStyle(ui::Color::secondary()),
         ui::Text("Download Apple Intelligence in System Settings to unlock AI Refine.")
             .font(ui::Font::caption())
             .foregroundStyle(ui::Color::secondary())},
        6));
  }
  return ui::VStack(std::move(items), 20, ui::HorizontalAlignment::center);
}

ui::View OnboardingView::pageView(Step step) {
  switch (step) {
  case Step::welcome:
    return welcomePage().id("welcome");
  case Step::inputMonitoring:
    return inputMonitoringPage().id("inputMonitoring");
  case Step::microphone:
    return microphonePage().id("microphone");
  case Step::accessibility:
    return accessibilityPage().id("accessibility");
  case Step::done:
    return donePage().id("done");
  }
  return ui::EmptyView();
}

ui::View OnboardingView::footer() {
  const std::int64_t page = page_.get();
  ui::Observable<std::int64_t> *pageState = &page_;
  const ui::View back = ui::Button("\u2190 Back",
                                   [pageState] {
                                     if (pageState->peek() > 0) {
                                       pageState->set(pageState->peek() - 1);
                                     }
                                   })
                            .buttonStyle(ui::ButtonStyle::borderless())
                            .foregroundStyle(ui::Color::secondary())
                            .hidden(page <= 0)
                            .frame(80.0, std::nullopt, ui::Alignment::leading());
  std::vector<ui::View> dots;
  for (std::int64_t index = 0; index < static_cast<std::int64_t>(steps.size()); ++index) {
    dots.push_back(index == page
                       ? ui::Circle().fill(ui::Color::accent()).frame(8.0, 8.0)
                       : ui::Circle().fill(ui::Color::gray().opacity(0.3)).frame(6.0, 6.0));
  }
  ui::View forward;
  if (page <= 3) {
    forward = ui::Button("Continue", [pageState] {
                pageState->set(pageState->peek() + 1);
              }).buttonStyle(ui::ButtonStyle::borderedProminent());
  } else {
    const auto dismiss = dismiss_;
    forward = ui::Button(model_.modelLoad.isModelReady() ? "Start Dictating" : "Close",
                         [dismiss] { dismiss(); })
                  .buttonStyle(ui::ButtonStyle::borderedProminent())
                  .keyboardShortcut(ui::Key::returnKey(), ui::kCommand);
  }
  return ui::HStack({back, ui::Spacer(),
                     ui::HStack(std::move(dots), 6)
                         .animation(ui::Animation::easeInOut(0.2), std::to_string(page)),
                     ui::Spacer(),
                     forward.frame(140.0, std::nullopt,
                                   ui::Alignment{ui::HorizontalAlignment::trailing,
                                                 ui::VerticalAlignment::center})});
}

ui::View OnboardingView::body() {
  const Step step = stepFor(page_.get());
  // A new page fades in as "Continue" and "← Back" turn to it.
  return ui::VStack({pageView(step)
                         .transition(ui::Transition{1.0, true})
                         .animation(ui::Animation::easeInOut(0.22), std::to_string(page_.get()))
                         .frame(std::nullopt, ui::kInfinity, std::nullopt, ui::kInfinity)
                         .padding(ui::EdgeInsets{36, 40, 16, 40}),
                     ui::Divider(),
                     footer().padding(ui::kHorizontal, 28).padding(ui::kVertical, 16)},
                    0)
      .frame(kWidth, kHeight)
      .onDisappear([this] { finish(); });
}

} // namespace murmurquill
