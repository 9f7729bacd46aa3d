#include "engine/stop.h"

namespace tarnwick {

void EngineFinished::set() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

bool EngineFinished::wait_for(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return finished_; });
}

bool stop_for_console_event(ConsoleEvent event, EngineFlags* flags, AlertQueue* queue,
                            EngineFinished* finished, std::chrono::milliseconds limit) {
  if (flags) flags->request_stop();
  if (queue) queue->close();
  if (event == ConsoleEvent::Interrupt || event == ConsoleEvent::Break) return true;
  return finished == nullptr || finished->wait_for(limit);
}

}  // namespace tarnwick
