// The record of one overlapped operation. The caller owns it from AllocAsync
// to ReleaseAsync; while an operation issued with it is pending, the record
// and the caller's buffer must stay valid.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cport/comm/comm_api.h"
#include "cport/types.h"

namespace cport {

/// The record of one overlapped operation (TCustomComPort::WriteAsync and
/// the other overlapped forms), made by AllocAsync and freed by
/// ReleaseAsync. Its members are the port's; a program reads Text only.
struct TAsync {
  /// Handed to the driver; hEvent is the record's own manual-reset event.
  cport::comm::Overlapped Overlapped;
  /// The last operation issued with the record completed at once: its event
  /// is set already.
  bool EndedAtOnce = false;
  /// Whether the last operation issued was a write or a read.
  TOperationKind Kind = okWrite;
  /// The bytes of the last write issued with the record, or null: the
  /// record's own copy (Copy), or, for a blocking write, the caller's buffer,
  /// which outlives the write.
  const std::uint8_t* Data = nullptr;
  /// The number of bytes in Data.
  std::int32_t Size = 0;
  /// The record's private copy of a write's bytes, or null.
  std::unique_ptr<std::uint8_t[]> Copy;

  /// For a read issued by ReadStrAsync: the receive buffer, and the text of
  /// the bytes received, decoded through the system ANSI code page. The text
  /// is set when the read completes at once, and by WaitForAsync when it
  /// completes later; it is empty while the read is pending. The caller
  /// takes a later read's text from here: the port keeps no reference to
  /// the caller's own text. Any other operation issued with the record
  /// empties both.
  ///@{
  std::vector<std::uint8_t> TextBytes;
  std::u16string Text;
  ///@}
};
using PAsync = TAsync*;

/// A new record: nothing issued, its event signalled, so it reports
/// completion at once.
void AllocAsync(PAsync& AsyncPtr);
/// Closes the record's event, frees the record and its data copy, and sets
/// the pointer to null. Null is accepted and left alone.
void ReleaseAsync(PAsync& AsyncPtr);

/// A port's spare record for its blocking transfers, so that a blocking call
/// need not make and close an event each time. A call takes the spare, or a
/// new record when another call holds it (another thread, or a handler that
/// transfers from inside a transfer), and gives it back once its operation
/// has ended with the event signalled.
class SpareAsync {
 public:
  /// No spare yet.
  SpareAsync() = default;
  /// Releases the spare.
  ~SpareAsync() { Clear(); }
  SpareAsync(const SpareAsync&) = delete;
  SpareAsync& operator=(const SpareAsync&) = delete;

  /// A record as AllocAsync gives it.
  PAsync Take();
  /// Keeps `AsyncPtr`, whose operation has ended and whose event is
  /// signalled, as the spare; releases it when there is one already. Sets
  /// the pointer to null.
  void Give(PAsync& AsyncPtr);
  /// Releases the spare.
  void Clear();

 private:
  std::atomic<PAsync> FSpare{nullptr};
};

/// Holds a record for one blocking transfer: released at the end of the
/// scope, or given back to the spare when Keep was called.
class ScopedAsync {
 public:
  /// Takes the spare record, or a new one when another call holds it.
  explicit ScopedAsync(SpareAsync& spare) : spare_(spare), ptr_(spare.Take()) {}
  /// Gives the record back to the spare when kept, else releases it.
  ~ScopedAsync() {
    if (keep_) {
      spare_.Give(ptr_);
    } else {
      ReleaseAsync(ptr_);
    }
  }
  ScopedAsync(const ScopedAsync&) = delete;
  ScopedAsync& operator=(const ScopedAsync&) = delete;
  /// The record.
  PAsync& Ptr() { return ptr_; }
  /// The operation has ended and the event is signalled: the record may
  /// serve the next blocking transfer.
  void Keep() { keep_ = true; }

 private:
  SpareAsync& spare_;
  PAsync ptr_;
  bool keep_ = false;
};

}  // namespace cport
