#pragma once
// An alert destination for benchmarks: counts what it is given and keeps the
// detail alive so the optimiser cannot drop the work that produced it.

#include <benchmark/benchmark.h>

#include <cstddef>

#include "engine/alert_queue.h"

namespace tarnwick::testing {

class CountingOut final : public AlertOut {
 public:
  size_t count = 0;
  void push(Alert alert) override {
    benchmark::DoNotOptimize(alert.detail.data());
    ++count;
  }
};

}  // namespace tarnwick::testing
