// A link: another component's way to follow a port's notifications. It is
// registered with the port, which tells every registered link, in
// registration order, of the occasions whose handler the link has assigned.
// The port never owns its links.
#pragma once

#include "cport/fw/object.h"
#include "cport/types.h"

namespace cport {

class TComLink : public cport::fw::TObject {
 public:
  std::u16string ClassName() const override { return u"TComLink"; }

  const TComSignalEvent& OnConn() const { return FOnConn; }
  void SetOnConn(TComSignalEvent value) { FOnConn = std::move(value); }
  const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
  void SetOnRxBuf(TRxBufEvent value) { FOnRxBuf = std::move(value); }
  const TRxBufEvent& OnTxBuf() const { return FOnTxBuf; }
  void SetOnTxBuf(TRxBufEvent value) { FOnTxBuf = std::move(value); }
  const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
  void SetOnTxEmpty(TNotifyEvent value) { FOnTxEmpty = std::move(value); }
  const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
  void SetOnRxFlag(TNotifyEvent value) { FOnRxFlag = std::move(value); }
  const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
  void SetOnCTSChange(TComSignalEvent value) {
    FOnCTSChange = std::move(value);
  }
  const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
  void SetOnDSRChange(TComSignalEvent value) {
    FOnDSRChange = std::move(value);
  }
  const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
  void SetOnRLSDChange(TComSignalEvent value) {
    FOnRLSDChange = std::move(value);
  }
  const TNotifyEvent& OnRing() const { return FOnRing; }
  void SetOnRing(TNotifyEvent value) { FOnRing = std::move(value); }
  const TComSignalEvent& OnTx() const { return FOnTx; }
  void SetOnTx(TComSignalEvent value) { FOnTx = std::move(value); }
  const TComSignalEvent& OnRx() const { return FOnRx; }
  void SetOnRx(TComSignalEvent value) { FOnRx = std::move(value); }

 private:
  TComSignalEvent FOnConn;
  TRxBufEvent FOnRxBuf;
  TRxBufEvent FOnTxBuf;
  TNotifyEvent FOnTxEmpty;
  TNotifyEvent FOnRxFlag;
  TComSignalEvent FOnCTSChange;
  TComSignalEvent FOnDSRChange;
  TComSignalEvent FOnRLSDChange;
  TNotifyEvent FOnRing;
  TComSignalEvent FOnTx;
  TComSignalEvent FOnRx;
};

}  // namespace cport
