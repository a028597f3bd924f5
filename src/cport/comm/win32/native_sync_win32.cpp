// Events, waits and threads on Windows: kernel32 itself.
#include <windows.h>

#include <array>
#include <memory>

#include "cport/comm/native_sync.h"

namespace cport::comm {
namespace {

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle FromH(HANDLE h) { return reinterpret_cast<Handle>(h); }

DWORD WINAPI ThreadStart(LPVOID parameter) {
  std::unique_ptr<std::function<std::uint32_t()>> body(
      static_cast<std::function<std::uint32_t()>*>(parameter));
  return (*body)();
}

}  // namespace

bool NativeSync::CloseHandle(Handle h) { return ::CloseHandle(H(h)) != 0; }

std::uint32_t NativeSync::GetLastError() { return ::GetLastError(); }

void NativeSync::SetLastError(std::uint32_t code) { ::SetLastError(code); }

Handle NativeSync::CreateEventW(bool manualReset, bool initialState) {
  HANDLE h = ::CreateEventW(nullptr, manualReset, initialState, nullptr);
  return h == nullptr ? 0 : FromH(h);
}

bool NativeSync::SetEvent(Handle h) { return ::SetEvent(H(h)) != 0; }

bool NativeSync::ResetEvent(Handle h) { return ::ResetEvent(H(h)) != 0; }

std::uint32_t NativeSync::WaitForSingleObject(Handle h,
                                              std::uint32_t milliseconds) {
  return ::WaitForSingleObject(H(h), milliseconds);
}

std::uint32_t NativeSync::WaitForMultipleObjects(std::uint32_t count,
                                                 const Handle* handles,
                                                 bool waitAll,
                                                 std::uint32_t milliseconds) {
  // Counts above the limit fail in kernel32 itself, before reading them.
  std::array<HANDLE, kMaxWaitObjects> native{};
  for (std::uint32_t i = 0; i < count && i < kMaxWaitObjects; ++i)
    native[i] = H(handles[i]);
  return ::WaitForMultipleObjects(count, native.data(), waitAll, milliseconds);
}

void NativeSync::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

Handle NativeSync::CreateThread(std::function<std::uint32_t()> body,
                                bool suspended) {
  auto* parameter = new std::function<std::uint32_t()>(std::move(body));
  HANDLE h = ::CreateThread(nullptr, 0, ThreadStart, parameter,
                            suspended ? CREATE_SUSPENDED : 0, nullptr);
  if (h == nullptr) {
    DWORD error = ::GetLastError();
    delete parameter;
    ::SetLastError(error);
    return 0;
  }
  return FromH(h);
}

std::uint32_t NativeSync::ResumeThread(Handle thread) {
  return ::ResumeThread(H(thread));
}

bool NativeSync::SetThreadPriority(Handle thread, int priority) {
  return ::SetThreadPriority(H(thread), priority) != 0;
}

bool NativeSync::GetExitCodeThread(Handle thread, std::uint32_t* exitCode) {
  DWORD code = 0;
  BOOL ok = ::GetExitCodeThread(H(thread), &code);
  *exitCode = code;
  return ok != 0;
}

std::u16string NativeSync::FormatMessageW(std::uint32_t code) {
  wchar_t* text = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::u16string result;
  if (length > 0 && text != nullptr) {
    result.assign(reinterpret_cast<const char16_t*>(text), length);
    while (!result.empty() &&
           (result.back() == u'\r' || result.back() == u'\n' ||
            result.back() == u' ')) {
      result.pop_back();
    }
  }
  if (text != nullptr) ::LocalFree(text);
  return result;
}

}  // namespace cport::comm
