#pragma once

#include "app/options.h"

#include <iosfwd>

namespace skerrow::app {

// Connects the add-in to the Maildir or IMAP account with no main window, runs Check Spam
// as its command does, prints what it shows and disconnects. Returns the
// exit status; failures are explained on err.
int runCheck(const MailOptions& options, std::ostream& out, std::ostream& err);

} // namespace skerrow::app
