#include "app/options.h"

#include <cstdlib>
#include <stdexcept>

namespace skerrow::app {

MailOptions parseMailOptions(const std::vector<std::string>& args) {
    MailOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--allow-plaintext" && !value) {
            options.allowPlaintext = true;
            continue;
        }
        if (name != "--maildir" && name != "--address" && name != "--contacts" && name != "--imap" &&
            name != "--ca-file" && name != "--password-command")
            throw std::invalid_argument("unknown option '" + args[i] + "'");
        if (!value) {
            if (i + 1 >= args.size())
                throw std::invalid_argument("option " + name + " needs a value");
            value = args[++i];
        }
        if (value->empty())
            throw std::invalid_argument("option " + name + " needs a value");
        if (name == "--maildir")
            options.maildir = *value;
        else if (name == "--address")
            options.address = *value;
        else if (name == "--imap")
            options.imap = *value;
        else if (name == "--ca-file")
            options.caFile = *value;
        else if (name == "--password-command")
            options.passwordCommand = *value;
        else
            options.contacts.push_back(*value);
    }
    if (options.maildir && options.imap)
        throw std::invalid_argument("--maildir and --imap cannot both be given");
    if (!options.address)
        if (const char* email = std::getenv("EMAIL"); email && *email)
            options.address = email;
    return options;
}

} // namespace skerrow::app
