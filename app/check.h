#pragma once

#include "app/options.h"

#include <iosfwd>

namespace skerrow::app {

// The exit status of a run in which a mail could not be moved or a file
// could not be read or written.
inline constexpr int failureStatus = 3;

// Connects the add-in to the Maildir or IMAP account with no main window, runs Check Spam
// as its command does, prints what it shows and disconnects. Returns the
// exit status; failures are explained on err, one line for each kind.
// exiting: the process ends right after, and what the host read may be
// left to the system rather than freed.
int runCheck(const MailOptions& options, std::ostream& out, std::ostream& err, bool exiting = false);

} // namespace skerrow::app
