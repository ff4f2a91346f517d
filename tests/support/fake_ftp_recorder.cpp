#include "tests/support/fake_ftp_recorder.h"

#include <utility>

namespace tarnex::testing::detail {
namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

}  // namespace

void Recorder::Command(std::string line) {
  std::lock_guard lock(mutex_);
  commands_.push_back(std::move(line));
}

void Recorder::Mismatch(std::string text) {
  {
    std::lock_guard lock(mutex_);
    transcript_.push_back("!! " + text);
    mismatches_.push_back(std::move(text));
  }
  changed_.notify_all();
}

void Recorder::Note(std::string line) {
  std::lock_guard lock(mutex_);
  transcript_.push_back(std::move(line));
}

int Recorder::NextDataNumber() {
  std::lock_guard lock(mutex_);
  return data_connections_++;
}

void Recorder::StoreReceived(int number, std::string bytes) {
  std::lock_guard lock(mutex_);
  received_[number] = std::move(bytes);
}

void Recorder::SessionFinished() {
  {
    std::lock_guard lock(mutex_);
    ++finished_;
  }
  changed_.notify_all();
}

int Recorder::NextConnectionNumber() {
  std::lock_guard lock(mutex_);
  return ++connections_;
}

bool Recorder::WaitDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [this] { return !mismatches_.empty() || finished_ >= sessions_; });
  return mismatches_.empty() && finished_ >= sessions_;
}

std::vector<std::string> Recorder::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::string Recorder::Mismatches() const {
  std::lock_guard lock(mutex_);
  return JoinLines(mismatches_);
}

std::string Recorder::Transcript() const {
  std::lock_guard lock(mutex_);
  return JoinLines(transcript_);
}

std::string Recorder::Received(int number) const {
  std::lock_guard lock(mutex_);
  auto found = received_.find(number);
  return found == received_.end() ? std::string() : found->second;
}

int Recorder::DataConnections() const {
  std::lock_guard lock(mutex_);
  return data_connections_;
}

int Recorder::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

}  // namespace tarnex::testing::detail
