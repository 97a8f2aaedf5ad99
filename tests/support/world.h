// Everything an add-in needs, in memory: the host, the platform, dialogs and
// windows (scripted here, or a renderer's), and the add-in-wide state over
// them.
#pragma once

#include "filter/varient.h"
#include "hosts/memory/memory_host.h"
#include "platform/memory/memory_platform.h"
#include "tests/support/fakes.h"

#include <memory>
#include <string>

namespace skerrow::test {

inline constexpr const char* userAddress = "john.smith@example.com";

// An unread mail from sender to the user, in the Inbox.
std::shared_ptr<memory::MemoryMailItem> unreadMail(memory::MemoryHost& host, const std::string& sender,
                                                   const std::string& subject = "hello");

// A connected state without going through the connection: the
// application, a logged-on session and the user's address.
void connectInMemory(Varient& v, memory::MemoryHost& host, memory::MemoryPlatform& platform);

// The host, the platform, dialogs and windows: what an add-in is handed.
template <typename Dialogs, typename Windows>
struct Parts {
    memory::MemoryHost host;
    memory::MemoryPlatform platform;
    Dialogs dialogs;
    Windows windows;

    Services services() { return Services{platform, host.objects(), host.clipboard(), dialogs, windows}; }
    std::shared_ptr<host::Application> app() const { return host.application(); }
    std::shared_ptr<memory::MemoryMailItem> mail(const std::string& sender, const std::string& subject = "hello",
                                                 bool unread = true) {
        auto made = unreadMail(host, sender, subject);
        made->spec().unread = unread;
        return made;
    }
    // The path of the list file on the memory platform.
    std::string listFile() const { return *platform.systemDir + "\\" + *platform.user; }
};

// The parts and the add-in-wide state over them, connected.
template <typename Dialogs, typename Windows>
struct Wiring : Parts<Dialogs, Windows> {
    Varient v{this->services()};

    Wiring() { connectInMemory(v, this->host, this->platform); }
};

using World = Wiring<FakeDialogs, FakeWindowManager>;

} // namespace skerrow::test
