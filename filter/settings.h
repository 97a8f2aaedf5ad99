// Settings, shell and system names over the platform. These routines never
// fail: a failure reads as the empty text or does nothing.
#pragma once

#include "addin/host/platform.h"

#include <string>

namespace skerrow {

inline constexpr const char* settingsKeyName = "Software\\Corvalle\\Addins\\Skerrow\\";
inline constexpr const char* appPathValue = "AppPath";
inline constexpr const char* haveAutoDeleteCountValue = "HaveAutoDeleteCount";
inline constexpr const char* neverDisplayValue = "NeverDisplayForAutoTellSpam";

std::string regRead(platform::Platform& p, platform::RegistryRoot root, const std::string& subKey,
                    const std::string& name);
void regWrite(platform::Platform& p, platform::RegistryRoot root, const std::string& subKey,
              const std::string& name, const std::string& value);
int shellOpen(platform::Platform& p, const std::string& target);
// The login name trimmed of spaces; 100 letters "X" when there is none.
std::string getUserName(platform::Platform& p);
// The empty text when the system gives none.
std::string getSystemDir(platform::Platform& p);

} // namespace skerrow
