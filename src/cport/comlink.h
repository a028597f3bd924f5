// A link: another component's way to follow a port's notifications. It is
// registered with the port, which tells every registered link, in
// registration order, of the occasions whose handler the link has assigned.
// The port never owns its links.
#pragma once

#include "cport/fw/object.h"
#include "cport/types.h"

namespace cport {

/// Follows a port's notifications beside the port's own handlers: register
/// it with TCustomComPort::RegisterLink. Its handlers run before the port's,
/// on the same thread. The port never owns its links.
class TComLink : public cport::fw::TObject {
 public:
  std::u16string ClassName() const override { return u"TComLink"; }

  /// The port opened (true) or closed (false); on the thread of Open or
  /// Close.
  ///@{
  const TComSignalEvent& OnConn() const { return FOnConn; }
  void SetOnConn(TComSignalEvent value) { FOnConn = std::move(value); }
  ///@}
  /// Bytes the port received and read, valid during the call only. While a
  /// link has this handler the port reads received data itself (its
  /// TriggersOnRxChar reads false). On the thread the port's SyncMethod
  /// names.
  ///@{
  const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
  void SetOnRxBuf(TRxBufEvent value) { FOnRxBuf = std::move(value); }
  ///@}
  /// Bytes about to be written; kept for links that follow the output.
  ///@{
  const TRxBufEvent& OnTxBuf() const { return FOnTxBuf; }
  void SetOnTxBuf(TRxBufEvent value) { FOnTxBuf = std::move(value); }
  ///@}
  /// The output queue has run empty; as the port's OnTxEmpty.
  ///@{
  const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
  void SetOnTxEmpty(TNotifyEvent value) { FOnTxEmpty = std::move(value); }
  ///@}
  /// The event character arrived; as the port's OnRxFlag.
  ///@{
  const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
  void SetOnRxFlag(TNotifyEvent value) { FOnRxFlag = std::move(value); }
  ///@}
  /// The CTS line changed; as the port's OnCTSChange.
  ///@{
  const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
  void SetOnCTSChange(TComSignalEvent value) {
    FOnCTSChange = std::move(value);
    ///@}
  }
  /// The DSR line changed; as the port's OnDSRChange.
  ///@{
  const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
  void SetOnDSRChange(TComSignalEvent value) {
    FOnDSRChange = std::move(value);
    ///@}
  }
  /// The RLSD line changed; as the port's OnRLSDChange.
  ///@{
  const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
  void SetOnRLSDChange(TComSignalEvent value) {
    FOnRLSDChange = std::move(value);
    ///@}
  }
  /// The ring indicator came on; as the port's OnRing.
  ///@{
  const TNotifyEvent& OnRing() const { return FOnRing; }
  void SetOnRing(TNotifyEvent value) { FOnRing = std::move(value); }
  ///@}
  /// Transmission started (true) or ended; kept for links that show activity.
  ///@{
  const TComSignalEvent& OnTx() const { return FOnTx; }
  void SetOnTx(TComSignalEvent value) { FOnTx = std::move(value); }
  ///@}
  /// Reception started (true) or ended; kept for links that show activity.
  ///@{
  const TComSignalEvent& OnRx() const { return FOnRx; }
  void SetOnRx(TComSignalEvent value) { FOnRx = std::move(value); }
  ///@}

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
