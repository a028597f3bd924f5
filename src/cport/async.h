// The record of one overlapped operation. The caller owns it from AllocAsync
// to ReleaseAsync; while an operation issued with it is pending, the record
// and the caller's buffer must stay valid.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cport/types.h"
#include "platform/comm_api.h"

namespace cport {

struct TAsync {
  // Handed to the driver; hEvent is the record's own manual-reset event.
  comm::Overlapped Overlapped;
  TOperationKind Kind = okWrite;
  // A private copy of the bytes of the last write, or null.
  std::unique_ptr<std::uint8_t[]> Data;
  std::int32_t Size = 0;

  // A text read's receive buffer and the text it decodes into once the read
  // has completed; both are kept only for a read issued by ReadStrAsync.
  std::vector<std::uint8_t> TextBytes;
  std::u16string* Text = nullptr;
};
using PAsync = TAsync*;

// A new record: nothing issued, its event signalled, so it reports
// completion at once.
void AllocAsync(PAsync& AsyncPtr);
// Closes the record's event, frees the record and its data copy, and sets
// the pointer to null. Null is accepted and left alone.
void ReleaseAsync(PAsync& AsyncPtr);

// Owns a record for one scope (the blocking transfers).
class ScopedAsync {
 public:
  ScopedAsync() { AllocAsync(ptr_); }
  ~ScopedAsync() { ReleaseAsync(ptr_); }
  ScopedAsync(const ScopedAsync&) = delete;
  ScopedAsync& operator=(const ScopedAsync&) = delete;
  PAsync& Ptr() { return ptr_; }

 private:
  PAsync ptr_ = nullptr;
};

}  // namespace cport
