#include "updater/device_port.h"

#include <string>

#include "cport/comport.h"
#include "updater/update_trace.h"

namespace dov {

void ConfigureDevicePort(cport::TCustomComPort& port) {
  port.BeginLoading();
  port.SetBaudRate(cport::br115200);
  port.SetDataBits(cport::dbEight);
  port.Parity().SetBits(cport::prNone);
  port.SetStopBits(cport::sbOneStopBit);
  cport::TComFlowControl& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(cport::dtrDisable);
  flow.SetControlRTS(cport::rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  port.SetEvents(cport::kAllComEvents);
  port.SetTriggersOnRxChar(true);
  port.SetPort(u"COM3");
  port.EndLoading();
}

void DropReceived(cport::TCustomComPort& port, std::int32_t count,
                  TUpdateTrace* trace) {
  std::u16string dropped;
  const std::int32_t read = port.ReadStr(dropped, count);
  if (trace != nullptr) trace->Drained(read);
}

}  // namespace dov
