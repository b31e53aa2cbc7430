#include "DivuvovIze/Models/Constants.hpp"

namespace divuvovize {

// " ' “ ¡ ¿ ( [ { -
const std::string Constants::defaultPrependPunctuations = "\"'\u201C\u00A1\u00BF([{-";
// " ' . 。 , ， ! ！ ? ？ : ： ” ) ] } 、
const std::string Constants::defaultAppendPunctuations =
    "\"'.\u3002,\uFF0C!\uFF01?\uFF1F:\uFF1A\u201D)]}\u3001";

std::string Constants::defaultRemoteEndpoint() { return "https://huggingface.co"; }

const std::unordered_map<std::string, std::string> &Constants::languages() {
  static const std::unordered_map<std::string, std::string> table{
      {"english", "en"},     {"chinese", "zh"},    {"german", "de"},
      {"spanish", "es"},     {"russian", "ru"},    {"korean", "ko"},
      {"french", "fr"},      {"japanese", "ja"},   {"portuguese", "pt"},
      {"turkish", "tr"},     {"polish", "pl"},     {"catalan", "ca"},
      {"dutch", "nl"},       {"arabic", "ar"},     {"swedish", "sv"},
      {"italian", "it"},     {"indonesian", "id"}, {"hindi", "hi"},
      {"finnish", "fi"},     {"vietnamese", "vi"}, {"hebrew", "he"},
      {"ukrainian", "uk"},   {"greek", "el"},      {"malay", "ms"},
      {"czech", "cs"},       {"romanian", "ro"},   {"danish", "da"},
      {"hungarian", "hu"},   {"tamil", "ta"},      {"norwegian", "no"},
      {"thai", "th"},        {"urdu", "ur"},       {"croatian", "hr"},
      {"bulgarian", "bg"},   {"lithuanian", "lt"}, {"latin", "la"},
      {"maori", "mi"},       {"malayalam", "ml"},  {"welsh", "cy"},
      {"slovak", "sk"},      {"telugu", "te"},     {"persian", "fa"},
      {"latvian", "lv"},     {"bengali", "bn"},    {"serbian", "sr"},
      {"azerbaijani", "az"}, {"slovenian", "sl"},  {"kannada", "kn"},
      {"estonian", "et"},    {"macedonian", "mk"}, {"breton", "br"},
      {"basque", "eu"},      {"icelandic", "is"},  {"armenian", "hy"},
      {"nepali", "ne"},      {"mongolian", "mn"},  {"bosnian", "bs"},
      {"kazakh", "kk"},      {"albanian", "sq"},   {"swahili", "sw"},
      {"galician", "gl"},    {"marathi", "mr"},    {"punjabi", "pa"},
      {"sinhala", "si"},     {"khmer", "km"},      {"shona", "sn"},
      {"yoruba", "yo"},      {"somali", "so"},     {"afrikaans", "af"},
      {"occitan", "oc"},     {"georgian", "ka"},   {"belarusian", "be"},
      {"tajik", "tg"},       {"sindhi", "sd"},     {"gujarati", "gu"},
      {"amharic", "am"},     {"yiddish", "yi"},    {"lao", "lo"},
      {"uzbek", "uz"},       {"faroese", "fo"},    {"haitian creole", "ht"},
      {"pashto", "ps"},      {"turkmen", "tk"},    {"nynorsk", "nn"},
      {"maltese", "mt"},     {"sanskrit", "sa"},   {"luxembourgish", "lb"},
      {"myanmar", "my"},     {"tibetan", "bo"},    {"tagalog", "tl"},
      {"malagasy", "mg"},    {"assamese", "as"},   {"tatar", "tt"},
      {"hawaiian", "haw"},   {"lingala", "ln"},    {"hausa", "ha"},
      {"bashkir", "ba"},     {"javanese", "jw"},   {"sundanese", "su"},
      {"cantonese", "yue"},  {"burmese", "my"},    {"valencian", "ca"},
      {"flemish", "nl"},     {"haitian", "ht"},    {"letzeburgesch", "lb"},
      {"pushto", "ps"},      {"panjabi", "pa"},    {"moldavian", "ro"},
      {"moldovan", "ro"},    {"sinhalese", "si"},  {"castilian", "es"},
      {"mandarin", "zh"},
  };
  return table;
}

const std::set<std::string> &Constants::languageCodes() {
  static const std::set<std::string> codes = [] {
    std::set<std::string> result;
    for (const auto &[name, code] : languages()) {
      result.insert(code);
    }
    return result;
  }();
  return codes;
}

namespace {

std::vector<std::string> prefixed(std::initializer_list<const char *> names) {
  std::vector<std::string> result;
  result.reserve(names.size());
  for (const char *name : names) {
    const std::string text(name);
    result.push_back(text.rfind("distil-", 0) == 0 ? text : "openai_whisper-" + text);
  }
  return result;
}

DeviceSupport row(const char *chips, std::vector<std::string> identifiers, const char *defaultModel,
                  std::vector<std::string> supported) {
  return DeviceSupport{std::string(chips), std::move(identifiers),
                       ModelSupport{defaultModel, std::move(supported), {}}};
}

std::vector<DeviceSupport> buildFallbackRows() {
  const auto listB = prefixed({"tiny", "tiny.en", "base", "base.en", "small", "small.en",
                               "large-v2_949MB", "large-v2_turbo_955MB", "large-v3_947MB",
                               "large-v3_turbo_954MB", "distil-whisper_distil-large-v3_594MB",
                               "distil-whisper_distil-large-v3_turbo_600MB",
                               "large-v3-v20240930_626MB", "large-v3-v20240930_turbo_632MB"});
  const auto listC =
      prefixed({"tiny", "tiny.en", "base", "base.en", "small", "small.en", "large-v2",
                "large-v2_949MB", "large-v3", "large-v3_947MB", "distil-whisper_distil-large-v3",
                "distil-whisper_distil-large-v3_594MB", "large-v3-v20240930_626MB"});
  const auto listD = prefixed({"tiny",
                               "tiny.en",
                               "base",
                               "base.en",
                               "small",
                               "small.en",
                               "large-v2",
                               "large-v2_949MB",
                               "large-v2_turbo",
                               "large-v2_turbo_955MB",
                               "large-v3",
                               "large-v3_947MB",
                               "large-v3_turbo",
                               "large-v3_turbo_954MB",
                               "distil-whisper_distil-large-v3",
                               "distil-whisper_distil-large-v3_594MB",
                               "distil-whisper_distil-large-v3_turbo",
                               "distil-whisper_distil-large-v3_turbo_600MB",
                               "large-v3-v20240930",
                               "large-v3-v20240930_turbo",
                               "large-v3-v20240930_626MB",
                               "large-v3-v20240930_turbo_632MB"});
  return {
      row("A12, A13, S9, S10", {"iPhone11", "iPhone12", "iPad12,1", "iPad12,2", "Watch7", "Watch8"},
          "openai_whisper-tiny", prefixed({"base", "base.en", "tiny", "tiny.en"})),
      row("A16, A17 Pro, A18",
          {"iPhone15", "iPhone16", "iPhone17", "iPad15,7", "iPad15,8", "iPad16,1", "iPad16,2"},
          "openai_whisper-base", listB),
      row("M1",
          {"MacBookPro17,1", "MacBookPro18,1", "MacBookPro18,2", "MacBookPro18,3", "MacBookPro18,4",
           "MacBookAir10,1", "Macmini9,1",     "iMac21,1",       "iMac21,2",       "Mac13",
           "iPad13,4",       "iPad13,5",       "iPad13,6",       "iPad13,7",       "iPad13,8",
           "iPad13,9",       "iPad13,10",      "iPad13,11",      "iPad13,16",      "iPad13,17"},
          "openai_whisper-large-v3-v20240930_626MB", listC),
      row("M2, M3, M4",
          {"Mac14", "Mac15", "Mac16", "iPad14,3", "iPad14,4", "iPad14,5", "iPad14,6", "iPad14,8",
           "iPad14,9", "iPad14,10", "iPad14,11", "iPad15", "iPad16"},
          "openai_whisper-large-v3-v20240930", listD),
      row("A14", {"iPhone13", "iPad13,1", "iPad13,2", "iPad13,18", "iPad13,19"},
          "openai_whisper-base",
          prefixed({"tiny", "tiny.en", "base", "base.en", "small", "small.en"})),
      row("A15", {"iPhone14", "iPad14,1", "iPad14,2"}, "openai_whisper-base", listB),
  };
}

const ModelSupportConfig &sharedFallbackConfig() {
  // Completed without merging: it is the table others merge with.
  static const ModelSupportConfig config("divuvovize-coreml-fallback", "0.4",
                                         Constants::fallbackDeviceSupports(),
                                         /*includeFallback=*/false);
  return config;
}

} // namespace

const std::vector<DeviceSupport> &Constants::fallbackDeviceSupports() {
  static const std::vector<DeviceSupport> rows = buildFallbackRows();
  return rows;
}

ModelSupportConfig Constants::fallbackModelSupportConfig() { return sharedFallbackConfig(); }

const std::vector<std::string> &Constants::knownModels() {
  return sharedFallbackConfig().knownModels();
}

} // namespace divuvovize
