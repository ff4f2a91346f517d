// The data commands of TProtoFTP, one class each (private to ftpproto/). The frame that every
// one of them goes through is TProtoFTP::RunDataOperation: a data connection of its own, PASV
// or PORT, the command, the data, the closing reply. An operation says what differs: its
// command, which way the data goes and what becomes of it, and when it is whole. A new kind
// of transfer is one more class.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ftpproto/proto_ftp.h"
#include "platform/replacement_file.h"

namespace tarnex {

class TProtoFTP::DataOperation {
 public:
  virtual ~DataOperation() = default;

  // The operation its events and failures are told as.
  virtual TCmdType Type() const = 0;
  // The data comes from the server (a listing, a download).
  virtual bool Receives() const = 0;
  // A listing: only one at a time.
  virtual bool Lists() const { return false; }
  // Its failure is offered to OnFailure once more, as a transfer's.
  virtual bool OfferedAgain() const { return false; }
  // Before anything is asked of the server.
  virtual void Begin(TProtoFTP&) {}
  // With the data connection made, before the data channel is asked for.
  virtual void Prepare(TProtoFTP&) {}
  // Sends the command; false when a handler took its refusal.
  virtual bool SendCommand(TProtoFTP& ftp) = 0;
  // Moves the data (when `go`: nothing was cancelled) and ends the data connection.
  virtual void Move(TProtoFTP& ftp, TAsyncSock& data, bool go) = 0;
  // Whether a closing reply with `code` says the data is whole.
  virtual bool Whole(int16_t code) const { return code < 400; }
  // After the closing reply.
  virtual void Finish(TProtoFTP&) {}

 protected:
  // A command that names a file or a folder: its refusal is offered to the handlers (and told
  // as unsupported for 500 to 502).
  bool SendNamed(TProtoFTP& ftp, const std::string& command, const std::string& status) const;
};

// LIST and MLSD: the lines go to OnListItem one by one; the listing is whole only when the
// server says so with 2xx.
class TProtoFTP::ListOperation final : public DataOperation {
 public:
  explicit ListOperation(std::string command) : command_(std::move(command)) {}
  TCmdType Type() const override { return TCmdType::cmdList; }
  bool Receives() const override { return true; }
  bool Lists() const override { return true; }
  bool SendCommand(TProtoFTP& ftp) override { return SendNamed(ftp, command_, command_); }
  void Move(TProtoFTP& ftp, TAsyncSock& data, bool go) override;
  bool Whole(int16_t code) const override { return code >= 200 && code < 300; }

 private:
  std::string command_;
};

// RETR (after REST for a resumed download): the bytes go to a replacement of the local file,
// which takes its place only once the download is complete.
class TProtoFTP::RetrieveOperation final : public DataOperation {
 public:
  RetrieveOperation(std::string remote_file, std::string local_file, TransferSpan span)
      : remote_(std::move(remote_file)), local_(std::move(local_file)), span_(span) {}
  TCmdType Type() const override { return TCmdType::cmdTransfer; }
  bool Receives() const override { return true; }
  bool OfferedAgain() const override { return true; }
  void Begin(TProtoFTP& ftp) override;
  void Prepare(TProtoFTP& ftp) override;
  bool SendCommand(TProtoFTP& ftp) override;
  void Move(TProtoFTP& ftp, TAsyncSock& data, bool go) override;
  void Finish(TProtoFTP& ftp) override;

 private:
  std::string remote_;
  std::string local_;
  TransferSpan span_;
  std::optional<platform::ReplacementFile> target_;
};

// STOR, or APPE: the local file (from `offset` on) goes to the server.
class TProtoFTP::StoreOperation final : public DataOperation {
 public:
  StoreOperation(std::string local_file, std::string remote_file, bool append, int64_t offset = 0)
      : local_(std::move(local_file)),
        remote_(std::move(remote_file)),
        append_(append),
        offset_(offset) {}
  TCmdType Type() const override { return append_ ? TCmdType::cmdAppend : TCmdType::cmdTransfer; }
  bool Receives() const override { return false; }
  bool OfferedAgain() const override { return !append_; }
  void Prepare(TProtoFTP& ftp) override;
  bool SendCommand(TProtoFTP& ftp) override;
  void Move(TProtoFTP& ftp, TAsyncSock& data, bool go) override;

 private:
  std::string local_;
  std::string remote_;
  bool append_;
  int64_t offset_;
};

}  // namespace tarnex
