#pragma once
// How a run ends from outside. A console window being closed, or the user
// logging off or the machine shutting down, ends the process as soon as the
// console handler returns, so the handler waits here (bounded) for the
// engine to finish: the trace sessions are stopped and the last statistics
// snapshot is written. Ctrl+C and Ctrl+Break only ask for the stop.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "engine/alert_queue.h"
#include "engine/flags.h"

namespace tarnwick {

// Set once by the engine when its shutdown is complete.
class EngineFinished {
 public:
  void set();
  // True when set, or once it becomes set within `limit`.
  bool wait_for(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;
};

enum class ConsoleEvent { Interrupt, Break, Close, Logoff, Shutdown };

// The system ends the process 5 s after a close event regardless; the wait
// stops short of that.
inline constexpr std::chrono::milliseconds kConsoleStopWait{4500};

// Sets `stop` and closes the queue (either may be null: no engine yet). For
// close, logoff and shutdown, then waits for `finished` up to `limit`.
// True when the process may end now (the engine finished, or the event
// leaves the process running anyway).
bool stop_for_console_event(ConsoleEvent event, EngineFlags* flags, AlertQueue* queue,
                            EngineFinished* finished,
                            std::chrono::milliseconds limit = kConsoleStopWait);

}  // namespace tarnwick
