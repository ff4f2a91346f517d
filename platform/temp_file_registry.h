// The temporary files that must not outlive the process: when a signal ends it (SIGINT,
// SIGTERM, SIGHUP in the headless runner), its handler removes every file still registered.
// Registering and removing may happen on any thread; RemoveRegisteredTempFiles is safe
// to call from a signal handler.
#pragma once

#include <string>

namespace tarnex::platform {

// Remembers `native_path` until UnregisterTempFile(slot). Returns the slot, or -1 when the
// path is too long or every slot is in use (the file is then not removed by a signal).
int RegisterTempFile(const std::string& native_path);
void UnregisterTempFile(int slot);

// Unlinks every registered file. Async-signal-safe.
void RemoveRegisteredTempFiles() noexcept;

// SIGINT, SIGTERM and SIGHUP remove the registered files and then end the process as the
// signal would have (so the exit status says which signal it was).
void RemoveTempFilesOnSignals();

}  // namespace tarnex::platform
