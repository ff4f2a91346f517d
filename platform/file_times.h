// Modification times of local files, in seconds since 1970-01-01 UTC. Names are in the
// thread's text encoding, as everywhere in platform/files.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnex::platform {

// The modification time of the file (of the file a link leads to), fractions of a second
// dropped; nothing when there is no such file.
std::optional<int64_t> ModificationTime(std::string_view name);

// Sets the modification and access times of the file to `seconds`; false when that cannot be
// done (no such file, no right to).
bool SetModificationTime(std::string_view name, int64_t seconds);

}  // namespace tarnex::platform
