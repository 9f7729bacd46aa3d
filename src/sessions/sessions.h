#pragma once
// The sessions of the people at the machine, for an engine run as the
// service in session 0, where nothing it shows is ever seen: which sessions
// are active, and starting a program in one of them as its user. Used on the
// alert sink thread; nothing is kept between calls.

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

class UserSessions {
 public:
  virtual ~UserSessions() = default;
  // The ids of the sessions whose user is logged on and active.
  virtual std::vector<uint32_t> active_sessions() = 0;
  // Starts `command_line` as the session's user, on that session's
  // interactive desktop, without a console window, and returns without
  // waiting for it. False when any step fails.
  virtual bool start_in_session(uint32_t session, std::string_view command_line) = 0;
};

}  // namespace tarnwick
