// The runner's own texts (usage, errors about its options and files, warnings) in the user's
// language, by gettext: English as written in the code, other languages from the catalogues
// of the text domain "tarnex-run". The execution log is never translated: its lines are the
// system's own, kept byte for byte.
#pragma once

#include <string>

namespace tarnex::app {

// Chooses the language of messages from the environment (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG) and finds the catalogues: beside the program (../share/locale from its folder, which
// is where both the build tree and an installation keep them), else in the folder the build
// was configured for. Only the messages' locale category is set: numbers, character classes
// and everything else the core does stay as in the "C" locale.
void InitTranslations();

// The translation of `msgid`, or `msgid` itself, in UTF-8 whatever the locale's encoding.
const char* Tr(const char* msgid) __attribute__((format_arg(1)));

// Why a system call failed, in the user's language for the common reasons, else in English
// (the system's own texts would come out as "?" in the "C" character type this runs in).
std::string SystemErrorText(int error_number);
// The same always in English, for the execution log.
std::string SystemErrorTextInEnglish(int error_number);

// printf into a string (translations may reorder their arguments: "%2$s ... %1$s").
std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnex::app

// Marks a text for the catalogue where it is written; Tr() translates it where it is used.
#define N_(text) text
