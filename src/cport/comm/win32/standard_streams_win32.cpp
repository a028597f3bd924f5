#include "cport/comm/standard_streams.h"

namespace cport::comm {

// Ports are kernel handles here, never C runtime descriptors: a closed
// standard stream cannot be mistaken for one.
bool KeepStandardStreamsOpen() { return true; }

}  // namespace cport::comm
