// The netrc parser and lookup, and the file's checks: what curl and lftp users already have
// must read the same here, and a file others could read is never used.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "settings/netrc.h"
#include "settings/netrc_file.h"
#include "tests/support/temp_dir.h"

namespace tarnex::settings {
namespace {

NetrcEntry Machine(std::string name, std::optional<std::string> login,
                   std::optional<std::string> password, std::optional<std::string> account = {}) {
  return {std::move(name), false, std::move(login), std::move(password), std::move(account)};
}

TEST(ParseNetrc, ReadsTheFormatOthersWrite) {
  const struct {
    const char* text;
    std::vector<NetrcEntry> entries;
  } cases[] = {
      {"machine a.example login joe password s3cret\n", {Machine("a.example", "joe", "s3cret")}},
      {"machine a\n\tlogin joe\r\n\tpassword pw\r\n\taccount acc\r\nmachine b login ann",
       {Machine("a", "joe", "pw", "acc"), Machine("b", "ann", std::nullopt)}},
      {"MACHINE a Login joe PASSWORD pw", {Machine("a", "joe", "pw")}},  // keywords in any case
      {"machine a login joe password \"pa ss \\\"q\\\" \\\\ \\t\"\n",
       {Machine("a", "joe", "pa ss \"q\" \\ \t")}},
      {"machine a password back\\slash#not-a-comment",
       {Machine("a", std::nullopt, "back\\slash#not-a-comment")}},
      {"# a comment: machine x login y\n  # another\nmachine a login joe",
       {Machine("a", "joe", std::nullopt)}},
      {"machine a login joe\nmacdef init\ncd /pub\nmachine evil login x\n\nmachine b login ann",
       {Machine("a", "joe", std::nullopt), Machine("b", "ann", std::nullopt)}},
      {"macdef only\nbody without an end", {}},
      {"default login anonymous password me@example",
       {{"", true, "anonymous", "me@example", std::nullopt}}},
      {"", {}},
      {"password \"\"", {}},  // an error below; nothing is kept
  };
  for (const auto& c : cases) {
    const NetrcParse parse = ParseNetrc(c.text);
    if (std::string_view(c.text).starts_with("password")) {
      EXPECT_NE(parse.error, "") << c.text;
      continue;
    }
    EXPECT_EQ(parse.error, "") << c.text;
    EXPECT_EQ(parse.entries, c.entries) << c.text;
  }
}

TEST(ParseNetrc, RefusesWhatItCannotReadWithoutQuotingTheFile) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"machine a login joe password my secret",
       "line 1: a word where machine, default, login, password, account or macdef belongs (a "
       "value with blanks needs double quotes)"},
      {"login joe", "line 1: 'login' comes before any machine or default"},
      {"machine a\npassword", "line 2: 'password' needs a value"},
      {"machine a\n\n  password \"open secret\nlogin x",
       "line 3: a quoted word has no closing quote"},
      {"machine", "line 1: 'machine' needs a value"},
  };
  for (const auto& c : cases) {
    const NetrcParse parse = ParseNetrc(c.text);
    EXPECT_EQ(parse.error, c.error) << c.text;
    EXPECT_TRUE(parse.entries.empty()) << c.text;
    EXPECT_EQ(parse.error.find("secret"), std::string::npos);
  }
}

TEST(FindNetrcLogin, TakesTheHostsEntryForTheUserElseTheDefault) {
  const std::vector<NetrcEntry> entries = {
      Machine("ftp.example.com", "joe", "j-pw"),
      Machine("FTP.example.com", "ann", "a-pw"),
      Machine("::1", "local", "l-pw"),
      Machine("nopass.example", "bob", std::nullopt),
      {"", true, "anonymous", "guest@", std::nullopt},
  };
  const struct {
    const char* host;
    const char* user;
    std::optional<NetrcLogin> login;
  } cases[] = {
      {"ftp.example.com", "", NetrcLogin{"joe", "j-pw"}},
      {"Ftp.Example.Com", "ann", NetrcLogin{"ann", "a-pw"}},
      {"ftp.example.com", "zoe", std::nullopt},  // the default names another user
      {"[::1]", "", NetrcLogin{"local", "l-pw"}},
      {"nopass.example", "", NetrcLogin{"bob", ""}},
      {"nopass.example", "bob", std::nullopt},  // a user and no password: nothing to add
      {"other.example", "", NetrcLogin{"anonymous", "guest@"}},
      {"other.example", "anonymous", NetrcLogin{"anonymous", "guest@"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindNetrcLogin(entries, c.host, c.user), c.login) << c.host << " " << c.user;
  }
  EXPECT_EQ(FindNetrcLogin({}, "a", ""), std::nullopt);
}

TEST(LoadNetrcFile, UsesOnlyAPrivateRegularFile) {
  testing::TempDir dir;
  const std::string path = dir / "netrc";
  std::ofstream(path) << "machine a login joe password pw\n";
  const struct {
    mode_t mode;
    NetrcFile::Status status;
  } cases[] = {
      {0600, NetrcFile::Status::Loaded},  {0400, NetrcFile::Status::Loaded},
      {0640, NetrcFile::Status::TooOpen}, {0604, NetrcFile::Status::TooOpen},
      {0620, NetrcFile::Status::TooOpen},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    const NetrcFile file = LoadNetrcFile(path);
    EXPECT_EQ(file.status, c.status) << std::oct << c.mode;
    EXPECT_EQ(file.mode, c.mode);
    EXPECT_EQ(file.entries.size(), c.status == NetrcFile::Status::Loaded ? 1u : 0u);
  }
  if (::geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_EQ(LoadNetrcFile(path).status, NetrcFile::Status::NotOwned);
  }
  EXPECT_EQ(LoadNetrcFile(dir / "none").status, NetrcFile::Status::Missing);
  EXPECT_EQ(LoadNetrcFile(dir.path().string()).status, NetrcFile::Status::Unreadable);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(LoadNetrcFile(dir / "fifo").status, NetrcFile::Status::Unreadable);  // never waits
  std::ofstream(dir / "bad", std::ios::trunc) << "login x";
  ::chmod((dir / "bad").c_str(), 0600);
  const NetrcFile bad = LoadNetrcFile(dir / "bad");
  EXPECT_EQ(bad.status, NetrcFile::Status::Malformed);
  EXPECT_EQ(bad.parse_error, "line 1: 'login' comes before any machine or default");
  std::ofstream(dir / "big") << std::string(kMaxNetrcBytes + 1, '#');
  ::chmod((dir / "big").c_str(), 0600);
  EXPECT_EQ(LoadNetrcFile(dir / "big").status, NetrcFile::Status::TooLarge);
}

}  // namespace
}  // namespace tarnex::settings
