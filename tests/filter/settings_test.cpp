#include "filter/settings.h"

#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace skerrow {
namespace {

using platform::RegistryRoot;
using test::World;

TEST(Settings, ReadStopsAtTheFirstNulAndFailuresOrAMissingKeyReadEmptyAndWriteNothing) {
    World w;
    EXPECT_EQ(regRead(w.platform, RegistryRoot::CurrentUser, settingsKeyName, appPathValue), "");
    EXPECT_FALSE(w.platform.keyExists(RegistryRoot::CurrentUser, settingsKeyName));
    regWrite(w.platform, RegistryRoot::CurrentUser, settingsKeyName, haveAutoDeleteCountValue, "12");
    EXPECT_EQ(regRead(w.platform, RegistryRoot::CurrentUser, settingsKeyName, haveAutoDeleteCountValue), "12");
    w.platform.setValue(RegistryRoot::CurrentUser, settingsKeyName, appPathValue, std::string("C:\\app\\\0junk", 11));
    EXPECT_EQ(regRead(w.platform, RegistryRoot::CurrentUser, settingsKeyName, appPathValue), "C:\\app\\");

    w.platform.faults().failAlways("Platform.readValue");
    w.platform.faults().failAlways("Platform.writeValue");
    EXPECT_EQ(regRead(w.platform, RegistryRoot::CurrentUser, settingsKeyName, appPathValue), "");
    regWrite(w.platform, RegistryRoot::CurrentUser, settingsKeyName, appPathValue, "D:\\");
    w.platform.faults().clearAll();
    EXPECT_EQ(regRead(w.platform, RegistryRoot::CurrentUser, settingsKeyName, appPathValue), "C:\\app\\");
}

TEST(UserName, IsTrimmedKeptWholeAtNinetyNineAndHundredXWhenMissingOrLonger) {
    World w;
    const std::string none(100, 'X');
    // Longer than the system's buffer: no name, never a cut one.
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"  jsmith ", "jsmith"}, {std::string(99, 'u'), std::string(99, 'u')}, {std::string(100, 'u'), none},
        {std::string(150, 'u'), none}, {std::nullopt, none}};
    for (const auto& [user, expected] : cases) {
        w.platform.user = user;
        EXPECT_EQ(getUserName(w.platform), expected) << user.value_or("<none>");
    }
    w.platform.user = "jsmith";
    w.platform.faults().failOnce("Platform.userName");
    EXPECT_EQ(getUserName(w.platform), none);
}

// The target reaching the system is the Help command's test.
TEST(ShellOpen, SwallowsFailures) {
    World w;
    w.platform.faults().failOnce("Platform.shellOpen");
    EXPECT_LE(shellOpen(w.platform, "x"), 32);
}

} // namespace
} // namespace skerrow
