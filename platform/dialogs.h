// What a host is asked when the program needs the user: a message box. The desktop program
// shows a modal box; the headless runner writes to standard error; tests answer from a script.
#pragma once

#include <string>

namespace tarnex::platform {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageResult { Ok, Yes, No, Cancel };

struct MessageBoxRequest {
  std::string text;     // CP932
  std::string caption;  // CP932
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
  bool system_modal = false;
};

}  // namespace tarnex::platform
