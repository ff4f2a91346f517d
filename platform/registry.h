// The stand-in for the system registry: typed values under keys, kept in one SQLite file that
// several processes may use at once. Key paths, value names and string data are CP932 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace tarnex::platform {

// The predefined roots; each holds its own tree of keys. Out-of-range values count as
// LocalMachine.
enum class RootKey {
  ClassesRoot,
  CurrentUser,
  LocalMachine,
  Users,
  PerformanceData,
  CurrentConfig,
  DynData
};

// One registry file. A file that cannot be opened or is not a database leaves the store
// unavailable: every key fails to open, so reads find nothing and writes are refused.
class RegistryStore {
 public:
  explicit RegistryStore(std::string utf8_path);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // The process-wide store, opened at DefaultPath() on first use.
  static std::shared_ptr<RegistryStore> Default();
  // Points the process-wide store at another file; Registry objects already holding the old
  // store keep using it.
  static void SetDefaultPath(std::string utf8_path);
  // $TARNEX_REGISTRY, else $XDG_CONFIG_HOME/tarnex/registry.db, else
  // $HOME/.config/tarnex/registry.db.
  static std::string DefaultPath();

  const std::string& Path() const { return path_; }
  bool Available();

 private:
  friend class Registry;

  // A stored value: REG_SZ (data holds the bytes) or REG_DWORD (integer), or any other type
  // code a foreign writer may have left.
  struct Value {
    int type = 0;
    std::string data;
    int32_t integer = 0;
  };

  struct DbCloser {
    void operator()(sqlite3* db) const;
  };

  // Opens the file when it is not open yet; false while it cannot be.
  bool EnsureOpen();
  bool TryOpen();

  // The id of the key, created with its parents when `create`; nothing when it does not exist
  // or cannot be created.
  std::optional<int64_t> FindKey(RootKey root, std::string_view path, bool create);
  // Nothing when the value does not exist or cannot be read.
  std::optional<Value> ReadValue(int64_t key, std::string_view name);
  bool WriteValue(int64_t key, std::string_view name, const Value& value);
  // True when a value was there and is gone.
  bool DeleteValue(int64_t key, std::string_view name);
  // The names of the key's values as they were first written, in the order of the names.
  std::vector<std::string> ValueNames(int64_t key);

  std::string path_;
  std::unique_ptr<sqlite3, DbCloser> db_;
};

// One open key at a time in a store, like the toolkit's registry object. The key is closed
// when the object goes.
class Registry {
 public:
  explicit Registry(std::shared_ptr<RegistryStore> store = RegistryStore::Default(),
                    RootKey root = RootKey::LocalMachine);
  ~Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Key paths are taken from the root ("\SOFTWARE\Tarnex" and "SOFTWARE\Tarnex" are the same
  // key) and compared without case. Closes the key that was open before.
  bool OpenKey(std::string_view key, bool can_create);
  void CloseKey();

  // Value names compare without case; the empty name is the key's default value.
  bool ValueExists(std::string_view name);
  // Empty when the value does not exist; ERegistryException when it is not a string.
  std::string ReadString(std::string_view name);
  // ERegistryException when the value does not exist or is not an integer.
  int32_t ReadInteger(std::string_view name);
  bool ReadBool(std::string_view name);

  // ERegistryException when the write cannot be done. A value of another type is replaced.
  void WriteString(std::string_view name, std::string_view value);
  void WriteInteger(std::string_view name, int32_t value);
  void WriteBool(std::string_view name, bool value);

  // False when the value does not exist or cannot be deleted; never throws.
  bool DeleteValue(std::string_view name);

  // The names of the open key's values (none when no key is open).
  std::vector<std::string> ValueNames();

 private:
  void Write(std::string_view name, const RegistryStore::Value& value);

  std::shared_ptr<RegistryStore> store_;
  RootKey root_;
  std::optional<int64_t> key_;
};

}  // namespace tarnex::platform
