#include "tests/support/fake_ftp_script.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace tarnex::testing {
namespace {

std::function<bool(const std::string&)> PatternPredicate(const std::string& pattern) {
  if (!pattern.empty() && pattern.back() == '*') {
    std::string prefix = pattern.substr(0, pattern.size() - 1);
    return [prefix](const std::string& command) { return command.starts_with(prefix); };
  }
  return [pattern](const std::string& command) { return command == pattern; };
}

}  // namespace

struct Gate::State {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
};

Gate::Gate(std::string name) : state_(std::make_shared<State>()), name_(std::move(name)) {}

void Gate::Open() const {
  {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
  }
  state_->opened.notify_all();
}

bool Gate::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

bool Gate::Wait(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->opened.wait_for(lock, timeout, [this] { return state_->open; });
}

Match::Match(const char* pattern) : Match(std::string(pattern)) {}

Match::Match(std::string pattern)
    : description_("\"" + pattern + "\""), predicate_(PatternPredicate(pattern)) {}

Match::Match(std::string description, std::function<bool(const std::string&)> predicate)
    : description_(std::move(description)), predicate_(std::move(predicate)) {}

Match Match::Any() {
  return Match("any command", [](const std::string&) { return true; });
}

Match Match::If(std::string description, std::function<bool(const std::string&)> predicate) {
  return Match(std::move(description), std::move(predicate));
}

DataAction DataAction::Chunks(std::size_t size, std::chrono::milliseconds pause) const {
  DataAction copy = *this;
  copy.chunk_size = size;
  copy.chunk_pause = pause;
  return copy;
}

DataAction DataAction::ResetAfter(std::size_t bytes) const {
  DataAction copy = *this;
  copy.reset_after = bytes;
  return copy;
}

DataAction DataAction::ThenHold() const {
  DataAction copy = *this;
  copy.ending = Ending::kReceiveUntilClientCloses;
  return copy;
}

DataAction DataAction::WithoutCloseNotify() const {
  DataAction copy = *this;
  copy.close_notify = false;
  return copy;
}

DataAction DataAction::CutAfter(std::size_t bytes) const {
  DataAction copy = *this;
  copy.cut_after = bytes;
  copy.ending = Ending::kClose;
  copy.close_notify = false;
  return copy;
}

DataAction DataAction::ConnectAfter(std::chrono::milliseconds delay) const {
  DataAction copy = *this;
  copy.connect_delay = delay;
  return copy;
}

DataAction DataAction::InBackground() const {
  DataAction copy = *this;
  copy.background = true;
  return copy;
}

DataAction DataAction::IntruderFirst(std::string source, bool then_real) const {
  DataAction copy = *this;
  copy.intruder_from = std::move(source);
  copy.real_after_intruder = then_real;
  return copy;
}

namespace Data {

DataAction Send(std::string bytes) {
  DataAction action;
  action.payload = std::make_shared<const std::string>(std::move(bytes));
  return action;
}

DataAction Receive() {
  DataAction action;
  action.ending = DataAction::Ending::kReceiveUntilClientCloses;
  return action;
}

DataAction Close() {
  return DataAction{};
}

DataAction Reset() {
  DataAction action;
  action.ending = DataAction::Ending::kReset;
  return action;
}

DataAction Hold() {
  return Receive();
}

DataAction Stall() {
  DataAction action;
  action.ending = DataAction::Ending::kStallUntilClientCloses;
  return action;
}

DataAction NeverConnect() {
  DataAction action;
  action.connects = false;
  return action;
}

}  // namespace Data

namespace {

Step MakeStep(Step::Kind kind) {
  Step step;
  step.kind = kind;
  return step;
}

}  // namespace

Step Greeting(std::string bytes) {
  return Reply(std::move(bytes));
}

Step Reply(std::string bytes) {
  Step step = MakeStep(Step::Kind::kSend);
  step.bytes = std::move(bytes);
  return step;
}

Step Expect(Match command, std::string reply) {
  Step step = MakeStep(Step::Kind::kExpect);
  step.match = std::move(command);
  step.bytes = std::move(reply);
  return step;
}

Step Expect(Match command, std::string reply, DataAction data) {
  Step step = Expect(std::move(command), std::move(reply));
  step.data = std::move(data);
  return step;
}

Step Transfer(DataAction data) {
  Step step = MakeStep(Step::Kind::kTransfer);
  step.data = std::move(data);
  return step;
}

Step Pause(std::chrono::milliseconds duration) {
  Step step = MakeStep(Step::Kind::kPause);
  step.delay = duration;
  return step;
}

Step Drip(std::string bytes, std::chrono::milliseconds interval) {
  Step step = MakeStep(Step::Kind::kDrip);
  step.bytes = std::move(bytes);
  step.delay = interval;
  return step;
}

Step Close() {
  return MakeStep(Step::Kind::kClose);
}
Step CloseWithoutCloseNotify() {
  return MakeStep(Step::Kind::kCloseWithoutCloseNotify);
}
Step StartTls() {
  return MakeStep(Step::Kind::kStartTls);
}
Step ProtectData() {
  return MakeStep(Step::Kind::kProtectData);
}
Step Reset() {
  return MakeStep(Step::Kind::kReset);
}
Step Silence() {
  return MakeStep(Step::Kind::kSilence);
}
Step CloseData() {
  return MakeStep(Step::Kind::kCloseData);
}
Step AwaitData() {
  return MakeStep(Step::Kind::kAwaitData);
}

Step WaitFor(Gate gate) {
  Step step = MakeStep(Step::Kind::kWaitFor);
  step.gate = std::move(gate);
  return step;
}

Step Open(Gate gate) {
  Step step = MakeStep(Step::Kind::kOpen);
  step.gate = std::move(gate);
  return step;
}

}  // namespace tarnex::testing
