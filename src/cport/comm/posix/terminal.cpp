// Only the kernel's own terminal definitions here: see terminal.h.
#include "cport/comm/posix/terminal.h"

#include <asm/termbits.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>

#include <cerrno>

namespace cport::comm::posix::terminal {
namespace {

int Result(int rc) { return rc == 0 ? 0 : errno; }

int Get(int fd, termios2* t) { return Result(::ioctl(fd, TCGETS2, t)); }
int Set(int fd, const termios2& t) { return Result(::ioctl(fd, TCSETS2, &t)); }

std::uint32_t DtrControl(const Dcb& dcb) {
  return (dcb.Flags & kDcbDtrControlMask) >> kDcbDtrControlShift;
}
std::uint32_t RtsControl(const Dcb& dcb) {
  return (dcb.Flags & kDcbRtsControlMask) >> kDcbRtsControlShift;
}

tcflag_t SizeFlag(std::uint8_t bits) {
  switch (bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

// The rate's own speed code where it has one (so programs that know only
// those codes read it back), else the arbitrary-rate code.
tcflag_t SpeedCode(std::uint32_t rate) {
  static constexpr struct {
    std::uint32_t rate;
    tcflag_t code;
  } kCodes[] = {
      {50, B50},           {75, B75},           {110, B110},
      {134, B134},         {150, B150},         {200, B200},
      {300, B300},         {600, B600},         {1200, B1200},
      {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},
      {460800, B460800},   {500000, B500000},   {576000, B576000},
      {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
      {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kCodes) {
    if (entry.rate == rate) return entry.code;
  }
  return BOTHER;
}

tcflag_t ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case kOddParity:
      return PARENB | PARODD;
    case kEvenParity:
      return PARENB;
    case kMarkParity:
      return PARENB | CMSPAR | PARODD;
    case kSpaceParity:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

}  // namespace

int MakeRaw(int fd) {
  termios2 t{};
  if (int error = Get(fd, &t)) return error;
  // Errors are marked in-band (0xFF 0x00 c; a received 0xFF arrives doubled)
  // so the backend can see break, parity and framing errors and replace or
  // report them; everything else passes untouched.
  t.c_iflag = PARMRK;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag |= CREAD | CLOCAL;
  // Readiness at every byte: poll must wake on the first one.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return Set(fd, t);
}

int CheckDcb(const Dcb& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
      dcb.Parity > kSpaceParity || dcb.StopBits > kTwoStopBits) {
    return EINVAL;
  }
  // UARTs give 1.5 stop bits only with 5 data bits, and 2 only with more.
  if (dcb.StopBits == kOne5StopBits && dcb.ByteSize != 5) return EINVAL;
  if (dcb.StopBits == kTwoStopBits && dcb.ByteSize == 5) return EINVAL;
  const bool xonXoff = (dcb.Flags & (kDcbOutX | kDcbInX)) != 0;
  if (xonXoff && dcb.XonChar == dcb.XoffChar) return EINVAL;
  // The kernel has one switch for both directions of RTS/CTS handshaking,
  // nothing for DSR flow, DTR handshaking, DSR sensitivity or RTS toggling,
  // and no abort-on-error mode.
  const bool ctsOut = (dcb.Flags & kDcbOutxCtsFlow) != 0;
  const bool rtsIn = RtsControl(dcb) == kRtsControlHandshake;
  if (ctsOut != rtsIn || RtsControl(dcb) == kRtsControlToggle ||
      DtrControl(dcb) == kDtrControlHandshake ||
      (dcb.Flags & (kDcbOutxDsrFlow | kDcbDsrSensitivity | kDcbAbortOnError)) !=
          0) {
    return static_cast<int>(kErrorNotSupported);
  }
  return 0;
}

int ApplyDcb(int fd, const Dcb& dcb) {
  termios2 t{};
  if (int error = Get(fd, &t)) return error;
  t.c_cflag &=
      ~(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= SpeedCode(dcb.BaudRate) | SizeFlag(dcb.ByteSize) |
               ParityFlags(dcb.Parity) | CREAD | CLOCAL;
  if (dcb.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;
  if ((dcb.Flags & kDcbOutxCtsFlow) != 0) t.c_cflag |= CRTSCTS;
  t.c_ispeed = dcb.BaudRate;
  t.c_ospeed = dcb.BaudRate;

  t.c_iflag = PARMRK;
  if ((dcb.Flags & kDcbParity) != 0) t.c_iflag |= INPCK;
  if ((dcb.Flags & kDcbOutX) != 0) t.c_iflag |= IXON;
  if ((dcb.Flags & kDcbInX) != 0) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = dcb.XonChar;
  t.c_cc[VSTOP] = dcb.XoffChar;
  if (int error = Set(fd, t)) return error;

  // A driver that cannot do the rate leaves another one in place; that is a
  // failure, not a silent change of speed.
  termios2 check{};
  if (int error = Get(fd, &check)) return error;
  const std::uint32_t got = check.c_ospeed;
  const std::uint32_t slack = dcb.BaudRate / 50;  // 2 %, as UART dividers
  if (got + slack < dcb.BaudRate || got > dcb.BaudRate + slack) return EINVAL;
  return 0;
}

int Flush(int fd, bool input, bool output) {
  if (!input && !output) return 0;
  const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return Result(::ioctl(fd, TCFLSH, which));
}

int SetOutputFlow(int fd, bool on) {
  return Result(::ioctl(fd, TCXONC, on ? TCOON : TCOOFF));
}

bool IsPseudoTerminal(int fd) {
  // The near ends of pseudo-terminals live on the devpts file system.
  struct statfs fs {};
  return ::fstatfs(fd, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC;
}

}  // namespace cport::comm::posix::terminal
