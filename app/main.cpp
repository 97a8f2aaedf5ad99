// skerrow: the junk-mail filter on Linux.
#include "app/demo.h"
#include "app/options.h"
#ifdef SKERROW_WITH_MAILDIR
#include "app/check.h"
#endif

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* usage = R"(Usage: skerrow check --maildir DIR [--address ADDR] [--contacts PATH]...
       skerrow demo
       skerrow --help

Skerrow keeps a friends list and a blacklist of sender addresses and whole
domains. It deletes from your Inbox the mail of blacklisted senders and
domains and mail that does not name your address, and lists the remaining
unread mail of unknown senders for review.

Commands:
  check     run the Check Spam pass once over a Maildir and exit; made to be
            run from a timer or after fetching mail. Deleted mail goes to the
            Maildir's .Trash folder. What the pass would show is printed:
            each message box as "[title] text", and when unknown senders
            remain, the review window's caption, labels and rows (one row a
            line: From | Subject | Received).
  demo      run a Check Spam pass on a built-in mailbox held in memory and
            print every step; touches none of your files.

Options of check:
  --maildir DIR     the Maildir++ directory: its root is the Inbox, .Trash
                    is Deleted Items
  --address ADDR    your own address: mail whose headers and body do not name
                    it (ignoring letter case) is deleted; default: $EMAIL;
                    without one, no mail is deleted for that reason
  --contacts PATH   a vCard file or a folder of .vcf files; on the first run
                    every address in it becomes a friend (repeatable)

Files:
  $XDG_CONFIG_HOME/skerrow/settings      settings and the running total of
                                         deleted junk mails
  $XDG_DATA_HOME/skerrow/<login name>    the four lists: friend addresses,
                                         friend domains, blacklisted
                                         addresses, blacklisted domains

Exit status: 0 when the run completed; 1 when the Maildir cannot be read;
2 for a bad command line.
)";

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "demo" : args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage;
        return 0;
    }
    if (command == "demo" && args.size() <= 1)
        return skerrow::app::runDemo(std::cout);
#ifdef SKERROW_WITH_MAILDIR
    if (command == "check") {
        try {
            const auto options = skerrow::app::parseMailOptions({args.begin() + 1, args.end()});
            return skerrow::app::runCheck(options, std::cout, std::cerr);
        } catch (const std::invalid_argument& e) {
            std::cerr << "skerrow check: " << e.what() << "\nTry 'skerrow --help'.\n";
            return 2;
        }
    }
#endif
    std::cerr << "skerrow: unknown command '" << command << "'\nTry 'skerrow --help'.\n";
    return 2;
}
