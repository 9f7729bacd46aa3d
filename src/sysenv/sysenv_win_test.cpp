#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "sysenv/sysenv.h"

namespace tarnwick {
namespace {

// The name as process viewers read it back.
std::wstring description_of(HANDLE thread) {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get = reinterpret_cast<GetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "GetThreadDescription")));
  if (get == nullptr) return L"(no GetThreadDescription)";
  PWSTR text = nullptr;
  if (FAILED(get(thread, &text)) || text == nullptr) return L"(unreadable)";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

TEST(NameCurrentThread, NamesTheCallingThreadOnly) {
  std::wstring inside;
  std::thread worker([&] {
    name_current_thread("persist-run-1");
    inside = description_of(GetCurrentThread());
  });
  worker.join();
  EXPECT_EQ(inside, L"persist-run-1");
  EXPECT_NE(description_of(GetCurrentThread()), L"persist-run-1");
}

}  // namespace
}  // namespace tarnwick
