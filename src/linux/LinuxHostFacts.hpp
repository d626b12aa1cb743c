#pragma once

#include "platform/HostFacts.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

struct LinuxHostFactsSettings {
    // Where the computer's pretty name is kept (systemd's machine-info).
    std::filesystem::path machineInfo = "/etc/machine-info";
    // The home folder; when absent, $HOME, else the user's entry in the password database.
    std::optional<std::filesystem::path> home;
};

// The computer's name is its pretty host name (PRETTY_HOSTNAME in machine-info), else its host
// name; the home volume's room comes from statvfs. Nothing is cached. Used from one thread at a
// time.
class LinuxHostFacts final : public HostFacts {
  public:
    explicit LinuxHostFacts(LinuxHostFactsSettings settings = {});

    std::optional<std::string> computerName() override;
    HomeVolumeSpace homeVolumeSpace() override;

  private:
    std::optional<std::filesystem::path> homeFolder() const;

    LinuxHostFactsSettings settings_;
};

// The value of PRETTY_HOSTNAME in machine-info text: the last assignment, unquoted as a shell
// would ("…" and '…'); nothing when it is missing, empty, badly quoted or not UTF-8.
std::optional<std::string> prettyHostNameIn(std::string_view machineInfo);

} // namespace wheelbox
