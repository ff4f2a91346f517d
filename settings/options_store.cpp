#include "settings/options_store.h"

#include <charconv>
#include <string>

namespace tarnex::settings {
namespace {

using platform::Registry;

bool ReadBoolOr(Registry& registry, std::string_view name, bool absent) {
  return registry.ValueExists(name) ? registry.ReadBool(name) : absent;
}

int ReadIntegerOr(Registry& registry, std::string_view name, int absent) {
  return registry.ValueExists(name) ? registry.ReadInteger(name) : absent;
}

}  // namespace

int SpinRange::ValueFromText(std::string_view text) const {
  // As a number is typed: blanks before it, an optional sign, decimal digits and nothing else.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return min;
  return value;
}

void FillDefaultLogName(LiveSettings& settings) {
  if (settings.ch_logsave && settings.Ed_logsave.empty()) settings.Ed_logsave = kDefaultLogName;
}

void Load(LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  // A key that cannot be opened holds no values: every setting takes its default.
  registry.OpenKey(kOptionsKey, true);

  settings.ch_runmode = ReadIntegerOr(registry, "Runmode", 0) == 1;
  settings.Ed_logsave = registry.ValueExists("Logsave") ? registry.ReadString("Logsave") : "";
  // The name is read first, so a stored name survives; an empty one with saving on is filled.
  settings.ch_logsave = ReadBoolOr(registry, "ch_Logsave", false);
  FillDefaultLogName(settings);
  settings.cb_progress = ReadBoolOr(registry, "cb_progress", false);
  settings.cb_showbutton = ReadBoolOr(registry, "cb_showbutton", false);
  settings.cb_debugmode = ReadBoolOr(registry, "cb_debugmode", false);
  settings.cb_wait = registry.ValueExists("SendWait") && registry.ReadBool("Sendwait");
  settings.sp_Wsize = kWaitSizeRange.Clamp(ReadIntegerOr(registry, "WaitSize", 0));
  settings.sp_Wsec = kWaitSecRange.Clamp(ReadIntegerOr(registry, "WaitSec", 0));
  settings.Ed_timeout = kTimeoutRange.Clamp(ReadIntegerOr(registry, "Timeout", 10));
  registry.CloseKey();
}

void Store(const LiveSettings& settings, const std::shared_ptr<platform::RegistryStore>& store) {
  Registry registry(store, platform::RootKey::LocalMachine);
  // A key that cannot be opened fails at the first write, naming "Runmode".
  registry.OpenKey(kOptionsKey, true);
  registry.WriteInteger("Runmode", settings.ch_runmode ? 1 : 0);
  registry.WriteString("Logsave", settings.Ed_logsave);
  registry.WriteBool("ch_Logsave", settings.ch_logsave);
  registry.WriteBool("cb_debugmode", settings.cb_debugmode);
  registry.WriteBool("cb_progress", settings.cb_progress);
  registry.WriteBool("cb_showbutton", settings.cb_showbutton);
  registry.WriteBool("Sendwait", settings.cb_wait);
  registry.WriteInteger("Waitsize", settings.sp_Wsize);
  registry.WriteInteger("WaitSec", settings.sp_Wsec);
  registry.WriteInteger("Timeout", settings.Ed_timeout);
  registry.CloseKey();
}

}  // namespace tarnex::settings
