#include "ftpproto/resume_plan.h"

#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/local_folder.h"

namespace tarnex {
namespace {

[[noreturn]] void Larger(const char* larger, const char* smaller, int64_t big, int64_t small) {
  throw Exception(std::string("Cannot resume: the ") + larger + " file is larger than the " +
                  smaller + " one (" + std::to_string(big) + " > " + std::to_string(small) +
                  " bytes)");
}

}  // namespace

ResumedDownloadTarget ResumedDownloadTargetOf(const std::string& remote_file,
                                              const std::string& local_file,
                                              bool name_from_server) {
  ResumedDownloadTarget target{local_file, name_from_server, 0};
  if (target.local.empty()) {
    target.local = LocalNameForDownload(remote_file).value_or("");
    target.name_from_server = true;
  }
  if (target.name_from_server) {
    const std::optional<platform::LocalEntry> there = platform::LocalEntryOf(target.local);
    if (there && there->kind == platform::LocalKind::File) target.have = there->size;
  } else if (platform::FileExists(target.local)) {
    target.have = platform::File::OpenRead(target.local).Size();
  }
  return target;
}

ResumeStep PlanResumedDownload(int64_t have, std::optional<int64_t> remote_size) {
  if (have <= 0) return ResumeStep::Whole;  // nothing (or nothing yet) to go on from
  if (remote_size && have == *remote_size) return ResumeStep::Complete;
  if (remote_size && have > *remote_size) Larger("local", "remote", have, *remote_size);
  return ResumeStep::Rest;
}

ResumeStep PlanResumedUpload(std::optional<int64_t> remote_size, int64_t local_size) {
  if (!remote_size || *remote_size == 0) return ResumeStep::Whole;  // no such file there yet
  if (*remote_size == local_size) return ResumeStep::Complete;
  if (*remote_size > local_size) Larger("remote", "local", *remote_size, local_size);
  return ResumeStep::Rest;
}

}  // namespace tarnex
