#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <stdexcept>

#include "child_process.h"
#include "cport/fw/os_error.h"
#include "cport/fw/text.h"

namespace dov::flash {

struct TChildProcess::TProcess {
  HANDLE handle = nullptr;
  DWORD code = 0;
};

namespace {

// One word of a command line, quoted so the C runtime splits it back.
std::wstring Quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) {
    return word;
  }
  std::wstring text = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    text.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    text += c;
  }
  text.append(slashes * 2, L'\\');
  return text + L"\"";
}

std::wstring Wide(const std::string& text) {
  const std::u16string wide = cport::fw::FromUtf8(text);
  return std::wstring(wide.begin(), wide.end());
}

// A pipe whose read end stays here and whose write end the child inherits.
void MakePipe(HANDLE& read, HANDLE& write) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  if (!CreatePipe(&read, &write, &inherit, 0)) {
    throw std::runtime_error(
        "cannot make a pipe: " +
        cport::fw::ToUtf8(cport::fw::SysErrorMessage(GetLastError())));
  }
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
}

std::FILE* Stream(HANDLE handle) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 _O_RDONLY | _O_BINARY);
  return _fdopen(fd, "rb");
}

}  // namespace

TChildProcess::TChildProcess(const std::filesystem::path& program,
                             const std::vector<std::string>& args)
    : process_(std::make_unique<TProcess>()) {
  HANDLE outRead = nullptr, outWrite = nullptr;
  HANDLE errRead = nullptr, errWrite = nullptr;
  MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);
  std::wstring line = Quoted(program.wstring());
  for (const std::string& arg : args) line += L" " + Quoted(Wide(arg));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info{};
  const BOOL started =
      CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  output_.reset(Stream(outRead));
  errors_.reset(Stream(errRead));
  if (!started) {
    throw std::runtime_error(
        "cannot start " + program.string() + ": " +
        cport::fw::ToUtf8(cport::fw::SysErrorMessage(error)));
  }
  CloseHandle(info.hThread);
  process_->handle = info.hProcess;
}

TChildProcess::~TChildProcess() {
  Wait();
  if (process_->handle != nullptr) CloseHandle(process_->handle);
}

int TChildProcess::Wait() {
  if (process_->handle == nullptr) return -1;
  WaitForSingleObject(process_->handle, INFINITE);
  GetExitCodeProcess(process_->handle, &process_->code);
  return static_cast<int>(process_->code);
}

std::string TChildProcess::Ending() const {
  return "exit code " + std::to_string(process_->code);
}

// A console's Ctrl+C and Ctrl+Break reach every process on it already, the
// children too; there is nothing to pass on.
void TChildProcess::Signal(int) {}

}  // namespace dov::flash
