// Operating-system facts the application asks for.
#pragma once

namespace sys {

// The version answer of the system: platform id, major and minor version.
// This Linux layer reports a fixed answer: platform 2, version 6.1.
struct OsVersion {
  int platformId = 0;
  int major = 0;
  int minor = 0;
};
OsVersion osVersion();

}  // namespace sys
