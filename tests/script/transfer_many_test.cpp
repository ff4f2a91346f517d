// mget, mput and mirror in scripts: against the real server for what lands where, and against
// scripted servers for a server without MLSD and for names that must never be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "ftpproto/remote_times.h"
#include "platform/codepage.h"
#include "script/engine.h"
#include "script/mirror_plan.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/fake_host.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temp_dir.h"

namespace tarnex::script {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using platform::Utf8ToCp932;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using Lines = std::vector<std::string>;
namespace Data = testing::Data;

class QuickEngine : public ScriptEngine {
 public:
  using ScriptEngine::ScriptEngine;
  void ProcessWait(int) override {}
};

void WriteFile(const fs::path& path, const std::string& bytes, int64_t mtime = 0) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  if (mtime != 0) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::sys_seconds(std::chrono::seconds(mtime))));
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int64_t MTime(const fs::path& path) {
  const auto time = std::chrono::file_clock::to_sys(fs::last_write_time(path));
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

// Every file below `root` with its bytes and time, every folder with a "/": what a mirror
// must reproduce.
std::map<std::string, std::string> TreeOf(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string path = fs::relative(item.path(), root).string();
    if (item.is_directory()) {
      tree[path + "/"] = "";
    } else {
      tree[path] = ReadFile(item.path()) + " @" + std::to_string(MTime(item.path()));
    }
  }
  return tree;
}

class TransferManyTest : public ::testing::Test {
 protected:
  TransferManyTest()
      : store_(std::make_shared<platform::RegistryStore>(settings_dir_ / "registry.db")),
        engine_(host_, settings_, store_),
        before_(fs::current_path()) {
    engine_.FScriptName = "t.fcs";
    fs::current_path(local_.path());  // relative local names land here
  }
  ~TransferManyTest() override { fs::current_path(before_); }

  Lines Run(const Lines& lines) {
    host_.log.clear();
    engine_.Run(lines);
    return Lines(host_.log.begin() + 1, host_.log.end() - 1);
  }
  static Lines LoginTo(const testing::RealFtpServer& server) {
    return {"Open 127.0.0.1 NONE " + std::to_string(server.Port()),
            "Login " + server.User() + " " + server.Password(), "Binary"};
  }
  static Lines With(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  }
  // The lines that start with `prefix`.
  static Lines Starting(const Lines& log, const std::string& prefix) {
    Lines found;
    for (const auto& line : log) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(0, line.rfind(" (")));
    }
    return found;
  }
  static bool Has(const Lines& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  testing::TempDir settings_dir_;
  testing::TempDir local_;
  testing::FakeHost host_;
  settings::LiveSettings settings_;
  std::shared_ptr<platform::RegistryStore> store_;
  QuickEngine engine_;
  fs::path before_;
};

TEST_F(TransferManyTest, MgetAndMputTakeNoneOneOrManyFiles) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  for (const char* name : {"a.csv", "b.csv", "c.txt", "x y.csv", ".hidden.csv"}) {
    WriteFile(server.Root() / name, std::string("content of ") + name);
  }
  fs::create_directories(server.Root() / "folder.csv");  // a folder is no file to fetch
  for (const char* name : {"p1.log", "p2.log", "q.txt"}) WriteFile(local_.path() / name, name);

  const Lines log = Run(With(LoginTo(server), {"mget *.csv", "mget *.zip", "mget c.txt",
                                               "mput p?.log", "mput *.none", "Bye"}));
  EXPECT_EQ(
      Starting(log, "m"),
      (Lines{"mget *.csv", "mget: 3 transferred, 50 bytes, 0 up to date, 0 failed", "mget *.zip",
             "mget: no file matches *.zip", "mget: 0 transferred, 0 bytes, 0 up to date, 0 failed",
             "mget c.txt", "mget: 1 transferred, 16 bytes, 0 up to date, 0 failed", "mput p?.log",
             "mput: 2 transferred, 12 bytes, 0 up to date, 0 failed", "mput *.none",
             "mput: no file matches *.none",
             "mput: 0 transferred, 0 bytes, 0 up to date, 0 failed"}));
  EXPECT_TRUE(Has(log, "Get \"x y.csv\" \"x y.csv\"")) << ::testing::PrintToString(log);
  EXPECT_TRUE(Has(log, "Put p1.log p1.log"));
  EXPECT_EQ(ReadFile("x y.csv"), "content of x y.csv");
  EXPECT_EQ(ReadFile("c.txt"), "content of c.txt");
  EXPECT_FALSE(fs::exists(".hidden.csv"));
  EXPECT_FALSE(fs::exists("folder.csv"));
  EXPECT_EQ(ReadFile(server.Root() / "p2.log"), "p2.log");
  EXPECT_FALSE(fs::exists(server.Root() / "q.txt"));
  // A pattern that matches nothing fails its command (and only those two failed).
  EXPECT_EQ(engine_.FailedCommands(), 2);
}

TEST_F(TransferManyTest, MgetNamesUtf8FilesWithTheRemoteEncodingSetting) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  WriteFile(server.Root() / "報告 12月.csv", "utf-8 name");
  engine_.FTP.SetRemoteEncoding(RemoteEncoding::Utf8);
  Run(With(LoginTo(server), {Utf8ToCp932("mget 報告*.csv"), "Bye"}));
  EXPECT_EQ(ReadFile(local_.path() / "報告 12月.csv"), "utf-8 name");
  EXPECT_TRUE(engine_.FCommandOk);
}

TEST_F(TransferManyTest, MirrorCarriesATreeBothWaysAndASecondRunMovesNothing) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  int64_t time = 1'700'000'000;
  for (const char* name : {"index.html", "a b/c d.txt", "日本/報告書.txt", "deep/er/est/f.bin"}) {
    WriteFile(local_.path() / "site" / name, std::string(100, name[0]) + name, time += 3600);
  }
  fs::create_directories(local_.path() / "site" / "empty folder");

  Lines log = Run(With(LoginTo(server), {"mirror -R site pub", "mirror -R site \"pub\"",
                                         "mirror pub copy", "mirror pub copy", "Bye"}));
  EXPECT_EQ(Starting(log, "mirror: "),
            (Lines{"mirror: 4 transferred, 458 bytes, 0 up to date, 0 failed",
                   "mirror: 0 transferred, 0 bytes, 4 up to date, 0 failed",
                   "mirror: 4 transferred, 458 bytes, 0 up to date, 0 failed",
                   "mirror: 0 transferred, 0 bytes, 4 up to date, 0 failed"}));
  EXPECT_TRUE(Has(log, "Put \"site/a b/c d.txt\" \"pub/a b/c d.txt\""))
      << ::testing::PrintToString(log);
  // The script's Shift-JIS names went to the server as they are.
  const fs::path japanese = server.Root() / "pub" / Utf8ToCp932("日本") / Utf8ToCp932("報告書.txt");
  EXPECT_EQ(ReadFile(japanese), std::string(100, "日本"[0]) + "日本/報告書.txt");
  // Back again, names, bytes and times are those of the start.
  EXPECT_EQ(TreeOf(local_.path() / "copy"), TreeOf(local_.path() / "site"));

  // A file changed in place, its size the same, goes again; nothing else does.
  WriteFile(local_.path() / "site/a b/c d.txt", std::string(100, 'z') + "a b/c d.txt", time + 60);
  log = Run(With(LoginTo(server), {"mirror -R site pub", "Bye"}));
  EXPECT_EQ(Starting(log, "mirror: "),
            (Lines{"mirror: 1 transferred, 111 bytes, 3 up to date, 0 failed"}));
  EXPECT_EQ(ReadFile(server.Root() / "pub/a b/c d.txt"), std::string(100, 'z') + "a b/c d.txt");
  EXPECT_EQ(MTime(server.Root() / "pub/a b/c d.txt"), time + 60);  // MFMT kept the time
  EXPECT_EQ(engine_.FailedCommands(), 0);
}

TEST_F(TransferManyTest, DeleteRemovesOnlyWhatTheSourceLacksAndDryRunNothing) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  WriteFile(server.Root() / "src/keep.txt", "keep");
  WriteFile(server.Root() / "src/sub/also.txt", "also");
  WriteFile(server.Root() / "outside/precious.txt", "precious");
  Run(With(LoginTo(server), {"mirror src dst", "Bye"}));
  // Extras at the destination, one of them a link to a folder beside it.
  WriteFile(local_.path() / "dst/extra.txt", "x");
  WriteFile(local_.path() / "dst/old/inner.txt", "x");
  WriteFile(local_.path() / "beside/precious.txt", "precious");
  fs::create_directory_symlink("../beside", local_.path() / "dst/link");
  const auto before = TreeOf(local_.path());

  Lines log = Run(With(LoginTo(server), {"mirror --dry-run --delete src dst"}));
  EXPECT_TRUE(Has(log, "(dry run) ldel dst/extra.txt")) << ::testing::PrintToString(log);
  EXPECT_EQ(
      Starting(log, "mirror"),
      (Lines{"mirror --dry-run --delete src dst",
             "mirror (dry run): 0 to transfer, 0 bytes, 2 up to date, 4 to delete, 0 failed"}));
  EXPECT_EQ(TreeOf(local_.path()), before);

  log = Run({"mirror --delete src dst"});
  EXPECT_EQ(Starting(log, "mirror: "),
            (Lines{"mirror: 0 transferred, 0 bytes, 2 up to date, 4 deleted, 0 failed"}));
  EXPECT_EQ(TreeOf(local_.path() / "dst"), TreeOf(server.Root() / "src"));
  EXPECT_EQ(ReadFile(local_.path() / "beside/precious.txt"), "precious");

  // The other way: the server's extras go, and a link that the server shows as a folder is
  // deleted as a link, never followed into what it leads to.
  WriteFile(server.Root() / "up/zz.txt", "z");
  WriteFile(server.Root() / "up/olddir/f", "f");
  fs::create_directory_symlink("../outside", server.Root() / "up/lnk");
  log = Run({"mirror -R --delete dst up", "Bye"});
  EXPECT_EQ(Starting(log, "mirror: "),
            (Lines{"mirror: 2 transferred, 8 bytes, 0 up to date, 4 deleted, 0 failed"}));
  EXPECT_EQ(TreeOf(server.Root() / "up"), TreeOf(local_.path() / "dst"));
  EXPECT_EQ(ReadFile(server.Root() / "outside/precious.txt"), "precious");
}

// Every file below `root` with its bytes: what mget and mput must reproduce (their local files
// keep the time of their download).
std::map<std::string, std::string> ContentsOf(const fs::path& root) {
  std::map<std::string, std::string> contents;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) contents[fs::relative(item.path(), root).string()] = ReadFile(item.path());
  }
  return contents;
}

void Clear(const fs::path& folder) {
  for (const auto& item : fs::directory_iterator(folder)) fs::remove_all(item.path());
}

// The lines a command wrote (after its own line, up to the Bye after it), without the figures
// of time and speed, which differ from run to run.
Lines CommandLines(const Lines& log, const std::string& command) {
  const auto begin = std::find(log.begin(), log.end(), command);
  const auto end = std::find(begin, log.end(), "Bye");
  Lines lines;
  for (auto line = begin == log.end() ? end : begin + 1; line != end; ++line) {
    std::string shown = line->substr(0, line->find(" ("));
    // The server answers 125 or 150 as its data connection happens to be ready or not.
    if (shown.starts_with("125 ")) shown.replace(0, 3, "150");
    lines.push_back(shown);
  }
  return lines;
}

// Files moved beside one another land as they land one after another, each file's lines
// together and in the same order, a file that fails failing alone; --delete and --dry-run
// do what they do without --parallel.
TEST_F(TransferManyTest, ParallelTransfersMatchARunOfOneFileAfterAnother) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  const fs::path remote = server.Root();
  const fs::path local = local_.path();
  // Passive: the test server misses its own connects when several active data connections
  // are made at once (vsftpd does not), and the files would wait for the time-out.
  engine_.FTP.SetPassive(true);
  const auto many = [](const fs::path& root, const std::string& extension) {
    for (int i = 0; i < 12; ++i) {
      WriteFile(root / ("f" + std::to_string(i) + extension),
                std::string(static_cast<size_t>(i * i * 997), static_cast<char>('a' + i)),
                1'700'000'000 + i * 60);
    }
  };
  const auto tree = [many](const fs::path& root) {
    many(root / "top", ".txt");
    many(root / "top/sub/deeper", ".txt");
    fs::create_directories(root / "top/empty");
  };
  struct Case {
    std::string command;  // %N% stands for the connections
    std::function<void()> prepare;
    std::function<std::map<std::string, std::string>()> result;
    int failed_commands;
  };
  const Case cases[] = {
      {"mget --parallel %N% *.bin",
       [&] {
         many(remote, ".bin");
         fs::create_directories(local / "f3.bin");  // in the way: that file fails alone
       },
       [&] { return ContentsOf(local); }, 1},
      {"mput --parallel %N% *.dat",
       [&] {
         many(local, ".dat");
         fs::create_directories(remote / "f5.dat");  // the server refuses to store over it
       },
       [&] { return ContentsOf(remote); }, 1},
      {"mirror --delete --parallel %N% top copy",
       [&] {
         tree(remote);
         WriteFile(local / "copy/extra.txt", "x");
         WriteFile(local / "copy/gone/inner.txt", "x");
         WriteFile(local / "copy/sub/f1.txt", "outdated");
       },
       [&] { return TreeOf(local / "copy"); }, 0},
      {"mirror -R --delete --parallel %N% top pub",
       [&] {
         tree(local);
         WriteFile(remote / "pub/extra.txt", "x");
         WriteFile(remote / "pub/gone/inner.txt", "x");
       },
       [&] { return TreeOf(remote / "pub"); }, 0},
      {"mirror --dry-run --delete --parallel %N% top copy",
       [&] {
         tree(remote);
         // A time of its own: the two runs may straddle a second, and the file stays.
         WriteFile(local / "copy/extra.txt", "x", 1'600'000'000);
       },
       [&] { return TreeOf(local); }, 0},
  };
  for (const Case& c : cases) {
    std::map<std::string, Lines> lines;
    std::map<std::string, std::map<std::string, std::string>> results;
    for (const std::string connections : {"1", "4"}) {
      Clear(remote);
      Clear(local);
      c.prepare();
      std::string command = c.command;
      command.replace(command.find("%N%"), 3, connections);
      const int failed_before = engine_.FailedCommands();
      lines[connections] = CommandLines(Run(With(LoginTo(server), {command, "Bye"})), command);
      results[connections] = c.result();
      EXPECT_EQ(engine_.FailedCommands() - failed_before, c.failed_commands) << command;
    }
    EXPECT_GT(lines["1"].size(), 12u) << c.command;
    EXPECT_EQ(lines["4"], lines["1"]) << c.command;
    EXPECT_EQ(results["4"], results["1"]) << c.command;
  }
}

TEST_F(TransferManyTest, TheStoredParallelCountIsUsedAndABadCountRefused) {
  for (const auto& [line, refusal] : std::vector<std::pair<std::string, std::string>>{
           {"mget --parallel 0 *.csv",
            "mget: --parallel takes a number of connections from 1 to 16, not 0"},
           {"mput --parallel 17 *.csv",
            "mput: --parallel takes a number of connections from 1 to 16, not 17"},
           {"mirror --parallel x a b",
            "mirror: --parallel takes a number of connections from 1 to 16, not x"}}) {
    const int failed_before = engine_.FailedCommands();
    EXPECT_EQ(Run({line}), (Lines{line, refusal}));
    EXPECT_EQ(engine_.FailedCommands(), failed_before + 1) << line;
  }

  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  for (const char* name : {"a.csv", "b.csv", "c.csv"}) WriteFile(server.Root() / name, name);
  settings_.Parallel = 3;
  engine_.FTP.SetPassive(true);
  const Lines log = Run(With(LoginTo(server), {"mget *.csv", "Bye"}));
  EXPECT_EQ(Starting(log, "mget: "), (Lines{"mget: 3 transferred, 15 bytes, 0 up to date, 0 failed"}));
  EXPECT_EQ(ContentsOf(local_.path()),
            (std::map<std::string, std::string>{{"a.csv", "a.csv"}, {"b.csv", "b.csv"}, {"c.csv", "c.csv"}}));
  // Only files moved beside one another show their overall progress.
  EXPECT_EQ(host_.panels[3].substr(0, 16), "mget 3/3 files, ") << host_.panels[3];
}

// A session logged in as joe.
std::vector<testing::Step> LoggedIn(std::vector<testing::Step> steps) {
  std::vector<testing::Step> all{testing::Greeting("220 Hi\r\n"),
                                 Expect("USER joe", "331 Pass\r\n"),
                                 Expect("PASS se", "230 Logged in\r\n")};
  all.insert(all.end(), steps.begin(), steps.end());
  all.push_back(Expect("QUIT", "221 Bye\r\n"));
  all.push_back(testing::Close());
  return all;
}

std::vector<testing::Step> Retrieve(const std::string& name, const std::string& bytes) {
  return {Expect("PORT *", "200 ok\r\n"), Expect("RETR " + name, "150 ok\r\n", Data::Send(bytes)),
          Reply("226 done\r\n")};
}

std::vector<testing::Step> Join(std::initializer_list<std::vector<testing::Step>> parts) {
  std::vector<testing::Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A listing by LIST (a server without MLSD): inside the folder, and back. `list` is the
// command ("LIST -a" for hidden files too).
std::vector<testing::Step> ListIn(const std::string& folder, const std::string& lines,
                                  const std::string& closing = "226 done\r\n",
                                  const std::string& list = "LIST") {
  return {Expect("PWD", "257 \"/home\" is current\r\n"),
          Expect("CWD " + folder, "250 ok\r\n"),
          Expect("PORT *", "200 ok\r\n"),
          Expect(list, "150 ok\r\n", Data::Send(lines)),
          Reply(closing),
          Expect("CWD /home", "250 ok\r\n")};
}

// A listing by MLSD ("MLSD" alone for the current folder).
std::vector<testing::Step> Mlsd(const std::string& folder, const std::string& lines,
                                const std::string& closing = "226 done\r\n") {
  return {Expect("PORT *", "200 ok\r\n"),
          Expect(folder.empty() ? "MLSD" : "MLSD " + folder, "150 ok\r\n", Data::Send(lines)),
          Reply(closing)};
}

TEST_F(TransferManyTest, WithoutMlsdTheListingIsListInsideTheFolderAndMdtmGivesTimes) {
  const std::string listing =
      "total 3\r\n"
      "-rw-r--r--   1 u g     3 Jan  1  2021 a b.txt\r\n"
      "drwxr-xr-x   2 u g  4096 Jan  1  2021 sub\r\n"
      "lrwxrwxrwx   1 u g     7 Jan  1  2021 ln -> a b.txt\r\n"
      "lrwxrwxrwx   1 u g    16 Jan  1  2021 esc -> ../../etc/passwd\r\n";
  FakeFtpServer server({testing::Session(LoggedIn(Join({
      {Expect("FEAT", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n")},
      ListIn("src", listing),
      ListIn("src/sub", "-rw-r--r-- 1 u g 2 Jan 2 2021 c.txt\r\n"),
      {Expect("MDTM src/a b.txt", "213 20200101000000\r\n"),
       Expect("MDTM src/sub/c.txt", "502 No MDTM here\r\n")},
      Retrieve("src/a b.txt", "abc"),
      Retrieve("src/ln", "abc"),
      Retrieve("src/sub/c.txt", "cc"),
  })))});
  const Lines log = Run({"Open 127.0.0.1 NONE " + std::to_string(server.Port()), "Login joe se",
                         "mirror src out", "Bye"});
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  EXPECT_TRUE(Has(log, "mirror: skipped esc: a link to no file inside the source"))
      << ::testing::PrintToString(log);
  EXPECT_EQ(Starting(log, "mirror: "),
            (Lines{"mirror: skipped esc: a link to no file inside the source",
                   "mirror: 3 transferred, 8 bytes, 0 up to date, 0 failed"}));
  EXPECT_EQ(ReadFile(local_.path() / "out/ln"), "abc");
  EXPECT_EQ(MTime(local_.path() / "out/a b.txt"), UtcSeconds(2020, 1, 1, 0, 0, 0));
  EXPECT_EQ(MTime(local_.path() / "out/ln"), UtcSeconds(2020, 1, 1, 0, 0, 0));
  // MDTM refused: the listing's day must do.
  EXPECT_EQ(MTime(local_.path() / "out/sub/c.txt"), UtcSeconds(2021, 1, 2, 0, 0, 0));
}

TEST_F(TransferManyTest, NamesThatCouldLeadOutOfTheFolderAreNeverUsed) {
  const std::string hostile =
      "type=cdir; /home\r\n"
      "type=file;size=1; ../evil\r\n"
      "type=file;size=1; a/b\r\n"
      "type=dir; ..\r\n"
      "type=file;size=1; /etc/passwd\r\n"
      "type=file;size=1; x\\y\r\n" +
      std::string("type=file;size=1; nul\0x\r\n", 25) + "type=file;size=2; ok.txt\r\n";
  FakeFtpServer server({testing::Session(LoggedIn(Join({
      {Expect("FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n")},
      Mlsd("", hostile),
      Retrieve("ok.txt", "ok"),
      // No time in the listing: MDTM tells it.
      Mlsd("", hostile),
      {Expect("MDTM ok.txt", "213 20200101000000\r\n")},
      Retrieve("ok.txt", "ok"),
  })))});
  const Lines log = Run({"Open 127.0.0.1 NONE " + std::to_string(server.Port()), "Login joe se",
                         "mget *", "mirror . out", "Bye"});
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  const Lines skipped = Starting(log, "mget: skipped");
  Lines expected;
  for (const char* name : {"../evil", "a/b", "..", "/etc/passwd", "x\\y", "nul\\x00x"}) {
    expected.push_back(std::string("mget: skipped the name ") + name +
                       " in .: it could lead out of the folder");
  }
  EXPECT_EQ(skipped, expected) << ::testing::PrintToString(log);
  EXPECT_EQ(TreeOf(local_.path()),
            (std::map<std::string, std::string>{
                {"ok.txt", "ok @" + std::to_string(MTime("ok.txt"))},
                {"out/", ""},
                {"out/ok.txt", "ok @" + std::to_string(MTime("out/ok.txt"))}}));
  EXPECT_EQ(Starting(log, "mirror: 1"),
            (Lines{"mirror: 1 transferred, 2 bytes, 0 up to date, 0 failed"}));
}

// What misbehaving servers do to mget and mirror: against scripted sessions of a server with
// MLSD (or LIST), logged in, in binary mode.
const char* const kFeatures = "211-Features:\r\n MLST type*;size*;modify*;unique*;\r\n211 End\r\n";

std::vector<testing::Step> Binary(std::vector<testing::Step> steps,
                                  const char* features = kFeatures) {
  std::vector<testing::Step> all{Expect("TYPE I", "200 ok\r\n"), Expect("FEAT", features)};
  all.insert(all.end(), steps.begin(), steps.end());
  return LoggedIn(all);
}

// Matches `command` and, as it arrives, puts a link to `target` at `link`: a link that comes
// between the listing and the download.
testing::Match MakingALink(const std::string& command, fs::path link, fs::path target) {
  return testing::Match::If(command + " (a link is made in its place)",
                            [=](const std::string& received) {
                              std::error_code ignored;
                              if (received == command) fs::create_symlink(target, link, ignored);
                              return received == command;
                            });
}

class MisbehavingServerTest : public TransferManyTest {
 protected:
  // The log of the commands run logged in; `failed` counts those that failed.
  Lines RunAgainst(const FakeFtpServer& server, const Lines& commands) {
    Lines lines{"Open 127.0.0.1 NONE " + std::to_string(server.Port()), "Login joe se", "Binary"};
    lines.insert(lines.end(), commands.begin(), commands.end());
    lines.push_back("Bye");
    const int before = engine_.FailedCommands();
    Lines log = Run(lines);
    failed = engine_.FailedCommands() - before;
    return log;
  }
  static void ExpectPlayedThrough(FakeFtpServer& server) {
    EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
  // `command` against a server that plays `steps` through, over a local out/ that holds only
  // out/sub/keep.txt ("mine").
  Lines MirrorOverKeptFile(const std::vector<testing::Step>& steps, const char* features,
                           const std::string& command) {
    fs::remove_all(local_.path() / "out");
    WriteFile(local_.path() / "out/sub/keep.txt", "mine");
    FakeFtpServer server({testing::Session(Binary(steps, features))});
    Lines log = RunAgainst(server, {command});
    ExpectPlayedThrough(server);
    return log;
  }

  int failed = 0;
};

TEST_F(MisbehavingServerTest, EveryDownloadIsHeldToTheListedSize) {
  const std::string listing =
      "type=file;size=5;modify=20200101000000; a.txt\r\n"
      "type=file;size=2;modify=20200101000000; ok.txt\r\n";
  struct Case {
    const char* name;
    std::string command;
    std::string folder;  // the local one
    std::string sent;    // for a.txt, listed with 5 bytes
    std::string failure;
  } cases[] = {
      {"mget, fewer bytes", "mget *", ".", "abc", "Download incomplete: 3 of 5 bytes received"},
      {"mirror, more bytes", "mirror src out", "out", "abcdefgh",
       "Download larger than announced: 8 bytes received, 5 expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(local_.path() / c.folder / "a.txt", "old", 1'000'000'000);
    const std::string folder = c.command == "mget *" ? "" : "src";
    // No SIZE is asked: the listing told the size.
    FakeFtpServer server({testing::Session(Binary(Join({
        Mlsd(folder, listing),
        Retrieve(JoinPath(folder, "a.txt"), c.sent),
        Retrieve(JoinPath(folder, "ok.txt"), "ok"),
    })))});
    const Lines log = RunAgainst(server, {c.command});
    ExpectPlayedThrough(server);
    EXPECT_TRUE(Has(log, c.failure)) << ::testing::PrintToString(log);
    EXPECT_EQ(Starting(log, c.command.substr(0, c.command.find(' ')) + ": "),
              (Lines{c.command.substr(0, c.command.find(' ')) +
                     ": 1 transferred, 2 bytes, 0 up to date, 1 failed"}));
    EXPECT_EQ(ReadFile(local_.path() / c.folder / "a.txt"), "old");
    EXPECT_EQ(MTime(local_.path() / c.folder / "a.txt"), 1'000'000'000);
    EXPECT_EQ(ReadFile(local_.path() / c.folder / "ok.txt"), "ok");
    EXPECT_EQ(failed, 1);
  }
}

TEST_F(MisbehavingServerTest, AFolderWhoseListingWasCutIsLeftAsItIs) {
  const std::string partial = "type=file;size=1;modify=20200101000000; one.txt\r\n";
  const std::string aborted = "426 Connection closed; transfer aborted.\r\n";
  const std::string local_error = "451 Local error in processing.\r\n";
  struct Case {
    const char* name;
    std::string command;
    std::vector<testing::Step> steps;
    std::string named;  // the line that names the folder
    const char* features = kFeatures;
    bool fetches_new = false;  // out/new.txt comes: what was listed in full is mirrored
  } cases[] = {
      {"the source root, by MLSD", "mirror --delete src out", Mlsd("src", partial, aborted),
       "mirror: src: could not be listed"},
      {"the source root, by LIST", "mirror --delete src out",
       ListIn("src", "-rw-r--r-- 1 u g 1 Jan 1 2021 one.txt\r\n", local_error),
       "mirror: src: could not be listed", "211-Features:\r\n SIZE\r\n211 End\r\n"},
      {"a source folder; the file beside it comes", "mirror --delete src out",
       Join({Mlsd("src", "type=file;size=3;modify=20200101000000; new.txt\r\ntype=dir; sub\r\n"),
             Mlsd("src/sub", partial, local_error), Retrieve("src/new.txt", "new")}),
       "mirror: sub: could not be listed", kFeatures, true},
      {"a destination folder", "mirror -R --delete out pub",
       Join({Mlsd("pub", "type=dir; sub\r\n"), Mlsd("pub/sub", partial, aborted)}),
       "mirror: sub: its destination could not be listed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Nothing that a DELE or RMD would delete on the server is in any script.
    const Lines log = MirrorOverKeptFile(c.steps, c.features, c.command);
    EXPECT_TRUE(Has(log, c.named)) << ::testing::PrintToString(log);
    EXPECT_EQ(ReadFile(local_.path() / "out/sub/keep.txt"), "mine");
    EXPECT_FALSE(fs::exists(local_.path() / "out/sub/one.txt"));
    EXPECT_EQ(ReadFile(local_.path() / "out/new.txt"), c.fetches_new ? "new" : "");
    EXPECT_EQ(failed, 1);
  }
}

TEST_F(MisbehavingServerTest, NamesFromTheServerNeverWriteThroughALink) {
  testing::TempDir outside;
  const fs::path precious = outside.path() / "precious.txt";
  WriteFile(precious, "precious");
  const std::string listing = "type=file;size=3;modify=20200101000000; a.txt\r\n";
  // The data comes before the reply that announces it, so that the client's refusal never
  // meets a data connection still being made.
  const auto retrieve_making_link = [&](const std::string& remote, const fs::path& link) {
    return std::vector<testing::Step>{
        Expect("PORT *", "200 ok\r\n"), Expect(MakingALink("RETR " + remote, link, precious)),
        testing::Transfer(Data::Send("new")), Reply("150 ok\r\n226 done\r\n")};
  };
  struct Case {
    const char* name;
    std::string command;
    std::string link;  // below the local folder
    bool link_first;   // else it comes while RETR is asked
    std::vector<testing::Step> steps;
    std::string refusal;
  } cases[] = {
      {"mget, a link there already", "mget *", "a.txt", true, Mlsd("", listing),
       "mget: a.txt: a link is in the way"},
      {"mget, a link that comes during the download", "mget *", "a.txt", false,
       Join({Mlsd("", listing), retrieve_making_link("a.txt", local_.path() / "a.txt")}),
       "a.txt: a link is in the way"},
      {"mirror, a link there already", "mirror src out", "out/a.txt", true, Mlsd("src", listing),
       "mirror: a.txt: a link is in the way"},
      {"mirror, a link that comes during the download", "mirror src out", "out/a.txt", false,
       Join({Mlsd("src", listing), retrieve_making_link("src/a.txt", local_.path() / "out/a.txt")}),
       "out/a.txt: a link is in the way"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(local_.path() / "a.txt");
    fs::remove_all(local_.path() / "out");
    fs::create_directory(local_.path() / "out");
    if (c.link_first) fs::create_symlink(precious, local_.path() / c.link);
    FakeFtpServer server({testing::Session(Binary(c.steps))});
    const Lines log = RunAgainst(server, {c.command});
    ExpectPlayedThrough(server);
    EXPECT_TRUE(Has(log, c.refusal)) << ::testing::PrintToString(log);
    EXPECT_TRUE(fs::is_symlink(local_.path() / c.link));
    EXPECT_EQ(ReadFile(precious), "precious");
    EXPECT_EQ(failed, 1);
  }
}

TEST_F(MisbehavingServerTest, WalksAreBoundedAndEnterNoFolderTwice) {
  // A tree without end: every folder holds two more.
  std::vector<testing::Step> endless;
  for (int listing = 0; listing < 5; ++listing) {
    endless.push_back(Expect("PORT *", "200 ok\r\n"));
    endless.push_back(Expect("MLSD *", "150 ok\r\n", Data::Send("type=dir; a\r\ntype=dir; b\r\n")));
    endless.push_back(Reply("226 done\r\n"));
  }
  struct Case {
    const char* name;
    std::string command;
    std::vector<testing::Step> steps;
    std::string kept;  // a local file below a folder that was not listed
    Lines notes;       // the mirror's lines before its summary
    int failed;
  } cases[] = {
      {"a tree without end",
       "mirror --delete --max-folders 5 src out",
       endless,
       "out/b/a/keep.txt",
       {"mirror: src: the walk stopped at 5 folders (--max-folders); nothing in the folders not "
        "listed is changed",
        "mirror: skipped a/a/a: not listed (--max-folders)",
        "mirror: skipped a/a/b: not listed (--max-folders)",
        "mirror: skipped a/b/a: not listed (--max-folders)",
        "mirror: skipped a/b/b: not listed (--max-folders)",
        "mirror: skipped b/a: not listed (--max-folders)",
        "mirror: skipped b/b: not listed (--max-folders)"},
       1},
      {"a name listed twice and folders met before",
       "mirror --delete src out",
       Join({Mlsd("src",
                  "type=dir;unique=1; d\r\ntype=dir;unique=1; d\r\n"
                  "type=dir;unique=1; alias\r\ntype=dir;unique=2; e\r\n"),
             Mlsd("src/d",
                  "type=dir;unique=1; self\r\ntype=file;size=1;modify=20200101000000; f\r\n"),
             Mlsd("src/e", "type=dir;unique=1; back\r\n"), Retrieve("src/d/f", "f")}),
       "out/alias/keep.txt",
       {"mirror: skipped the name d in src: the listing names it twice",
        "mirror: skipped alias: the same folder as d",
        "mirror: skipped d/self: the same folder as one that holds it",
        "mirror: skipped e/back: the same folder as d"},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(local_.path() / "out");
    WriteFile(local_.path() / c.kept, "mine");
    FakeFtpServer server({testing::Session(Binary(c.steps))});
    const Lines log = RunAgainst(server, {c.command});
    ExpectPlayedThrough(server);
    Lines notes;
    for (const std::string& line : log) {
      if (line.starts_with("mirror: ")) notes.push_back(line);
    }
    ASSERT_FALSE(notes.empty()) << ::testing::PrintToString(log);
    notes.pop_back();  // the summary
    EXPECT_EQ(notes, c.notes) << ::testing::PrintToString(log);
    std::set<std::string> listed;  // no folder twice
    for (const std::string& command : server.Commands()) {
      if (command.starts_with("MLSD")) {
        EXPECT_TRUE(listed.insert(command).second) << command;
      }
    }
    EXPECT_EQ(ReadFile(local_.path() / c.kept), "mine");
    EXPECT_EQ(failed, c.failed);
  }
}

TEST_F(MisbehavingServerTest, ControlCharactersInNamesAreShownEscaped) {
  // A name that would set a terminal's title and ring its bell, and one that is never used.
  const std::string name = "a\x1b]0;owned\x07.txt";
  const std::string shown = "a\\x1b]0;owned\\x07.txt";
  const std::string listing =
      "type=file;size=2;modify=20200101000000; " + name + "\r\ntype=file;size=1; x/\x1b\r\n";
  fs::create_directories(local_.path() / "out" / name);  // a folder in the mirror's way
  FakeFtpServer server({testing::Session(Binary(Join({
      Mlsd("", listing),
      Retrieve(name, "ok"),  // the name goes to the server as it is
      Mlsd("src", listing),
  })))});
  const Lines log = RunAgainst(server, {"mget *", "mirror src out"});
  ExpectPlayedThrough(server);
  for (const std::string& line : Lines{
           "Get " + shown + " " + shown,
           "mget: skipped the name x/\\x1b in .: it could lead out of the folder",
           "mirror: skipped the name x/\\x1b in src: it could lead out of the folder",
           "mirror: " + shown + ": a folder is in the way",
       }) {
    EXPECT_TRUE(Has(log, line)) << line << "\n" << ::testing::PrintToString(log);
  }
  for (const std::string& line : log) EXPECT_EQ(line.find_first_of("\x1b\x07"), std::string::npos);
  EXPECT_EQ(ReadFile(local_.path() / name), "ok");  // the local name is the name as it is
}

// A server without MLSD that shows hidden files only to "LIST -a" (and "." and ".." then).
const char* const kNoMlsd = "211-Features:\r\n SIZE\r\n211 End\r\n";
const std::string kVisible = "-rw-r--r-- 1 u g 2 Jan 1 2021 a.txt\r\n";
const std::string kWithHidden =
    "drwxr-xr-x 2 u g 4096 Jan 1 2021 .\r\n"
    "drwxr-xr-x 3 u g 4096 Jan 1 2021 ..\r\n"
    "-rw-r--r-- 1 u g 4 Jan 1 2021 .htaccess\r\n" + kVisible;

// A listing of the current folder by `list`.
std::vector<testing::Step> ListHere(const std::string& list, testing::DataAction data) {
  return {Expect("PORT *", "200 ok\r\n"), Expect(list, "150 ok\r\n", std::move(data)),
          Reply("226 done\r\n")};
}

TEST_F(MisbehavingServerTest, AllAsksAServerThatHidesThemForHiddenFiles) {
  WriteFile(local_.path() / "out/.old", "x");
  WriteFile(local_.path() / "site/.htaccess", "deny", UtcSeconds(2020, 1, 1, 0, 0, 0));
  const std::string on_the_server =
      "drwxr-xr-x 2 u g 4096 Jan 1 2021 .\r\n"
      "-rw-r--r-- 1 u g 4 Jan 1 2021 .htaccess\r\n"
      "-rw-r--r-- 1 u g 1 Jan 1 2021 .stale\r\n";
  FakeFtpServer server({testing::Session(Binary(Join({
      ListHere("LIST", Data::Send(kVisible)),  // without --all nothing changes
      Retrieve("a.txt", "ok"),
      ListHere("LIST -a", Data::Send(kWithHidden)),
      Retrieve(".htaccess", "deny"),
      Retrieve("a.txt", "ok"),
      ListIn("src", kWithHidden, "226 done\r\n", "LIST -a"),
      {Expect("MDTM src/.htaccess", "502 No MDTM\r\n")},
      Retrieve("src/.htaccess", "deny"),
      Retrieve("src/a.txt", "ok"),
      // Uploading: the server's copy is seen, up to date, and its extra goes.
      ListIn("pub", on_the_server, "226 done\r\n", "LIST -a"),
      {Expect("MDTM pub/.htaccess", "213 20210101000000\r\n"),
       Expect("DELE pub/.stale", "250 deleted\r\n")},
  }), kNoMlsd))});
  const Lines log = RunAgainst(server, {"mget *", "mget --all *", "mirror --all --delete src out",
                                        "mirror -R --all --delete site pub"});
  ExpectPlayedThrough(server);
  Lines summaries = Starting(log, "mget: ");
  for (const std::string& line : Starting(log, "mirror: ")) summaries.push_back(line);
  EXPECT_EQ(summaries, (Lines{"mget: 1 transferred, 2 bytes, 0 up to date, 0 failed",
                              "mget: 2 transferred, 6 bytes, 0 up to date, 0 failed",
                              "mirror: 2 transferred, 6 bytes, 0 up to date, 1 deleted, 0 failed",
                              "mirror: 0 transferred, 0 bytes, 1 up to date, 1 deleted, 0 failed"}))
      << ::testing::PrintToString(log);
  EXPECT_EQ(ReadFile(local_.path() / ".htaccess"), "deny");
  EXPECT_EQ(ReadFile(local_.path() / "out/.htaccess"), "deny");
  EXPECT_FALSE(fs::exists(local_.path() / "out/.old"));
  EXPECT_EQ(failed, 0);
}

TEST_F(MisbehavingServerTest, AListAllThatNamesNothingOrIsRefusedIsNeverTrusted) {
  const std::string distrusted =
      "LIST -a named nothing in src where LIST names entries: the server does not take -a, so "
      "that listing is not used";
  const std::string refused = "550 -a: No such file or directory";
  // LIST -a of src names nothing, and LIST alone tells whether the folder is empty.
  const auto empty_then = [](const std::string& folder, const std::string& plain) {
    return Join({ListIn(folder, "", "226 done\r\n", "LIST -a"), ListIn(folder, plain)});
  };
  struct Case {
    const char* name;
    std::string command;
    std::vector<testing::Step> steps;
    std::string named;  // a line of the log
    bool kept;          // out/sub/keep.txt is still there
    int failed;
    const char* features = kNoMlsd;
  } cases[] = {
      {"the source root names nothing", "mirror --all --delete src out", empty_then("src", kVisible),
       distrusted, true, 1},
      {"the source root is refused", "mirror --all --delete src out",
       {Expect("PWD", "257 \"/home\"\r\n"), Expect("CWD src", "250 ok\r\n"),
        Expect("PORT *", "200 ok\r\n"), Expect("LIST -a", refused + "\r\n"),
        Expect("CWD /home", "250 ok\r\n")},
       refused, true, 1},
      {"a folder below names nothing", "mirror --all --delete src out",
       Join({ListIn("src", "drwxr-xr-x 2 u g 4096 Jan 1 2021 sub\r\n", "226 done\r\n",
                    "LIST -a"),
             empty_then("src/sub", kVisible)}),
       "mirror: sub: could not be listed", true, 1},
      {"mget names nothing", "mget --all *",
       Join({ListHere("LIST -a", Data::Close()), ListHere("LIST", Data::Send(kVisible))}),
       "mget: 0 transferred, 0 bytes, 0 up to date, 1 failed", true, 1},
      // An empty folder, as LIST alone confirms: its listing is trusted.
      {"the source root is empty", "mirror --all --delete src out", empty_then("src", ""),
       "mirror: 0 transferred, 0 bytes, 0 up to date, 2 deleted, 0 failed", false, 0},
      // MLSD names hidden files anyway: --all changes nothing, and an empty MLSD is trusted.
      {"MLSD", "mirror --all --delete src out", Mlsd("src", ""),
       "mirror: 0 transferred, 0 bytes, 0 up to date, 2 deleted, 0 failed", false, 0, kFeatures},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Lines log = MirrorOverKeptFile(c.steps, c.features, c.command);
    std::vector<std::string> shown;  // without the time at the end
    for (const std::string& line : log) shown.push_back(line.substr(0, line.rfind(" (")));
    EXPECT_TRUE(Has(shown, c.named)) << ::testing::PrintToString(log);
    EXPECT_EQ(fs::exists(local_.path() / "out/sub/keep.txt"), c.kept);
    EXPECT_EQ(failed, c.failed);
  }
}

}  // namespace
}  // namespace tarnex::script
