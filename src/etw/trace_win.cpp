#include "etw/trace_win.h"

#include <windows.h>
// The consumer and decoding headers need windows.h first.
#include <evntcons.h>
#include <evntrace.h>
#include <tdh.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <future>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "sysenv/sysenv.h"
#include "text/text.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

constexpr ULONG kBufferSizeKb = 32;
constexpr ULONG kFlushTimerSeconds = 1;
// ProcessTrace that returns within this time never started consuming.
constexpr auto kConsumerGrace = std::chrono::milliseconds(250);

GUID to_win_guid(const Guid& g) {
  GUID w{};
  w.Data1 = g.data1;
  w.Data2 = g.data2;
  w.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) w.Data4[i] = g.data4[i];
  return w;
}

// TDH's declared property types (_TDH_IN_TYPE, Microsoft Learn), which the
// MinGW headers lack.
constexpr USHORT kInTypeAnsiString = 2;
constexpr USHORT kInTypeInt32 = 7;
constexpr USHORT kInTypeUInt32 = 8;
constexpr USHORT kInTypeHexInt32 = 20;
constexpr USHORT kInTypeCountedAnsiString = 301;
constexpr USHORT kInTypeReversedCountedAnsiString = 303;
constexpr USHORT kInTypeNonNullTerminatedAnsiString = 305;

bool is_ansi_string(USHORT in_type) {
  return in_type == kInTypeAnsiString || in_type == kInTypeCountedAnsiString ||
         in_type == kInTypeReversedCountedAnsiString ||
         in_type == kInTypeNonNullTerminatedAnsiString;
}

bool is_32_bit_integer(USHORT in_type) {
  return in_type == kInTypeInt32 || in_type == kInTypeUInt32 || in_type == kInTypeHexInt32;
}

// How a session is set up: which events feed it.
struct SessionSetup {
  ULONG log_file_mode = 0;
  // A system-logger session names itself by a GUID of its own and selects
  // the kernel's events by flags; a provider session has neither.
  std::optional<GUID> session_guid;
  ULONG enable_flags = 0;
};

// EVENT_TRACE_PROPERTIES followed by room for the session name, which the
// system writes back on start and stop.
class TraceProperties {
 public:
  explicit TraceProperties(const std::wstring& name)
      : bytes_(sizeof(EVENT_TRACE_PROPERTIES) + (name.size() + 1) * sizeof(wchar_t)) {
    reset();
  }
  // Only what a stop by name needs.
  void reset() {
    std::fill(bytes_.begin(), bytes_.end(), 0);
    auto* p = get();
    p->Wnode.BufferSize = static_cast<ULONG>(bytes_.size());
    p->LoggerNameOffset = sizeof(EVENT_TRACE_PROPERTIES);
  }
  void set_up(const SessionSetup& setup) {
    reset();
    auto* p = get();
    p->Wnode.Flags = WNODE_FLAG_TRACED_GUID;
    p->Wnode.ClientContext = 1;  // query-performance-counter time stamps
    if (setup.session_guid) p->Wnode.Guid = *setup.session_guid;
    p->LogFileMode = setup.log_file_mode;
    p->EnableFlags = setup.enable_flags;
    p->BufferSize = kBufferSizeKb;
    p->MinimumBuffers = 0;
    p->MaximumBuffers = 0;
    p->FlushTimer = kFlushTimerSeconds;
  }
  EVENT_TRACE_PROPERTIES* get() { return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(bytes_.data()); }

 private:
  std::vector<unsigned char> bytes_;
};

// Decodes one event record through its schema, on demand.
class RecordView final : public TraceEventView {
 public:
  explicit RecordView(PEVENT_RECORD record) : record_(record) {}

  uint16_t id() const override { return record_->EventHeader.EventDescriptor.Id; }
  uint8_t opcode() const override { return record_->EventHeader.EventDescriptor.Opcode; }
  Guid provider_id() const override {
    const GUID& w = record_->EventHeader.ProviderId;
    Guid g;
    g.data1 = w.Data1;
    g.data2 = w.Data2;
    g.data3 = w.Data3;
    for (int i = 0; i < 8; ++i) g.data4[i] = w.Data4[i];
    return g;
  }
  uint32_t header_process_id() const override { return record_->EventHeader.ProcessId; }

  bool has_schema() const override {
    if (!schema_checked_) {
      schema_checked_ = true;
      ULONG size = 0;
      if (TdhGetEventInformation(record_, 0, nullptr, nullptr, &size) ==
              ERROR_INSUFFICIENT_BUFFER &&
          size >= sizeof(TRACE_EVENT_INFO)) {
        info_.resize(size);
        if (TdhGetEventInformation(record_, 0, nullptr, info(), &size) != ERROR_SUCCESS) {
          info_.clear();
        }
      }
    }
    return !info_.empty();
  }

  std::optional<std::string> scalar_bytes(std::string_view property) const override {
    const std::wstring name = win::widen(property);
    const EVENT_PROPERTY_INFO* prop = find(name);
    if (prop == nullptr) return std::nullopt;
    if ((prop->Flags & (PropertyStruct | PropertyParamCount)) != 0 || prop->count != 1) {
      return std::nullopt;
    }
    return read(name);
  }

  std::optional<uint32_t> uint32_value(std::string_view property) const override {
    const std::wstring name = win::widen(property);
    const EVENT_PROPERTY_INFO* prop = find(name);
    if (prop == nullptr || (prop->Flags & (PropertyStruct | PropertyParamCount)) != 0 ||
        prop->count != 1 || !is_32_bit_integer(prop->nonStructType.InType)) {
      return std::nullopt;
    }
    auto bytes = read(name);
    if (!bytes || bytes->size() != 4) return std::nullopt;
    uint32_t value = 0;
    std::memcpy(&value, bytes->data(), 4);  // little-endian, as the platform
    return value;
  }

  std::optional<std::string> string_value(std::string_view property) const override {
    const std::wstring name = win::widen(property);
    const EVENT_PROPERTY_INFO* prop = find(name);
    if (prop == nullptr || (prop->Flags & PropertyStruct) != 0) return std::nullopt;
    auto bytes = read(name);
    if (!bytes) return std::nullopt;
    if (is_ansi_string(prop->nonStructType.InType)) return ansi_text(*bytes);
    return utf16le_text(*bytes);
  }

 private:
  TRACE_EVENT_INFO* info() const { return reinterpret_cast<TRACE_EVENT_INFO*>(info_.data()); }

  // Text in the system's ANSI code page, up to its first NUL.
  static std::string ansi_text(const std::string& bytes) {
    const int length = static_cast<int>(strnlen(bytes.data(), bytes.size()));
    if (length == 0) return std::string();
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (units <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, wide.data(), units);
    return win::narrow(wide);
  }

  const EVENT_PROPERTY_INFO* find(const std::wstring& name) const {
    if (!has_schema()) return nullptr;
    const TRACE_EVENT_INFO* i = info();
    // Only the entries and names that lie inside what TDH wrote are read,
    // whatever the counts and offsets in it say.
    constexpr size_t kArrayOffset = offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray);
    const size_t entries_that_fit =
        info_.size() < kArrayOffset ? 0
                                    : (info_.size() - kArrayOffset) / sizeof(EVENT_PROPERTY_INFO);
    const size_t count = std::min<size_t>(i->TopLevelPropertyCount, entries_that_fit);
    for (size_t k = 0; k < count; ++k) {
      const EVENT_PROPERTY_INFO& p = i->EventPropertyInfoArray[k];
      if (p.NameOffset >= info_.size()) continue;
      const auto* prop_name = reinterpret_cast<const wchar_t*>(info_.data() + p.NameOffset);
      const size_t room = (info_.size() - p.NameOffset) / sizeof(wchar_t);
      const size_t length = wcsnlen(prop_name, room);
      if (length < room && name == std::wstring_view(prop_name, length)) return &p;
    }
    return nullptr;
  }

  std::optional<std::string> read(const std::wstring& name) const {
    PROPERTY_DATA_DESCRIPTOR desc{};
    desc.PropertyName = reinterpret_cast<ULONGLONG>(name.c_str());
    desc.ArrayIndex = ULONG_MAX;
    ULONG size = 0;
    if (TdhGetPropertySize(record_, 0, nullptr, 1, &desc, &size) != ERROR_SUCCESS)
      return std::nullopt;
    std::string bytes(size, '\0');
    if (size != 0 && TdhGetProperty(record_, 0, nullptr, 1, &desc, size,
                                    reinterpret_cast<PBYTE>(bytes.data())) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return bytes;
  }

  PEVENT_RECORD record_;
  mutable bool schema_checked_ = false;
  mutable std::vector<unsigned char> info_;
};

class WindowsTraceSession final : public TraceSession {
 public:
  WindowsTraceSession(std::wstring name, TraceCallback callback)
      : name_(std::move(name)), properties_(name_), callback_(std::move(callback)) {}
  ~WindowsTraceSession() override { stop(); }

  // Starts the session; enables `provider` in it when given.
  std::optional<TraceStartError> start(const SessionSetup& setup, const GUID* provider,
                                       const TraceProvider* settings) {
    // A session of this name left behind by an earlier, killed run would make
    // the start fail; its stop may fail too when there is none.
    properties_.reset();
    ControlTraceW(0, name_.c_str(), properties_.get(), EVENT_TRACE_CONTROL_STOP);

    properties_.set_up(setup);
    ULONG rc = StartTraceW(&session_, name_.c_str(), properties_.get());
    if (rc != ERROR_SUCCESS) return TraceStartError{"StartTraceW", rc};
    session_started_ = true;

    if (provider != nullptr) {
      rc = EnableTraceEx2(session_, provider, EVENT_CONTROL_CODE_ENABLE_PROVIDER, settings->level,
                          settings->match_any_keyword, settings->match_all_keyword, 0, nullptr);
      if (rc != ERROR_SUCCESS) return TraceStartError{"EnableTraceEx2", rc};
    }

    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LoggerName = name_.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_REAL_TIME | PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = &WindowsTraceSession::on_event;
    logfile.Context = this;
    consumer_ = OpenTraceW(&logfile);
    if (consumer_ == INVALID_PROCESSTRACE_HANDLE) {
      return TraceStartError{"OpenTraceW", static_cast<uint32_t>(GetLastError())};
    }

    std::promise<ULONG> finished;
    std::future<ULONG> result = finished.get_future();
    thread_ = std::thread([this, handle = consumer_, done = std::move(finished)]() mutable {
      // Named after its session ("Tarnwick-proc", "Tarnwick-dns").
      name_current_thread(win::narrow(name_));
      const ULONG rc = ProcessTrace(&handle, 1, nullptr, nullptr);
      processing_ended_.store(true);
      done.set_value(rc);
    });
    if (result.wait_for(kConsumerGrace) == std::future_status::ready) {
      return TraceStartError{"ProcessTrace", result.get()};
    }
    return std::nullopt;
  }

  bool ended() const override { return processing_ended_.load() && !stopping_; }

  void stop() override {
    stopping_ = true;
    if (consumer_ != INVALID_PROCESSTRACE_HANDLE) {
      CloseTrace(consumer_);
      consumer_ = INVALID_PROCESSTRACE_HANDLE;
    }
    if (session_started_) {
      properties_.reset();
      ControlTraceW(session_, name_.c_str(), properties_.get(), EVENT_TRACE_CONTROL_STOP);
      session_started_ = false;
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  static void WINAPI on_event(PEVENT_RECORD record) {
    auto* self = static_cast<WindowsTraceSession*>(record->UserContext);
    RecordView view(record);
    // Nothing may unwind into the system's event loop.
    try {
      self->callback_(view);
    } catch (...) {
    }
  }

  std::wstring name_;
  TraceProperties properties_;
  TraceCallback callback_;
  TRACEHANDLE session_ = 0;
  bool session_started_ = false;
  TRACEHANDLE consumer_ = INVALID_PROCESSTRACE_HANDLE;
  // Set by the event thread when ProcessTrace returns: after stop(), or when
  // the session was stopped from outside.
  std::atomic<bool> processing_ended_{false};
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

TraceStart WindowsTraceFactory::start(const std::string& session_name,
                                      const TraceProvider& provider, TraceCallback on_event) {
  const auto guid = parse_guid(provider.guid);
  if (!guid) return TraceStartError{"parsing the provider GUID", ERROR_INVALID_PARAMETER};
  SessionSetup setup;
  setup.log_file_mode = EVENT_TRACE_REAL_TIME_MODE | EVENT_TRACE_NO_PER_PROCESSOR_BUFFERING;
  const GUID provider_guid = to_win_guid(*guid);
  auto session =
      std::make_unique<WindowsTraceSession>(win::widen(session_name), std::move(on_event));
  if (auto error = session->start(setup, &provider_guid, &provider)) {
    session->stop();
    return *error;
  }
  return std::unique_ptr<TraceSession>(std::move(session));
}

TraceStart WindowsTraceFactory::start_kernel(const std::string& session_name,
                                             const KernelTrace& kernel, TraceCallback on_event) {
  const auto guid = parse_guid(kernel.session_guid);
  if (!guid) return TraceStartError{"parsing the session GUID", ERROR_INVALID_PARAMETER};
  // Since Windows 8 the system trace provider feeds up to eight sessions, two
  // of them kept for the NT Kernel Logger and the Circular Kernel Context
  // Logger. Ours is one of the others: its own name and GUID, never the
  // kernel logger's (Microsoft Learn, "Configuring and Starting a
  // SystemTraceProvider Session"). Older systems, or no free slot, fail here.
  SessionSetup setup;
  setup.log_file_mode = EVENT_TRACE_REAL_TIME_MODE | EVENT_TRACE_SYSTEM_LOGGER_MODE;
  setup.session_guid = to_win_guid(*guid);
  setup.enable_flags = kernel.enable_flags;
  auto session =
      std::make_unique<WindowsTraceSession>(win::widen(session_name), std::move(on_event));
  if (auto error = session->start(setup, nullptr, nullptr)) {
    session->stop();
    return *error;
  }
  return std::unique_ptr<TraceSession>(std::move(session));
}

}  // namespace tarnwick
