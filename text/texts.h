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

// "'<text>' は整数ではありません"; `text` is in the same encoding and is inserted as it is.
std::string NotAnInteger(std::string_view text);

}  // namespace tarnex::texts
