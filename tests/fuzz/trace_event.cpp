// Process-start events as the traces deliver them (the Kernel-Process
// provider's and the kernel's own): property bytes decoded to text, the launch
// taken from the event, and the rules run over it. Whatever the bytes, texts
// are well-formed without NUL and every alert is one valid log line.
#include "etw/trace.h"
#include "etw/trace_fake.h"
#include "fuzz_support.h"
#include "proc/detector.h"
#include "procmeta/procmeta_fake.h"
#include "text/text.h"

using namespace tarnwick;

namespace {

class CheckedOut final : public AlertOut {
 public:
  void push(Alert alert) override {
    FUZZ_CHECK(fuzz::nlohmann_valid_utf8(alert.detail), alert.detail);
    fuzz::read_log_line(serialise(alert));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  testing::FakeTraceEvent event;
  event.event_id = in.ConsumeIntegralInRange<uint16_t>(0, 2);
  event.header_pid = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  event.schema = in.ConsumeProbability<float>() < 0.95f;
  std::string pid_bytes;
  if (in.ConsumeBool()) event.scalars["ProcessID"] = pid_bytes = in.ConsumeRandomLengthString(8);
  const std::string image_bytes = in.ConsumeRandomLengthString(1024);
  const std::string cmd_bytes = in.ConsumeRandomLengthString(4096);
  const std::string parent_bytes = in.ConsumeRandomLengthString(512);
  if (in.ConsumeBool()) event.strings["ImageName"] = utf16le_text(image_bytes);
  if (in.ConsumeBool()) event.strings["CommandLine"] = utf16le_text(cmd_bytes);

  testing::FakeProcessQuery query;
  query.paths[1] = utf16le_text(parent_bytes);
  query.paths[2] = "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE";
  query.paths[3] = "C:\\Windows\\System32\\cmd.exe";

  std::optional<ProcessLaunch> launch;
  if (in.ConsumeBool()) {
    launch = launch_from_event(event);
    FUZZ_CHECK(launch.has_value() == (event.event_id == 1 && event.schema));
    if (!launch) return 0;
    FUZZ_CHECK(launch->parent_pid == event.header_pid);
    if (pid_bytes.size() != 4) FUZZ_CHECK(launch->pid == 0);
  } else {
    // The kernel's own start: the same texts under its property names.
    event.event_opcode = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    event.provider = *parse_guid(kKernelProcessClassGuid);
    if (event.strings.count("ImageName")) event.strings["ImageFileName"] = event.strings["ImageName"];
    if (in.ConsumeBool()) event.uint32s["ProcessId"] = in.ConsumeIntegralInRange<uint32_t>(0, 5);
    if (in.ConsumeBool()) event.uint32s["ParentId"] = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    launch = launch_from_kernel_event(event, query);
    FUZZ_CHECK(launch.has_value() ==
               (event.event_opcode == 1 && event.schema && event.uint32s.count("ProcessId")));
    if (!launch) return 0;
  }
  for (const std::string* text : {&launch->image, &launch->command_line}) {
    FUZZ_CHECK(fuzz::nlohmann_valid_utf8(*text) && text->find('\0') == std::string::npos, *text);
  }

  testing::FakeSignatureCheck trust;
  LaunchEvaluator evaluator(query, trust);
  CheckedOut out;
  evaluator.evaluate(*launch, out);
  return 0;
}
