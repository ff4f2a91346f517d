// Files moved beside one another (mget, mput and mirror with --parallel N): N sessions besides
// the engine's own, each logged in as that one is and standing in its folder, each moving
// whole files. A session belongs to the thread that made it (its sockets, timers and message
// loop are that thread's), so each runs on a thread of its own; the engine's thread hands out
// the files, keeps its own message loop running while it waits, and writes each file's lines
// together, in the order a run of one file after another would write them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "platform/message_loop.h"
#include "platform/text_encoding.h"

namespace tarnex::script {

// What moving one file came to.
struct FileOutcome {
  bool transferred = false;
  int64_t bytes = 0;    // of the file moved
  int32_t failure = 0;  // the failing result (above 400); 0 when the file went well
};

// The session a file is moved with, and where its lines go.
struct FileMove {
  TLowFTP& ftp;
  std::function<void(const std::string&)> log;
  std::string command;  // "mget": a note begins with it

  void Note(const std::string& text) const { log(command + ": " + text); }
};

// Moves one file. It runs on whichever thread has the session, so it holds what it needs by
// value and touches nothing else of the engine.
using FileJob = std::function<FileOutcome(const FileMove&)>;

// A transfer the session reported finished (it moved the whole file): what the host counts.
struct FinishedTransfer {
  bool download = true;
  int64_t bytes = 0;
  int32_t milliseconds = 0;
};

// Lines written in the order of their places: a place taken now and filled later holds back
// every line after it; the rest is written at once.
class OrderedLog {
 public:
  explicit OrderedLog(std::function<void(const std::string&)> write) : write_(std::move(write)) {}

  // A line of the engine's own, after every place taken so far.
  void Add(const std::string& line);
  // A place for lines that come later; its number.
  size_t Reserve();
  // The lines of the place `place`; what may be written now is.
  void Fill(size_t place, std::vector<std::string> lines);

 private:
  struct Place {
    std::vector<std::string> lines;
    bool filled = false;
  };
  void Flush();

  std::function<void(const std::string&)> write_;
  std::deque<Place> places_;
  size_t first_ = 0;  // the number of places_.front()
};

// The sessions and their threads. Every member is called on the engine's thread.
class ParallelSessions {
 public:
  struct Result {
    size_t place = 0;
    std::vector<std::string> lines;
    FileOutcome outcome;
    std::optional<FinishedTransfer> finished;
  };
  struct Job {
    size_t place = 0;
    FileJob move;
  };
  struct Options {
    std::string command;           // "mget"
    int send_wait_seconds = 0;     // the pause after each uploaded block
    platform::TextEncoding encoding = platform::TextEncoding::Cp932;  // the script's
  };

  // Starts `count` sessions like `profile`; each logs in on its own thread at once.
  ParallelSessions(const SessionProfile& profile, int count, Options options);
  // Stops what still runs and waits for the threads.
  ~ParallelSessions();
  ParallelSessions(const ParallelSessions&) = delete;
  ParallelSessions& operator=(const ParallelSessions&) = delete;

  // Whether every session has logged in or failed to.
  bool Settled();
  // The sessions logged in, and a line for each that could not be (or could not go on).
  int OpenCount();
  std::vector<std::string> TakeOpenFailures();

  void Submit(Job job);
  // No further file comes: each session ends (QUIT) once nothing is left for it.
  void Close();
  // Aborts the transfers in progress; no further file begins.
  void Stop();
  std::vector<Result> TakeResults();
  // Whether every thread is done with its session.
  bool AllEnded();
  // The files no session took (all of them ended, or were stopped), for the engine to move.
  std::vector<Job> TakeUnstarted();
  // The bytes of the files in progress, so far.
  int64_t BytesInProgress() const;

 private:
  class Session;
  // What the threads share with the engine's: every field under `mutex_`.
  std::optional<Job> NextJob();
  void Report(Result result);
  void ReportOpened(bool opened, const std::string& failure);
  void ReportProblem(const std::string& line);
  void ReportEnded();
  bool Stopping() const { return stopping_.load(); }

  platform::MessageLoop& engine_loop_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<Job> jobs_;
  std::vector<Result> results_;
  std::vector<std::string> open_failures_;
  int opened_ = 0;
  int settled_ = 0;
  int ended_ = 0;
  bool closed_ = false;
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<Session>> sessions_;
};

}  // namespace tarnex::script
