#include "settings/options_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/errors.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace tarnex::settings {
namespace {

class OptionsStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<platform::Registry> Options() {
    auto registry = std::make_unique<platform::Registry>(store_);
    EXPECT_TRUE(registry->OpenKey(kOptionsKey, true));
    return registry;
  }
  void PutInteger(const std::string& name, int value) { Options()->WriteInteger(name, value); }
  void PutString(const std::string& name, const std::string& value) {
    Options()->WriteString(name, value);
  }
  LiveSettings Loaded() {
    LiveSettings settings;
    Load(settings, store_);
    return settings;
  }

  tarnex::testing::TempDir dir_;
  std::shared_ptr<platform::RegistryStore> store_ =
      std::make_shared<platform::RegistryStore>(dir_ / "registry.db");
};

TEST_F(OptionsStoreTest, AbsentValuesGiveTheDefaults) {
  // Values left from an earlier load are replaced.
  LiveSettings settings{true, "x.log", true, true, true, true, true, 64, 30, 100, {}, 0};
  Load(settings, store_);
  EXPECT_FALSE(settings.ch_runmode);
  EXPECT_EQ(settings.Ed_logsave, "");
  EXPECT_FALSE(settings.ch_logsave);
  EXPECT_FALSE(settings.cb_debugmode);
  EXPECT_FALSE(settings.cb_progress);
  EXPECT_FALSE(settings.cb_showbutton);
  EXPECT_FALSE(settings.cb_wait);
  EXPECT_EQ(settings.sp_Wsize, 4);
  EXPECT_EQ(settings.sp_Wsec, 0);
  EXPECT_EQ(settings.Ed_timeout, 10);
  EXPECT_EQ(settings.StepDelay, 500);  // the pause the desktop program always made
  platform::Registry registry(store_);
  EXPECT_TRUE(registry.OpenKey("SOFTWARE\\Tarnex\\Options", false));  // created by the load
}

TEST_F(OptionsStoreTest, NumbersAreBroughtIntoTheirRanges) {
  struct Case {
    const char* name;
    int stored;
    int LiveSettings::*field;
    int loaded;
  } cases[] = {
      {"Timeout", 300, &LiveSettings::Ed_timeout, 200},
      {"Timeout", 1, &LiveSettings::Ed_timeout, 5},
      {"Timeout", 42, &LiveSettings::Ed_timeout, 42},
      {"WaitSec", 99, &LiveSettings::sp_Wsec, 60},
      {"WaitSec", -3, &LiveSettings::sp_Wsec, 0},
      {"WaitSec", 7, &LiveSettings::sp_Wsec, 7},
      {"Waitsize", 0, &LiveSettings::sp_Wsize, 4},
      {"WAITSIZE", 9000, &LiveSettings::sp_Wsize, 4096},
      {"WaitSize", 64, &LiveSettings::sp_Wsize, 64},
      {"StepDelay", 20000, &LiveSettings::StepDelay, 10000},
      {"stepdelay", -1, &LiveSettings::StepDelay, 0},
      {"StepDelay", 0, &LiveSettings::StepDelay, 0},
  };
  for (const Case& c : cases) {
    PutInteger(c.name, c.stored);
    EXPECT_EQ(Loaded().*c.field, c.loaded) << c.name << " " << c.stored;
  }
}

TEST_F(OptionsStoreTest, FlagsAndTheirReadForms) {
  struct Case {
    const char* name;
    int stored;
    bool LiveSettings::*field;
    bool loaded;
  } cases[] = {
      {"Runmode", 1, &LiveSettings::ch_runmode, true},
      {"Runmode", 0, &LiveSettings::ch_runmode, false},
      {"SendWait", 1, &LiveSettings::cb_wait, true},
      {"Sendwait", 0, &LiveSettings::cb_wait, false},
      {"sendWAIT", 1, &LiveSettings::cb_wait, true},
      {"cb_debugmode", 1, &LiveSettings::cb_debugmode, true},
      {"cb_progress", 1, &LiveSettings::cb_progress, true},
      {"cb_showbutton", 1, &LiveSettings::cb_showbutton, true},
  };
  for (const Case& c : cases) {
    PutInteger(c.name, c.stored);
    EXPECT_EQ(Loaded().*c.field, c.loaded) << c.name << " " << c.stored;
  }
}

TEST_F(OptionsStoreTest, LogSavingWithoutANameUsesTarnexLog) {
  struct Case {
    int saving;
    const char* stored_name;
    const char* loaded_name;
  } cases[] = {{1, "", "Tarnex.log"}, {1, "/var/log/t.log", "/var/log/t.log"}, {0, "", ""}};
  for (const Case& c : cases) {
    PutInteger("ch_Logsave", c.saving);
    PutString("Logsave", c.stored_name);
    const LiveSettings settings = Loaded();
    EXPECT_EQ(settings.ch_logsave, c.saving == 1);
    EXPECT_EQ(settings.Ed_logsave, c.loaded_name);
    EXPECT_EQ(Options()->ReadString("Logsave"), c.stored_name);  // the store is left alone
  }
  // Switched on in the dialog: an empty field is filled, a name kept.
  LiveSettings settings;
  settings.ch_logsave = true;
  FillDefaultLogName(settings);
  EXPECT_EQ(settings.Ed_logsave, "Tarnex.log");
  settings.Ed_logsave = "mine.log";
  FillDefaultLogName(settings);
  EXPECT_EQ(settings.Ed_logsave, "mine.log");
}

TEST_F(OptionsStoreTest, WrongTypeStopsTheLoadThere) {
  PutInteger("Runmode", 1);
  PutString("Logsave", "a.log");
  PutString("cb_showbutton", "1");  // a string where a number belongs
  PutInteger("cb_debugmode", 1);
  PutInteger("Timeout", 50);
  LiveSettings settings;
  settings.cb_debugmode = false;
  settings.Ed_timeout = 77;
  try {
    Load(settings, store_);
    ADD_FAILURE();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(),
              "'cb_showbutton' \x82\xcc\x83\x66\x81\x5b\x83\x5e\x8c\x5e\x82\xaa\x95\x73\x90\xb3"
              "\x82\xc5\x82\xb7");
  }
  EXPECT_TRUE(settings.ch_runmode);  // before it: loaded
  EXPECT_EQ(settings.Ed_logsave, "a.log");
  EXPECT_FALSE(settings.cb_debugmode);  // after it: as they were
  EXPECT_EQ(settings.Ed_timeout, 77);

  PutInteger("Logsave", 3);
  EXPECT_THROW(Loaded(), ERegistryException);
}

TEST_F(OptionsStoreTest, StoreWritesEveryValueWithItsType) {
  const LiveSettings settings{true, "\x95\x5C.log", true, true, false, true, true, 8, 3, 500, {}};
  Store(settings, store_);
  const std::unique_ptr<platform::Registry> options = Options();
  platform::Registry& registry = *options;
  EXPECT_EQ(registry.ReadInteger("Runmode"), 1);
  EXPECT_EQ(registry.ReadString("Logsave"), "\x95\x5C.log");
  EXPECT_EQ(registry.ReadInteger("ch_Logsave"), 1);
  EXPECT_EQ(registry.ReadInteger("cb_debugmode"), 1);
  EXPECT_EQ(registry.ReadInteger("cb_progress"), 0);
  EXPECT_EQ(registry.ReadInteger("cb_showbutton"), 1);
  EXPECT_EQ(registry.ReadInteger("Sendwait"), 1);
  EXPECT_EQ(registry.ReadInteger("Waitsize"), 8);
  EXPECT_EQ(registry.ReadInteger("WaitSec"), 3);
  EXPECT_EQ(registry.ReadInteger("Timeout"), 500);  // stored as typed
  EXPECT_THROW(registry.ReadString("Runmode"), ERegistryException);
  EXPECT_EQ(registry.ReadInteger(kStepDelayName), 500);  // the dialog shows it too

  LiveSettings loaded = Loaded();
  EXPECT_EQ(loaded.Ed_timeout, 200);  // brought into range when loaded
  loaded.Ed_timeout = settings.Ed_timeout;
  EXPECT_EQ(loaded.Ed_logsave, settings.Ed_logsave);
  EXPECT_EQ(loaded.ch_runmode, settings.ch_runmode);
  EXPECT_EQ(loaded.cb_progress, settings.cb_progress);
  EXPECT_EQ(loaded.cb_wait, settings.cb_wait);
  EXPECT_EQ(loaded.sp_Wsize, settings.sp_Wsize);
  EXPECT_EQ(loaded.sp_Wsec, settings.sp_Wsec);
}

TEST_F(OptionsStoreTest, UnavailableStoreLoadsDefaultsAndRefusesToStore) {
  const auto unavailable = std::make_shared<platform::RegistryStore>("/dev/null/registry.db");
  LiveSettings settings;
  settings.Ed_timeout = 30;
  Load(settings, unavailable);
  EXPECT_EQ(settings.Ed_timeout, 10);
  try {
    Store(settings, unavailable);
    ADD_FAILURE();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message().substr(0, 10), "'Runmode' ");
  }
}

TEST_F(OptionsStoreTest, ConnectionSettingsRoundTripAndUnknownTextsReadAsDefaults) {
  ConnectionSettings written;
  written.Passive = true;
  written.remote_encoding = RemoteEncoding::Auto;
  written.tls_mode = TlsMode::Explicit;
  written.tls_ca_file = "/etc/ssl/own-ca.pem";
  written.tls_fingerprint = "AB:CD";
  written.protocol = RemoteProtocol::Sftp;
  written.ssh = {"/home/u/.ssh/id_job", "/srv/known_hosts",
                 "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s", true, ""};
  StoreConnection(written, store_);
  LiveSettings loaded;
  Load(loaded, store_);  // the options load brings the connection settings too
  EXPECT_TRUE(loaded.connection.Passive);
  EXPECT_EQ(loaded.connection.remote_encoding, RemoteEncoding::Auto);
  EXPECT_EQ(loaded.connection.tls_mode, TlsMode::Explicit);
  EXPECT_EQ(loaded.connection.tls_ca_file, "/etc/ssl/own-ca.pem");
  EXPECT_EQ(loaded.connection.tls_fingerprint, "AB:CD");
  EXPECT_EQ(loaded.connection.protocol, RemoteProtocol::Sftp);
  EXPECT_EQ(loaded.connection.ssh, written.ssh);

  platform::Registry registry(store_, platform::RootKey::LocalMachine);
  registry.OpenKey(kOptionsKey, true);
  registry.WriteString(kRemoteEncodingName, "latin-1");
  registry.WriteString(kTlsModeName, "maybe");
  registry.WriteString(kProtocolName, "gopher");
  ConnectionSettings odd;
  LoadConnection(odd, store_);
  EXPECT_EQ(odd.protocol, RemoteProtocol::Ftp);
  EXPECT_EQ(odd.remote_encoding, RemoteEncoding::Cp932);
  EXPECT_EQ(odd.tls_mode, TlsMode::Off);
}

TEST(SpinRangeTest, ValueReadBackFromText) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"12", 12}, {"  7", 7}, {"500", 500}, {"-3", -3}, {"+5", 5},         {"", 5},
               {"abc", 5}, {"1x", 5},  {"7 ", 5},    {"+-3", 5}, {"99999999999", 5}};
  for (const Case& c : cases) EXPECT_EQ(kTimeoutRange.ValueFromText(c.text), c.value) << c.text;
  EXPECT_EQ(kWaitSecRange.ValueFromText("x"), 0);
  EXPECT_EQ(kWaitSizeRange.Clamp(5000), 4096);
}

}  // namespace
}  // namespace tarnex::settings
