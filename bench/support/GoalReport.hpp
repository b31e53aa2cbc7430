#pragma once

// The figures a benchmark program is judged by, each printed beside its goal once the benchmarks'
// own table is out: one "figure: value (goal ...)" line each, then the load average, which says
// how far the figures of a shared machine can be trusted. Benchmarks add lines as they finish;
// MQ_RUNNER_BENCHMARK_MAIN prints them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mqbench {

class GoalReport {
public:
  // "figure: value unit (goal ...)"; `goal` as it reads after the word, e.g. "<= 0.05".
  static void figure(const std::string &name, double value, const std::string &goal,
                     const std::string &unit = "") {
    lines().push_back(name + ": " + number(value) + (unit.empty() ? "" : " " + unit) + " (goal " +
                      goal + ")");
  }
  // A figure with no goal of its own, shown for scale: "figure: value unit".
  static void value(const std::string &name, double value, const std::string &unit = "") {
    lines().push_back(name + ": " + number(value) + (unit.empty() ? "" : " " + unit));
  }
  // A line of text as it is.
  static void note(const std::string &text) { lines().push_back(text); }

  // The one-minute load average, -1 when the system does not give it.
  static double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
  }

  static void print() {
    if (lines().empty()) {
      return;
    }
    std::printf("\nFigures against their goals (load average %.2f):\n", loadAverage());
    for (const auto &line : lines()) {
      std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
  }

private:
  static std::vector<std::string> &lines() {
    static std::vector<std::string> all;
    return all;
  }
  static std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
  }
};

} // namespace mqbench
