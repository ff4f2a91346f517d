// What the headless runner attaches to the engine besides its host: warnings about slips in
// the script, the FTP dialogue, the progress line, the tally of files moved, and the netrc
// lookup for Login.
#pragma once

#include <string>

#include "app/console_host.h"
#include "app/run_summary.h"
#include "script/engine.h"

namespace tarnex::app {

// Unknown command words, missing labels and conditions that are neither Error nor NonError:
// a warning each; with `strict` the first ends the
// run, and `stopped` tells afterwards.
void AttachProblemReports(script::ScriptEngine& engine, ConsoleHost& host, bool strict,
                          bool& stopped);

// The dialogue with the server on standard error, converted as the log is; a control
// character in a reply (an ESC that would recolour the terminal) shows as "\x1b".
void AttachTrace(script::ScriptEngine& engine, ConsoleHost& host);

// Each progress event draws the line after the engine's own handler has run; a finished
// transfer takes it away.
void AttachProgress(script::ScriptEngine& engine, ConsoleHost& host);

// Every file moved whole, and its bytes, each way (a listing is no file).
void AttachTransferCount(script::ScriptEngine& engine, TransferCount& downloaded,
                         TransferCount& uploaded);

}  // namespace tarnex::app
