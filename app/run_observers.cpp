#include "app/run_observers.h"

#include "app/translation.h"
#include "platform/codepage.h"
#include "text/printable.h"

namespace tarnex::app {

void AttachProblemReports(script::ScriptEngine& engine, ConsoleHost& host, bool strict,
                          bool& stopped) {
  using Problem = script::ScriptEngine::ScriptProblem;
  engine.OnScriptProblem = [&host, strict, &stopped](Problem problem, int32_t line,
                                                     const std::string& word) {
    const char* pattern = N_("line %d: unknown command '%s'");
    if (problem == Problem::MissingLabel) pattern = N_("line %d: goto to a missing label '%s'");
    if (problem == Problem::BadCondition) {
      pattern =
          N_("line %d: the condition '%s' is neither Error nor NonError, so the command runs");
    }
    std::string text = Format(Tr(pattern), line + 1, platform::CurrentTextToUtf8(word).c_str());
    if (strict) text += Tr(" (--strict: the run ends here)");
    host.Warn(text);
    stopped = stopped || strict;
    return strict;
  };
}

void AttachTrace(script::ScriptEngine& engine, ConsoleHost& host) {
  engine.FTP.SetDialogueTrace([&host](bool sent, const std::string& line) {
    host.PrintMessage((sent ? "> " : "< ") +
                      platform::CurrentTextToUtf8(EscapeControlCharacters(line)));
  });
}

void AttachProgress(script::ScriptEngine& engine, ConsoleHost& host) {
  const auto follow = [&engine, &host](TLowFTP::TProgressEvent& event,
                                       TransferDirection direction) {
    event = [&engine, &host, direction, inner = event](TLowFTP& ftp, int64_t bytes, int32_t ms) {
      if (inner) inner(ftp, bytes, ms);
      // During a transfer: the size the server announced, or the local file's; a listing has
      // none.
      host.Progress().Update(direction, bytes, engine.FTP.TransferTotal(), ms);
    };
  };
  const auto finish = [&host](TLowFTP::TProgressEvent& event) {
    event = [&host, inner = event](TLowFTP& ftp, int64_t bytes, int32_t ms) {
      host.Progress().Clear();
      if (inner) inner(ftp, bytes, ms);
    };
  };
  follow(engine.FTP.Onretrieveing, TransferDirection::Receiving);
  follow(engine.FTP.Ontransfer, TransferDirection::Sending);
  finish(engine.FTP.Onretrievefinished);
  finish(engine.FTP.Ontransferfinished);
}

void AttachTransferCount(script::ScriptEngine& engine, TransferCount& downloaded,
                         TransferCount& uploaded) {
  // The client reports a transfer finished only when it moved the file whole.
  const auto count = [](TLowFTP::TProgressEvent& event, TransferCount& tally) {
    event = [&tally, inner = event](TLowFTP& ftp, int64_t bytes, int32_t ms) {
      ++tally.files;
      tally.bytes += bytes;
      if (inner) inner(ftp, bytes, ms);
    };
  };
  count(engine.FTP.Onretrievefinished, downloaded);
  count(engine.FTP.Ontransferfinished, uploaded);
}

}  // namespace tarnex::app
