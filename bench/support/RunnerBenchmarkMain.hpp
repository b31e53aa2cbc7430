#pragma once

// BENCHMARK_MAIN for the benchmarks that run models: the model runner starts first, while the
// program has one thread, as a program's main starts it, so the figures come from the matrix
// kernels a user's run would choose. The figures the benchmarks report against their goals are
// printed after the benchmarks' table.

#include "bench/support/GoalReport.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <benchmark/benchmark.h>

#define MQ_RUNNER_BENCHMARK_MAIN()                                                                 \
  int main(int argc, char **argv) {                                                                \
    platform::startMLRunner();                                                                     \
    benchmark::Initialize(&argc, argv);                                                            \
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {                                      \
      return 1;                                                                                    \
    }                                                                                              \
    benchmark::RunSpecifiedBenchmarks();                                                           \
    mqbench::GoalReport::print();                                                                  \
    benchmark::Shutdown();                                                                         \
    return 0;                                                                                      \
  }
