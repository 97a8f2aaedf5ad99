// The mail client the command line chose: a Maildir or an IMAP account,
// seen through what the commands need of it.
#pragma once

#include "addin/host/host.h"
#include "app/options.h"
#ifdef SKERROW_WITH_IMAP
#include "hosts/imap/imap_host.h"
#endif

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace skerrow::app {

struct MailHost {
    std::shared_ptr<host::Application> application;
    host::ObjectFactory* objects = nullptr;
    host::Clipboard* clipboard = nullptr;
    std::function<void(std::shared_ptr<host::Explorer>)> setExplorer;
    std::function<void()> raiseNewMail;
    // What the host failed to do during the run (the add-in trapped it), as
    // the kind and the first such failure's text, for the user.
    std::function<std::vector<std::pair<std::string, std::string>>()> failures;
    // The Inbox's files that are not mail, each with whether it could not be
    // read at all.
    std::function<std::vector<std::pair<std::string, bool>>()> nonMailFiles;
    // Why the connection was given up during the run, if it was.
    std::function<std::optional<std::string>()> lost;
    // Blocks until mail arrives in the Inbox (true) or stopFd is readable
    // or a signal comes (false). Throws when the mail cannot be watched.
    std::function<bool(int stopFd)> waitForMail;
    // Ends the host's own threads and its connection, for a process about
    // to exit without freeing the host.
    std::function<void()> endWork;
    // Where the mail is, for the user.
    std::string description;
    std::shared_ptr<void> owner; // keeps the host alive
};

// Opens --imap (asking for the password) or --maildir; waitForMail is
// there only when waitsForMail. Throws std::exception whose text is one
// line for the user.
MailHost openMailHost(const MailOptions& options, bool waitsForMail);

#ifdef SKERROW_WITH_IMAP
// The IMAP host's options for --imap and the options beside it, the
// password asked for. Throws std::exception whose text is one line for the user.
imap::ImapOptions imapHostOptions(const MailOptions& options);
#endif

// The IMAP password: the first line printed by --password-command (run
// without a shell), else $SKERROW_IMAP_PASSWORD, else asked on the terminal.
std::string imapPassword(const MailOptions& options, const std::string& account);

} // namespace skerrow::app
