#include "engine/console_win.h"

#include <mutex>

namespace tarnwick {

namespace {

// The system calls the handler on a thread of its own, without context, so
// the records it acts on live here. Each engine run installs its own pair.
std::mutex g_mutex;
std::shared_ptr<EngineFlags> g_flags;
std::shared_ptr<AlertQueue> g_queue;

}  // namespace

BOOL WINAPI console_control_handler(DWORD) {
  std::shared_ptr<EngineFlags> flags;
  std::shared_ptr<AlertQueue> queue;
  {
    std::lock_guard lock(g_mutex);
    flags = g_flags;
    queue = g_queue;
  }
  if (flags) flags->request_stop();
  if (queue) queue->close();
  return TRUE;
}

void install_console_handler(std::shared_ptr<EngineFlags> flags, std::shared_ptr<AlertQueue> queue) {
  bool first;
  {
    std::lock_guard lock(g_mutex);
    first = !g_flags && !g_queue;
    g_flags = std::move(flags);
    g_queue = std::move(queue);
  }
  if (first) SetConsoleCtrlHandler(console_control_handler, TRUE);
}

}  // namespace tarnwick
