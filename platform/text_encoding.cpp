#include "platform/text_encoding.h"

namespace tarnex::platform {
namespace {

thread_local TextEncoding current = TextEncoding::Cp932;

}  // namespace

TextEncoding CurrentTextEncoding() { return current; }

ScopedTextEncoding::ScopedTextEncoding(TextEncoding encoding) : previous_(current) {
  current = encoding;
}

ScopedTextEncoding::~ScopedTextEncoding() { current = previous_; }

}  // namespace tarnex::platform
