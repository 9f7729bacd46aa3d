#pragma once
// One observed process start, and the evaluation that runs the nineteen
// process rules over it. The evaluation keeps no state between launches; an
// evaluator holds only scratch buffers, so each delivering thread owns one.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/alert_queue.h"
#include "procmeta/procmeta.h"
#include "text/text.h"

namespace tarnwick {

struct ProcessLaunch {
  uint32_t pid = 0;
  uint32_t parent_pid = 0;   // 0 when unknown
  std::string image;         // NT device path, Win32 path or bare file name
  std::string command_line;  // may be empty
};

class LaunchEvaluator {
 public:
  LaunchEvaluator(const ProcessQuery& query, const SignatureCheck& trust);

  // Looks up the parent's name (empty when parent_pid is 0 or the lookup
  // fails) and raises one alert per matching rule, in rule order.
  void evaluate(const ProcessLaunch& launch, AlertOut& out);

  // Same, with the parent's file name already known (case as reported).
  void evaluate_with_parent(const ProcessLaunch& launch, std::string_view parent_name,
                            AlertOut& out);

 private:
  const ProcessQuery& query_;
  const SignatureCheck& trust_;
  // Reused lower-cased copies: no allocation per launch once warmed up.
  std::string parent_;
  std::string cmd_;
  std::string image_lc_;
  BytePairs cmd_pairs_;
};

}  // namespace tarnwick
