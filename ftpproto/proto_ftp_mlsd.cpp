// What mget, mput and mirror ask of the server beyond single transfers: the machine-readable
// listing (MLSD), the feature list, the current folder, and the modification times of files
// (MDTM, MFMT). None of them but the listing reports a success: they are steps of a larger
// operation, whose own lines tell the story.
#include "ftpproto/data_operations.h"
#include "ftpproto/machine_listing.h"
#include "ftpproto/remote_times.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"

namespace tarnex {

FtpReply TProtoFTP::MachineListDirectory(const std::string& path) {
  ListOperation listing(path.empty() ? "MLSD" : "MLSD " + path);
  return RunDataOperation(listing);
}

const std::vector<std::string>& TProtoFTP::KnownFeatures() {
  if (features_.asked()) return features_.lines();
  control_.Canceled = false;
  control_.CheckConnection();
  DiscardWaitingInput();
  try {
    answer_.code = 0;
    SendCommand("FEAT");
    const FtpReply answer = ReadAnswer(/*answers=*/true);
    // A server without FEAT offers nothing beyond the basics; it is not asked again.
    features_ = answer.code >= 200 && answer.code < 300 ? FeatureLines(answer.lines)
                                                        : std::vector<std::string>();
  } catch (const EInvalidReply&) {
    features_ = std::vector<std::string>();
  }
  return features_.lines();
}

Answered<std::string> TProtoFTP::CurrentDirectory() {
  FtpReply reply = QuietTransaction("PWD");
  std::optional<std::string> folder = ParsePwdReply(reply.line);
  if (!folder) throw Refusal(reply.line);
  return {std::move(*folder), std::move(reply)};
}

FtpReply TProtoFTP::EnterDirectory(const std::string& dir) {
  const FtpReply reply = QuietTransaction("CWD " + dir);
  if (reply.code >= 400) throw Refusal(reply.line);
  return reply;
}

Answered<std::optional<int64_t>> TProtoFTP::RemoteModificationTime(const std::string& name) {
  FtpReply reply = QuietTransaction("MDTM " + name);
  const std::optional<int64_t> time = ParseMdtmReply(reply.line);
  return {time, std::move(reply)};
}

std::vector<Answered<std::optional<int64_t>>> TProtoFTP::RemoteModificationTimes(
    const std::vector<std::string>& names) {
  std::vector<Answered<std::optional<int64_t>>> times;
  if (names.empty()) return times;
  control_.Canceled = false;
  control_.CheckConnection();
  DiscardWaitingInput();
  std::vector<std::string> commands;
  for (const std::string& name : names) commands.push_back("MDTM " + name);
  answer_.code = 0;
  // The replies not read when one fails are owed, and read before the next command.
  SendTogether(commands, /*settle_first=*/false);
  for (size_t n = 0; n < names.size(); ++n) {
    FtpReply reply = ReadAnswer(/*answers=*/true);
    const std::optional<int64_t> time = ParseMdtmReply(reply.line);
    times.push_back({time, std::move(reply)});
  }
  return times;
}

Answered<bool> TProtoFTP::SetRemoteModificationTime(const std::string& name, int64_t seconds) {
  FtpReply reply = QuietTransaction("MFMT " + FormatFtpTime(seconds) + " " + name);
  return {reply.Completed(), std::move(reply)};
}

Answered<bool> TProtoFTP::TryDeleteFile(const std::string& name) {
  FtpReply reply = QuietTransaction("DELE " + name);
  return {reply.Completed(), std::move(reply)};
}

Answered<bool> TProtoFTP::TryRenameFile(const std::string& old_name, const std::string& new_name) {
  return RenameTogether({}, old_name, new_name);
}

Answered<bool> TProtoFTP::TryRenameFileWithTime(const std::string& old_name,
                                                const std::string& new_name, int64_t seconds,
                                                Answered<bool>& time_set) {
  return RenameTogether("MFMT " + FormatFtpTime(seconds) + " " + old_name, old_name, new_name,
                        &time_set);
}

Answered<bool> TProtoFTP::RenameTogether(const std::string& first, const std::string& old_name,
                                         const std::string& new_name, Answered<bool>* first_done) {
  control_.Canceled = false;
  control_.CheckConnection();
  DiscardWaitingInput();
  // RNTO goes out right behind RNFR: one round trip for the two, per file of a mirror. A
  // server that refuses RNFR refuses the RNTO behind it too (it has nothing to rename); that
  // answer is owed, and read before the next command.
  std::vector<std::string> commands{"RNFR " + old_name, "RNTO " + new_name};
  if (!first.empty()) commands.insert(commands.begin(), first);
  answer_.code = 0;
  SendTogether(commands, /*settle_first=*/false);
  if (first_done != nullptr) {
    FtpReply reply = ReadAnswer(/*answers=*/true);
    *first_done = {reply.Completed(), std::move(reply)};
  }
  const FtpReply from = ReadAnswer(/*answers=*/true);
  if (from.code != 350) throw Refusal(from.line);
  FtpReply to = ReadAnswer(/*answers=*/true);
  return {to.Completed(), std::move(to)};
}

}  // namespace tarnex
