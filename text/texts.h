// The system's own Japanese texts, in the thread's text encoding: CP932, the code page of every
// line the core handles, or UTF-8 while a UTF-8 script runs.
// Each is written once in UTF-8 and converted once, on first use.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::texts {

const std::string& Running();            // status while a script runs or steps
const std::string& Modified();           // status while the editor holds unsaved changes
const std::string& NotImplemented();     // Dialup and Disconnect
const std::string& PressOk();            // pause without a message
const std::string& WaitTimerInvalid();   // WaitTimer text that is no date or time
const std::string& UnexpectedError();    // prefix of the log line of an error nobody caught
const std::string& AppTitle();           // the application title, full-width letters
const std::string& ConfirmDisconnect();  // closing while connected
const std::string& ConfirmStopScript();  // closing while a script runs
const std::string& ConfirmSaveScript();  // closing or replacing a modified script
const std::string& TextTooLarge();       // a script too large for the editor

// The warnings about a script line (`line` from 1; `word` in the same encoding, as it is):
// "<line> 行目: 不明なコマンド '<word>'", "<line> 行目: goto の飛び先のラベル '<word>'
// がありません",
// "<line> 行目: 条件 '<word>' は Error でも NonError でもないため、コマンドは常に実行されます".
std::string UnknownCommandWarning(int line, std::string_view word);
std::string MissingLabelWarning(int line, std::string_view word);
std::string BadConditionWarning(int line, std::string_view word);
// Stop while a session is open: close it first?
const std::string& ConfirmQuitOnStop();

// " (<line> 行目で中止)": the end of the end line of a run the user stopped; `line` from 1.
std::string StoppedAtLine(int line);

// "'<text>' は整数ではありません"; `text` is in the same encoding and is inserted as it is.
std::string NotAnInteger(std::string_view text);

}  // namespace tarnex::texts
