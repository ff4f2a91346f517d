// The encoding of the strings the core is handling on this thread: the script's. A script read
// as CP932 makes every line, file name, variable and log line CP932 bytes (the default); a
// UTF-8 script makes them UTF-8 for the length of its run. Whatever interprets those bytes
// (character boundaries, local file names, the settings store, the terminal, the server)
// asks here.
#pragma once

namespace tarnex::platform {

enum class TextEncoding { Cp932, Utf8 };

// The calling thread's encoding; CP932 unless a ScopedTextEncoding says otherwise.
TextEncoding CurrentTextEncoding();

// Sets the calling thread's encoding until it goes out of scope.
class ScopedTextEncoding {
 public:
  explicit ScopedTextEncoding(TextEncoding encoding);
  ~ScopedTextEncoding();
  ScopedTextEncoding(const ScopedTextEncoding&) = delete;
  ScopedTextEncoding& operator=(const ScopedTextEncoding&) = delete;

 private:
  TextEncoding previous_;
};

}  // namespace tarnex::platform
