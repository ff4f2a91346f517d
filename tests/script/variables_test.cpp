#include "script/variables.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/errors.h"
#include "platform/text_encoding.h"
#include "tests/support/temp_dir.h"

namespace tarnex::script {
namespace {

TEST(ExpandVariables, SubstitutesEscapesAndKeepsUnterminatedReferences) {
  std::map<std::string, std::string> vars{
      {"host", "ftp1"}, {"x", "X"}, {"", "default"}, {" x ", "spaced"}, {"a%b", "pct"},
      {"\x95\x5C", "hyo"}};
  auto read = [&](const std::string& name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Open %host% NONE 21", "Open ftp1 NONE 21"},
      {"100\\%", "100%"},
      {"a%b", "a%b"},
      {"C:\\dir\\%x%", "C:\\dir%x%"},
      {"%unset%end", "end"},
      {"%%", "default"},
      {"% x %", "spaced"},
      {"%a\\%b%", "pct"},  // an escaped percent inside a name
      {"\\a\\", "\\a\\"},
      {"%x%%x%", "XX"},
      {"\x95\x5C%x%", "\x95\x5CX"},       // 0x5C after a lead byte is no backslash
      {"\x95\x5C%\x95\x5C%", "\x95\x5Chyo"},
      {"%\x95", "%\x95"},                  // a lead byte at the very end
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandVariables(c.in, read), c.out) << c.in;
}

TEST(Variables, ARunsOwnValueIsReadFirstAndNeverStored) {
  testing::TempDir dir;
  auto store = std::make_shared<platform::RegistryStore>(dir / "registry.db");
  Variables stored(store);
  stored.Write("host=stored-host");
  stored.Write("user=stored-user");

  Variables run(store);
  run.SetRunValue("HOST", "run-host");  // names compare without case, as stored names do
  run.SetRunValue("password", "secret");
  run.SetRunValue("user", "");
  EXPECT_EQ(run.Read("host"), "run-host");
  EXPECT_EQ(run.Read("password"), "secret");
  EXPECT_EQ(run.Read("user"), "");
  // Nothing of the run's values reached the store; what it held is untouched.
  Variables after(store);
  EXPECT_EQ(after.Read("host"), "stored-host");
  EXPECT_EQ(after.Read("password"), "");
  EXPECT_EQ(after.Read("user"), "stored-user");
  // A script's own set writes the store and is what the script reads from then on.
  run.Write("host=set-by-script");
  EXPECT_EQ(run.Read("host"), "set-by-script");
  EXPECT_EQ(after.Read("host"), "set-by-script");
}

TEST(ExpandVariables, AUtf8LineKeepsItsBackslashesAndPercents) {
  platform::ScopedTextEncoding utf8(platform::TextEncoding::Utf8);
  // あ ends in 0x82, a CP932 lead byte: read as CP932 it would swallow the "\" or "%" after it.
  const auto read = [](const std::string& name) {
    return name == "あ" ? std::string("v") : std::string();
  };
  EXPECT_EQ(ExpandVariables("あ\\%あ%", read), "あ%あ%");
  EXPECT_EQ(ExpandVariables("%あ%é", read), "vé");
}

// A UTF-8 run meets the store, which holds CP932 for the desktop program, at its boundary.
TEST(Variables, AUtf8RunConvertsAtTheStoreAndNeverStoresAMangledValue) {
  testing::TempDir dir;
  auto store = std::make_shared<platform::RegistryStore>(dir / "registry.db");
  Variables variables(store);
  const auto raw = [&](const std::string& name) {
    platform::Registry registry(store);
    registry.OpenKey(kVariablesKey, true);
    return registry.ValueExists(name) ? registry.ReadString(name) : std::string("<none>");
  };
  const auto error_of = [&](auto call) -> std::string {
    try {
      call();
    } catch (const Exception& e) {
      return e.Message();
    }
    return "";
  };
  platform::ScopedTextEncoding utf8(platform::TextEncoding::Utf8);
  variables.Write("表=ソ能");
  EXPECT_EQ(raw("\x95\x5C"), "\x83\x5C\x94\x5C");  // what the desktop program reads
  EXPECT_EQ(variables.Read("表"), "ソ能");

  const struct {
    const char* word;
    const char* error;
  } refused[] = {
      {"nom=café", "variable 'nom': its value has a character CP932 cannot hold"},
      {"€=x", "variable '€': its name has a character CP932 cannot hold"},
  };
  for (const auto& c : refused) EXPECT_EQ(error_of([&] { variables.Write(c.word); }), c.error);
  EXPECT_EQ(raw("nom"), "<none>");
  EXPECT_EQ(variables.Read("€"), "");  // never stored, so never there

  {
    platform::Registry registry(store);
    registry.OpenKey(kVariablesKey, true);
    registry.WriteString("bad", "\x81");  // not CP932
    registry.WriteInteger("number", 5);
  }
  EXPECT_EQ(error_of([&] { variables.Read("bad"); }),
            "variable 'bad': its stored value is not valid CP932");
  EXPECT_EQ(error_of([&] { variables.Read("number"); }), "'number' のデータ型が不正です");
  variables.Write("表=");  // deletes
  EXPECT_EQ(raw("\x95\x5C"), "<none>");
}

}  // namespace
}  // namespace tarnex::script
