// skerrow: the junk-mail filter on Linux.
#include "app/demo.h"
#include "app/options.h"
#ifdef SKERROW_WITH_MAILDIR
#include "app/check.h"
#include "app/watch.h"
#endif
#ifdef SKERROW_WITH_DESKTOP
#include "app/desktop/desktop.h"
#endif
#ifdef SKERROW_WITH_IMAP
#include "app/mail_host.h"
#endif

#include <algorithm>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* usage = R"(Usage: skerrow [--maildir DIR] [--address ADDR] [--contacts PATH]...
       skerrow --imap URL [IMAP OPTIONS] [--address ADDR] [--contacts PATH]...
       skerrow check --maildir DIR [--address ADDR] [--contacts PATH]...
       skerrow check --imap URL [IMAP OPTIONS] [--address ADDR] [--contacts PATH]...
       skerrow watch (--maildir DIR | --imap URL [IMAP OPTIONS]) [--address ADDR] ...
       skerrow demo
       skerrow --help

Skerrow keeps a friends list and a blacklist of sender addresses and whole
domains. It deletes from your Inbox the mail of blacklisted senders and
domains and mail that does not name your address, and lists the remaining
unread mail of unknown senders for review.

With no command, the main window opens on the Maildir (else $MAILDIR, else
~/Maildir; without any, on a demo mailbox made under $XDG_DATA_HOME/skerrow
with the address demo.user@example.com), or with --imap on the IMAP account,
whose Inbox it watches with IDLE; the filter's toolbar works in it.
Without a display it runs the terminal demo instead.

Commands:
  check     run the Check Spam pass once over a Maildir and exit; made to be
            run from a timer or after fetching mail. Deleted mail goes to the
            Maildir's .Trash folder. What the pass would show is printed:
            each message box as "[title] text", and when unknown senders
            remain, the review window's caption, labels and rows (one row a
            line: From | Subject | Received).
  watch     stay connected and, whenever mail arrives in the Inbox (IMAP
            IDLE; inotify on a Maildir), run the check the filter runs when
            you look at the Inbox after new mail; each pass is printed.
            SIGTERM or Ctrl+C ends it, storing the lists and the total.
  demo      run a Check Spam pass on a built-in mailbox held in memory and
            print every step; touches none of your files.

Options of the main window and of check:
  --maildir DIR     the Maildir++ directory: its root is the Inbox, .Trash
                    is Deleted Items
  --address ADDR    your own address: mail whose headers and body do not name
                    it (ignoring letter case) is deleted; default: $EMAIL;
                    without one, no mail is deleted for that reason
  --contacts PATH   a vCard file or a folder of .vcf files; on the first run
                    every address in it becomes a friend (repeatable)

IMAP options (the main window, check and watch):
  --imap URL        imaps://user@host[:port]/ (TLS, port 993) or
                    imap://user@host[:port]/ (STARTTLS, port 143); INBOX is
                    the Inbox, the mailbox flagged \Trash (else "Trash",
                    made when needed) is Deleted Items
  --ca-file FILE    trust the server's certificate when this CA (PEM) signed
                    it; otherwise the system's trusted CAs decide
  --allow-plaintext log in without TLS, on a loopback address only
  --password-command CMD
                    run CMD (split at spaces, no shell) and take the first
                    line it prints as the password; otherwise
                    $SKERROW_IMAP_PASSWORD, otherwise a prompt on the terminal

Files:
  $XDG_CONFIG_HOME/skerrow/settings      settings and the running total of
                                         deleted junk mails
  $XDG_CONFIG_HOME/skerrow/toolbars      the main window's toolbars
  $XDG_DATA_HOME/skerrow/<login name>    the four lists: friend addresses,
                                         friend domains, blacklisted
                                         addresses, blacklisted domains

check tells on stderr, one line for each kind, what it failed to do (a mail
it could not move to the Trash, a file it could not read, the lists or the
settings it could not read or write), and names each file of the Inbox that
is not a mail (the Inbox is not filtered while one is there). Folders of the
Maildir that are symbolic links are not followed.

Exit status: 0 when the run completed; 1 when the Maildir cannot be read,
the server cannot be reached, refuses the login or its certificate, or the
connection is lost during the run; 2 for a bad command line; 3 when check
completed but a mail could not be moved or a file could not be read or
written.
)";

// No command: the main window, or the terminal demo where no window can open.
int runWindow(const std::vector<std::string>& args, [[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef SKERROW_WITH_DESKTOP
    skerrow::app::MailOptions options;
    try {
        options = skerrow::app::parseMailOptions(args);
    } catch (const std::invalid_argument& e) {
        std::cerr << "skerrow: " << e.what() << "\nTry 'skerrow --help'.\n";
        return 2;
    }
    const bool addressGiven = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--address" || arg.rfind("--address=", 0) == 0;
    });
    if (skerrow::desktop::displayAvailable()) {
        std::shared_ptr<const skerrow::imap::ImapOptions> imap;
        if (options.imap) {
#ifdef SKERROW_WITH_IMAP
            try {
                imap = std::make_shared<const skerrow::imap::ImapOptions>(skerrow::app::imapHostOptions(options));
            } catch (const std::exception& e) {
                std::cerr << "skerrow: " << e.what() << "\n";
                return 1;
            }
#else
            std::cerr << "skerrow: this build has no IMAP host (it was built without libetpan)\n";
            return 1;
#endif
        }
        return skerrow::desktop::runDesktop(options, addressGiven, argc, argv, std::cerr, imap);
    }
    if (!args.empty()) {
        std::cerr << "skerrow: no display to open the main window on (DISPLAY is not set); "
                     "'skerrow check' works without one\n";
        return 1;
    }
    std::cerr << "skerrow: no display (DISPLAY is not set): running the terminal demo instead\n";
#else
    if (!args.empty()) {
        std::cerr << "skerrow: this build has no main window (it was built without Qt 6); try 'skerrow check'\n";
        return 2;
    }
#endif
    return skerrow::app::runDemo(std::cout);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || (args[0].rfind("--", 0) == 0 && args[0] != "--help"))
        return runWindow(args, argc, argv);
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage;
        return 0;
    }
    if (command == "demo" && args.size() <= 1)
        return skerrow::app::runDemo(std::cout);
#ifdef SKERROW_WITH_MAILDIR
    if (command == "check" || command == "watch") {
        try {
            const auto options = skerrow::app::parseMailOptions({args.begin() + 1, args.end()});
            return command == "check" ? skerrow::app::runCheck(options, std::cout, std::cerr, true)
                                      : skerrow::app::runWatch(options, std::cout, std::cerr);
        } catch (const std::invalid_argument& e) {
            std::cerr << "skerrow " << command << ": " << e.what() << "\nTry 'skerrow --help'.\n";
            return 2;
        }
    }
#endif
    std::cerr << "skerrow: unknown command '" << command << "'\nTry 'skerrow --help'.\n";
    return 2;
}
