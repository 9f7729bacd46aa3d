#pragma once
// Scripted sessions for tests: a list of active ids, the command lines
// started in each, and sessions where starting fails. Tests only.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sessions/sessions.h"

namespace tarnwick::testing {

class FakeUserSessions final : public UserSessions {
 public:
  std::vector<uint32_t> active;
  std::set<uint32_t> failing;  // starting a program there fails
  // Every attempt, failed ones included: session id and command line.
  std::vector<std::pair<uint32_t, std::string>> started;

  std::vector<uint32_t> active_sessions() override { return active; }
  bool start_in_session(uint32_t session, std::string_view command_line) override {
    started.emplace_back(session, std::string(command_line));
    return failing.count(session) == 0;
  }
};

}  // namespace tarnwick::testing
