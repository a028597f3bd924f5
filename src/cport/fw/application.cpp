#include "cport/fw/application.h"

#include <atomic>
#include <cstdio>

#include "cport/fw/exception.h"
#include "cport/fw/synchronize.h"
#include "cport/fw/text.h"

namespace cport::fw {
namespace {

std::atomic<TApplication*> gApplication{nullptr};

}  // namespace

TApplication::TApplication() { InitMainThread(); }

TApplication::~TApplication() {
  TApplication* self = this;
  if (gApplication.compare_exchange_strong(self, nullptr))
    SetWakeMainThread(nullptr);
}

void TApplication::Run() {
  while (HandleMessage()) {
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  WakeMainThread();
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
  try {
    const std::u16string text = DisplayText(ExceptionMessage(error));
    if (showException_) {
      showException_(text, title_);
    } else {
      std::fprintf(stderr, "%s: %s\n", ToUtf8(title_).c_str(),
                   ToUtf8(text).c_str());
    }
  } catch (...) {
    // The display itself failed; there is nowhere left to report it.
  }
}

std::u16string TApplication::DisplayText(std::u16string message) {
  if (!message.empty() && message.back() > u'.') message.push_back(u'.');
  return message;
}

std::u16string TApplication::ExceptionMessage(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return u"Unknown exception";
  }
}

TApplication* Application() { return gApplication.load(); }

void SetApplication(TApplication* application) {
  gApplication = application;
  if (application != nullptr) {
    SetWakeMainThread([application] { application->OnWake(); });
  } else {
    SetWakeMainThread(nullptr);
  }
}

}  // namespace cport::fw
