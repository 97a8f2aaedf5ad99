// Set-up and tear-down steps of a connection: the modules function,
// InstallInit, EnvInit and ExitInit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace skerrow {

class Varient;
namespace host {
class Application;
}

// Only a log-on that will not find the host's session uses it.
inline constexpr const char* sessionProfileName = "mspr";
inline constexpr const char* messagingSessionClass = "MAPI.Session";
// Present once the first connection after installing has run its set-up.
inline constexpr const char* setupCompleteValue = "SetupComplete";

// function
void initGlobals(Varient& v, const std::shared_ptr<host::Application>& application);
bool isFirstRun(Varient& v);
void removeEmptyBars(Varient& v, const std::shared_ptr<host::Application>& application);
// InstallInit
void firstRunSetup(Varient& v, const std::shared_ptr<host::Application>& application);
void writeFirstRunSettings(Varient& v);
// EnvInit
void loadEnvironment(Varient& v);
// ExitInit
void saveEnvironment(Varient& v, const std::shared_ptr<host::Application>& application);
// Stores the lists and the total as saveEnvironment does, as soon as they
// change: clients from Outlook 2010 on end without a disconnection.
void storeChanges(Varient& v);

// The stored total as a signed 16-bit number; nothing for any other text.
std::optional<std::int16_t> parseTotal(const std::string& text);

} // namespace skerrow
