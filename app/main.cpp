// skerrow: the junk-mail filter on Linux.
#include "app/demo.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* usage = R"(Usage: skerrow [demo]
       skerrow --help

Skerrow keeps a friends list and a blacklist of sender addresses and whole
domains, deletes blacklisted mail and mail not addressed to you from your
Inbox, and lets you review the remaining unknown senders.

Commands:
  demo        run a Check Spam pass on a built-in mailbox held in memory and
              print every step (the default for now)
  --help      show this text
)";

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "demo";
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage;
        return 0;
    }
    if (command == "demo")
        return skerrow::app::runDemo(std::cout);
    std::cerr << "skerrow: unknown command '" << command << "'\n" << usage;
    return 2;
}
