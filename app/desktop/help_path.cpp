#include "app/desktop/help_path.h"

#include "addin/startload.h"
#include "filter/settings.h"
#include "filter/trap.h"

namespace skerrow::desktop {

void installHelpPath(platform::Platform& platform, const std::string& helpFolder) {
    if (helpFolder.empty())
        return;
    const auto root = platform::RegistryRoot::CurrentUser;
    const auto current = attempt([&] { return platform.readValue(root, settingsKeyName, appPathValue); });
    if (!current)
        return; // unreadable: better left alone than overwritten
    auto hasHelp = [&](const std::string& folder) {
        // An empty folder would name a file in whatever folder is current.
        return !folder.empty() && attempt([&] { return platform.fileExists(folder + helpFileName); }).value_or(false);
    };
    if (*current && hasHelp(**current))
        return;
    if (*current && !hasHelp(helpFolder))
        return;
    regWrite(platform, root, settingsKeyName, appPathValue, helpFolder);
}

} // namespace skerrow::desktop
