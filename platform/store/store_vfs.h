// The SQLite file layer the stores open their files through (store.cpp).
#pragma once

#include "platform/store/store.h"

namespace store::vfs {

// Registers the layer on first use; the name to open connections with.
const char* name();

// Operations that changed or tried to change a file so far.
long long operations();
// The nth changing operation from now fails (0: none).
void failOperation(long long n, FaultMode mode);
// True while a fault set by failOperation has not happened yet.
bool faultPending();
void watch(FileWatcher watcher);
void setDiskFull(bool full);

}  // namespace store::vfs
