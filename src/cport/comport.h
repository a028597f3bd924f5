// The serial port object: one COM port, its settings, opening and closing,
// overlapped and blocking transfers, line control and status, notification
// hooks and links. Every platform call goes through cport::comm::Api().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cport/async.h"
#include "cport/comlink.h"
#include "cport/comm/comm_api.h"
#include "cport/errors.h"
#include "cport/fw/component.h"
#include "cport/settings.h"
#include "cport/types.h"

namespace cport {

class TComThread;
struct TMessage;

/// One serial port: its settings, Open and Close, blocking and overlapped
/// transfers, line control and status, and notifications of line events.
/// Use it from one thread (the application's, normally); handlers run on
/// the thread SyncMethod names. Every failing call raises EComPort with its
/// code (or calls OnException, when assigned); the codes are those of
/// TComExceptions, and a call on a port that is not open raises code 24
/// (CEPortNotOpen).
class TCustomComPort : public cport::fw::TComponent {
 public:
  /// A closed port on COM1 at 9600 baud, 8N1, owned by `AOwner` (may be
  /// null), which then destroys it with itself.
  explicit TCustomComPort(cport::fw::TComponent* AOwner);
  /// Closes the port when it is open. A handler may destroy the port from
  /// inside any of its notifications, the links' calls and OnException
  /// included, whether it runs in the call that made it or in an event
  /// thread's delivery (in every delivery mode): the port's code it returns
  /// to touches the port no more, the device is closed, the rest of a report
  /// is dropped, and the event thread ends and frees itself once the handler
  /// has returned (cport::fw::WaitForFreedThreads waits for that).
  ~TCustomComPort() override;

  std::u16string ClassName() const override { return u"TCustomComPort"; }

  // --- Properties ---------------------------------------------------------

  /// The open device; cport::comm::kInvalidHandle while none is open.
  cport::comm::Handle Handle() const { return FHandle; }

  /// Whether data received is announced through OnRxChar, whose handler reads
  /// it (true, the default), or read by the port and handed to OnRxBuf
  /// (false). Reads false while a registered link has an OnRxBuf handler;
  /// setting it then raises code 22 (CE_HasLink).
  ///@{
  bool TriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }
  void SetTriggersOnRxChar(bool value);
  ///@}
  /// Priority of the event thread. Changing it while the port is open raises
  /// code 14 (CE_ConnChangeProp).
  ///@{
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority value);
  ///@}
  /// The groups of settings that a stored description of the port keeps.
  ///@{
  TStoredProps StoredProps() const { return FStoredProps; }
  void SetStoredProps(TStoredProps value) { FStoredProps = value; }
  ///@}
  /// True while the port is open. Setting it opens or closes the port, as
  /// Open and Close do (and raises what they raise).
  ///@{
  bool Connected() const { return FConnected; }
  void SetConnected(bool value);
  ///@}
  /// Line speed; brCustom takes CustomBaudRate. While the port is open the
  /// line settings are sent at once: code 7 (CE_SetStateFailed) when the
  /// driver refuses them.
  ///@{
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  ///@}
  /// Line speed in bits per second while BaudRate is brCustom. Sent as
  /// BaudRate is.
  ///@{
  std::int32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(std::int32_t value);
  ///@}
  /// The device name ("COM3"); the device path is "\\.\" followed by it. On
  /// Linux COMn is found through the link comn in the DOS-device folder
  /// ($WINEPREFIX/dosdevices), else /dev/ttyS(n-1). Changing it while open
  /// closes the port and opens the new one.
  ///@{
  const std::u16string& Port() const { return FPort; }
  void SetPort(const std::u16string& value);
  ///@}
  /// Parity settings; a change to them while open is sent at once (code 7,
  /// CE_SetStateFailed, when the driver refuses).
  ///@{
  TComParity& Parity() { return *FParity; }
  const TComParity& Parity() const { return *FParity; }
  ///@}
  /// Copies the values of `value` and sends the group; the port keeps its
  /// own object (likewise for Buffer, FlowControl and Timeouts).
  void SetParity(const TComParity& value);
  /// Stop bits per character. Sent as BaudRate is.
  ///@{
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  ///@}
  /// Data bits per character. Sent as BaudRate is.
  ///@{
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  ///@}
  /// Whether the driver drops received zero bytes. Sent as BaudRate is.
  ///@{
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool value);
  ///@}
  /// The byte (low 8 bits) whose arrival raises evRxFlag (OnRxFlag). Sent as
  /// BaudRate is.
  ///@{
  char16_t EventChar() const { return FEventChar; }
  void SetEventChar(char16_t value);
  ///@}
  /// The line events the event thread waits for and reports. Read by Open
  /// only: a change while open takes effect at the next Open.
  ///@{
  TComEvents Events() const { return FEvents; }
  void SetEvents(TComEvents value) { FEvents = value; }
  ///@}
  /// Sizes of the driver's input and output queues, in bytes; sent while
  /// open (code 9, CE_SetupComFailed, when the driver refuses).
  ///@{
  TComBuffer& Buffer() { return *FBuffer; }
  const TComBuffer& Buffer() const { return *FBuffer; }
  void SetBuffer(const TComBuffer& value);
  ///@}
  /// Flow control settings; sent while open as the line settings are.
  ///@{
  TComFlowControl& FlowControl() { return *FFlowControl; }
  const TComFlowControl& FlowControl() const { return *FFlowControl; }
  void SetFlowControl(const TComFlowControl& value);
  ///@}
  /// Timeouts of reads and writes, in milliseconds; sent while open (code 8,
  /// CE_TimeoutsFailed, when the driver refuses).
  ///@{
  TComTimeouts& Timeouts() { return *FTimeouts; }
  const TComTimeouts& Timeouts() const { return *FTimeouts; }
  void SetTimeouts(const TComTimeouts& value);
  ///@}
  /// The thread on which notifications run: smThreadSync and smWindowSync the
  /// application's (UI) thread, each report waiting there until its handlers
  /// have returned; smNone the port's event thread. Changing it while the
  /// port is open raises code 14 (CE_ConnChangeProp).
  ///@{
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod value);
  ///@}
  /// Code page of WriteUnicodeString and ReadUnicodeString; 0 is the system
  /// ANSI code page. Writing only stores it. A code page this system cannot
  /// convert is reported by the first of those calls that uses it, before
  /// anything is sent or read: code 2 or 3 with the platform's
  /// invalid-parameter number.
  ///@{
  std::uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(std::uint32_t value) { FCodePage = value; }
  ///@}

  // --- Events -------------------------------------------------------------

  /// Data has arrived: the handler gets the number of bytes waiting and reads
  /// them (Read, ReadStr). Runs on the thread SyncMethod names.
  ///@{
  const TRxCharEvent& OnRxChar() const { return FOnRxChar; }
  void SetOnRxChar(TRxCharEvent value) { FOnRxChar = std::move(value); }
  ///@}
  /// Data has arrived, read by the port: the handler gets the bytes, valid
  /// only during the call. Used instead of OnRxChar while TriggersOnRxChar
  /// is false. Runs on the thread SyncMethod names.
  ///@{
  const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
  void SetOnRxBuf(TRxBufEvent value) { FOnRxBuf = std::move(value); }
  ///@}
  /// The last byte of the output queue has been sent. Runs on the thread
  /// SyncMethod names.
  ///@{
  const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
  void SetOnTxEmpty(TNotifyEvent value) { FOnTxEmpty = std::move(value); }
  ///@}
  /// A break was received. Runs on the thread SyncMethod names.
  ///@{
  const TNotifyEvent& OnBreak() const { return FOnBreak; }
  void SetOnBreak(TNotifyEvent value) { FOnBreak = std::move(value); }
  ///@}
  /// The ring indicator came on. Runs on the thread SyncMethod names.
  ///@{
  const TNotifyEvent& OnRing() const { return FOnRing; }
  void SetOnRing(TNotifyEvent value) { FOnRing = std::move(value); }
  ///@}
  /// The CTS line changed; the handler gets its new state. Also called
  /// after Open with the line's state and by Close with false. Runs on the
  /// thread SyncMethod names (on the calling thread from Open and Close).
  ///@{
  const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
  void SetOnCTSChange(TComSignalEvent value) {
    FOnCTSChange = std::move(value);
    ///@}
  }
  /// The DSR line changed; as OnCTSChange.
  ///@{
  const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
  void SetOnDSRChange(TComSignalEvent value) {
    FOnDSRChange = std::move(value);
    ///@}
  }
  /// The RLSD (carrier detect) line changed; as OnCTSChange.
  ///@{
  const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
  void SetOnRLSDChange(TComSignalEvent value) {
    FOnRLSDChange = std::move(value);
    ///@}
  }
  /// The driver reported line errors (framing, parity, overrun...), read and
  /// cleared for the handler. Runs on the thread SyncMethod names.
  ///@{
  const TComErrorEvent& OnError() const { return FOnError; }
  void SetOnError(TComErrorEvent value) { FOnError = std::move(value); }
  ///@}
  /// EventChar was received. Runs on the thread SyncMethod names.
  ///@{
  const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
  void SetOnRxFlag(TNotifyEvent value) { FOnRxFlag = std::move(value); }
  ///@}
  /// The port has opened; runs on the thread that called Open.
  ///@{
  const TNotifyEvent& OnAfterOpen() const { return FOnAfterOpen; }
  void SetOnAfterOpen(TNotifyEvent value) { FOnAfterOpen = std::move(value); }
  ///@}
  /// The port has closed; runs on the thread that called Close.
  ///@{
  const TNotifyEvent& OnAfterClose() const { return FOnAfterClose; }
  void SetOnAfterClose(TNotifyEvent value) { FOnAfterClose = std::move(value); }
  ///@}
  /// The port is about to open; runs on the thread that called Open.
  ///@{
  const TNotifyEvent& OnBeforeOpen() const { return FOnBeforeOpen; }
  void SetOnBeforeOpen(TNotifyEvent value) { FOnBeforeOpen = std::move(value); }
  ///@}
  /// The port is about to close; runs on the thread that called Close.
  ///@{
  const TNotifyEvent& OnBeforeClose() const { return FOnBeforeClose; }
  void SetOnBeforeClose(TNotifyEvent value) {
    FOnBeforeClose = std::move(value);
    ///@}
  }
  /// The input queue is 80 % full. Runs on the thread SyncMethod names.
  ///@{
  const TNotifyEvent& OnRx80Full() const { return FOnRx80Full; }
  void SetOnRx80Full(TNotifyEvent value) { FOnRx80Full = std::move(value); }
  ///@}
  /// When assigned, errors go to this handler instead of being raised, and
  /// the failing operation carries on with its next step. It runs on the
  /// thread of the failing call.
  ///@{
  const TComExceptionEvent& OnException() const { return FOnException; }
  void SetOnException(TComExceptionEvent value) {
    FOnException = std::move(value);
    ///@}
  }

  // --- Lifecycle ----------------------------------------------------------

  /// Settings written inside the bracket are only stored; the outermost
  /// EndUpdate sends all three groups (line, timeouts, queue sizes) once,
  /// raising what sending them raises.
  ///@{
  void BeginUpdate();
  void EndUpdate();
  ///@}
  /// Opens the device named by Port, sends every setting, starts the event
  /// thread (when Events is not empty) and reports the modem lines. Returns
  /// at once; no wait. Raises code 1 (CE_OpenFailed) with the system's
  /// number when the device does not open (missing, busy, not a terminal),
  /// or the code of the setting the driver refused (7, 8, 9). Nothing when
  /// already open.
  void Open();
  /// Aborts pending transfers, stops the event thread (waiting for it to
  /// end; it ends within milliseconds, or once a handler running on the
  /// application's thread returns), and closes the device. Nothing when not
  /// open. The port is closed even when the abort fails; code 5
  /// (CE_PurgeFailed) is raised afterwards then.
  void Close();

  // --- Status and line control --------------------------------------------

  /// Bytes waiting in the driver's input queue, and not yet sent from its
  /// output queue. Never block; code 10 (CE_ClearComFailed) on failure.
  ///@{
  std::int32_t InputCount();
  std::int32_t OutputCount();
  ///@}
  /// The modem input lines that are on (CTS, DSR, ring, RLSD). Never blocks;
  /// code 11 (CE_ModemStatFailed) on failure.
  TComSignals Signals();
  /// The driver's hold states. Never blocks; code 10 (CE_ClearComFailed).
  TComStateFlags StateFlags();
  /// Reads and clears the driver's line errors.
  TComErrors LastErrors();
  /// Raises or drops the DTR or RTS output line. Never block; code 12
  /// (CE_EscapeComFailed) on failure.
  ///@{
  void SetDTR(bool OnOff);
  void SetRTS(bool OnOff);
  ///@}
  /// True resumes transmission as if XON had been received.
  void SetXonXoff(bool OnOff);
  /// Starts (true) or ends a break on the output line; code 12
  /// (CE_EscapeComFailed) on failure.
  void SetBreak(bool OnOff);
  /// Discards the driver's input and/or output queue.
  void ClearBuffer(bool Input, bool Output);
  /// Ends every pending read and write at once (they complete as aborted);
  /// code 5 (CE_PurgeFailed) on failure.
  void AbortAllAsync();
  /// Sends the low 8 bits of `Ch` ahead of any queued output.
  void TransmitChar(char16_t Ch);
  /// One wait for line events on a port without an event thread. Returns the
  /// events that occurred in `Events`, empty after a time-out or StopEvent.
  /// Timeout -1 waits without limit; StopEvent 0 is none.
  void WaitForEvent(TComEvents& Events, cport::comm::Handle StopEvent,
                    std::int32_t Timeout);

  // --- Transfers ----------------------------------------------------------

  /// Overlapped forms: they start the transfer on the record made by
  /// AllocAsync and return at once, with the bytes transferred when the
  /// operation completed at once, else 0; WaitForAsync gives the final
  /// count. The buffer of ReadAsync must live until the read completes.
  /// Code 4 (CE_InvalidAsync) for a null record, 2 (CE_WriteFailed) or 3
  /// (CE_ReadFailed) with the system's number when the transfer fails.
  ///@{
  std::int32_t WriteAsync(const void* Buffer, std::int32_t Count,
                          PAsync& AsyncPtr);
  std::int32_t WriteStrAsync(const std::u16string& Str, PAsync& AsyncPtr);
  std::int32_t ReadAsync(void* Buffer, std::int32_t Count, PAsync& AsyncPtr);
  ///@}
  /// A text read of up to Count bytes. When it completes at once, `Str`
  /// receives the text of the bytes received; while it is pending `Str` is
  /// left empty. The port keeps no hold on `Str` after the call: the text of
  /// a read that completes later is the record's Text, filled in when
  /// WaitForAsync sees the read complete.
  std::int32_t ReadStrAsync(std::u16string& Str, std::int32_t Count,
                            PAsync& AsyncPtr);
  /// Waits without a time limit of its own; the driver's timeouts end the
  /// operation.
  std::int32_t WaitForAsync(PAsync& AsyncPtr);
  /// Whether the record's operation has completed; never blocks. Code 6
  /// (CE_AsyncCheck) when the check fails.
  bool IsAsyncCompleted(PAsync AsyncPtr);

  /// Blocking forms: issue, wait, return the count transferred. They wait
  /// as long as Timeouts allow (without limit when all are 0): a write cut
  /// short by the write timeout returns the smaller count, a read returns
  /// what arrived in its time. Code 2 (CE_WriteFailed) or 3 (CE_ReadFailed)
  /// with the system's number when the transfer fails.
  ///@{
  std::int32_t Write(const void* Buffer, std::int32_t Count);
  std::int32_t Read(void* Buffer, std::int32_t Count);
  ///@}
  /// The text in the system ANSI code page; blocks as Write.
  std::int32_t WriteStr(const std::u16string& Str);
  /// `Str` holds exactly the characters of the bytes received.
  std::int32_t ReadStr(std::u16string& Str, std::int32_t Count);
  /// The text in CodePage.
  std::int32_t WriteUnicodeString(const std::u16string& Str);
  /// Reads up to Count bytes, decodes them with CodePage; returns the number
  /// of UTF-16 code units placed in `Str`.
  std::int32_t ReadUnicodeString(std::u16string& Str, std::int32_t Count);

  // --- Links --------------------------------------------------------------

  /// Adds or removes a link, which is then told of the port's events
  /// before the port's own handlers. Code 18 (CE_RegFailed) for a link that
  /// is already (or not) registered.
  ///@{
  void RegisterLink(TComLink* AComLink);
  void UnRegisterLink(TComLink* AComLink);
  ///@}

 protected:
  void Loaded() override;

  /// Overridable operations of Open and Close: open the device (code 1 on
  /// failure), close it, and send every setting.
  ///@{
  virtual void CreateDeviceHandle();
  virtual void DestroyDeviceHandle();
  virtual void ApplyAllSettings();
  ///@}

  /// Hooks: each calls the event of the same stem when it is assigned, on
  /// the thread that event runs on.
  ///@{
  virtual void FireAfterClose();
  virtual void FireAfterOpen();
  virtual void FireBeforeClose();
  virtual void FireBeforeOpen();
  virtual void FireRxChar(std::int32_t Count);
  virtual void FireRxBuf(const std::uint8_t* Buffer, std::int32_t Count);
  virtual void FireTxEmpty();
  virtual void FireBreak();
  virtual void FireRing();
  virtual void FireRxFlag();
  virtual void FireCTSChange(bool OnOff);
  virtual void FireDSRChange(bool OnOff);
  virtual void FireError(TComErrors Errors);
  virtual void FireRLSDChange(bool OnOff);
  virtual void FireRx80Full();
  ///@}
  /// Each sends its whole group to the device, only while the port is open,
  /// outside an update bracket, and neither loading nor designing.
  ///@{
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyQueueSizes();
  ///@}

  /// Reports an error: raises EComPort, or hands it to OnException and
  /// returns. WinError is the failing call's last error, 0 for none, -24 for
  /// a port that is not open. False when OnException destroyed the port: the
  /// caller must then return without touching it.
  bool RaisePortError(std::uint16_t Code, std::int64_t WinError);

 private:
  friend class TComSettings;
  friend class TComTimeouts;
  friend class TComFlowControl;
  friend class TComParity;
  friend class TComBuffer;
  friend class TComThread;

  bool Loading() const;
  bool Designing() const;
  /// Open, outside an update bracket, neither loading nor designing.
  bool CanApply() const;
  bool ThreadSettingLocked() const;
  /// Reports `code` with the calling thread's last error; false when
  /// OnException destroyed the port.
  bool RaiseLastError(std::uint16_t code);
  cport::comm::ComStat ClearCommError(std::uint32_t* errors);
  void Escape(std::uint32_t func);
  void Purge(std::uint32_t flags);
  cport::comm::Dcb BuildDcb() const;
  /// Calls `event` of every registered link that has it assigned, in
  /// registration order, with the port as sender. The registration is
  /// followed as it changes: a link that an earlier link's handler
  /// unregistered (and perhaps freed) is not told, nor one registered after
  /// the occasion. False when a handler destroyed the port: the caller must
  /// then return without touching it.
  template <class Event, class... Args>
  bool TellLinks(const Event& (TComLink::*event)() const, Args... args);
  bool IsRegistered(const TComLink* link) const;
  void RecomputeHasLink();
  /// Reports code 4 for a null record; false then.
  bool CheckAsync(PAsync AsyncPtr);
  /// Reports code 24 while no device handle is open; false when OnException
  /// destroyed the port.
  bool CheckOpen();
  /// Reports `code` with the invalid-parameter number when this system
  /// cannot convert text with CodePage; false then.
  bool CheckCodePage(std::uint16_t code);
  /// WriteFile or ReadFile on the record; a pending operation is accepted.
  std::int32_t Issue(TOperationKind kind, void* Buffer, std::int32_t Count,
                     TAsync& async);
  /// WriteAsync on a record known to be valid; the record keeps a copy of
  /// the bytes when `copy` is set, else it refers to the caller's buffer.
  std::int32_t StartWrite(const void* Buffer, std::int32_t Count, TAsync& async,
                          bool copy);
  /// WaitForAsync on a record known to be valid; without `wait` for an
  /// operation known to have ended, whose event is set. `reusable` tells
  /// whether the record's event was seen signalled (or known to be) and the
  /// port is still there, so that the record may serve another blocking
  /// transfer.
  std::int32_t Await(TAsync& async, bool wait, bool& reusable);
  /// ReadAsync without the record's text: for ReadAsync and ReadStrAsync.
  std::int32_t StartRead(void* Buffer, std::int32_t Count, TAsync& async);
  /// A blocking transfer: issues with a record of its own (the port's spare
  /// when no other call holds it), waits, hands the completed record to
  /// `completed` when given, and gives the record back to the spare or
  /// releases it. Returns 0 without touching the port again when a link's
  /// handler destroyed it.
  template <class IssueFn, class CompletedFn = std::nullptr_t>
  std::int32_t RunBlocking(const IssueFn& issue,
                           const CompletedFn& completed = nullptr);
  void ReportLine(TComSignal signal,
                  const TComSignalEvent& (TComLink::*linkEvent)() const,
                  void (TCustomComPort::*fire)(bool));

  /// Line-state reports: read the line, tell the links, fire the event.
  void HandleCTSChange();
  void HandleDSRChange();
  void HandleRLSDChange();

  /// Handling of the events the event thread reports; each tells the links
  /// and fires the port's event as the event calls for.
  void HandleRxChar();
  void HandleTxEmpty();
  void HandleRxFlag();
  void HandleBreak();
  void HandleRing();
  void HandleError();
  void HandleRx80Full();
  /// The handling of one reported event.
  void HandleEvent(TComEvent Event);
  /// Reads Count bytes itself and hands them to OnRxBuf and to the links
  /// with OnRxBuf; whether it did read.
  bool DeliverRxBuf(std::int32_t Count);
  /// Message handler of the hidden window (smWindowSync).
  void PortWindowProc(TMessage& Message);

  /// Watches the port across calls into handlers on the calling thread. A
  /// handler may destroy the port (from inside its own notification); the
  /// destructor marks the watches of the destroying thread, and the code
  /// that made the call returns without touching the port again.
  class Watch {
   public:
    explicit Watch(const TCustomComPort* port);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    bool PortGone() const { return FGone; }

   private:
    friend class TCustomComPort;
    const TCustomComPort* FPort;
    Watch* FOuter;
    bool FGone = false;
  };
  /// Runs each step in turn and stops after one in which a handler destroyed
  /// the port; false then, and the caller must return without touching it.
  template <class... Steps>
  bool InTurn(const Steps&... steps);
  /// The calling thread's watches, innermost first.
  static Watch*& Watches();
  /// Marks the calling thread's watches of this port: it is being destroyed.
  void MarkWatchesGone() const;

  /// Start and stop of the event thread, for Open and Close.
  void StartEventThread();
  void StopEventThread();
  /// Stops the event thread and closes the device: the end of Close, and of
  /// a Close in which a handler destroyed the port.
  void TearDown();
  /// Joins the threads stopped from inside their own deliveries, except one
  /// whose delivery is still in progress on the calling thread.
  void JoinRetiredThreads();
  /// For the destructor: the threads whose delivery is still in progress on
  /// the calling thread end, and free themselves, once it returns.
  void ReleaseRetiredThreads();

  std::unique_ptr<TComThread> FEventThread;
  // The event thread that Close is waiting for, while it waits: a handler
  // that the wait runs and that destroys the port finishes the stop.
  TComThread* FStoppingThread = nullptr;
  bool FThreadCreated = false;
  /// Event threads stopped by a Close inside their own delivery; each ends
  /// by itself and is joined at the next Open or Close, or with the port.
  std::vector<std::unique_ptr<TComThread>> FRetiredThreads;
  /// True while Close runs: a handler that runs during its wait for the
  /// event thread and closes the port again leaves the work to it.
  bool FClosing = false;
  cport::comm::Handle FHandle = cport::comm::kInvalidHandle;
  // The record the blocking transfers reuse; released by Close.
  SpareAsync FSpareAsync;
  std::uintptr_t FWindow = 0;
  std::int32_t FUpdateCount = 0;
  std::vector<TComLink*> FLinks;
  bool FTriggersOnRxChar = true;
  TThreadPriority FEventThreadPriority = tpNormal;
  bool FHasLink = false;
  bool FConnected = false;
  TBaudRate FBaudRate = br9600;
  std::int32_t FCustomBaudRate = 9600;
  std::u16string FPort = u"COM1";
  TStopBits FStopBits = sbOneStopBit;
  TDataBits FDataBits = dbEight;
  bool FDiscardNull = false;
  char16_t FEventChar = 0;
  TComEvents FEvents = kAllComEvents;
  std::unique_ptr<TComBuffer> FBuffer;
  std::unique_ptr<TComParity> FParity;
  std::unique_ptr<TComTimeouts> FTimeouts;
  std::unique_ptr<TComFlowControl> FFlowControl;
  TSyncMethod FSyncMethod = smThreadSync;
  TStoredProps FStoredProps = {spBasic};
  TRxCharEvent FOnRxChar;
  TRxBufEvent FOnRxBuf;
  TNotifyEvent FOnTxEmpty;
  TNotifyEvent FOnBreak;
  TNotifyEvent FOnRing;
  TComSignalEvent FOnCTSChange;
  TComSignalEvent FOnDSRChange;
  TComSignalEvent FOnRLSDChange;
  TComErrorEvent FOnError;
  TNotifyEvent FOnRxFlag;
  TNotifyEvent FOnAfterOpen;
  TNotifyEvent FOnAfterClose;
  TNotifyEvent FOnBeforeOpen;
  TNotifyEvent FOnBeforeClose;
  TNotifyEvent FOnRx80Full;
  TComExceptionEvent FOnException;
  std::uint32_t FCodePage = 0;
};

template <class Event, class... Args>
bool TCustomComPort::TellLinks(const Event& (TComLink::*event)() const,
                               Args... args) {
  if (FLinks.empty()) return true;
  const Watch watch(this);
  /// The links of the occasion; each is looked up again before it is told.
  const std::vector<TComLink*> links = FLinks;
  for (TComLink* link : links) {
    if (!IsRegistered(link)) continue;
    cport::fw::Fire((link->*event)(), this, args...);
    if (watch.PortGone()) return false;
  }
  return true;
}

template <class... Steps>
bool TCustomComPort::InTurn(const Steps&... steps) {
  const Watch watch(this);
  return ((steps(), !watch.PortGone()) && ...);
}

/// The port whose settings a stored form description sets.
class TComPort : public TCustomComPort {
 public:
  /// A closed port, as TCustomComPort's.
  using TCustomComPort::TCustomComPort;
  std::u16string ClassName() const override { return u"TComPort"; }
};

}  // namespace cport
