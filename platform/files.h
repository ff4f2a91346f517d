// Local files and directories. Names arrive from scripts in the thread's text encoding (see
// text_encoding.h) and become UTF-8, the file system's encoding, here and nowhere else: a CP932
// name is converted (one that is not valid CP932 is used as its raw bytes), a UTF-8 name is
// used as it is.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::platform {

std::string NativePath(std::string_view name);

bool SetCurrentDir(std::string_view name);
bool DeleteFile(std::string_view name);
// True for an existing file that is not a directory.
bool FileExists(std::string_view name);

// The whole content of a file; raises EFileError "ファイル %s は開けません".
std::string ReadFileBytes(std::string_view name);
// Replaces the file with `bytes`; raises EFileError "ファイル %s を作成できません" when it cannot
// be created and a write error naming the file when the data cannot be written.
void WriteFileBytes(std::string_view name, std::string_view bytes);
// Lines each followed by CR LF, as a string list is saved.
void WriteLines(std::string_view name, const std::vector<std::string>& lines);

// An open local file, closed when it goes out of scope.
class File {
 public:
  static File OpenRead(std::string_view name);  // raises "は開けません"
  static File Create(std::string_view name);    // truncates; raises "を作成できません"
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Reads up to buffer.size() bytes; 0 at the end of the file.
  size_t Read(std::span<char> buffer);
  // Writes every byte or raises.
  void Write(std::string_view bytes);
  int64_t Size() const;
  int64_t Position() const;
  // Moves the read or write position to `offset` from the start; raises the read error.
  void Seek(int64_t offset);
  // The open descriptor, for calls that move bytes between it and a socket in the kernel.
  int Descriptor() const { return fd_; }
  void Close();
  const std::string& Name() const { return name_; }

 private:
  friend class ReplacementFile;
  File(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  int fd_ = -1;
  std::string name_;  // as given, for messages
};

// The folder of the running program, from the kernel (argv[0] may be a bare name); empty
// when it cannot be told.
std::string RunningProgramFolder();

// The texts of the file errors in the thread's encoding, with the name inserted as it is.
std::string FileOpenErrorText(std::string_view name);
std::string FileCreateErrorText(std::string_view name);
std::string FileWriteErrorText(std::string_view name);
std::string FileReadErrorText(std::string_view name);

}  // namespace tarnex::platform
