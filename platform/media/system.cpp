// The operating-system facts of the Linux layer.
#include "platform/media/system.h"

namespace sys {

// The application picks its volume path and its system kind from this
// answer. Linux has no version number of that kind; platform 2, version 6.1
// selects the endpoint path, which this layer drives through ALSA's master
// element (see platform/media/volume.h).
OsVersion osVersion() { return OsVersion{2, 6, 1}; }

}  // namespace sys
