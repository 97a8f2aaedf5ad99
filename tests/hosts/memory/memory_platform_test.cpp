// The memory platform must keep the registry's and the file system's
// promises: reads create nothing, failed writes change nothing.
#include "platform/memory/memory_platform.h"

#include "resources/bitmaps.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace skerrow::memory {
namespace {

using platform::RegistryRoot;

constexpr const char* key = "Software\\Corvalle\\Addins\\Skerrow\\";

TEST(MemoryPlatformSettings, ReadingAMissingKeyOrValueCreatesNothing) {
    MemoryPlatform platform;
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, key, "AppPath"), std::nullopt);
    EXPECT_FALSE(platform.keyExists(RegistryRoot::CurrentUser, key));

    platform.writeValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount", "3");
    EXPECT_TRUE(platform.keyExists(RegistryRoot::CurrentUser, key));
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount"), "3");
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, key, "AppPath"), std::nullopt);
    EXPECT_EQ(platform.readValue(RegistryRoot::LocalMachine, key, "HaveAutoDeleteCount"), std::nullopt)
        << "each root holds its own keys";
    EXPECT_FALSE(platform.keyExists(RegistryRoot::LocalMachine, key));
}

TEST(MemoryPlatformSettings, AFailedWriteLeavesTheValueAsItWas) {
    MemoryPlatform platform;
    platform.setValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount", "3");
    platform.faults().failAlwaysFor("Platform.writeValue", "HaveAutoDeleteCount");
    EXPECT_THROW(platform.writeValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount", "4"), std::exception);
    platform.writeValue(RegistryRoot::CurrentUser, key, "NeverDisplayForAutoTellSpam", "0");
    EXPECT_EQ(platform.value(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount"), "3");
    EXPECT_EQ(platform.value(RegistryRoot::CurrentUser, key, "NeverDisplayForAutoTellSpam"), "0");
}

TEST(MemoryPlatformFiles, AFailedReplaceKeepsTheOldContent) {
    MemoryPlatform platform;
    platform.files["C:\\list"] = "old";
    platform.faults().failOnce("Platform.replaceTextFile");
    EXPECT_THROW(platform.replaceTextFile("C:\\list", "new"), std::exception);
    EXPECT_EQ(platform.readTextFile("C:\\list"), "old");
    platform.replaceTextFile("C:\\list", "new");
    EXPECT_EQ(platform.readTextFile("C:\\list"), "new");
}

TEST(MemoryPlatformFiles, ACopyReplacesTheTargetWholeOrLeavesItAsItWas) {
    MemoryPlatform platform;
    platform.files["C:\\list"] = "lines";
    platform.files["C:\\backup.flt"] = "older";

    EXPECT_THROW(platform.copyFile("C:\\missing", "C:\\backup.flt"), std::runtime_error);
    platform.faults().failOnce("Platform.copyFile");
    EXPECT_THROW(platform.copyFile("C:\\list", "C:\\backup.flt"), std::exception);
    EXPECT_EQ(platform.files["C:\\backup.flt"], "older");

    platform.copyFile("C:\\list", "C:\\backup.flt");
    EXPECT_EQ(platform.files["C:\\backup.flt"], "lines");
}

TEST(MemoryPlatformFiles, MissingFilesCannotBeReadAndEmptyOnesCanBeMade) {
    MemoryPlatform platform;
    EXPECT_FALSE(platform.fileExists("C:\\list"));
    EXPECT_THROW(platform.readTextFile("C:\\list"), std::runtime_error);
    platform.createEmptyFile("C:\\list");
    EXPECT_TRUE(platform.fileExists("C:\\list"));
    EXPECT_EQ(platform.readTextFile("C:\\list"), "");
}

TEST(MemoryPlatformShell, OpensRecordTheTargetAndBitmapsComeFromTheResources) {
    MemoryPlatform platform;
    EXPECT_GT(platform.shellOpen("skerrow.chm"), 32);
    EXPECT_EQ(platform.opened, (std::vector<std::string>{"skerrow.chm"}));
    EXPECT_EQ(platform.loadBitmap(resources::isSpamFace), resources::bitmapResource(resources::isSpamFace));
    EXPECT_THROW(platform.loadBitmap(999), std::runtime_error);
}

} // namespace
} // namespace skerrow::memory
