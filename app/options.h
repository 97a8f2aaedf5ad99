// The command line shared by the commands that open a Maildir.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace skerrow::app {

struct MailOptions {
    std::optional<std::string> maildir;
    std::optional<std::string> address; // --address, else $EMAIL
    std::vector<std::string> contacts;
};

// Parses --maildir, --address and --contacts (each also as --name=value).
// Throws std::invalid_argument with a message for anything else.
MailOptions parseMailOptions(const std::vector<std::string>& args);

} // namespace skerrow::app
