#pragma once

#include "app/options.h"

#include <iosfwd>

namespace skerrow::app {

// Connects the add-in to the Maildir or IMAP account and stays: whenever
// mail arrives in the Inbox the host raises NewMail and the Inbox is shown
// again, so the add-in runs its automatic check; each pass is printed.
// SIGTERM or SIGINT ends it, storing the lists and the total. Returns the
// exit status; failures are explained on err.
int runWatch(const MailOptions& options, std::ostream& out, std::ostream& err);

} // namespace skerrow::app
