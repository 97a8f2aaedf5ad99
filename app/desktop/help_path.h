// The help file's place in the settings, as the installer of the Windows
// add-in records it.
#pragma once

#include "addin/host/platform.h"

#include <string>

namespace skerrow::desktop {

// Points "AppPath" at helpFolder (which ends with "/") when the setting is
// missing, or names a folder without the help file while helpFolder has it.
// Never fails: a settings store that cannot be written is left as it is.
void installHelpPath(platform::Platform& platform, const std::string& helpFolder);

} // namespace skerrow::desktop
