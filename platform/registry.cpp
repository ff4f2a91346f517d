#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace tarnex::platform {
namespace {

constexpr int kRegSz = 1;
constexpr int kRegDword = 4;

// Another process may hold the write lock for a moment; wait for it rather than fail.
constexpr int kBusyTimeoutMs = 2000;
constexpr int kBusyAttempts = 5;

// Key paths are stored with their components folded, joined by single backslashes, so that a
// lookup is one exact match. Values are keyed by their folded name within a key.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS registry_keys (
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  path BLOB NOT NULL,
  name BLOB NOT NULL,
  UNIQUE (root, path));
CREATE TABLE IF NOT EXISTS registry_values (
  key_id INTEGER NOT NULL REFERENCES registry_keys (id),
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data,
  PRIMARY KEY (key_id, fold)) WITHOUT ROWID;
)sql";

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

const std::string& TypeErrorFormat() {
  static const std::string format = Utf8ToCp932("'%s' のデータ型が不正です");
  return format;
}

const std::string& WriteErrorFormat() {
  static const std::string format = Utf8ToCp932("'%s' の設定に失敗しました");
  return format;
}

std::string FormatWithName(const std::string& format, std::string_view name) {
  const size_t at = format.find("%s");
  std::string message = format.substr(0, at);
  message.append(name);
  message.append(format, at + 2);
  return message;
}

// Folds ASCII letters only, and never the second byte of a double-byte character, which may
// look like a letter.
std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (size_t i = 0; i < folded.size(); ++i) {
    const auto c = static_cast<unsigned char>(folded[i]);
    if (IsCp932LeadByte(c)) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      folded[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return folded;
}

// The components of a key path; empty ones (a leading, trailing or doubled backslash) are
// dropped. A 0x5C that is the second byte of a double-byte character does not separate.
std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsCp932LeadByte(c) && i + 1 < path.size()) {
      current.append(path.substr(i, 2));
      ++i;
    } else if (c == '\\') {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(static_cast<char>(c));
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

int RootIndex(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot:
    case RootKey::CurrentUser:
    case RootKey::LocalMachine:
    case RootKey::Users:
    case RootKey::PerformanceData:
    case RootKey::CurrentConfig:
    case RootKey::DynData:
      return static_cast<int>(root);
  }
  return static_cast<int>(RootKey::LocalMachine);
}

bool IsBusy(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// The busy time-out covers most waits; a few situations return BUSY at once (a lock taken
// while the database is being opened or recovered), so try again a bounded number of times.
template <typename Attempt>
int RetryWhileBusy(Attempt attempt) {
  int rc = attempt();
  for (int i = 1; i < kBusyAttempts && IsBusy(rc); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * i));
    rc = attempt();
  }
  return rc;
}

bool Exec(sqlite3* db, const char* sql) {
  return RetryWhileBusy([&] { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }) ==
         SQLITE_OK;
}

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  RetryWhileBusy([&] {
    sqlite3_finalize(raw);
    raw = nullptr;
    return sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  });
  return Statement(raw);
}

// First step of a statement, repeated from the start while the database is busy.
int Step(sqlite3_stmt* stmt) {
  return RetryWhileBusy([&] {
    sqlite3_reset(stmt);
    return sqlite3_step(stmt);
  });
}

// A zero-length blob needs a non-null pointer, or it would be bound as NULL.
void BindBytes(sqlite3_stmt* stmt, int index, std::string_view bytes) {
  sqlite3_bind_blob(stmt, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* stmt, int index) {
  const void* data = sqlite3_column_blob(stmt, index);
  const int size = sqlite3_column_bytes(stmt, index);
  if (data == nullptr || size <= 0) return {};
  return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

// An IMMEDIATE transaction takes the write lock at once, so it cannot fail half-way for a
// writer in another process; rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db), open_(Exec(db, "BEGIN IMMEDIATE")) {}
  ~WriteTransaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  bool IsOpen() const { return open_; }
  bool Commit() {
    if (!open_ || !Exec(db_, "COMMIT")) return false;
    open_ = false;
    return true;
  }

 private:
  sqlite3* db_;
  bool open_;
};

// Creates the missing folders of the registry file's path, private to the user.
void CreateParentFolders(const std::string& file) {
  const std::filesystem::path parent = std::filesystem::path(file).parent_path();
  std::filesystem::path partial;
  for (const auto& part : parent) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

// Script variables may hold passwords: a new registry file is readable by its owner only.
void CreatePrivateFile(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

struct DefaultStoreState {
  std::mutex mutex;
  std::optional<std::string> path;
  std::shared_ptr<RegistryStore> store;
};

DefaultStoreState& DefaultState() {
  static DefaultStoreState state;
  return state;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

void RegistryStore::DbCloser::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

RegistryStore::RegistryStore(std::string utf8_path) : path_(std::move(utf8_path)) {
  TryOpen();
}

RegistryStore::~RegistryStore() = default;

std::shared_ptr<RegistryStore> RegistryStore::Default() {
  DefaultStoreState& state = DefaultState();
  std::lock_guard lock(state.mutex);
  if (!state.store) {
    state.store = std::make_shared<RegistryStore>(state.path ? *state.path : DefaultPath());
  }
  return state.store;
}

void RegistryStore::SetDefaultPath(std::string utf8_path) {
  DefaultStoreState& state = DefaultState();
  std::lock_guard lock(state.mutex);
  state.path = std::move(utf8_path);
  state.store.reset();
}

std::string RegistryStore::DefaultPath() {
  if (std::string path = EnvOrEmpty("TARNEX_REGISTRY"); !path.empty()) return path;
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (std::string config = EnvOrEmpty("XDG_CONFIG_HOME"); !config.empty() && config[0] == '/') {
    return config + "/tarnex/registry.db";
  }
  std::string home = EnvOrEmpty("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
      home = entry->pw_dir;
    }
  }
  // Without a home there is no place for the file; the store will be unavailable.
  if (home.empty()) return {};
  return home + "/.config/tarnex/registry.db";
}

bool RegistryStore::Available() {
  return EnsureOpen();
}

bool RegistryStore::EnsureOpen() {
  return db_ != nullptr || TryOpen();
}

bool RegistryStore::TryOpen() {
  // An empty name would give SQLite's private temporary database.
  if (path_.empty()) return false;
  CreateParentFolders(path_);
  CreatePrivateFile(path_);

  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, DbCloser> db(raw);
  if (rc != SQLITE_OK) return false;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);

  if (sqlite3_db_readonly(db.get(), "main") == 1) {
    // A write-protected file is still read; only the check that it is a database remains.
    if (!Exec(db.get(), "SELECT 1 FROM sqlite_master LIMIT 1")) return false;
  } else {
    // WAL lets readers and one writer of several processes work at once. NORMAL
    // synchronisation in WAL mode loses nothing when a process dies.
    if (!Exec(db.get(), "PRAGMA journal_mode=WAL") ||
        !Exec(db.get(), "PRAGMA synchronous=NORMAL")) {
      return false;
    }
    WriteTransaction transaction(db.get());
    if (!transaction.IsOpen() || !Exec(db.get(), kSchema) || !transaction.Commit()) return false;
  }
  db_ = std::move(db);
  return true;
}

std::optional<int64_t> RegistryStore::FindKey(RootKey root, std::string_view path, bool create) {
  const std::vector<std::string> parts = SplitKeyPath(path);
  // Every key on the way down, the key itself last; the root's own key is the empty path.
  std::vector<std::pair<std::string, std::string>> chain;  // (folded, as written)
  std::string folded;
  std::string written;
  for (const std::string& part : parts) {
    if (!written.empty()) {
      folded += '\\';
      written += '\\';
    }
    folded += FoldCase(part);
    written += part;
    chain.emplace_back(folded, written);
  }
  if (chain.empty()) chain.emplace_back("", "");

  sqlite3* db = db_.get();
  const auto lookup = [&]() -> std::optional<int64_t> {
    Statement select = Prepare(db, "SELECT id FROM registry_keys WHERE root = ?1 AND path = ?2");
    if (!select) return std::nullopt;
    sqlite3_bind_int(select.get(), 1, RootIndex(root));
    BindBytes(select.get(), 2, chain.back().first);
    if (Step(select.get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(select.get(), 0);
  };

  // Looking first lets a write-protected store open the keys it has.
  if (std::optional<int64_t> id = lookup(); id || !create) return id;

  WriteTransaction transaction(db);
  if (!transaction.IsOpen()) return std::nullopt;
  Statement insert =
      Prepare(db, "INSERT OR IGNORE INTO registry_keys (root, path, name) VALUES (?1, ?2, ?3)");
  if (!insert) return std::nullopt;
  for (const auto& [key_folded, key_written] : chain) {
    sqlite3_reset(insert.get());
    sqlite3_bind_int(insert.get(), 1, RootIndex(root));
    BindBytes(insert.get(), 2, key_folded);
    BindBytes(insert.get(), 3, key_written);
    if (Step(insert.get()) != SQLITE_DONE) return std::nullopt;
  }
  std::optional<int64_t> id = lookup();
  if (!id || !transaction.Commit()) return std::nullopt;
  return id;
}

std::optional<RegistryStore::Value> RegistryStore::ReadValue(int64_t key, std::string_view name) {
  if (!db_) return std::nullopt;
  Statement select =
      Prepare(db_.get(), "SELECT type, data FROM registry_values WHERE key_id = ?1 AND fold = ?2");
  if (!select) return std::nullopt;
  sqlite3_bind_int64(select.get(), 1, key);
  BindBytes(select.get(), 2, FoldCase(name));
  if (Step(select.get()) != SQLITE_ROW) return std::nullopt;
  Value value;
  value.type = sqlite3_column_int(select.get(), 0);
  if (value.type == kRegDword) {
    value.integer = static_cast<int32_t>(sqlite3_column_int64(select.get(), 1));
  } else {
    value.data = ColumnBytes(select.get(), 1);
  }
  return value;
}

bool RegistryStore::WriteValue(int64_t key, std::string_view name, const Value& value) {
  if (!db_) return false;
  // An existing value keeps the name it was first written with, whatever its case now.
  Statement upsert = Prepare(db_.get(),
                             "INSERT INTO registry_values (key_id, fold, name, type, data) "
                             "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (key_id, fold) "
                             "DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!upsert) return false;
  sqlite3_bind_int64(upsert.get(), 1, key);
  BindBytes(upsert.get(), 2, FoldCase(name));
  BindBytes(upsert.get(), 3, name);
  sqlite3_bind_int(upsert.get(), 4, value.type);
  if (value.type == kRegDword) {
    sqlite3_bind_int64(upsert.get(), 5, value.integer);
  } else {
    BindBytes(upsert.get(), 5, value.data);
  }
  return Step(upsert.get()) == SQLITE_DONE;
}

bool RegistryStore::DeleteValue(int64_t key, std::string_view name) {
  if (!db_) return false;
  Statement remove =
      Prepare(db_.get(), "DELETE FROM registry_values WHERE key_id = ?1 AND fold = ?2");
  if (!remove) return false;
  sqlite3_bind_int64(remove.get(), 1, key);
  BindBytes(remove.get(), 2, FoldCase(name));
  return Step(remove.get()) == SQLITE_DONE && sqlite3_changes(db_.get()) > 0;
}

std::vector<std::string> RegistryStore::ValueNames(int64_t key) {
  std::vector<std::string> names;
  if (!db_) return names;
  Statement select =
      Prepare(db_.get(), "SELECT name FROM registry_values WHERE key_id = ?1 ORDER BY fold");
  if (!select) return names;
  sqlite3_bind_int64(select.get(), 1, key);
  // Step starts the statement over (for a busy database); the rows after the first follow.
  for (int rc = Step(select.get()); rc == SQLITE_ROW; rc = sqlite3_step(select.get())) {
    names.push_back(ColumnBytes(select.get(), 0));
  }
  return names;
}

Registry::Registry(std::shared_ptr<RegistryStore> store, RootKey root)
    : store_(std::move(store)), root_(root) {}

bool Registry::OpenKey(std::string_view key, bool can_create) {
  CloseKey();
  if (!store_ || !store_->EnsureOpen()) return false;
  key_ = store_->FindKey(root_, key, can_create);
  return key_.has_value();
}

void Registry::CloseKey() {
  key_.reset();
}

std::vector<std::string> Registry::ValueNames() {
  return key_ ? store_->ValueNames(*key_) : std::vector<std::string>();
}

bool Registry::ValueExists(std::string_view name) {
  return key_ && store_->ReadValue(*key_, name).has_value();
}

std::string Registry::ReadString(std::string_view name) {
  if (!key_) return {};
  std::optional<RegistryStore::Value> value = store_->ReadValue(*key_, name);
  if (!value) return {};
  if (value->type != kRegSz) throw ERegistryException(FormatWithName(TypeErrorFormat(), name));
  return std::move(value->data);
}

int32_t Registry::ReadInteger(std::string_view name) {
  std::optional<RegistryStore::Value> value;
  if (key_) value = store_->ReadValue(*key_, name);
  if (!value || value->type != kRegDword) {
    throw ERegistryException(FormatWithName(TypeErrorFormat(), name));
  }
  return value->integer;
}

bool Registry::ReadBool(std::string_view name) {
  return ReadInteger(name) != 0;
}

void Registry::WriteString(std::string_view name, std::string_view value) {
  Write(name, RegistryStore::Value{kRegSz, std::string(value), 0});
}

void Registry::WriteInteger(std::string_view name, int32_t value) {
  Write(name, RegistryStore::Value{kRegDword, {}, value});
}

void Registry::WriteBool(std::string_view name, bool value) {
  WriteInteger(name, value ? 1 : 0);
}

bool Registry::DeleteValue(std::string_view name) {
  return key_ && store_->DeleteValue(*key_, name);
}

void Registry::Write(std::string_view name, const RegistryStore::Value& value) {
  if (!key_ || !store_->WriteValue(*key_, name, value)) {
    throw ERegistryException(FormatWithName(WriteErrorFormat(), name));
  }
}

}  // namespace tarnex::platform
