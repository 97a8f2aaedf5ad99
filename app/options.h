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
    std::optional<std::string> imap;            // imaps://user@host[:port]/ or imap://...
    std::optional<std::string> caFile;          // a private CA for the server's certificate
    std::optional<std::string> passwordCommand; // run without a shell; its first line
    bool allowPlaintext = false;                // loopback servers without TLS
};

// Parses --maildir, --address, --contacts, --imap, --ca-file and
// --password-command (each also as --name=value) and the flag
// --allow-plaintext.
// Throws std::invalid_argument with a message for anything else.
MailOptions parseMailOptions(const std::vector<std::string>& args);

} // namespace skerrow::app
