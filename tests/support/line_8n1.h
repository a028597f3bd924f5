// The line most tests open: 115200 baud, 8 data bits, no parity, one stop
// bit, binary, no flow control, the usual XON/XOFF characters and limits.
#pragma once

#include "cport/comm/comm_api.h"

namespace cport::comm {

inline Dcb Line8N1() {
  Dcb dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = kDcbBinary;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  return dcb;
}

}  // namespace cport::comm
