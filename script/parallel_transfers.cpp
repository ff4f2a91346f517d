#include "script/parallel_transfers.h"

#include <chrono>
#include <exception>
#include <utility>

#include "platform/errors.h"
#include "text/texts.h"

namespace tarnex::script {

void OrderedLog::Add(const std::string& line) {
  if (places_.empty()) return write_(line);
  if (!places_.back().filled) places_.push_back(Place{{}, true});
  places_.back().lines.push_back(line);
}

size_t OrderedLog::Reserve() {
  places_.push_back(Place{});
  return first_ + places_.size() - 1;
}

void OrderedLog::Fill(size_t place, std::vector<std::string> lines) {
  if (place < first_ || place - first_ >= places_.size()) return;
  Place& filled = places_[place - first_];
  filled.lines = std::move(lines);
  filled.filled = true;
  Flush();
}

void OrderedLog::Flush() {
  while (!places_.empty() && places_.front().filled) {
    const std::vector<std::string> lines = std::move(places_.front().lines);
    places_.pop_front();
    ++first_;
    for (const std::string& line : lines) write_(line);
  }
}

// One session and its thread. The session, its message loop and everything it calls back
// belong to the thread; the engine's thread reaches it only by a call posted to that loop.
class ParallelSessions::Session {
 public:
  Session(ParallelSessions& owner, const SessionProfile& profile, const Options& options)
      : owner_(owner), thread_([this, profile, options] { Main(profile, options); }) {}
  ~Session() {
    if (thread_.joinable()) thread_.join();
  }

  // Aborts the transfer in progress, on the session's own thread.
  void Abort() {
    std::lock_guard lock(loop_mutex_);
    if (loop_ != nullptr) loop_->Post([ftp = ftp_] { ftp->Abort(); });
  }
  int64_t BytesInProgress() const { return bytes_.load(); }

 private:
  void Main(const SessionProfile& profile, const Options& options) {
    try {
      Serve(profile, options);
    } catch (const std::exception& error) {
      // Nothing may leave a thread: the failure is told as a session that could not go on.
      const std::string line =
          options.command + ": a parallel connection could not go on: " + error.what();
      if (settled_) {
        owner_.ReportProblem(line);
      } else {
        owner_.ReportOpened(false, line);
      }
    }
    owner_.ReportEnded();
  }

  void Serve(const SessionProfile& profile, const Options& options) {
    const platform::ScopedTextEncoding encoding(options.encoding);
    std::vector<std::string> lines;
    std::optional<FinishedTransfer> finished;
    auto ftp = std::make_unique<TLowFTP>();
    ftp->OnLogging = [&lines](TLowFTP&, const std::string& line) { lines.push_back(line); };
    ftp->Onretrieveing = [this](TLowFTP&, int64_t bytes, int32_t) { bytes_.store(bytes); };
    ftp->Ontransfer = [this, wait = options.send_wait_seconds](TLowFTP&, int64_t bytes, int32_t) {
      bytes_.store(bytes);
      // The send-wait throttles every upload, as on the engine's own session.
      if (wait > 0) std::this_thread::sleep_for(std::chrono::seconds(wait));
    };
    ftp->Onretrievefinished = [&finished](TLowFTP&, int64_t bytes, int32_t ms) {
      finished = FinishedTransfer{true, bytes, ms};
    };
    ftp->Ontransferfinished = [&finished](TLowFTP&, int64_t bytes, int32_t ms) {
      finished = FinishedTransfer{false, bytes, ms};
    };
    {
      std::lock_guard lock(loop_mutex_);
      loop_ = &platform::MessageLoop::Current();
      ftp_ = ftp.get();
    }
    const int32_t opened = owner_.Stopping() ? 999 : ftp->OpenLike(profile);
    settled_ = true;
    if (opened > 400) {
      owner_.ReportOpened(false, options.command + ": a parallel connection could not be opened: " +
                                     (lines.empty() ? std::to_string(opened) : lines.back()));
    } else {
      owner_.ReportOpened(true, {});
      while (ftp->Connected()) {
        std::optional<Job> job = owner_.NextJob();
        if (!job) break;
        lines.clear();
        finished.reset();
        bytes_.store(0);
        const FileMove move{*ftp, [&lines](const std::string& line) { lines.push_back(line); },
                            options.command};
        FileOutcome outcome = MoveFile(job->move, move);
        bytes_.store(0);
        owner_.Report(Result{job->place, std::move(lines), outcome, finished});
        lines = {};
      }
    }
    ftp->Disconnect();
    // No abort may reach the session once it is gone: the loop is forgotten, what was posted
    // to it runs now, while the session is still whole.
    {
      std::lock_guard lock(loop_mutex_);
      loop_ = nullptr;
      ftp_ = nullptr;
    }
    platform::ProcessMessages();
  }

  static FileOutcome MoveFile(const FileJob& job, const FileMove& move) {
    try {
      return job(move);
    } catch (const Exception& error) {
      move.log(texts::UnexpectedError() + error.Message());
    } catch (const std::exception& error) {
      move.log(texts::UnexpectedError() + error.what());
    }
    return FileOutcome{false, 0, 999};
  }

  ParallelSessions& owner_;
  std::mutex loop_mutex_;
  platform::MessageLoop* loop_ = nullptr;  // while the session is there
  TLowFTP* ftp_ = nullptr;
  std::atomic<int64_t> bytes_{0};
  bool settled_ = false;  // the login's outcome is reported (the thread's own)
  std::thread thread_;  // last: it starts once everything above is made
};

ParallelSessions::ParallelSessions(const SessionProfile& profile, int count, Options options)
    : engine_loop_(platform::MessageLoop::Current()) {
  try {
    for (int i = 0; i < count; ++i) {
      sessions_.push_back(std::make_unique<Session>(*this, profile, options));
    }
  } catch (...) {
    // A thread that could not be started: those that were end before the failure goes on.
    Stop();
    Close();
    sessions_.clear();
    throw;
  }
}

ParallelSessions::~ParallelSessions() {
  if (!AllEnded()) Stop();
  Close();
  sessions_.clear();  // joins every thread
}

bool ParallelSessions::Settled() {
  std::lock_guard lock(mutex_);
  return settled_ == static_cast<int>(sessions_.size());
}

int ParallelSessions::OpenCount() {
  std::lock_guard lock(mutex_);
  return opened_;
}

std::vector<std::string> ParallelSessions::TakeOpenFailures() {
  std::lock_guard lock(mutex_);
  return std::exchange(open_failures_, {});
}

void ParallelSessions::Submit(Job job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  work_.notify_one();
}

void ParallelSessions::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  work_.notify_all();
}

void ParallelSessions::Stop() {
  {
    // Under the lock: a session between its look at the flag and its wait would miss the
    // notification and wait for good.
    std::lock_guard lock(mutex_);
    stopping_.store(true);
  }
  work_.notify_all();
  for (const auto& session : sessions_) session->Abort();
}

std::vector<ParallelSessions::Result> ParallelSessions::TakeResults() {
  std::lock_guard lock(mutex_);
  return std::exchange(results_, {});
}

bool ParallelSessions::AllEnded() {
  std::lock_guard lock(mutex_);
  return ended_ == static_cast<int>(sessions_.size());
}

std::vector<ParallelSessions::Job> ParallelSessions::TakeUnstarted() {
  std::lock_guard lock(mutex_);
  std::vector<Job> left(std::make_move_iterator(jobs_.begin()),
                        std::make_move_iterator(jobs_.end()));
  jobs_.clear();
  return left;
}

int64_t ParallelSessions::BytesInProgress() const {
  int64_t bytes = 0;
  for (const auto& session : sessions_) bytes += session->BytesInProgress();
  return bytes;
}

std::optional<ParallelSessions::Job> ParallelSessions::NextJob() {
  std::unique_lock lock(mutex_);
  work_.wait(lock, [this] { return Stopping() || closed_ || !jobs_.empty(); });
  if (Stopping() || jobs_.empty()) return std::nullopt;
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  return job;
}

void ParallelSessions::Report(Result result) {
  {
    std::lock_guard lock(mutex_);
    results_.push_back(std::move(result));
  }
  engine_loop_.Post([] {});  // wakes the engine's wait
}

void ParallelSessions::ReportOpened(bool opened, const std::string& failure) {
  {
    std::lock_guard lock(mutex_);
    ++settled_;
    if (opened) ++opened_;
    if (!failure.empty()) open_failures_.push_back(failure);
  }
  engine_loop_.Post([] {});
}

void ParallelSessions::ReportProblem(const std::string& line) {
  std::lock_guard lock(mutex_);
  open_failures_.push_back(line);
}

void ParallelSessions::ReportEnded() {
  {
    std::lock_guard lock(mutex_);
    ++ended_;
  }
  engine_loop_.Post([] {});
}

}  // namespace tarnex::script
