#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/loop_timer.h"
#include "tests/sftpproto/sftp_fixture.h"

namespace tarnex::testing {
namespace {

// The failure an operation raised: its class and message, for a table.
template <typename Operation>
std::string FailureOf(Operation&& operation) {
  try {
    operation();
  } catch (const EAbortError& e) {
    return "abort: " + e.Message();
  } catch (const ESockError& e) {
    return "sock: " + e.Message();
  } catch (const FTPException& e) {
    return "ftp " + std::to_string(e.Result()) + ": " + e.Message();
  } catch (const Exception& e) {
    return "other: " + e.Message();
  }
  return "none";
}

TEST_F(SftpSessionTest, LogsInAtTheStartFolderAndQuits) {
  int connected = 0, disconnected = 0;
  session_.OnConnect = [&](TProtoSFTP& s) {
    ++connected;
    EXPECT_EQ(s.ReplyCode(), 230);  // the facade's "230 Connect success"
  };
  session_.OnDisconnect = [&] { ++disconnected; };
  const FtpReply login = session_.LogIn();
  EXPECT_EQ(login.code, 230);
  EXPECT_EQ(login.line, "230 User tester logged in (SFTP version 3)\r\n");
  EXPECT_TRUE(session_.Connected());
  EXPECT_EQ(connected, 1);
  const std::string root = std::filesystem::canonical(remote_.path()).string();
  const Answered<std::string> pwd = session_.CurrentDirectory();
  EXPECT_EQ(pwd.value, root);
  EXPECT_EQ(pwd.reply.code, 257);
  EXPECT_EQ(dialogue_.front(), "> INIT 3");
  // The server's limits set the sizes of reads and writes.
  EXPECT_NE(std::find(dialogue_.begin(), dialogue_.end(), "> LIMITS"), dialogue_.end());
  EXPECT_EQ(dialogue_.back(), "< NAME " + root);

  const FtpReply quit = session_.Quit();
  EXPECT_EQ(quit.code, 221);
  EXPECT_FALSE(session_.Connected());
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(FailureOf([&] { session_.DeleteFile("x"); }), "other: Not Connected");
}

TEST_F(SftpSessionTest, FolderAndFileCommandsAnswerAsAnFtpServerWould) {
  session_.LogIn();
  std::vector<TCmdType> successes;
  session_.OnSuccess = [&](TCmdType type) { successes.push_back(type); };
  WriteAll(Remote("old.txt"), "old");
  WriteAll(Remote("target.txt"), "replaced");
  const std::string root = std::filesystem::canonical(remote_.path()).string();
  struct Step {
    std::function<FtpReply()> run;
    int code;
    TCmdType type;
  };
  const Step steps[] = {
      {[&] { return session_.MakeDirectory("sub"); }, 257, TCmdType::cmdMakeDir},
      {[&] { return session_.ChangeDirectory("sub"); }, 250, TCmdType::cmdChangeDir},
      {[&] { return session_.ChangeDirectory(".."); }, 250, TCmdType::cmdChangeDir},
      {[&] { return session_.RenameFile("old.txt", "target.txt"); }, 250, TCmdType::cmdRename},
      {[&] { return session_.DeleteFile("target.txt"); }, 250, TCmdType::cmdDelete},
      {[&] { return session_.RemoveDirectory("sub"); }, 250, TCmdType::cmdRemoveDir},
      {[&] { return session_.SetTransferType(tmImage); }, 200, TCmdType::cmdOther},
  };
  for (const Step& step : steps) {
    const FtpReply reply = step.run();
    EXPECT_EQ(reply.code, step.code) << reply.line;
    EXPECT_EQ(session_.ReplyCode(), step.code);
    ASSERT_FALSE(successes.empty());
    EXPECT_EQ(successes.back(), step.type);
  }
  EXPECT_EQ(session_.CurrentDirectory().value, root);
  EXPECT_FALSE(std::filesystem::exists(Remote("old.txt")));
  EXPECT_FALSE(std::filesystem::exists(Remote("target.txt")));
  EXPECT_FALSE(std::filesystem::exists(Remote("sub")));

  // The quiet steps of mget and mirror.
  WriteAll(Remote("f"), "12345");
  EXPECT_EQ(session_.RemoteFileSize("f").value, 5);
  EXPECT_EQ(session_.RemoteFileSize("f").reply.line, "213 5\r\n");
  EXPECT_TRUE(session_.SetRemoteModificationTime("f", 1700000000).value);
  EXPECT_EQ(session_.RemoteModificationTime("f").value, 1700000000);
  EXPECT_TRUE(session_.TryRenameFile("f", "g").value);
  EXPECT_TRUE(session_.TryDeleteFile("g").value);
  const Answered<bool> again = session_.TryDeleteFile("g");
  EXPECT_FALSE(again.value);
  EXPECT_EQ(again.reply.line, "550 No such file\r\n");
  EXPECT_FALSE(session_.RemoteFileSize("g").value);
  EXPECT_EQ(session_.RemoteFileSize("g").reply.code, 550);
}

TEST_F(SftpSessionTest, RefusalsCarryTheServersMessageAndCode) {
  session_.LogIn();
  WriteAll(Remote("file"), "x");
  std::vector<std::string> notices;
  session_.OnNotice = [&](const std::string& line) { notices.push_back(line); };
  struct Case {
    std::function<void()> run;
    std::string failure;
  };
  const Case cases[] = {
      {[&] { session_.ChangeDirectory("missing"); }, "ftp 550: 550 No such file\r\n"},
      {[&] { session_.ChangeDirectory("file"); }, "ftp 550: 550 file: Not a directory\r\n"},
      {[&] { session_.DeleteFile("missing"); }, "ftp 550: 550 No such file\r\n"},
      {[&] { session_.RemoveDirectory("file"); }, "ftp 550: 550 No such file\r\n"},
      {[&] { session_.DownloadFile("missing", Local("m")); }, "ftp 550: 550 No such file\r\n"},
      {[&] { session_.RunCommand("PASS secret"); },
       "ftp 502: 502 FTP commands cannot be sent over SFTP: PASS ****\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FailureOf(c.run), c.failure);
  EXPECT_TRUE(session_.Connected());
  // Ascii is told of once a session.
  session_.SetTransferType(tmAscii);
  session_.SetTransferType(tmAscii);
  EXPECT_EQ(notices, std::vector<std::string>{"SFTP moves files as they are: Ascii has no effect"});
}

TEST_F(SftpSessionTest, AReadOnlyServerDeniesChangesAs550) {
  Launch({kSftpServer, "-R", "-d", remote_.path().string()});
  session_.LogIn();
  WriteAll(Local("up"), "data");
  EXPECT_EQ(FailureOf([&] { session_.MakeDirectory("d"); }), "ftp 550: 550 Permission denied\r\n");
  EXPECT_EQ(FailureOf([&] { session_.UploadFile(Local("up"), "up"); }),
            "ftp 550: 550 Permission denied\r\n");
  EXPECT_EQ(session_.ReplyCode(), 550);
}

TEST_F(SftpSessionTest, ListingLinesAndEntriesComeFromTheAttributes) {
  session_.LogIn();
  WriteAll(Remote("a.txt"), "12345");
  WriteAll(Remote(".hidden"), "");
  std::filesystem::create_directory(Remote("dir"));
  std::vector<std::string> lines;
  session_.OnListItem = [&](const std::string& line) { lines.push_back(line); };
  for (const ListScope scope : {ListScope::Visible, ListScope::WithHidden}) {
    lines.clear();
    EXPECT_EQ(session_.ListDirectory(scope).code, 150);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), scope == ListScope::Visible ? 2u : 3u);
    const ListScope shown = scope;
    const std::string& file_line = lines[shown == ListScope::Visible ? 0 : 1];
    EXPECT_EQ(file_line.substr(0, 1), "-") << file_line;
    EXPECT_EQ(file_line.substr(file_line.size() - 6), " a.txt");
  }
  std::vector<DirectoryEntry> entries;
  EXPECT_EQ(session_.ListEntries("", entries).code, 150);
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, ".hidden");
  EXPECT_EQ(entries[1].name, "a.txt");
  EXPECT_EQ(entries[1].kind, EntryKind::File);
  EXPECT_EQ(entries[1].size, 5);
  EXPECT_EQ(entries[2].kind, EntryKind::Folder);
  entries.clear();
  session_.ListEntries(remote_.path().string() + "/dir", entries);
  EXPECT_TRUE(entries.empty());
}

// Fakes that start but go wrong: each failure is clear and ends the session.
TEST_F(SftpSessionTest, ABrokenOrHostileServerEndsTheSessionWithAClearFailure) {
  struct Case {
    std::vector<std::string> argv;
    std::string failure;
  };
  const std::string fake = TARNEX_FAKE_SFTP_SERVER;
  const Case cases[] = {
      {{"sh", "-c", "echo 'ssh: connect to host x: Connection refused' >&2; exit 255"},
       "sock: SFTP session could not start (exit status 255): ssh: connect to host x: "
       "Connection refused"},
      {{"tarnex-no-such-ssh"}, "sock: Cannot start tarnex-no-such-ssh: no such program in PATH"},
      {{"python3", fake, "version4"},
       "sock: The SFTP server speaks version 4 of the protocol; only version 3 is spoken here"},
      {{"python3", fake, "oversized"},
       "sock: SFTP protocol error: "},
      {{"python3", fake, "unknown-id"}, "sock: SFTP protocol error: "},
  };
  for (const Case& c : cases) {
    Launch(c.argv);
    const std::string failure = FailureOf([&] { session_.LogIn(); });
    EXPECT_EQ(failure.substr(0, c.failure.size()), c.failure) << failure;
    EXPECT_FALSE(session_.Connected());
  }
  // The explanation of the transport, when it has one, is the message.
  Launch({"sh", "-c", "echo 'Permission denied (publickey).' >&2; exit 255"});
  session_.Transport.explain_failure = [](const std::vector<std::string>& lines) {
    return lines.empty() ? std::string() : "Login refused: " + lines.front();
  };
  EXPECT_EQ(FailureOf([&] { session_.LogIn(); }),
            "sock: Login refused: Permission denied (publickey).");
}

TEST_F(SftpSessionTest, ASilentServerIsGivenUpOnByTheTimer) {
  platform::LoopTimer timeout(20, [&] { session_.GiveUp(); });
  // Silent from the start: the login is given up on and the child ended.
  Launch({"sh", "-c", "cat >/dev/null"});
  timeout.SetEnabled(true);
  EXPECT_EQ(FailureOf([&] { session_.LogIn(); }), "abort: SFTP request aborted");
  timeout.SetEnabled(false);
  EXPECT_FALSE(session_.Connected());

  // Silent after the login: the request is given up on, the session stays.
  Launch({"python3", TARNEX_FAKE_SFTP_SERVER, "silent-after-login"});
  session_.LogIn();
  timeout.SetEnabled(true);
  EXPECT_EQ(FailureOf([&] { session_.ChangeDirectory("x"); }), "abort: SFTP request aborted");
  EXPECT_EQ(FailureOf([&] { session_.DownloadFile("x", Local("x")); }),
            "abort: SFTP request aborted");
  timeout.SetEnabled(false);
  EXPECT_TRUE(session_.Connected());
  EXPECT_FALSE(std::filesystem::exists(Local("x")));
  EXPECT_EQ(session_.Quit().code, 221);
}

}  // namespace
}  // namespace tarnex::testing
