// Everything an add-in needs, in memory: the host, the platform, scripted
// dialogs and windows, and the add-in-wide state over them.
#pragma once

#include "filter/varient.h"
#include "hosts/memory/memory_host.h"
#include "platform/memory/memory_platform.h"
#include "tests/support/fakes.h"

#include <memory>
#include <string>

namespace skerrow::test {

inline constexpr const char* userAddress = "john.smith@example.com";

struct World {
    memory::MemoryHost host;
    memory::MemoryPlatform platform;
    FakeDialogs dialogs;
    FakeWindowManager windows;
    Varient v{Services{platform, host.objects(), host.clipboard(), dialogs, windows}};

    // A connected state without going through the connection: the
    // application, a logged-on session and the user's address.
    World();

    std::shared_ptr<host::Application> app() const { return host.application(); }

    // An unread mail to the user from sender, in the Inbox.
    std::shared_ptr<memory::MemoryMailItem> mail(const std::string& sender, const std::string& subject = "hello",
                                                 bool unread = true);
    // The path of the list file on the memory platform.
    std::string listFile() const;
};

} // namespace skerrow::test
