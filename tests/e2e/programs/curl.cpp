// Stand-in for curl in the push tests: appends one JSON line describing how
// it was started (its raw command line, the system's split of it, and the
// file types of its standard handles) to the file named by
// TARNWICK_CURL_RECORD, then exits. It sends nothing anywhere.

#include <windows.h>
// After windows.h, which it relies on.
#include <shellapi.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

void append_json_string(const std::string& text, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

int main() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"TARNWICK_CURL_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;

  const wchar_t* line = GetCommandLineW();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line, &argc);
  if (argv == nullptr) return 3;

  std::string record = "{\"command_line\":";
  append_json_string(utf8(line), record);
  record += ",\"argv\":[";
  for (int i = 0; i < argc; ++i) {
    if (i > 0) record += ',';
    append_json_string(utf8(argv[i]), record);
  }
  LocalFree(argv);
  record += "],\"stdout_type\":" + std::to_string(GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)));
  record += ",\"stderr_type\":" + std::to_string(GetFileType(GetStdHandle(STD_ERROR_HANDLE)));
  record += "}\n";

  // One write per record, so a reader never sees half of one.
  const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == record.size() ? 0 : 5;
}
