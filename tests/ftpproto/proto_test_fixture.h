// A protocol component whose events are written down in order, for the tests of TProtoFTP.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftpproto/proto_ftp.h"
#include "platform/errors.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/real_ftp_server.h"

namespace tarnex {

inline const char* TypeName(TCmdType type) {
  switch (type) {
    case TCmdType::cmdChangeDir: return "ChangeDir";
    case TCmdType::cmdMakeDir: return "MakeDir";
    case TCmdType::cmdDelete: return "Delete";
    case TCmdType::cmdRemoveDir: return "RemoveDir";
    case TCmdType::cmdList: return "List";
    case TCmdType::cmdRename: return "Rename";
    case TCmdType::cmdTransfer: return "Transfer";
    case TCmdType::cmdAppend: return "Append";
    case TCmdType::cmdOther: return "Other";
    case TCmdType::cmdPrintDir: return "PrintDir";
  }
  return "?";
}

class ProtoTest : public ::testing::Test {
 protected:
  void Attach(testing::FakeFtpServer& server) {
    ftp_.Host = "127.0.0.1";
    ftp_.Port = server.Port();
    ftp_.UserID = "joe";
    ftp_.Password = "secret";
    ftp_.OnConnect = [this](TProtoFTP&) { events_.push_back("connect"); };
    ftp_.Control().OnDisconnect = [this](TAsyncSock&) { events_.push_back("disconnect"); };
    ftp_.OnConnectionFailed = [this](TProtoFTP&) { events_.push_back("connection failed"); };
    ftp_.OnSuccess = [this](TCmdType t) { events_.push_back(std::string("success ") + TypeName(t)); };
    ftp_.OnUnSupportedFunction = [this](TCmdType t) {
      events_.push_back(std::string("unsupported ") + TypeName(t));
    };
    ftp_.OnTransactionStart = [this](TProtoFTP&) { events_.push_back("start"); };
    ftp_.OnTransactionStop = [this](TProtoFTP&) { events_.push_back("stop"); };
  }
  void HandleFailures(bool handled) {
    ftp_.OnFailure = [this, handled](bool& h, TCmdType t) {
      events_.push_back(std::string("failure ") + TypeName(t));
      h = handled;
    };
  }
  // The message of the exception `call` raises, or "" when it raises none.
  template <typename Call>
  std::string Raised(Call call) {
    try {
      call();
    } catch (const Exception& e) {
      return e.Message();
    }
    return "";
  }

  TProtoFTP ftp_;
  std::vector<std::string> events_;
};

// Logs `ftp` in to the real server, in passive or active mode.
inline void LogIn(TProtoFTP& ftp, const testing::RealFtpServer& server, bool passive = false) {
  ftp.Host = server.Host();
  ftp.Port = server.Port();
  ftp.UserID = server.User();
  ftp.Password = server.Password();
  ftp.Passive = passive;
  ftp.LogIn();
}

// A session that has logged in already, followed by `steps`.
inline testing::Session Connected(std::vector<testing::Step> steps) {
  std::vector<testing::Step> all{testing::Greeting("220 Hi\r\n"),
                                 testing::Expect("USER joe", "230 In\r\n")};
  all.insert(all.end(), steps.begin(), steps.end());
  return testing::Session(all);
}

}  // namespace tarnex
