// The engine's handlers of the FTP client's events: the status bar follows the connection
// and the transfers, the client's lines go to the log, and uploads may pause after each block.
#include <algorithm>
#include <chrono>
#include <thread>

#include "ftpclient/facade_text.h"
#include "script/engine.h"

namespace tarnex::script {

void ScriptEngine::AttachClientEvents() {
  FTP.Onctlsockconnect = [this](TLowFTP&) { FTPctlsockconnect(); };
  FTP.OnCtlsockClose = [this](TLowFTP&) { FTPCtlsockClose(); };
  FTP.Onretrieveing = [this](TLowFTP&, int64_t bytes, int32_t) {
    host_.SetStatusText(3, "Retrieve..." + std::to_string(bytes));
  };
  FTP.Onretrievefinished = [this](TLowFTP&, int64_t bytes, int32_t ms) {
    host_.SetStatusText(3, "Retrieved " + std::to_string(bytes) + "(" + RateText(bytes, ms) +
                               "cps)");
  };
  FTP.Ontransfer = [this](TLowFTP&, int64_t bytes, int32_t) { FTPtransfer(bytes); };
  FTP.Ontransferfinished = [this](TLowFTP&, int64_t bytes, int32_t ms) {
    host_.SetStatusText(3, "Transfered " + std::to_string(bytes) + "(" + RateText(bytes, ms) +
                               "cps)");
  };
  FTP.OnLogging = [this](TLowFTP&, const std::string& line) { AddLog(line); };
}

std::string ScriptEngine::RateText(int64_t bytes, int32_t milliseconds) {
  return std::to_string(RoundedRate(TransferRate(bytes, milliseconds)));
}

void ScriptEngine::FTPctlsockconnect() {
  host_.SetStatusText(1, "Connect");
  host_.SetStatusText(2, FHost);
  FConnected = true;
}

void ScriptEngine::FTPCtlsockClose() {
  host_.SetStatusText(1, "DisConnect");
  host_.SetStatusText(2, "");
  FConnected = false;
}

void ScriptEngine::FTPtransfer(int64_t bytes) {
  std::string text = "Transfer..." + std::to_string(bytes);
  if (!settings_.cb_wait) {
    host_.SetStatusText(3, text);
    return;
  }
  host_.SetStatusText(3, text + " Send Wait");
  // A plain sleep on purpose: the send-wait throttles the upload and nothing else may run
  // meanwhile; it counts against the client's time-out.
  std::this_thread::sleep_for(std::chrono::seconds(std::max(settings_.sp_Wsec, 0)));
}

}  // namespace tarnex::script
