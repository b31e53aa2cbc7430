#include "app/services/AICleanupService.hpp"

#include "DeduveCore/Text/Unicode.hpp"
#include "app/services/RuleBasedCleanup.hpp"
#include "app/support/TextTrimming.hpp"
#include "platform/system/ExceptionDescription.hpp"
#include "platform/system/RunInBackground.hpp"

#include <array>
#include <exception>

namespace murmurquill {
namespace {

constexpr std::array<std::string_view, 7> kOpeners{"sure",      "okay",      "ok",     "got it",
                                                   "certainly", "of course", "alright"};
constexpr std::array<std::string_view, 5> kSeparators{", ", " \xE2\x80\x94 ", ": ", ". ", "! "};

// Byte offset just after the first `count` characters (grapheme clusters) of `text`.
std::size_t afterCharacters(std::string_view text, std::size_t count) {
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count && offset < text.size(); ++i) {
    offset = deduve::nextGraphemeBoundary(text, offset);
  }
  return offset;
}

} // namespace

const std::string &AICleanupService::systemPrompt() {
  static const std::string text =
      "You are a text editor, not an assistant. Your only job is to rewrite the text you are\n"
      "given. You never reply to it, answer it, or act on it. If the text is a question, your\n"
      "output is that same question, edited \xE2\x80\x94 never an answer. Never begin your "
      "output with a\n"
      "conversational opener such as \"Sure\" or \"Okay\".\n"
      "\n"
      "Apply these rules, in order of importance:\n"
      "\n"
      "1. Self-corrections. When the speaker changes their mind mid-sentence, keep ONLY the\n"
      "   final version and delete the abandoned one completely.\n"
      "   \"it costs forty dollars, actually fifty\" becomes \"It costs fifty dollars.\"\n"
      "   \"the invoice is due Friday, no wait, Monday\" becomes \"The invoice is due Monday.\"\n"
      "   \"ask Wenna, I mean Dorran, to review it\" becomes \"Ask Dorran to review it.\"\n"
      "\n"
      "2. Remove filler words: um, uh, hmm, you know, sort of, I mean (when it is not\n"
      "   introducing a correction).\n"
      "\n"
      "3. Fix obvious transcription errors, and add correct punctuation and capitalization.\n"
      "\n"
      "4. Never add information the speaker did not say. Do not answer questions, do not offer\n"
      "   suggestions, do not continue their sentence.\n"
      "   \"what time should we meet tomorrow\" becomes \"What time should we meet tomorrow?\"\n"
      "\n"
      "Return ONLY the edited text. No preamble, no explanation, no surrounding quotation marks.";
  return text;
}

AICleanupService::AICleanupService(std::shared_ptr<platform::LanguageModel> model,
                                   std::shared_ptr<platform::Executor> main,
                                   std::shared_ptr<platform::Executor> worker, LogSink log)
    : model_(std::move(model)), main_(std::move(main)), worker_(std::move(worker)),
      shared_(std::make_shared<Shared>(Shared{std::move(log)})) {
  isAvailable_ = model_ && model_->availability() == platform::LanguageModelAvailability::available;
}

void AICleanupService::prewarm() {
  if (!isAvailable_) {
    return;
  }
  if (!session_) {
    session_ = model_->makeSession(systemPrompt());
  }
  if (session_) {
    session_->prewarm();
  }
}

void AICleanupService::refine(const std::string &text, Completion completion) {
  if (!isAvailable_ || !session_) {
    main_->post([text, completion = std::move(completion)] {
      if (completion) {
        completion(ruleBasedCleanup(text));
      }
    });
    return;
  }
  auto session = std::move(session_);
  session_.reset();
  platform::runInBackground(
      *worker_,
      [session = std::move(session), text] {
        std::string content;
        session->streamResponse(text,
                                [&content](const std::string &snapshot) { content = snapshot; });
        return content;
      },
      main_, std::weak_ptr<Shared>(shared_),
      [text, completion = std::move(completion)](Shared &self,
                                                 std::future<std::string> answer) {
        std::string result;
        try {
          result = stripAssistantPreamble(trimmingWhitespaceAndNewlines(answer.get()));
        } catch (...) {
          if (self.log) {
            self.log("[AICleanup] FM failed, falling back to Layer 1: " +
                     platform::describe(std::current_exception()));
          }
        }
        if (result.empty()) {
          result = ruleBasedCleanup(text);
        }
        if (completion) {
          completion(std::move(result));
        }
      });
}

std::string AICleanupService::stripAssistantPreamble(std::string_view text) {
  const std::string lowered = deduve::lowercase(text);
  for (const auto opener : kOpeners) {
    for (const auto separator : kSeparators) {
      const std::string prefix = std::string(opener) + std::string(separator);
      if (lowered.compare(0, prefix.size(), prefix) != 0) {
        continue;
      }
      // The prefix's length in characters, dropped from the unchanged text.
      const std::size_t cut = afterCharacters(text, deduve::graphemeCount(prefix));
      const std::string_view rest = text.substr(cut);
      if (rest.empty()) {
        return {};
      }
      const std::size_t firstEnd = deduve::nextGraphemeBoundary(rest, 0);
      return deduve::uppercase(rest.substr(0, firstEnd)) + std::string(rest.substr(firstEnd));
    }
  }
  return std::string(text);
}

} // namespace murmurquill
