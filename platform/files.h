// Local files and directories. Names arrive as CP932 bytes from scripts and are converted to
// UTF-8, the file system's encoding, here and nowhere else; a name that is not valid CP932 is
// used as its raw bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::platform {

std::string NativePath(std::string_view cp932_name);

bool SetCurrentDir(std::string_view cp932_name);
bool DeleteFile(std::string_view cp932_name);
// True for an existing file that is not a directory.
bool FileExists(std::string_view cp932_name);

// The whole content of a file; raises EFileError "ファイル %s は開けません".
std::string ReadFileBytes(std::string_view cp932_name);
// Replaces the file with `bytes`; raises EFileError "ファイル %s を作成できません" when it cannot
// be created and a write error naming the file when the data cannot be written.
void WriteFileBytes(std::string_view cp932_name, std::string_view bytes);
// Lines each followed by CR LF, as a string list is saved.
void WriteLines(std::string_view cp932_name, const std::vector<std::string>& lines);

// An open local file, closed when it goes out of scope.
class File {
 public:
  static File OpenRead(std::string_view cp932_name);   // raises "は開けません"
  static File Create(std::string_view cp932_name);     // truncates; raises "を作成できません"
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
  void Close();
  const std::string& Name() const { return name_; }

 private:
  friend class ReplacementFile;
  File(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  int Descriptor() const { return fd_; }
  int fd_ = -1;
  std::string name_;  // CP932, for messages
};

// The texts of the file errors, with the CP932 name inserted.
std::string FileOpenErrorText(std::string_view cp932_name);
std::string FileCreateErrorText(std::string_view cp932_name);
std::string FileWriteErrorText(std::string_view cp932_name);
std::string FileReadErrorText(std::string_view cp932_name);

}  // namespace tarnex::platform
