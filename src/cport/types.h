// The enumerations and sets in which the port's settings and results are
// expressed, the notification types, and the table of line speeds.
#pragma once

#include <array>
#include <cstdint>

#include "cport/fw/events.h"
#include "cport/fw/set.h"

namespace cport {

/// Line speed; every member but brCustom names its bits per second.
enum TBaudRate : std::uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};

/// Bits per second of each TBaudRate member, by ordinal. brCustom stands for
/// the port's CustomBaudRate and has no fixed value here.
inline constexpr std::array<std::int32_t, 16> kBaudRates = {
    0,     110,   300,   600,   1200,  2400,   4800,   9600,
    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

/// The bits per second that `rate` stands for, `custom` for brCustom.
constexpr std::int32_t BaudRateValue(TBaudRate rate, std::int32_t custom) {
  return rate == brCustom ? custom : kBaudRates[rate];
}

enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t {
  rtsDisable,
  rtsEnable,
  rtsHandshake,
  rtsToggle
};
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

enum TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
using TComEvents = cport::fw::TSet<TComEvent, std::uint16_t>;
inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = cport::fw::TSet<TComSignal, std::uint8_t>;

enum TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
using TComErrors = cport::fw::TSet<TComError, std::uint8_t>;

/// The thread on which the port's notifications run.
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TStoreType : std::uint8_t { stRegistry, stIniFile };
enum TStoredProp : std::uint8_t {
  spBasic,
  spFlowControl,
  spBuffer,
  spTimeouts,
  spParity,
  spOthers
};
using TStoredProps = cport::fw::TSet<TStoredProp, std::uint8_t>;

/// Kind of the last operation issued with an async record.
enum TOperationKind : std::uint8_t { okWrite, okRead };

enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

/// The value SetThreadPriority takes for each TThreadPriority, by ordinal.
inline constexpr std::array<int, 7> kThreadPriorities = {-15, -2, -1, 0,
                                                         1,   2,  15};

/// Hold states of the driver's queues (the low bits of its status word).
enum TComStateFlag : std::uint8_t {
  fCtlHold,
  fDsrHold,
  fRlsHold,
  fXoffHold,
  fXOffSent,
  fEof,
  fTxim
};
using TComStateFlags = cport::fw::TSet<TComStateFlag, std::uint8_t>;

/// Notifications. The sender is always the port.
using cport::fw::TNotifyEvent;
using TRxCharEvent = cport::fw::TMethod<std::int32_t /*Count*/>;
using TRxBufEvent =
    cport::fw::TMethod<const std::uint8_t* /*Buffer*/, std::int32_t /*Count*/>;
using TComErrorEvent = cport::fw::TMethod<TComErrors /*Errors*/>;
using TComSignalEvent = cport::fw::TMethod<bool /*OnOff*/>;

}  // namespace cport
