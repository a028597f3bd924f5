#include <io.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "cport/fw/os_error.h"
#include "cport/fw/text.h"
#include "updater/output_channel.h"

namespace dov {

struct TOutputDevice::TState {
  int fd = -1;
  bool owned = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  // The writer thread, for Cancel: a console or pipe write cannot be made
  // to return early in any other way.
  std::atomic<HANDLE> writer{nullptr};
};

TOutputDevice::TOutputDevice(int fd, bool owned)
    : state_(std::make_unique<TState>()) {
  state_->fd = fd;
  state_->owned = owned;
  state_->handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

TOutputDevice::~TOutputDevice() {
  if (HANDLE writer = state_->writer.load()) ::CloseHandle(writer);
  if (state_->owned) ::_close(state_->fd);
}

long TOutputDevice::Write(std::string_view text, std::chrono::milliseconds,
                          std::string& error) {
  if (state_->writer.load() == nullptr) {
    HANDLE self = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                      ::GetCurrentProcess(), &self, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    state_->writer.store(self);
  }
  DWORD written = 0;
  if (::WriteFile(state_->handle, text.data(), static_cast<DWORD>(text.size()),
                  &written, nullptr)) {
    return static_cast<long>(written);
  }
  error = cport::fw::ToUtf8(cport::fw::SysErrorMessage(::GetLastError()));
  return -1;
}

void TOutputDevice::Cancel() {
  if (HANDLE writer = state_->writer.load()) ::CancelSynchronousIo(writer);
}

}  // namespace dov
