// The device's serial line, the same for every front end that runs an
// update: the dialog's ComPort1 and the command-line flasher's port.
#pragma once

#include <cstdint>

namespace cport {
class TCustomComPort;
}

namespace dov {

class TUpdateTrace;

// 115200 baud, 8 data bits, no parity, one stop bit, no flow control with
// DTR and RTS held off, every line event watched, received bytes reported
// through OnRxChar, port COM3. Read as stored settings, so nothing reaches a
// device; the port opens at the first update. OnRxChar is the caller's.
void ConfigureDevicePort(cport::TCustomComPort& port);

// Reads `count` received bytes and drops them: nothing the device sends is
// examined or kept. What was read is noted in `trace` when there is one.
void DropReceived(cport::TCustomComPort& port, std::int32_t count,
                  TUpdateTrace* trace = nullptr);

}  // namespace dov
