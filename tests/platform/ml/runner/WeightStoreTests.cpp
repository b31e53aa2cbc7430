// How the weight store holds float16 matrices: in place in the file's memory map when aligned,
// copied as they are when the file places them at an odd byte, and alive after the file object.

#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/models/WeightStore.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace platform::runner;

// A safetensors file with one F16 [2 x 3] matrix "m" and one F32 [2] vector "v", whose data
// section starts at an even or an odd byte (the header is padded to choose).
std::string fileBytes(const std::vector<float> &matrix, const std::vector<float> &vector,
                      bool oddStart) {
  std::string header = R"({"m":{"dtype":"F16","shape":[2,3],"data_offsets":[0,12]},)"
                       R"("v":{"dtype":"F32","shape":[2],"data_offsets":[12,20]}})";
  while ((8 + header.size()) % 2 != (oddStart ? 1u : 0u)) {
    header.push_back(' ');
  }
  std::string bytes;
  for (int i = 0; i < 8; ++i) {
    bytes.push_back(static_cast<char>(header.size() >> (8 * i)));
  }
  bytes += header;
  for (float value : matrix) {
    const std::uint16_t bits = floatToHalf(value);
    bytes.push_back(static_cast<char>(bits & 0xff));
    bytes.push_back(static_cast<char>(bits >> 8));
  }
  for (float value : vector) {
    bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
  }
  return bytes;
}

TEST(WeightStore, Float16MatricesStayFloat16InPlaceOrCopiedAndOutliveTheFile) {
  const std::vector<float> matrix = {0.5f, -1.25f, 3.0f, 0.0f, 65504.0f, -0.099975586f};
  const std::vector<float> vector = {1.5f, -2.0f};
  for (bool oddStart : {false, true}) {
    SCOPED_TRACE(oddStart ? "data at an odd byte" : "data at an even byte");
    mqtest::TempDir dir;
    const auto path = dir.write("weights.safetensors", fileBytes(matrix, vector, oddStart));
    std::unique_ptr<WeightStore> store;
    MatrixView view;
    const float *bias = nullptr;
    {
      const SafeTensorsFile file(path);
      store = std::make_unique<WeightStore>(file);
      view = store->matrix("m", {2, 3});
      bias = store->tensor("v", {2});
    }
    ASSERT_TRUE(view.isHalf());
    EXPECT_EQ(view.data, nullptr);
    EXPECT_EQ(view.rows, 2u);
    EXPECT_EQ(view.cols, 3u);
    // The scratch of a product with the matrix: its packed panels, which also hold it widened.
    EXPECT_EQ(view.widenedSize(), packedBSize(3, 2));
    EXPECT_GE(view.widenedSize(), 6u);
    EXPECT_EQ(store->largestWidenedSize(), view.widenedSize());
    EXPECT_EQ(store->mappedBytes(), oddStart ? 0u : 12u);
    EXPECT_EQ(store->ownedBytes(), (oddStart ? 12u : 0u) + 2 * sizeof(float));
    // Read after the file object is gone: the store keeps the mapping.
    for (std::size_t r = 0; r < 2; ++r) {
      std::vector<float> row(3);
      readMatrixRow(view, r, row.data());
      for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(row[c], halfToFloat(floatToHalf(matrix[r * 3 + c])));
      }
    }
    EXPECT_EQ(bias[0], 1.5f);
    EXPECT_EQ(bias[1], -2.0f);
  }
}

} // namespace
