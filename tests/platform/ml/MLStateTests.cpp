// Stateful predictions: a model's state carries across the predictions of one sequence, and a
// model without state says so.

#include "platform/ml/AsyncPrediction.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/MLModelError.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace platform;

// Adds its input "x" to the state buffer "total" and reports the new total as "y".
class RunningSum final : public MLModel {
public:
  const MLModelDescription &description() const override { return description_; }
  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &,
                                                const MLPredictionOptions &) const override {
    throw MLModelError(MLModelError::Code::featureType, "running sum: needs a state");
  }
  std::shared_ptr<MLState> makeState() const override {
    return std::make_shared<MLState>(std::map<std::string, MLMultiArray>{
        {"total", MLMultiArray({1}, MLMultiArrayDataType::float32)}});
  }
  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &input, MLState &state,
                                                const MLPredictionOptions &) const override {
    const MLMultiArray total = state.multiArray("total");
    total.setValue(0, total.value(0) + input.featureValue("x")->multiArrayValue()->value(0));
    return std::make_shared<MLDictionaryFeatureProvider>(
        std::map<std::string, MLMultiArray>{{"y", total.deepCopy()}});
  }

private:
  MLModelDescription description_;
};

// A model that declares no state, as every model of the CPU runner.
class Stateless final : public MLModel {
public:
  Stateless() { description_.metadata["kind"] = "text_decoder"; }
  const MLModelDescription &description() const override { return description_; }
  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &,
                                                const MLPredictionOptions &) const override {
    return std::make_shared<MLDictionaryFeatureProvider>(MLDictionaryFeatureProvider::Dictionary{});
  }
  using MLModel::prediction;

private:
  MLModelDescription description_;
};

MLDictionaryFeatureProvider input(float x) {
  MLMultiArray array({1}, MLMultiArrayDataType::float32, x);
  return MLDictionaryFeatureProvider(std::map<std::string, MLMultiArray>{{"x", array}});
}

double output(const MLFeatureProvider &result) {
  return result.featureValue("y")->multiArrayValue()->value(0);
}

TEST(MLState, EachSequenceCarriesItsOwnStateAcrossAsyncPredictions) {
  const RunningSum model;
  const auto first = model.makeState();
  const auto second = model.makeState();
  EXPECT_EQ(first->stateNames(), (std::set<std::string>{"total"}));
  EXPECT_EQ(output(*asyncPrediction(model, input(2.0f), *first)), 2.0);
  EXPECT_EQ(output(*asyncPrediction(model, input(3.0f), *first)), 5.0);
  EXPECT_EQ(output(*asyncPrediction(model, input(7.0f), *second)), 7.0);
  EXPECT_EQ(first->multiArray("total").value(0), 5.0);
  EXPECT_THROW(first->multiArray("other"), MLModelError);
}

TEST(MLState, AModelWithoutStateRefusesStateAndStatefulPredictions) {
  const Stateless model;
  auto expectNoState = [](const std::function<void()> &call) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const MLModelError &error) {
      EXPECT_EQ(error.code(), MLModelError::Code::invalidModel);
      EXPECT_STREQ(error.what(), "text_decoder: the model holds no state");
    }
  };
  expectNoState([&] { model.makeState(); });
  MLState state({});
  expectNoState([&] { asyncPrediction(model, input(1.0f), state); });
  // The stateless prediction still runs.
  EXPECT_NO_THROW(asyncPrediction(model, input(1.0f)));
}

} // namespace
