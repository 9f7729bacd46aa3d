#pragma once
// An alert destination that keeps what detectors push, for tests to inspect.
// Tests only.

#include <string>
#include <vector>

#include "engine/alert_queue.h"

namespace tarnwick::testing {

class AlertCollector final : public AlertOut {
 public:
  std::vector<Alert> alerts;
  void push(Alert alert) override { alerts.push_back(std::move(alert)); }
  std::vector<std::string> titles() const {
    std::vector<std::string> t;
    for (const Alert& a : alerts) t.push_back(a.title);
    return t;
  }
};

}  // namespace tarnwick::testing
