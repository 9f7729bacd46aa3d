#pragma once
// The real engine platform: wires the Windows implementations of every
// capability into the engine.

#include "engine/engine.h"

namespace tarnwick {

class WindowsPlatform final : public EnginePlatform {
 public:
  std::filesystem::path resolve_data_dir() override;
  void install_console_handler(std::shared_ptr<EngineFlags> flags,
                               std::shared_ptr<AlertQueue> queue) override;
  DetectorFn make_detector(std::string_view name, const EngineShared& shared) override;
  std::unique_ptr<Notifier> make_notifier(const EngineShared& shared) override;
  std::unique_ptr<Responder> make_responder(const EngineShared& shared) override;
  std::vector<std::unique_ptr<AlertOutput>> make_outputs(const EngineShared& shared) override;
  std::function<void()> make_game_mode(const EngineShared& shared) override;
  std::function<void()> make_conns_writer(const EngineShared& shared) override;
  std::ostream& error_stream() override;
};

}  // namespace tarnwick
