#include "addin/host/host.h"
#include "addin/lifecycle.h"
#include "filter/settings.h"
#include "filter/text.h"
#include "filter/trap.h"
#include "filter/varient.h"

#include <algorithm>

namespace skerrow {

namespace {

// An Exchange user's address is a directory name that no mail carries: the
// SMTP addresses come from the directory and from the mail accounts.
void findMoreOwnAddresses(Varient& v, const std::shared_ptr<host::Application>& application) {
    v.moreOwnAddresses.clear();
    auto keep = [&](const std::string& address) {
        std::string lower = foldCase(address);
        if (lower.find('@') != std::string::npos && lower != v.ownAddress &&
            std::find(v.moreOwnAddresses.begin(), v.moreOwnAddresses.end(), lower) == v.moreOwnAddresses.end())
            v.moreOwnAddresses.push_back(std::move(lower));
    };
    auto space = attempt([&] { return host::must(host::must(application)->GetNamespace("MAPI")); });
    if (!space)
        return;
    if (v.ownAddress.find('@') == std::string::npos)
        trap([&] { keep(host::must((*space)->CurrentUser())->SmtpAddress()); });
    trap([&] {
        for (const std::string& address : (*space)->AccountAddresses())
            keep(address);
    });
}

} // namespace

void initGlobals(Varient& v, const std::shared_ptr<host::Application>& application) {
    trap([&] {
        v.messagingSession =
            std::dynamic_pointer_cast<host::MessagingSession>(v.services.objects.CreateObject(messagingSessionClass));
    });
    // No new session: the add-in shares the one the host already holds.
    trap([&] { host::must(v.messagingSession)->Logon(sessionProfileName, "", false, false); });
    trap([&] {
        auto user = host::must(host::must(application)->GetNamespace("MAPI"))->CurrentUser();
        v.ownAddress = foldCase(host::must(user)->Address());
    });
    findMoreOwnAddresses(v, application);
    v.settingsRoot = platform::RegistryRoot::CurrentUser;
    v.settingsKey = settingsKeyName;
    v.installationFolder = regRead(v.services.platform, v.settingsRoot, v.settingsKey, appPathValue);
    v.listFileUserName = getUserName(v.services.platform);
    v.deletedThisPass = 0;
    v.environmentLoaded = false;
    v.listsSafeToStore = false;
    v.newMailPending = false;
}

bool isFirstRun(Varient& v) {
    return regRead(v.services.platform, v.settingsRoot, v.settingsKey, setupCompleteValue).empty();
}

void removeEmptyBars(Varient&, const std::shared_ptr<host::Application>& application) {
    auto bars = attempt([&] { return host::must(host::must(application)->ActiveExplorer())->GetCommandBars(); });
    if (!bars || !*bars)
        return;
    const int count = attempt([&] { return (*bars)->Count(); }).value_or(0);
    // From the last position down, so that a deletion does not shift the
    // bars still to be visited: two empty ones side by side both go.
    for (int position = count; position >= 1; --position) {
        trap([&] {
            auto bar = host::must((*bars)->Item(position));
            if (host::must(bar->Controls())->Count() == 0 && bar->Name() == "Corvalle")
                bar->Delete();
        });
    }
}

std::optional<std::int16_t> parseTotal(const std::string& text) {
    std::string_view digits = trimSpacesView(text);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    // Leading zeros convert like any other digits.
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > 5)
        return std::nullopt;
    const int value = digits.empty() ? 0 : std::stoi(std::string(digits));
    if (value > INT16_MAX)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

} // namespace skerrow
