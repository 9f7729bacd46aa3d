#include "engine/console_win.h"

#include <mutex>

namespace tarnwick {

namespace {

// The system calls the handler on a thread of its own, without context, so
// the records it acts on live here. Each engine run installs its own set.
std::mutex g_mutex;
std::shared_ptr<EngineFlags> g_flags;
std::shared_ptr<AlertQueue> g_queue;
std::shared_ptr<EngineFinished> g_finished;

ConsoleEvent console_event(DWORD code) {
  switch (code) {
    case CTRL_C_EVENT: return ConsoleEvent::Interrupt;
    case CTRL_BREAK_EVENT: return ConsoleEvent::Break;
    case CTRL_LOGOFF_EVENT: return ConsoleEvent::Logoff;
    case CTRL_SHUTDOWN_EVENT: return ConsoleEvent::Shutdown;
    default: return ConsoleEvent::Close;
  }
}

}  // namespace

BOOL WINAPI console_control_handler(DWORD event) {
  std::shared_ptr<EngineFlags> flags;
  std::shared_ptr<AlertQueue> queue;
  std::shared_ptr<EngineFinished> finished;
  {
    std::lock_guard lock(g_mutex);
    flags = g_flags;
    queue = g_queue;
    finished = g_finished;
  }
  // For close, logoff and shutdown, returning TRUE lets the system end the
  // process at once, so the wait happens before the return.
  stop_for_console_event(console_event(event), flags.get(), queue.get(), finished.get());
  return TRUE;
}

void install_console_handler(std::shared_ptr<EngineFlags> flags, std::shared_ptr<AlertQueue> queue,
                             std::shared_ptr<EngineFinished> finished) {
  bool first;
  {
    std::lock_guard lock(g_mutex);
    first = !g_flags && !g_queue;
    g_flags = std::move(flags);
    g_queue = std::move(queue);
    g_finished = std::move(finished);
  }
  if (first) SetConsoleCtrlHandler(console_control_handler, TRUE);
}

}  // namespace tarnwick
