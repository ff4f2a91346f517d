// What the fake FTP server's threads observed, shared with the test thread: commands,
// mismatches, a transcript, the bytes received on data connections and how far the script got.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarnex::testing::detail {

class Recorder {
 public:
  explicit Recorder(std::size_t sessions) : sessions_(sessions) {}

  void Command(std::string line);
  void Mismatch(std::string text);
  void Note(std::string line);
  int NextDataNumber();
  void StoreReceived(int number, std::string bytes);
  void SessionFinished();
  int NextConnectionNumber();

  // True once every session ran to its end; false at once after a mismatch, or at the time-out.
  bool WaitDone(std::chrono::milliseconds timeout);

  std::vector<std::string> Commands() const;
  std::string Mismatches() const;
  std::string Transcript() const;
  std::string Received(int number) const;
  int DataConnections() const;
  int Connections() const;

  // Raised by the server's destructor; every thread gives up within a few milliseconds.
  std::atomic<bool> stop{false};

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const std::size_t sessions_;
  std::size_t finished_ = 0;
  std::vector<std::string> commands_;
  std::vector<std::string> mismatches_;
  std::vector<std::string> transcript_;
  std::map<int, std::string> received_;
  int data_connections_ = 0;
  int connections_ = 0;
};

}  // namespace tarnex::testing::detail
