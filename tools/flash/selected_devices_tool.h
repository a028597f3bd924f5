// The device console tool aimed at the devices a run selected: the update's
// two calls keep their verbs, but name each device's own instance (or the
// updater's hardware id) instead of every device of the vendor.
#pragma once

#include <string>
#include <vector>

#include "cport/fw/text.h"
#include "updater/device_console.h"

namespace dov::flash {

// Whether the tool can be given `pattern` as written: it goes in double
// quotes, and it is matched literally only where the tool can be told so.
bool ToolCanName(const std::string& pattern);

class TSelectedDevicesTool : public TToolLauncher {
 public:
  // `patterns`: instance patterns (@USB\VID_...\SERIAL) or hardware ids,
  // each matched by the tool as written, case kept.
  TSelectedDevicesTool(TToolLauncher& tool, std::vector<std::string> patterns);

  // One call of the tool per pattern, with the verb of `parameters`.
  void Start(const std::u16string& parameters) override;

 private:
  TToolLauncher& tool_;
  std::vector<std::u16string> patterns_;
};

}  // namespace dov::flash
