// An add-in connected to the in-memory client, as the client would do it.
#pragma once

#include "addin/startload.h"
#include "filter/settings.h"
#include "tests/support/world.h"

#include <memory>

namespace skerrow::test {

struct Client : Parts<FakeDialogs, FakeWindowManager> {
    std::unique_ptr<startLoad> addin;

    Client() {
        host.setCurrentUser("John.Smith@Example.com");
        restartAddin();
    }

    void restartAddin() { addin = std::make_unique<startLoad>(services()); }

    void connect() {
        IDTExtensibility2::CustomValues custom;
        addin->OnConnection(host.application(), 0, nullptr, custom);
    }
    void disconnect() {
        IDTExtensibility2::CustomValues custom;
        addin->OnDisconnection(0, custom);
    }

    Varient& v() { return addin->state(); }
    std::string setting(const char* name) const {
        return platform.value(platform::RegistryRoot::CurrentUser, settingsKeyName, name).value_or("<missing>");
    }
    void setSetting(const char* name, const std::string& value) {
        platform.setValue(platform::RegistryRoot::CurrentUser, settingsKeyName, name, value);
    }
    // A client that has run the add-in before.
    void markInstalled() { setSetting("SetupComplete", "1"); }
};

// An add-in that has run before, connected.
struct Connected : Client {
    Connected() {
        markInstalled();
        connect();
    }
    void click(const std::shared_ptr<host::CommandBarButton>& button) {
        std::dynamic_pointer_cast<memory::MemoryButton>(button)->click();
    }
};

} // namespace skerrow::test
