#include "main/platform_win.h"

#include <iostream>

#include "engine/console_win.h"

namespace tarnwick {

std::filesystem::path WindowsPlatform::resolve_data_dir() { return tarnwick::resolve_data_dir(); }

void WindowsPlatform::install_console_handler(std::shared_ptr<EngineFlags> flags,
                                              std::shared_ptr<AlertQueue> queue) {
  tarnwick::install_console_handler(std::move(flags), std::move(queue));
}

DetectorFn WindowsPlatform::make_detector(std::string_view, const EngineShared& shared) {
  // Placeholder until the detector is built: it waits for `stop`, so its
  // supervisor neither restarts it nor prints anything.
  return [flags = shared.flags] { placeholder_until_stop(*flags); };
}

std::unique_ptr<Notifier> WindowsPlatform::make_notifier(const EngineShared&) {
  return std::make_unique<NoNotifier>();
}

std::unique_ptr<Responder> WindowsPlatform::make_responder(const EngineShared&) {
  return std::make_unique<NoResponder>();
}

std::function<void()> WindowsPlatform::make_game_mode(const EngineShared& shared) {
  // Placeholder for the game-mode thread: waits for `stop`.
  return [flags = shared.flags] { placeholder_until_stop(*flags); };
}

std::function<void()> WindowsPlatform::make_conns_writer(const EngineShared& shared) {
  // Placeholder for the connection snapshot writer: waits for `stop`.
  return [flags = shared.flags] { placeholder_until_stop(*flags); };
}

std::ostream& WindowsPlatform::error_stream() { return std::cerr; }

}  // namespace tarnwick
