// The built-in demo: a small Maildir and address book under the user's data
// folder, so that a first start on a machine without mail shows the whole
// filter at work.
#pragma once

#include "addin/host/platform.h"

#include <string>

namespace skerrow::desktop {

// The demo user's own address: the demo's mail is addressed to it.
inline constexpr const char* demoAddress = "demo.user@example.com";

struct DemoMailbox {
    std::string maildir;  // the Maildir++ root
    std::string contacts; // a vCard file whose addresses become friends
    bool created = false; // made by this call
};

// Makes the demo Maildir ("demo-maildir") and address book
// ("demo-contacts.vcf") in folder unless the Maildir is there already. Its
// Inbox holds mail of friends, strangers and blacklisted senders, a mail not
// addressed to the demo user and a notice of the mail client; the first
// two friends and the blacklisted senders go into the list file when there
// is no list file yet (an existing one is the user's and is left alone).
// Throws std::runtime_error when the files cannot be written.
DemoMailbox prepareDemoMailbox(const std::string& folder, platform::Platform& platform);

} // namespace skerrow::desktop
