#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/message_loop.h"
#include "tests/sftpproto/sftp_fixture.h"

namespace tarnex::testing {
namespace {

using TransferTest = SftpSessionTest;

TEST_F(TransferTest, FilesGoBothWaysByteForByte) {
  session_.LogIn();
  int64_t blocks = 0;
  session_.OnPacketRecvd = [&](TProtoSFTP&) { ++blocks; };
  session_.OnPacketSent = [&](TProtoSFTP&) { ++blocks; };
  const size_t k32 = 32 * 1024, k256 = 256 * 1024;
  for (const size_t size : {size_t{0}, size_t{1}, k32 - 1, k32, k32 + 1, k256 - 1, k256, k256 + 1,
                            size_t{10 * 1024 * 1024 + 3}}) {
    SCOPED_TRACE(size);
    const std::string bytes = Pattern(size, static_cast<uint32_t>(size));
    WriteAll(Local("up"), bytes);
    EXPECT_EQ(session_.UploadFile(Local("up"), "file").code, 150);
    EXPECT_EQ(session_.DataBytesSent(), static_cast<int64_t>(size));
    EXPECT_TRUE(ReadAll(Remote("file")) == bytes);
    EXPECT_EQ(session_.DownloadFile("file", Local("down")).code, 150);
    EXPECT_EQ(session_.ReplyCode(), 150);
    EXPECT_EQ(session_.DataBytesReceived(), static_cast<int64_t>(size));
    EXPECT_EQ(session_.BytesTotal, static_cast<int64_t>(size));
    EXPECT_TRUE(ReadAll(Local("down")) == bytes);
  }
  EXPECT_GT(blocks, 0);
  // Nothing is left behind beside the files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local_.path()), {}), 2);
}

TEST_F(TransferTest, ResumedAndAppendedTransfersAddOnlyTheRest) {
  session_.LogIn();
  const std::string bytes = Pattern(300000);
  // reget: the local file holds the first part.
  WriteAll(Remote("r"), bytes);
  WriteAll(Local("r"), bytes.substr(0, 100000));
  Answered<ResumeOutcome> resumed = session_.ResumeDownloadFile("r", Local("r"));
  EXPECT_EQ(resumed.value, ResumeOutcome::Transferred);
  EXPECT_EQ(session_.DataBytesReceived(), 200000);
  EXPECT_TRUE(ReadAll(Local("r")) == bytes);
  resumed = session_.ResumeDownloadFile("r", Local("r"));
  EXPECT_EQ(resumed.value, ResumeOutcome::AlreadyComplete);
  EXPECT_EQ(resumed.reply.code, 213);
  // reput: the remote file holds the first part.
  WriteAll(Local("p"), bytes);
  WriteAll(Remote("p"), bytes.substr(0, 123456));
  EXPECT_EQ(session_.ResumeUploadFile(Local("p"), "p").value, ResumeOutcome::Transferred);
  EXPECT_EQ(session_.DataBytesSent(), 300000 - 123456);
  EXPECT_TRUE(ReadAll(Remote("p")) == bytes);
  EXPECT_EQ(session_.ResumeUploadFile(Local("p"), "p").value, ResumeOutcome::AlreadyComplete);
  // A local file larger than the remote one is not resumed, and stays.
  WriteAll(Local("big"), bytes);
  WriteAll(Remote("big"), "short");
  EXPECT_THROW(session_.ResumeDownloadFile("big", Local("big")), Exception);
  EXPECT_TRUE(ReadAll(Local("big")) == bytes);
  // append
  WriteAll(Remote("a"), "head-");
  WriteAll(Local("a"), "tail");
  std::vector<TCmdType> successes;
  session_.OnSuccess = [&](TCmdType type) { successes.push_back(type); };
  EXPECT_EQ(session_.AppendFile(Local("a"), "a").code, 150);
  EXPECT_EQ(ReadAll(Remote("a")), "head-tail");
  EXPECT_EQ(successes, std::vector<TCmdType>{TCmdType::cmdAppend});
}

TEST_F(TransferTest, AnIncompleteDownloadKeepsTheOldFile) {
  session_.LogIn();
  WriteAll(Remote("f"), Pattern(70000));
  WriteAll(Local("f"), "old content");
  DownloadOptions listed;
  listed.listed_size = 70001;  // the listing said more than the file holds
  try {
    session_.DownloadFile("f", Local("f"), listed);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Download incomplete: 70000 of 70001 bytes received");
  }
  EXPECT_EQ(ReadAll(Local("f")), "old content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local_.path()), {}), 1);
  EXPECT_TRUE(session_.Connected());
}

TEST_F(TransferTest, AnAbortedTransferLeavesTheSessionUsable) {
  session_.LogIn();
  const std::string bytes = Pattern(10 * 1024 * 1024);
  WriteAll(Remote("big"), bytes);
  WriteAll(Local("big"), "old content");
  WriteAll(Local("up"), bytes);
  bool abort = true;
  session_.OnPacketRecvd = [&](TProtoSFTP& s) {
    if (abort) s.Abort();
  };
  session_.OnPacketSent = session_.OnPacketRecvd;
  EXPECT_THROW(session_.DownloadFile("big", Local("big")), EAbortError);
  EXPECT_EQ(ReadAll(Local("big")), "old content");
  EXPECT_THROW(session_.UploadFile(Local("up"), "up"), EAbortError);
  // The replies still owed for the abandoned READs and WRITEs are dropped as they come, and
  // the handles given up on are closed: the next transfers are whole.
  abort = false;
  session_.DownloadFile("big", Local("big"));
  EXPECT_TRUE(ReadAll(Local("big")) == bytes);
  session_.UploadFile(Local("up"), "up");
  EXPECT_TRUE(ReadAll(Remote("up")) == bytes);
  EXPECT_NE(std::find(dialogue_.begin(), dialogue_.end(), "> CLOSE (a handle given up on)"),
            dialogue_.end());
  EXPECT_EQ(session_.Quit().code, 221);
}

TEST_F(TransferTest, AnUploadGivenUpOnWithItsWritesStillQueuedLeavesTheSessionWhole) {
  const std::string pid_file = Local("server.pid");
  Launch({"sh", "-c", "echo $$ > '" + pid_file + "'; exec " + std::string(kSftpServer) + " -d '" +
                          remote_.path().string() + "'"});
  session_.LogIn();
  const pid_t server = std::stoi(ReadAll(pid_file));
  const std::string bytes = Pattern(10 * 1024 * 1024);
  WriteAll(Local("up"), bytes);
  // The server stops reading before the first WRITE, so a batch of them cannot all enter the
  // pipe; the give-up comes while they wait, and the server then goes on.
  bool stopped = false;
  session_.OnDialogue = [&](bool sent, const std::string& line) {
    if (!sent || stopped || line.rfind("WRITE ", 0) != 0) return;
    stopped = true;
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    platform::MessageLoop::Current().Post([&] {
      session_.GiveUp();
      ::kill(server, SIGCONT);
    });
  };
  EXPECT_THROW(session_.UploadFile(Local("up"), "first"), EAbortError);
  ASSERT_TRUE(stopped);
  // The WRITEs begun went out whole, with the bytes of their own file, ahead of the next
  // requests: the framing holds, and the next transfers are byte for byte.
  const std::string other = Pattern(bytes.size(), 9);
  WriteAll(Local("other"), other);
  session_.UploadFile(Local("other"), "second");
  EXPECT_TRUE(ReadAll(Remote("second")) == other);
  session_.DownloadFile("second", Local("down"));
  EXPECT_TRUE(ReadAll(Local("down")) == other);
  const std::string first = ReadAll(Remote("first"));
  EXPECT_FALSE(first.empty());
  EXPECT_TRUE(first == bytes.substr(0, first.size()));
  EXPECT_EQ(session_.Quit().code, 221);
}

TEST_F(TransferTest, AServerKilledMidTransferFailsClearlyAndKeepsTheOldFile) {
  const std::string pid_file = Local("server.pid");
  Launch({"sh", "-c", "echo $$ > '" + pid_file + "'; exec " + std::string(kSftpServer) + " -d '" +
                          remote_.path().string() + "'"});
  session_.LogIn();
  const pid_t server = std::stoi(ReadAll(pid_file));
  WriteAll(Remote("big"), Pattern(10 * 1024 * 1024));
  WriteAll(Local("big"), "old content");
  bool killed = false;
  session_.OnPacketRecvd = [&](TProtoSFTP&) {
    if (!killed) ::kill(server, SIGKILL);
    killed = true;
  };
  bool disconnected = false;
  session_.OnDisconnect = [&] { disconnected = true; };
  try {
    session_.DownloadFile("big", Local("big"));
    ADD_FAILURE();
  } catch (const ESockError& e) {
    EXPECT_EQ(e.Message(), "SFTP connection closed (killed by signal 9 (Killed))");
  }
  EXPECT_TRUE(killed);
  EXPECT_TRUE(disconnected);
  EXPECT_FALSE(session_.Connected());
  EXPECT_EQ(ReadAll(Local("big")), "old content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local_.path()), {}), 2);
}

}  // namespace
}  // namespace tarnex::testing
