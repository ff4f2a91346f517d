#include "ftpclient/sftp_launch.h"

#include <memory>
#include <optional>
#include <system_error>

#include "platform/errors.h"
#include "ssh/ssh_auth_channel.h"
#include "ssh/ssh_failure.h"
#include "ssh/ssh_helper_path.h"

namespace tarnex {

TProtoSFTP::Launch MakeSftpLaunch(const ssh::SshOptions& options, const SftpLogin& login) {
  std::shared_ptr<ssh::SshAuthChannel> channel;
  try {
    channel = std::make_shared<ssh::SshAuthChannel>(
        login.password.empty() ? std::nullopt : std::optional<std::string>(login.password));
  } catch (const std::system_error& error) {
    throw Exception(std::string("SFTP: no private folder for ssh's questions: ") + error.what());
  }
  const ssh::SshTarget target{login.host, static_cast<uint16_t>(login.port), login.user,
                              !login.password.empty(), static_cast<int>(login.timeout_seconds)};
  const ssh::SshPlaces places{"ssh", ssh::FindSshHelper(), channel->SocketPath()};
  ssh::SshLaunchPlan plan = ssh::MakeSshLaunchPlan(options, target, places);
  if (!plan.Ok()) throw Exception(plan.error);

  TProtoSFTP::Launch launch;
  launch.argv = std::move(plan.argv);
  launch.env = std::move(plan.env);
  launch.keep_alive = channel;
  launch.explain_failure = [channel, host = login.host, port = target.port,
                            pin = options.host_key_pin](const std::vector<std::string>& lines) {
    const ssh::SshFailureFacts facts{host, port, lines, channel->OfferedKeys(), pin};
    std::string message;
    for (const std::string& line : ssh::DescribeSshFailure(facts)) {
      if (!message.empty()) message += "\n";
      message += line;
    }
    return message;
  };
  return launch;
}

}  // namespace tarnex
