// The desktop program: `skerrow` with no command opens the main window.
#pragma once

#include "app/options.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace skerrow::imap {
struct ImapOptions;
}

namespace skerrow::desktop {

// Whether a window can be shown: an X11 or Wayland display, or a Qt
// platform chosen by QT_QPA_PLATFORM.
bool displayAvailable();

// The user's Maildir when none is given: $MAILDIR, else ~/Maildir, when
// that is a Maildir (it has cur/ and new/).
std::optional<std::string> findUserMaildir();

// Opens the main window on the IMAP account when one is given, else on the
// Maildir of the options, else the user's, else the built-in demo (with the
// demo user's address unless one was given on the command line), and runs
// until the last main window closes. Returns the exit status: 0, or 1 when
// the Maildir or the account cannot be opened.
int runDesktop(app::MailOptions options, bool addressGiven, int argc, char** argv, std::ostream& err,
               std::shared_ptr<const imap::ImapOptions> imap = nullptr);

} // namespace skerrow::desktop
