#include "platform/registry.h"

#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace tarnex::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVariables = "\\SOFTWARE\\Tarnex";
constexpr const char* kOptions = "\\SOFTWARE\\Tarnex\\Options";

// The two messages as CP932 bytes, spelled out so that a faulty conversion shows.
std::string TypeError(const std::string& name) {
  return "'" + name +
         "' \x82\xcc\x83\x66\x81\x5b\x83\x5e\x8c\x5e\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82\xb7";
}
std::string WriteError(const std::string& name) {
  return "'" + name +
         "' \x82\xcc\x90\xdd\x92\xe8\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarnex-registry-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Sets or clears an environment variable for one test and puts the old state back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

// Child processes started together: each waits at a gate until all exist, runs its body and
// exits with the body's result (99 when the body throws).
class Children {
 public:
  static constexpr int kSkip = 77;

  explicit Children(int count, const std::function<int(int)>& body) {
    int gate[2];
    if (::pipe(gate) != 0) return;
    for (int i = 0; i < count; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(gate[1]);
        char byte;
        while (::read(gate[0], &byte, 1) > 0) {
        }
        int code = 99;
        try {
          code = body(i);
        } catch (const std::exception& error) {
          std::fprintf(stderr, "child %d: %s\n", i, error.what());
        }
        ::_exit(code);
      }
      if (pid > 0) pids_.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate
  }

  // The exit codes, or -1 for a child that crashed or did not end in time (it is killed).
  std::vector<int> Wait(std::chrono::seconds limit) {
    std::vector<int> codes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (pid_t pid : pids_) {
      int status = 0;
      pid_t done = 0;
      while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        codes.push_back(-1);
      } else {
        codes.push_back(done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      }
    }
    pids_.clear();
    return codes;
  }

 private:
  std::vector<pid_t> pids_;
};

// Reports a failed check of a child process on standard error.
bool ChildCheck(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "child check failed: %s\n", what);
  return ok;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    store_ = std::make_shared<RegistryStore>(DbPath());
    ASSERT_TRUE(store_->Available());
  }

  std::string DbPath() const { return (dir_.Path() / "registry.db").string(); }

  TempDir dir_;
  std::shared_ptr<RegistryStore> store_;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAndSurviveReopening) {
  const std::vector<int32_t> integers = {
      0, 1, 200, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  {
    Registry reg(store_);
    ASSERT_TRUE(reg.OpenKey(kOptions, true));
    reg.WriteString("Logsave", "C:\\log\\Tarnex.log");
    reg.WriteString("Empty", "");
    for (size_t i = 0; i < integers.size(); ++i) reg.WriteInteger(std::to_string(i), integers[i]);
    reg.WriteBool("On", true);
    reg.WriteBool("Off", false);
  }
  store_.reset();
  Registry reg(std::make_shared<RegistryStore>(DbPath()));
  ASSERT_TRUE(reg.OpenKey(kOptions, false));
  EXPECT_EQ(reg.ReadString("Logsave"), "C:\\log\\Tarnex.log");
  EXPECT_TRUE(reg.ValueExists("Empty"));
  EXPECT_EQ(reg.ReadString("Empty"), "");
  for (size_t i = 0; i < integers.size(); ++i) {
    EXPECT_EQ(reg.ReadInteger(std::to_string(i)), integers[i]);
    EXPECT_EQ(reg.ReadBool(std::to_string(i)), integers[i] != 0);
  }
  EXPECT_EQ(reg.ReadInteger("On"), 1);  // Booleans are stored as 0 and 1
  EXPECT_EQ(reg.ReadInteger("Off"), 0);
  EXPECT_FALSE(reg.ValueExists("Missing"));
  EXPECT_EQ(reg.ReadString("Missing"), "");
}

TEST_F(RegistryTest, WrongTypeRaisesTheTypeErrorWithTheValueName) {
  Registry reg(store_);
  ASSERT_TRUE(reg.OpenKey(kOptions, true));
  reg.WriteString("Logsave", "x");
  reg.WriteInteger("Timeout", 10);
  const std::string kSjisName = "\x95\x5c\x83\x41";  // two double-byte characters
  reg.WriteInteger(kSjisName, 1);

  struct Case {
    const char* what;
    std::string name;
    std::function<void()> read;
  };
  const std::vector<Case> cases = {
      {"integer read of a string", "Logsave", [&] { reg.ReadInteger("Logsave"); }},
      {"bool read of a string", "Logsave", [&] { reg.ReadBool("Logsave"); }},
      {"string read of an integer", "Timeout", [&] { reg.ReadString("Timeout"); }},
      {"integer read of a missing value", "WaitSec", [&] { reg.ReadInteger("WaitSec"); }},
      {"bool read of a missing value", "SendWait", [&] { reg.ReadBool("SendWait"); }},
      {"name in CP932", kSjisName, [&] { reg.ReadString(kSjisName); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.read();
      ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& error) {
      EXPECT_EQ(error.Message(), TypeError(c.name));
    }
  }
}

TEST_F(RegistryTest, WritingAnotherTypeReplacesTheValue) {
  Registry reg(store_);
  ASSERT_TRUE(reg.OpenKey(kVariables, true));
  reg.WriteInteger("a", 5);
  reg.WriteString("a", "text");
  EXPECT_EQ(reg.ReadString("a"), "text");
  EXPECT_THROW(reg.ReadInteger("a"), ERegistryException);
  reg.WriteBool("a", true);
  EXPECT_EQ(reg.ReadInteger("a"), 1);
  EXPECT_THROW(reg.ReadString("a"), ERegistryException);
}

TEST_F(RegistryTest, ValueNamesCompareWithoutCase) {
  Registry reg(store_);
  ASSERT_TRUE(reg.OpenKey(kOptions, true));
  reg.WriteBool("Sendwait", true);
  EXPECT_TRUE(reg.ValueExists("SendWait"));
  EXPECT_TRUE(reg.ReadBool("SENDWAIT"));
  reg.WriteBool("SendWait", false);  // the same value, not a second one
  EXPECT_FALSE(reg.ReadBool("sendwait"));
  EXPECT_TRUE(reg.DeleteValue("sendWAIT"));
  EXPECT_FALSE(reg.ValueExists("Sendwait"));

  // The second byte of a double-byte character is not a letter: 0x83 0x41 and 0x83 0x61 are
  // two different characters.
  reg.WriteString("\x83\x41", "upper");
  reg.WriteString("\x83\x61", "lower");
  EXPECT_EQ(reg.ReadString("\x83\x41"), "upper");
  EXPECT_EQ(reg.ReadString("\x83\x61"), "lower");
}

TEST_F(RegistryTest, ValueNamesListsEveryValueOnceWithItsFirstSpelling) {
  Registry reg(store_);
  EXPECT_TRUE(reg.ValueNames().empty());  // no key open
  ASSERT_TRUE(reg.OpenKey(kOptions, true));
  reg.WriteString("Zeta", "1");
  reg.WriteInteger("alpha", 2);
  reg.WriteString("ZETA", "3");  // the same value
  reg.WriteString("Mid", "4");
  EXPECT_EQ(reg.ValueNames(), (std::vector<std::string>{"alpha", "Mid", "Zeta"}));
}

TEST_F(RegistryTest, EmptyNameIsTheDefaultValueAndDeleteReportsWhatItDid) {
  Registry reg(store_);
  EXPECT_FALSE(reg.DeleteValue(""));  // no key open
  ASSERT_TRUE(reg.OpenKey(kVariables, true));
  EXPECT_FALSE(reg.ValueExists(""));
  EXPECT_EQ(reg.ReadString(""), "");
  reg.WriteString("", "default");
  reg.WriteString(" ", "blank");
  EXPECT_EQ(reg.ReadString(""), "default");
  EXPECT_EQ(reg.ReadString(" "), "blank");
  EXPECT_TRUE(reg.DeleteValue(""));
  EXPECT_FALSE(reg.ValueExists(""));
  EXPECT_FALSE(reg.DeleteValue(""));
  EXPECT_EQ(reg.ReadString(" "), "blank");
}

TEST_F(RegistryTest, KeysAreCreatedOnRequestAndFoundInAnyCase) {
  Registry reg(store_);
  EXPECT_FALSE(reg.ValueExists("v"));  // no key open
  EXPECT_EQ(reg.ReadString("v"), "");
  EXPECT_FALSE(reg.OpenKey(kOptions, false));
  EXPECT_FALSE(reg.ValueExists("v"));
  try {
    reg.WriteString("v", "1");
    ADD_FAILURE() << "write without a key";
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), WriteError("v"));
  }

  ASSERT_TRUE(reg.OpenKey(kOptions, true));
  reg.WriteInteger("Timeout", 42);
  reg.CloseKey();
  EXPECT_FALSE(reg.ValueExists("Timeout"));

  for (const char* path : {"\\SOFTWARE\\Tarnex\\Options", "SOFTWARE\\Tarnex\\Options",
                           "\\software\\TARNEX\\options", "\\SOFTWARE\\Tarnex\\Options\\"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(reg.OpenKey(path, false));
    EXPECT_EQ(reg.ReadInteger("Timeout"), 42);
  }
  // The parents exist too, and a value of a subkey is not a value of its parent.
  ASSERT_TRUE(reg.OpenKey(kVariables, false));
  EXPECT_FALSE(reg.ValueExists("Timeout"));
  EXPECT_TRUE(reg.OpenKey("\\SOFTWARE", false));
  EXPECT_FALSE(reg.OpenKey("\\SOFTWARE\\Tarnex\\Opt", false));

  // Each root is a tree of its own.
  Registry user(store_, RootKey::CurrentUser);
  EXPECT_FALSE(user.OpenKey(kOptions, false));
  EXPECT_TRUE(Registry(store_, RootKey::LocalMachine).OpenKey(kOptions, false));
}

TEST_F(RegistryTest, Cp932BytesRoundTripExactly) {
  const std::string kTable = "\x95\x5c";  // a character whose second byte is a backslash
  const std::vector<std::string> values = {
      "C:\\" + kTable + "\\a.txt",
      std::string("\x80\x81\xa0\xfd\xfe\xff", 6),
      std::string("a\0b", 3),
      "\x82\xa0\x82\xa2",
  };
  Registry reg(store_);
  const std::string key = "\\SOFTWARE\\" + kTable;
  ASSERT_TRUE(reg.OpenKey(key, true));
  for (size_t i = 0; i < values.size(); ++i) reg.WriteString(kTable + std::to_string(i), values[i]);
  reg.CloseKey();

  Registry again(std::make_shared<RegistryStore>(DbPath()));
  // The 0x5C inside the character does not split the key path.
  EXPECT_FALSE(again.OpenKey("\\SOFTWARE\\\x95", false));
  ASSERT_TRUE(again.OpenKey(key, false));
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(again.ReadString(kTable + std::to_string(i)), values[i]);
  }
}

TEST(RegistryStoreTest, UnusableFileMakesAnUnavailableStore) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string kGarbage(4096, 'x');
  struct Case {
    const char* what;
    std::function<std::string()> make;  // returns the registry path
  };
  const std::vector<Case> cases = {
      {"folder under a regular file",
       [&] {
         std::ofstream(dir.Path() / "plain") << "not a folder";
         return (dir.Path() / "plain" / "tarnex" / "registry.db").string();
       }},
      {"file that is not a database",
       [&] {
         std::ofstream(dir.Path() / "garbage.db", std::ios::binary) << kGarbage;
         return (dir.Path() / "garbage.db").string();
       }},
      {"folder in place of the file",
       [&] {
         fs::create_directory(dir.Path() / "folder.db");
         return (dir.Path() / "folder.db").string();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto store = std::make_shared<RegistryStore>(c.make());
    EXPECT_FALSE(store->Available());
    Registry reg(store);
    EXPECT_FALSE(reg.OpenKey(kVariables, true));
    EXPECT_FALSE(reg.ValueExists("x"));
    EXPECT_EQ(reg.ReadString("x"), "");
    EXPECT_FALSE(reg.DeleteValue("x"));
    try {
      reg.WriteString("Runmode", "1");
      ADD_FAILURE() << "write succeeded";
    } catch (const ERegistryException& error) {
      EXPECT_EQ(error.Message(), WriteError("Runmode"));
    }
  }
  // The foreign file is left as it was.
  std::ifstream garbage(dir.Path() / "garbage.db", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(garbage), {}), kGarbage);
}

// Tests run as root, who may write any file: the child then drops to the nobody account.
TEST_F(RegistryTest, WriteProtectedFileIsReadButRefusesWrites) {
  {
    Registry reg(store_);
    ASSERT_TRUE(reg.OpenKey(kOptions, true));
    reg.WriteInteger("Timeout", 30);
  }
  store_.reset();  // no connection may cross the fork
  ASSERT_EQ(::chmod(DbPath().c_str(), 0444), 0);
  // SQLite keeps its shared-memory index beside the file, so the folder stays writable.
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0777), 0);

  const std::string path = DbPath();
  Children child(1, [&](int) {
    if (::geteuid() == 0) {
      const gid_t nogroup = 65534;
      if (::setgroups(1, &nogroup) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        return Children::kSkip;
      }
    }
    if (::access(path.c_str(), W_OK) == 0 || ::access(path.c_str(), R_OK) != 0) {
      return Children::kSkip;
    }
    Registry reg(std::make_shared<RegistryStore>(path));
    bool ok = ChildCheck(reg.OpenKey(kOptions, true), "existing key opens");
    ok = ChildCheck(reg.ReadInteger("Timeout") == 30, "value is read") && ok;
    try {
      reg.WriteInteger("Runmode", 1);
      ok = ChildCheck(false, "write raises") && ok;
    } catch (const ERegistryException& error) {
      ok = ChildCheck(error.Message() == WriteError("Runmode"), "write error text") && ok;
    }
    ok = ChildCheck(!reg.DeleteValue("Timeout"), "delete fails") && ok;
    ok = ChildCheck(!reg.OpenKey("\\SOFTWARE\\Tarnex\\Recalls", true), "no new key") && ok;
    return ok ? 0 : 1;
  });
  const std::vector<int> codes = child.Wait(std::chrono::seconds(60));
  ASSERT_EQ(codes.size(), 1u);
  if (codes[0] == Children::kSkip) GTEST_SKIP() << "cannot make the file write-protected";
  EXPECT_EQ(codes[0], 0);

  ASSERT_EQ(::chmod(DbPath().c_str(), 0600), 0);
  Registry reg(std::make_shared<RegistryStore>(DbPath()));
  ASSERT_TRUE(reg.OpenKey(kOptions, false));
  EXPECT_EQ(reg.ReadInteger("Timeout"), 30);
  EXPECT_FALSE(reg.ValueExists("Runmode"));
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kPerProcess = 300;
  // A new file: both processes also race to set it up.
  const std::string path = (dir_.Path() / "fresh.db").string();
  const auto name = [](int process, int i) {
    return std::string(1, static_cast<char>('a' + process)) + std::to_string(i);
  };
  Children children(2, [&](int process) {
    auto store = std::make_shared<RegistryStore>(path);
    Registry reg(store);
    for (int i = 0; i < kPerProcess; ++i) {
      // As the set command does: open (creating), write, close.
      if (!reg.OpenKey(kVariables, true)) return 2;
      reg.WriteString(name(process, i), std::to_string(i * 7));
      reg.CloseKey();
    }
    return 0;
  });
  const std::vector<int> codes = children.Wait(std::chrono::seconds(90));
  EXPECT_EQ(codes, (std::vector<int>{0, 0}));

  Registry reg(std::make_shared<RegistryStore>(path));
  ASSERT_TRUE(reg.OpenKey(kVariables, false));
  int found = 0;
  for (int process = 0; process < 2; ++process) {
    for (int i = 0; i < kPerProcess; ++i) {
      if (reg.ReadString(name(process, i)) == std::to_string(i * 7)) ++found;
    }
  }
  EXPECT_EQ(found, 2 * kPerProcess);
}

TEST(RegistryStoreTest, DefaultPathFollowsTheEnvironment) {
  struct Case {
    std::optional<std::string> tarnex_registry;
    std::optional<std::string> xdg_config_home;
    std::optional<std::string> home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/r/reg.db", "/x", "/h", "/r/reg.db"},
      {"", "/x", "/h", "/x/tarnex/registry.db"},
      {std::nullopt, "/x", "/h", "/x/tarnex/registry.db"},
      {std::nullopt, "relative", "/h", "/h/.config/tarnex/registry.db"},
      {std::nullopt, "", "/h", "/h/.config/tarnex/registry.db"},
      {std::nullopt, std::nullopt, "/h", "/h/.config/tarnex/registry.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv registry("TARNEX_REGISTRY", c.tarnex_registry);
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg_config_home);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(RegistryStore::DefaultPath(), c.expected);
  }
}

TEST(RegistryStoreTest, DefaultStoreFollowsSetDefaultPathAndCreatesItsFolder) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const fs::path first = dir.Path() / "a" / "tarnex" / "registry.db";
  RegistryStore::SetDefaultPath(first.string());
  EXPECT_EQ(RegistryStore::Default(), RegistryStore::Default());
  {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(kVariables, true));
    reg.WriteString("host", "ftp1");
  }
  EXPECT_TRUE(fs::is_regular_file(first));
  EXPECT_EQ(fs::status(first.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);

  RegistryStore::SetDefaultPath((dir.Path() / "b.db").string());
  Registry other;
  ASSERT_TRUE(other.OpenKey(kVariables, true));
  EXPECT_FALSE(other.ValueExists("host"));

  // Leave no default pointing into the folder that is about to go: an empty path gives an
  // unavailable store.
  RegistryStore::SetDefaultPath("");
  EXPECT_FALSE(RegistryStore::Default()->Available());
}

}  // namespace
}  // namespace tarnex::platform
