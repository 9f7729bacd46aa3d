#include "proc/launch.h"

#include "proc/rules.h"
#include "text/text.h"

namespace tarnwick {

namespace {

void lower_into(std::string_view text, std::string& buffer) {
  buffer.clear();
  append_lower(text, buffer);
}

Alert build_alert(const ProcessRule& rule, const LaunchFacts& facts) {
  std::string detail;
  expand_template(rule.detail, facts, detail);
  Alert alert = make_alert(AlertSource::Process, rule.severity, rule.title, std::move(detail));
  alert.pid = facts.pid;
  alert.dedup_key.clear();
  expand_template(rule.key, facts, alert.dedup_key);
  return with_mitre(std::move(alert), rule.mitre, rule.cvss);
}

}  // namespace

LaunchEvaluator::LaunchEvaluator(const ProcessQuery& query, const SignatureCheck& trust)
    : query_(query), trust_(trust) {}

void LaunchEvaluator::evaluate(const ProcessLaunch& launch, AlertOut& out) {
  std::optional<std::string> parent;
  if (launch.parent_pid != 0) parent = process_name(query_, launch.parent_pid);
  evaluate_with_parent(launch, parent ? std::string_view(*parent) : std::string_view(), out);
}

void LaunchEvaluator::evaluate_with_parent(const ProcessLaunch& launch,
                                           std::string_view parent_name, AlertOut& out) {
  // Lower-casing never makes or moves a path separator, and a separator ends
  // any case context, so the file name of the lower-cased image is the
  // lower-cased file name: the image is lower-cased once for both.
  lower_into(launch.image, image_lc_);
  lower_into(parent_name, parent_);
  lower_into(launch.command_line, cmd_);

  LaunchFacts facts;
  facts.pid = launch.pid;
  facts.image = launch.image;
  facts.command_line = launch.command_line;
  facts.name = file_name(image_lc_);
  facts.parent = parent_;
  facts.cmd = cmd_;
  cmd_pairs_.index(cmd_);
  facts.cmd_pairs = &cmd_pairs_;
  facts.image_lc = image_lc_;
  facts.trust = &trust_;

  for (const ProcessRule& rule : process_rules()) {
    if (rule.matches(facts)) out.push(build_alert(rule, facts));
  }
}

}  // namespace tarnwick
