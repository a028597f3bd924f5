// The device console tool aimed at one device: the update's two calls keep
// their verbs, but name the device's own instance instead of every device
// of the vendor.
#pragma once

#include <string>

#include "cport/fw/text.h"
#include "updater/device_console.h"

namespace dov::flash {

class TOneDeviceTool : public TToolLauncher {
 public:
  // `pattern`: the device's instance pattern (@USB\VID_...\SERIAL). A
  // blank inside it would split the tool's arguments, so it becomes '?'.
  TOneDeviceTool(TToolLauncher& tool, const std::string& pattern)
      : tool_(tool), pattern_(cport::fw::FromUtf8(pattern)) {
    for (char16_t& c : pattern_) {
      if (c == u' ' || c == u'\t') c = u'?';
    }
  }

  void Start(const std::u16string& parameters) override {
    tool_.Start(parameters.substr(0, parameters.find(u' ')) + u" " + pattern_);
  }

 private:
  TToolLauncher& tool_;
  std::u16string pattern_;
};

}  // namespace dov::flash
