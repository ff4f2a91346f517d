// The one exception hierarchy of the core. Messages are CP932 bytes, exactly as they reach
// the execution log.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tarnex {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// A socket-level failure; EAbortError is a wait that was cancelled.
class ESockError : public Exception {
 public:
  using Exception::Exception;
};
class EAbortError : public ESockError {
 public:
  using ESockError::ESockError;
};

// A failing server reply; the message is the reply line with its line end (or a text that
// tells of it). It carries what the FTP client facade returns for it: the refusal's code, or
// 999 when the text names none.
class FTPException : public Exception {
 public:
  explicit FTPException(std::string message, int result = 999)
      : Exception(std::move(message)), result_(result) {}
  int Result() const noexcept { return result_; }

 private:
  int result_;
};

// A reply that does not begin with a code of 100 to 599: the server said something, but not
// an answer. The message is the line as it came.
class EInvalidReply : public FTPException {
 public:
  using FTPException::FTPException;
};

// The settings store refused a write or holds a value of the wrong type.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// A local file that cannot be opened, created, read or written.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

// Text that does not convert to a number or a date.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace tarnex
