#include "ssh/ssh_launch_plan.h"

#include "ssh/ssh_channel_protocol.h"
#include "ssh/ssh_config_word.h"
#include "ssh/ssh_helper_path.h"
#include "ssh/ssh_host_key.h"
#include "ssh/ssh_names.h"

namespace tarnex::ssh {
namespace {

SshLaunchPlan Refused(std::string why) {
  SshLaunchPlan plan;
  plan.error = std::move(why);
  return plan;
}

// Empty when every path can be handed to ssh, else which one cannot and why.
std::string CheckPaths(const SshOptions& options, const SshPlaces& places) {
  const std::pair<const char*, const std::string*> paths[] = {
      {"--ssh-key", &options.key_file},
      {"--ssh-known-hosts", &options.known_hosts_file},
      {"--ssh-config", &options.config_file},
      {"the ssh helper", &places.helper},
  };
  for (const auto& [name, path] : paths) {
    if (path->empty()) continue;
    if (std::string why = CheckPathForSsh(*path); !why.empty()) return std::string(name) + ": " + why;
  }
  if (places.helper.empty()) {
    return "tarnex-ssh-helper is not installed (in libexec/tarnex/), or " +
           std::string(kHelperVariable) + " names no program";
  }
  return {};
}

class ArgvBuilder {
 public:
  void Add(std::string arg) { argv_.push_back(std::move(arg)); }
  void Option(const std::string& keyword, const std::string& value) {
    argv_.push_back("-o");
    argv_.push_back(keyword + "=" + value);
  }
  std::vector<std::string> Take() { return std::move(argv_); }

 private:
  std::vector<std::string> argv_;
};

// What a login must never do however ssh's config is set: forward anything, run a local
// command, ask on a terminal, or ride on a shared connection whose host key and login were
// checked by somebody else's rules.
void AddFixedOptions(ArgvBuilder& argv) {
  argv.Add("-x");  // no X11 forwarding
  argv.Add("-a");  // no agent forwarding
  argv.Add("-T");  // no terminal
  argv.Option("ClearAllForwardings", "yes");
  argv.Option("PermitLocalCommand", "no");
  argv.Option("ControlMaster", "no");
  argv.Option("ControlPath", "none");
  // Errors only: the lines a failed login is explained from, without the chatter of INFO
  // ("Warning: Permanently added ...").
  argv.Option("LogLevel", "ERROR");
}

void AddHostKeyOptions(ArgvBuilder& argv, const SshOptions& options, const SshPlaces& places) {
  const std::string helper = QuotedPath(places.helper) + " known-hosts";
  // ssh fills in the host as looked up ("[host]:port" off port 22), the key's type, the key
  // and its fingerprint; it runs the command once more without a key ("NONE") to order its
  // algorithms.
  const std::string tokens = " %H %t %K %f";
  if (!options.host_key_pin.empty()) {
    // The pinned key is the only one trusted: no file is read, and the helper vouches for the
    // offered key only when its fingerprint is the pin.
    argv.Option("StrictHostKeyChecking", "yes");
    argv.Option("UserKnownHostsFile", "none");
    argv.Option("GlobalKnownHostsFile", "none");
    argv.Option("KnownHostsCommand", helper + " --pin " + options.host_key_pin + tokens);
    return;
  }
  argv.Option("StrictHostKeyChecking", options.accept_new ? "accept-new" : "yes");
  if (!options.known_hosts_file.empty()) {
    argv.Option("UserKnownHostsFile", QuotedPathWithTokens(options.known_hosts_file));
  }
  // Vouches for nothing; it tells Tarnex which key was offered, so that a failure can name it.
  argv.Option("KnownHostsCommand", helper + tokens);
}

void AddTimeOptions(ArgvBuilder& argv, int timeout_seconds) {
  if (timeout_seconds <= 0) return;
  argv.Option("ConnectTimeout", std::to_string(timeout_seconds));
  // A server silent for three probes is gone: about the time-out, at least a second apart.
  constexpr int kProbes = 3;
  const int interval = std::max(1, (timeout_seconds + kProbes - 1) / kProbes);
  argv.Option("ServerAliveInterval", std::to_string(interval));
  argv.Option("ServerAliveCountMax", std::to_string(kProbes));
}

}  // namespace

SshLaunchPlan MakeSshLaunchPlan(const SshOptions& options, const SshTarget& target,
                                const SshPlaces& places) {
  if (std::string why = CheckHost(target.host); !why.empty()) return Refused(why);
  if (std::string why = CheckUser(target.user); !why.empty()) return Refused(why);
  if (!options.host_key_pin.empty() && !IsHostKeyPin(options.host_key_pin)) {
    return Refused("--ssh-hostkey \"" + options.host_key_pin +
                   "\" is no SHA256 fingerprint (SHA256: and 43 base64 characters, as "
                   "ssh-keygen -l prints it)");
  }
  if (std::string why = CheckPaths(options, places); !why.empty()) return Refused(why);

  SshLaunchPlan plan;
  ArgvBuilder argv;
  argv.Add(places.ssh_program);
  if (!options.config_file.empty()) {
    argv.Add("-F");
    argv.Add(options.config_file);
  }
  AddFixedOptions(argv);
  if (target.port != 0) {
    argv.Add("-p");
    argv.Add(std::to_string(target.port));
  }
  if (!target.user.empty()) {
    argv.Add("-l");
    argv.Add(target.user);
  }
  if (!options.key_file.empty()) {
    // As an option rather than -i, so that a "%" in the path survives ssh's token expansion.
    argv.Option("IdentityFile", QuotedPathWithTokens(options.key_file));
    argv.Option("IdentitiesOnly", "yes");
  }
  AddHostKeyOptions(argv, options, places);
  AddTimeOptions(argv, target.timeout_seconds);
  if (target.password_given) {
    // ssh asks the helper for the password (and for anything else it would ask on a
    // terminal); the helper asks Tarnex over the channel. Keys still go first.
    argv.Option("BatchMode", "no");
    argv.Option("NumberOfPasswordPrompts", "1");
    plan.env.emplace_back("SSH_ASKPASS", places.helper);
    // "force" uses the helper with or without a display.
    plan.env.emplace_back("SSH_ASKPASS_REQUIRE", "force");
  } else {
    argv.Option("BatchMode", "yes");
  }
  plan.env.emplace_back(kChannelVariable, places.channel_socket);
  // The host must come after every option, and -s before it: `ssh [options] -s HOST sftp`.
  argv.Add("-s");
  argv.Add(target.host);
  argv.Add("sftp");
  plan.argv = argv.Take();
  return plan;
}

}  // namespace tarnex::ssh
