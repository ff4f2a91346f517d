// The runner's pure parts: its command line, the stored options it sets, the progress text,
// the journal's stream name, the local time, first lines of files and the summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/journal_stream.h"
#include "app/line_prefix.h"
#include "app/progress_line.h"
#include "app/run_summary.h"
#include "app/run_variables.h"
#include "app/runner_options.h"
#include "app/stored_options.h"
#include "tests/support/temp_dir.h"

namespace tarnex::app {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

TEST(ParseCommandLine, AcceptsEveryFormOfEveryOption) {
  struct Case {
    const char* line;
    void (*check)(const RunnerOptions&);
  };
  const Case cases[] = {
      {"--timeout=30 --debug --trace --registry=r.db job.fcs",
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.timeout, 30);
         EXPECT_EQ(o.registry, "r.db");
         EXPECT_TRUE(o.debug && o.trace);
         EXPECT_EQ(o.script, "job.fcs");
       }},
      {"job.fcs --timeout 86399 --registry r.db",  // options after the script too
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.timeout, 86399);
         EXPECT_EQ(o.registry, "r.db");
         EXPECT_EQ(o.step_delay, 0);  // no pause unless asked for
       }},
      {"--step-delay=10000 s", [](const RunnerOptions& o) { EXPECT_EQ(o.step_delay, 10000); }},
      {"--step-delay 0 s", [](const RunnerOptions& o) { EXPECT_EQ(o.step_delay, 0); }},
      {"--parallel=16 s", [](const RunnerOptions& o) { EXPECT_EQ(o.parallel, 16); }},
      {"s", [](const RunnerOptions& o) { EXPECT_EQ(o.parallel, std::nullopt); }},
      {"--set a=1 --set=b=x=y -- --odd.fcs",
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.variables, (std::vector<RunVariable>{{"a", "1"}, {"b", "x=y"}}));
         EXPECT_EQ(o.script, "--odd.fcs");
       }},
      {"--encoding UTF-8 --strict --exit-status=last --log out.log --no-progress s",
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.encoding, ScriptEncodingChoice::Utf8);
         EXPECT_TRUE(o.strict);
         EXPECT_EQ(o.exit_status, ExitStatusRule::Last);
         EXPECT_EQ(o.log_file, "out.log");
         EXPECT_FALSE(o.progress);
       }},
      {"--passive --active --remote-encoding auto s",  // the last of the two wins
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.passive, false);
         EXPECT_EQ(o.remote_encoding, RemoteEncoding::Auto);
       }},
      {"--set-option timeout=60 --set-option Passive=on --list-settings",
       [](const RunnerOptions& o) {
         EXPECT_TRUE(o.list_settings);
         EXPECT_EQ(o.set_options,
                   (std::vector<OptionAssignment>{{"Timeout", 60}, {"Passive", true}}));
         EXPECT_EQ(o.script, "");
       }},
      {"--set-from-file p=/run/cred/pw --set-from-env=q=FTP_PW --set r=1 --netrc-file n s",
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.variables, (std::vector<RunVariable>{
                                    {"p", "/run/cred/pw", VariableSource::File},
                                    {"q", "FTP_PW", VariableSource::Environment},
                                    {"r", "1", VariableSource::Value}}));
         EXPECT_EQ(o.netrc_file, "n");
       }},
      {"--timestamps --quiet --summary-json=run.json s",
       [](const RunnerOptions& o) {
         EXPECT_TRUE(o.timestamps && o.quiet);
         EXPECT_EQ(o.summary_json, "run.json");
       }},
      {"--protocol SFTP --ssh-key k --ssh-known-hosts kh --ssh-hostkey=SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s --ssh-accept-new "
       "--ssh-config c s",
       [](const RunnerOptions& o) {
         EXPECT_EQ(o.protocol, RemoteProtocol::Sftp);
         EXPECT_EQ(o.ssh_key_file, "k");
         EXPECT_EQ(o.ssh_known_hosts_file, "kh");
         EXPECT_EQ(o.ssh_host_key, "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
         EXPECT_TRUE(o.ssh_accept_new);
         EXPECT_EQ(o.ssh_config_file, "c");
       }},
      {"-h", [](const RunnerOptions& o) { EXPECT_TRUE(o.help); }},
      {"-V x y", [](const RunnerOptions& o) { EXPECT_TRUE(o.version); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ParsedCommandLine parsed = ParseCommandLine(Words(c.line));
    EXPECT_EQ(parsed.error, "");
    c.check(parsed.options);
  }
}

TEST(ParseCommandLine, RefusesWhatIsWrongWithAClearMessage) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"", "no script given"},
      {"a.fcs b.fcs", "only one script can be run"},
      {"--bogus a.fcs", "unknown option --bogus"},
      {"-x a.fcs", "unknown option -x"},
      {"a.fcs --registry", "option --registry needs a value"},
      {"--debug=yes a.fcs", "option --debug takes no value"},
      {"--timeout 0 a", "--timeout needs whole seconds from 1 to 86399, not '0'"},
      {"--timeout 86400 a", "--timeout needs whole seconds from 1 to 86399, not '86400'"},
      {"--timeout 1s a", "--timeout needs whole seconds from 1 to 86399, not '1s'"},
      {"--step-delay 10001 a", "--step-delay needs milliseconds from 0 to 10000, not '10001'"},
      {"--step-delay -1 a", "--step-delay needs milliseconds from 0 to 10000, not '-1'"},
      {"--step-delay 0.5 a", "--step-delay needs milliseconds from 0 to 10000, not '0.5'"},
      {"--parallel 0 a", "--parallel needs a number of connections from 1 to 16, not '0'"},
      {"--parallel 17 a", "--parallel needs a number of connections from 1 to 16, not '17'"},
      {"--encoding latin1 a", "--encoding takes auto, cp932 or utf-8, not 'latin1'"},
      {"--exit-status all a", "--exit-status takes any or last, not 'all'"},
      {"--remote-encoding sjis a", "--remote-encoding takes cp932, utf-8 or auto, not 'sjis'"},
      {"--set novalue a", "--set needs NAME=VALUE"},
      {"--set-from-file pw a", "--set-from-file needs NAME=FILE"},
      {"--set-from-env pw a", "--set-from-env needs NAME=VARIABLE"},
      {"--netrc-file= a", "--netrc-file needs a file name"},
      {"--summary-json= a", "--summary-json needs a file name"},
      {"--quiet=yes a", "option --quiet takes no value"},
      {"--list-settings a.fcs", "--list-settings and --set-option run no script"},
      {"--set-option Timeout=4", "--set-option Timeout: 4 is out of range (from 5 to 200)"},
      {"--protocol scp a", "--protocol takes ftp or sftp, not 'scp'"},
      {"--ssh-key= a", "--ssh-key needs a file name"},
      {"--ssh-hostkey AB:CD a",
       "--ssh-hostkey takes a host key fingerprint as ssh shows it (SHA256: and 43 characters), "
       "not 'AB:CD'"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCommandLine(Words(c.line)).error, c.error) << c.line;
}

TEST(ParseOptionAssignment, TakesStoredNamesAndTheDialogsRanges) {
  const struct {
    const char* text;
    std::optional<OptionAssignment> expected;
  } cases[] = {
      {"sendwait=ON", OptionAssignment{"Sendwait", true}},
      {"Runmode=0", OptionAssignment{"Runmode", false}},
      {"WaitSec=60", OptionAssignment{"WaitSec", 60}},
      {"WaitSec=61", std::nullopt},
      {"Waitsize=3", std::nullopt},
      {"Timeout=5", OptionAssignment{"Timeout", 5}},
      {"Timeout=ten", std::nullopt},
      {"stepdelay=0", OptionAssignment{"StepDelay", 0}},
      {"StepDelay=10000", OptionAssignment{"StepDelay", 10000}},
      {"StepDelay=10001", std::nullopt},
      {"parallel=16", OptionAssignment{"Parallel", 16}},
      {"Parallel=0", std::nullopt},
      {"Logsave=ログ.log", OptionAssignment{"Logsave", std::string("\x83\x8D\x83\x4F.log")}},
      {"Logsave=café.log", std::nullopt},  // the store keeps CP932, which has no é
      {"RemoteEncoding=utf-8", OptionAssignment{"RemoteEncoding", RemoteEncoding::Utf8}},
      {"protocol=SFTP", OptionAssignment{"Protocol", RemoteProtocol::Sftp}},
      {"Protocol=scp", std::nullopt},
      {"SshHostKey=", OptionAssignment{"SshHostKey", std::string()}},
      {"SshHostKey=SHA256:x", std::nullopt},
      {"sshacceptnew=yes", OptionAssignment{"SshAcceptNew", true}},
      {"cb_debugmode=2", std::nullopt},
      {"Colour=1", std::nullopt},
      {"Timeout", std::nullopt},
  };
  for (const auto& c : cases) {
    const ParsedAssignment parsed = ParseOptionAssignment(c.text);
    EXPECT_EQ(parsed.assignment, c.expected) << c.text;
    EXPECT_EQ(parsed.error.empty(), c.expected.has_value()) << c.text << ": " << parsed.error;
  }
}

TEST(ProgressText, ShowsBytesRateAndPercentageWhenKnown) {
  const struct {
    TransferDirection direction;
    int64_t bytes, total;
    int32_t ms;
    const char* text;
  } cases[] = {
      {TransferDirection::Receiving, 1048576, 4194304, 2000,
       "receiving 1048576 of 4194304 bytes (25%) at 512.0 KiB/s"},
      {TransferDirection::Sending, 500, 0, 1000, "sending 500 bytes at 500 B/s"},
      {TransferDirection::Receiving, 10, 0, 0, "receiving 10 bytes"},
      {TransferDirection::Receiving, 120, 100, 1000,
       "receiving 120 of 100 bytes (100%) at 120 B/s"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressText(c.direction, c.bytes, c.total, c.ms), c.text);
}

TEST(ProgressLine, IsDrawnInPlaceAndTakenAwayWhole) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ProgressLine silent(out);
  silent.Update(TransferDirection::Sending, 1, 0, 0);  // not enabled: nothing
  ProgressLine line(out);
  line.Enable();
  line.Update(TransferDirection::Sending, 1, 0, 0);
  line.Clear();
  line.Clear();  // nothing left to clear
  std::string written(256, '\0');
  std::rewind(out);
  written.resize(std::fread(written.data(), 1, written.size(), out));
  std::fclose(out);
  EXPECT_EQ(written, "\rsending 1 bytes\r" + std::string(15, ' ') + "\r");
}

TEST(ParseJournalStream, TakesDeviceAndInodeInDecimal) {
  const struct {
    const char* text;
    std::optional<StreamId> id;
  } cases[] = {
      {"8:123456", StreamId{8, 123456}},
      {"0:0", StreamId{0, 0}},
      {"8:", std::nullopt},
      {":5", std::nullopt},
      {"8;5", std::nullopt},
      {"8:5x", std::nullopt},
      {"-1:5", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseJournalStream(c.text), c.id) << c.text;
}

TEST(IsoLocalTime, GivesTheOffsetWithAColon) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  const struct {
    const char* zone;  // POSIX zones: no time zone files needed
    const char* text;
  } cases[] = {
      {"UTC0", "2026-12-08T17:36:01+00:00"},
      {"JST-9", "2026-12-09T02:36:01+09:00"},
      {"NST3:30", "2026-12-08T14:06:01-03:30"},
  };
  for (const auto& c : cases) {
    ::setenv("TZ", c.zone, 1);
    ::tzset();
    EXPECT_EQ(IsoLocalTime(1796751361), c.text) << c.zone;
  }
  if (saved) {
    ::setenv("TZ", before.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(ReadFirstLine, TakesTheLineWithoutItsEnd) {
  testing::TempDir dir;
  const struct {
    std::string bytes;
    std::string text;
    const char* error;  // part of it
  } cases[] = {
      {"pw\nnext\n", "pw", ""},
      {"pw\r\n", "pw", ""},
      {"p w\t", "p w\t", ""},
      {"", "", ""},
      {"\n", "", ""},
      {std::string("a\0b\n", 4), "", "holds a NUL byte"},
      {std::string(kMaxFirstLineBytes, 'x') + "\n", std::string(kMaxFirstLineBytes, 'x'), ""},
      {std::string(kMaxFirstLineBytes + 1, 'x'), "", "is longer than 65536 bytes"},
  };
  for (const auto& c : cases) {
    std::ofstream(dir / "f", std::ios::binary | std::ios::trunc) << c.bytes;
    const FirstLine line = ReadFirstLine(dir / "f");
    EXPECT_EQ(line.text, c.text) << c.bytes.size();
    EXPECT_NE(line.error.find(c.error), std::string::npos) << line.error;
    EXPECT_EQ(line.error.empty(), *c.error == '\0') << line.error;
  }
  EXPECT_NE(ReadFirstLine(dir / "none").error.find("no such file"), std::string::npos);
}

TEST(SummaryJson, HoldsEveryFieldAndSurvivesBytesThatAreNoUtf8) {
  RunSummary summary;
  summary.script = "jobs/nightly.fcs";
  summary.exit_status = 1;
  summary.lines_run = 9;
  summary.commands_run = 7;
  summary.failures = {{4, "Get \xff.txt", "550 \xff.txt: No such file"}};
  summary.downloaded = {2, 1048576};
  summary.uploaded = {1, 12};
  summary.warnings = {"line 3: unknown command 'Gett'"};
  const auto json = nlohmann::json::parse(SummaryJson(summary));
  EXPECT_EQ(json["script"], "jobs/nightly.fcs");
  EXPECT_EQ(json["exit_status"], 1);
  EXPECT_EQ(json["lines_run"], 9);
  EXPECT_EQ(json["commands"], nlohmann::json({{"run", 7}, {"failed", 1}}));
  EXPECT_EQ(json["failures"][0]["line"], 4);
  EXPECT_EQ(json["failures"][0]["command"], "Get \xEF\xBF\xBD.txt");  // U+FFFD
  EXPECT_EQ(json["downloaded"], nlohmann::json({{"files", 2}, {"bytes", 1048576}}));
  EXPECT_EQ(json["uploaded"], nlohmann::json({{"files", 1}, {"bytes", 12}}));
  EXPECT_EQ(json["warnings"], nlohmann::json({"line 3: unknown command 'Gett'"}));
  EXPECT_TRUE(json["error"].is_null());
  EXPECT_EQ(json.size(), 11u);
}

}  // namespace
}  // namespace tarnex::app
