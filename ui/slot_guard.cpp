#include "ui/slot_guard.h"

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace tarnex::ui {
namespace {

ErrorHandler& InstalledHandler() {
  static ErrorHandler handler;
  return handler;
}

void PrintError(std::exception_ptr error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    std::fprintf(stderr, "tarnex: %s\n", platform::Cp932ToUtf8(e.Message()).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnex: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tarnex: unknown error\n");
  }
}

}  // namespace

void SetApplicationErrorHandler(ErrorHandler handler) {
  InstalledHandler() = std::move(handler);
}

void HandleApplicationError(std::exception_ptr error) noexcept {
  const ErrorHandler handler = InstalledHandler();  // a copy: the handler may replace itself
  if (!handler) {
    PrintError(error);
    return;
  }
  try {
    handler(error);
  } catch (...) {
    // The handler itself failed (the log could not take the line): say it where one can see.
    PrintError(error);
  }
}

}  // namespace tarnex::ui
