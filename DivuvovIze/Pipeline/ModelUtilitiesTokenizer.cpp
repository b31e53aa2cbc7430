// The tokenizer loader of ModelUtilities: it builds the pipeline's tokenizer wrapper, so it lives
// with the pipeline rather than with the model tables.
#include "DivuvovIze/Models/ModelUtilities.hpp"

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Tokenizers/AutoTokenizerWrapper.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationError.hpp"

namespace divuvovize {

std::shared_ptr<WhisperTokenizer> ModelUtilities::loadTokenizer(
    ModelVariant variant, const std::optional<std::filesystem::path> &tokenizerFolder,
    const std::vector<std::filesystem::path> &additionalSearchPaths, bool useBackgroundSession) {
  const std::string repository = tokenizerRepositoryID(variant);
  const deduve::HubApiWrapper hub(tokenizerFolder, std::nullopt, std::nullopt,
                                  useBackgroundSession);
  const std::filesystem::path hubLocation =
      hub.localRepoLocation({repository, deduve::HubApiWrapper::RepoType::models});
  if (const auto found =
          findLocalTokenizerFolder(hubLocation, tokenizerFolder, additionalSearchPaths)) {
    modelslog::debug("Loading tokenizer from " + found->string());
    try {
      return std::make_shared<WhisperTokenizerWrapper>(
          deduve::AutoTokenizerWrapper::fromModelFolder(*found, hub, /*strict=*/true), *found);
    } catch (const std::exception &error) {
      modelslog::debug(std::string("Error loading local tokenizer: ") + error.what());
    }
  }
  modelslog::debug("Downloading tokenizer from Hub at " + hubLocation.string());
  try {
    return std::make_shared<WhisperTokenizerWrapper>(
        deduve::AutoTokenizerWrapper::fromPretrained(repository, hub, /*strict=*/true),
        hubLocation);
  } catch (const platform::CancellationError &) {
    throw;
  } catch (const std::exception &error) {
    // The tokenizer's hub is the default one (or HF_ENDPOINT), not the models' endpoint: a
    // failure says which host was asked, so a user who gave an endpoint sees why.
    throw WhisperError::tokenizerUnavailable("Cannot download the tokenizer " + repository +
                                             " from " + hub.impl.endpoint + ": " + error.what());
  }
}

} // namespace divuvovize
