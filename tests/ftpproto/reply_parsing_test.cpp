#include "ftpproto/reply_parsing.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace tarnex {
namespace {

TEST(IsReplyContinuation, BlankStartOrDashInFourthPlace) {
  struct Case {
    const char* line;
    bool continues;
  } cases[] = {
      {"230-Welcome\r\n", true}, {" second line\r\n", true}, {"230 Done\r\n", false},
      {"230\r\n", false},        {"23-\r\n", false},         {"ab-", false},
      {"", false},               {"999-x", true},            {"abc-", true},
      {"\t230-x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsReplyContinuation(c.line), c.continues) << c.line;
}

TEST(CommandForTrace, EverythingAfterAPassWordIsMasked) {
  struct Case {
    const char* command;
    const char* shown;
  } cases[] = {
      {"PASS s3cret", "PASS ****"},
      {"pass two words", "pass ****"},
      {" PASS s3cret", " PASS ****"},
      {"pass\ts3cret", "pass\t****"},
      {"\t PaSs  s3cret", "\t PaSs ****"},
      {"PASS", "PASS"},
      {"PASS ", "PASS "},
      {"PASSWORD x", "PASSWORD x"},
      {"USER joe", "USER joe"},
      {"SITE PASS x", "SITE PASS x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandForTrace(c.command), c.shown) << c.command;
}

TEST(ValidReplyCode, ThreeDigitsFrom100To599AndThenABlankADashOrTheEnd) {
  struct Case {
    const char* line;
    int code;  // 0: no reply at all
  } cases[] = {
      {"220 Ready\r\n", 220}, {"550-Access denied\r\n", 550}, {"226\r\n", 226},
      {"150\n", 150},          {"599 x", 599},                   {"100 x", 100},
      {"099 x", 0},             {"600 x", 0},                     {"-550 x", 0},
      {"2200 ok", 0},           {"220Ready", 0},                  {"abc", 0},
      {"22", 0},                {" 220 x", 0},                    {"", 0},
  };
  for (const auto& c : cases) {
    const auto code = ValidReplyCode(c.line);
    EXPECT_EQ(code.value_or(0), c.code) << c.line;
  }
}

TEST(ValidReplyCode, LeadingDigitsAloneMakeNoReply) {
  // The one reader of reply codes: digits beyond three, or beyond a 16-bit number, are no code.
  struct Case {
    const char* line;
    int code;
  } cases[] = {
      {"Hello\r\n", 0},  {"12345 Hello\r\n", 0}, {"230-Welcome\r\n", 230},
      {"32767", 0},      {"0000000000999", 0},   {"421", 421},
      {"7x", 0},         {"32768 x", 0},         {"40000 Hello", 0},
      {"9999999999", 0}, {"12345678901 x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ValidReplyCode(c.line).value_or(0), c.code) << c.line;
}

TEST(RefusalResult, CodeWhenTheFourthCharacterIsABlank) {
  struct Case {
    const char* line;
    int32_t code;
  } cases[] = {
      {"550 foo.txt: No such file or directory.", 550},
      {"550-Access denied", 999},
      {"Socket readln aborted", 999},
      {"10061:Connection refused", 999},
      {"-12 x", -12},
      {"226 Transfer complete", 226},
      {"226", 999},
      {"22 x", 999},
      {"", 999},
      {"2x6 y", 999},
      {"000 z", 0},
      {"550 x\r\n", 550},  // as raised: the line end does not count
      {"550 \r\n", 999},
  };
  for (const auto& c : cases) EXPECT_EQ(RefusalResult(c.line), c.code) << c.line;
}

TEST(TransferTypeOfCommand, TheTypeLetterDecides) {
  struct Case {
    const char* command;
    int type;  // 0: not a TYPE command the session follows
  } cases[] = {
      {"TYPE I", tmImage},  {"type i", tmImage}, {"TYPE A", tmAscii}, {"TYPE A N", tmAscii},
      {"TYPE E", tmAscii},  {"TYPE L 8", tmLocal8}, {"TYPE  I", tmImage}, {"TYPE X", 0},
      {"TYPE", 0},          {"TYPES I", 0},      {"NOOP", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TransferTypeOfCommand(c.command).value_or(0), c.type) << c.command;
  }
}

TEST(LocalNameForDownload, ThePartAfterTheLastSeparatorAndNeverAnEscape) {
  const std::string hyou = platform::Utf8ToCp932("表");  // its second byte is a backslash
  struct Case {
    std::string remote;
    std::string local;  // empty: refused
  } cases[] = {
      {"a.txt", "a.txt"},          {"dir/sub/name", "name"},  {"/abs/name", "name"},
      {"dir\\name", "name"},      {hyou + ".txt", hyou + ".txt"}, {"d/" + hyou, hyou},
      {"..", ""},                  {".", ""},                 {"/", ""},
      {"dir/", ""},                {"a/..", ""},              {"", ""},
      {"\x81/etc", ""},            {std::string("a\0b", 3), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LocalNameForDownload(c.remote).value_or(""), c.local) << c.remote;
  }
}

TEST(ParsePasvPort, TakesTheFifthAndSixthFields) {
  struct Case {
    const char* reply;
    uint16_t port;
  } cases[] = {
      {"227 Entering Passive Mode (10,0,0,5,19,137)\r\n", 5001},
      {"227 Entering Passive Mode (127,0,0,1,0,21).", 21},
      {"227 =127,0,0,1,255,255\r\n", 65535},
      {"425 Can't open (1,2,3,4,0,1)\r\n", 1},  // the code is not looked at
      {"227 (1,2,3,4, 19 ,137 )\r\n", 5001},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePasvPort(c.reply), c.port) << c.reply;
}

TEST(ParsePasvPort, RefusesRepliesWithoutTheSixNumbers) {
  const char* bad[] = {"227 Entering Passive Mode\r\n", "502 Command not implemented.\r\n",
                       "227 (1,2,3,4,5)\r\n", "227 (1,2,3,4,x,7)\r\n", "227 (1,2,3,4,256,0)\r\n",
                       "227 (1,2,3,4,-1,0)\r\n", "", "227 (1,2,3,4,5,99999999999999)"};
  for (const char* reply : bad) EXPECT_THROW(ParsePasvPort(reply), EConvertError) << reply;
  try {
    ParsePasvPort("227 (1,2,3,4,x,7)");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), platform::Utf8ToCp932("'x' は整数ではありません"));
  }
}

TEST(ParseAnnouncedSize, OnlyACountInParenthesesAtTheEndIsExact) {
  constexpr std::optional<int64_t> none;
  struct Case {
    const char* reply;
    std::optional<int64_t> exact;
    std::optional<int64_t> estimate;
  } cases[] = {
      // What servers in use send (vsftpd, proftpd, pure-ftpd, pyftpdlib), and older ones.
      {"150 Opening BINARY mode data connection for report.pdf (48213 bytes).\r\n", 48213, 48213},
      {"150 Opening BINARY mode data connection for dump-99999bytes.txt (12 bytes).\r\n", 12, 12},
      {"150 Opening ASCII mode data connection for a.txt (7 bytes)\r\n", 7, 7},
      {"150 Opening BINARY mode data connection for big.iso (4831838208 bytes)\r\n", 4831838208,
       4831838208},
      {"150 5859.4 kbytes to download\r\n", none, 6000025},
      {"150 Accepted data connection\r\n", none, none},
      {"150 File status okay. About to open data connection.\r\n", none, none},
      {"125 Data connection already open; Transfer starting.\r\n", none, none},
      {"150 Opening BINARY mode data connection for file.bin (1234 Bytes)\r\n", 1234, 1234},
      {"150 Opening data connection for one (1 byte).", 1, 1},
      {"150 Opening data connection for empty (0 bytes).", 0, 0},
      // Digits that are not the count at the end.
      {"150 Opening data connection for dump-99999bytes.txt", none, none},
      {"150 Opening data connection for 123 bytes.txt", none, 123},
      {"150 (12 bytes) for a.txt", none, 12},
      {"150 for (a 12 bytes)", none, 12},
      {"150 for x(12 bytes)", 12, 12},
      {"150 (12bytes)", none, 12},
      {"150 (-12 bytes)", none, none},
      {"150 (+12 bytes)", none, none},
      {"150 ( bytes)", none, none},
      {"150 (1.5 bytes)", none, 1},
      {"150 (99999999999999999999 bytes)", none, none},
      {"150 (9223372036854775807 bytes)", INT64_MAX, INT64_MAX},
      {"bytes)", none, none},
      {"", none, none},
  };
  for (const auto& c : cases) {
    const AnnouncedSize size = ParseAnnouncedSize(c.reply);
    EXPECT_EQ(size.exact, c.exact) << c.reply;
    EXPECT_EQ(size.estimate, c.estimate) << c.reply;
  }
}

TEST(VendorFromSystReply, FirstKnownTextInTheFixedOrder) {
  struct Case {
    const char* reply;
    int vendor;
  } cases[] = {
      {"215 UNIX Type: L8", kVendorUnix},
      {"215 NETWARE Type: L8", kVendorNetware},
      {"215 MS-DOS", kVendorDos},
      {"215 VMS system", kVendorVms},
      {"215 MVS is the operating system of this server", kVendorMvs},
      {"215 VM/CMS", kVendorVm},
      {"215 MACOS Peter's Server", kVendorMacOs},
      {"215 OS/400 is the remote operating system", kVendorOs400},
      {"215 Windows_NT", kVendorOther},
      {"215 unix", kVendorOther},  // compared with case
      {"215 UNIX emulated by DOS", kVendorUnix},
  };
  for (const auto& c : cases) EXPECT_EQ(VendorFromSystReply(c.reply), c.vendor) << c.reply;
}

TEST(ClassifyCommand, FirstWordWithCase) {
  struct Case {
    const char* command;
    TCmdType type;
  } cases[] = {
      {"CWD pub", TCmdType::cmdChangeDir}, {"CWD", TCmdType::cmdChangeDir},
      {"cwd pub", TCmdType::cmdOther},     {"DELE a", TCmdType::cmdDelete},
      {"MKD d", TCmdType::cmdMakeDir},     {"RMD d", TCmdType::cmdRemoveDir},
      {"PWD", TCmdType::cmdPrintDir},      {"PWD x", TCmdType::cmdOther},
      {"TYPE A", TCmdType::cmdOther},      {"CWDX pub", TCmdType::cmdOther},
      {"", TCmdType::cmdOther},            {" CWD pub", TCmdType::cmdOther},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyCommand(c.command), c.type) << c.command;
}

}  // namespace
}  // namespace tarnex
