// What the program sets up around the main window: the help file and its
// setting, the demo mailbox, the kept toolbars, and the program itself
// started with and without a display.
#include "tests/app/desktop/desktop_fixture.h"
#include "tests/app/app_fixture.h"

#include "app/desktop/demo_mailbox.h"
#include "app/desktop/help_path.h"
#include "filter/filter_store.h"
#include "filter/settings.h"

#include <signal.h>

namespace skerrow::test {
namespace {

TEST_F(DesktopTest, HelpPathIsSetWhenMissingOrPointingWhereNoHelpFileIs) {
    const fs::path installed = dir / "installed";
    const fs::path empty = dir / "empty";
    writeFile(installed / "skerrow.chm", "ITSF");
    writeFile(helpDir / "skerrow.chm", "ITSF");
    fs::create_directories(empty);
    const std::string ours = helpDir.string() + "/";
    const struct {
        std::optional<std::string> before;
        std::string helpFolder;
        std::optional<std::string> after;
        const char* says;
    } rows[] = {
        {std::nullopt, ours, ours, "missing: set"},
        {installed.string() + "/", ours, installed.string() + "/", "a folder with the file: kept"},
        {empty.string() + "/", ours, ours, "a folder without the file: replaced"},
        {"", ours, ours, "empty: replaced"},
        {empty.string() + "/", empty.string() + "/other/", empty.string() + "/",
         "ours has no file either: kept"},
        {std::nullopt, "", std::nullopt, "no help folder: nothing written"},
    };
    for (const auto& row : rows) {
        fs::remove_all(configDir);
        posix::PosixPlatform platform(configDir.string(), dataDir.string());
        if (row.before)
            platform.writeValue(platform::RegistryRoot::CurrentUser, settingsKeyName, appPathValue, *row.before);
        desktop::installHelpPath(platform, row.helpFolder);
        EXPECT_EQ(platform.readValue(platform::RegistryRoot::CurrentUser, settingsKeyName, appPathValue), row.after)
            << row.says;
    }
}

TEST_F(DesktopTest, HelpFileIsACompiledHelpFileWithEveryPage) {
    const fs::path chm = SKERROW_HELP_FILE;
    if (!fs::exists(chm))
        GTEST_SKIP() << "no chmcmd when this was built";
    const std::string bytes = readFile(chm);
    EXPECT_EQ(bytes.substr(0, 4), "ITSF");
    for (const char* page : {"/index.html", "/checkspam.html", "/toolbar.html", "/options.html", "/listfile.html",
                             "/contents.hhc"})
        EXPECT_NE(bytes.find(page), std::string::npos) << page;
}

TEST_F(DesktopTest, DemoMailboxSeedsOnlyAMissingListFile) {
    posix::PosixPlatform platform(configDir.string(), dataDir.string());
    const auto demo = desktop::prepareDemoMailbox(dataDir.string(), platform);
    EXPECT_TRUE(demo.created);
    EXPECT_EQ(parseListFile(readFile(listFile())).enemyemail, FilterList({"winner@lottery.example"}));
    EXPECT_EQ(parseListFile(readFile(listFile())).enemydomain, FilterList({"*@spam.example"}));

    // A second start finds it and touches nothing; an existing list file is the user's.
    writeListFile({"me@mine.example", "", "", ""});
    const auto again = desktop::prepareDemoMailbox(dataDir.string(), platform);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.maildir, demo.maildir);
    fs::remove_all(demo.maildir);
    desktop::prepareDemoMailbox(dataDir.string(), platform);
    EXPECT_EQ(readFile(listFile()), "me@mine.example\r\n\r\n\r\n\r\n");
}

// ---- The program ----

TEST_F(DesktopTest, WithoutADisplayTheProgramRunsTheTerminalDemoAndANonMaildirIsRefused) {
    const std::vector<std::string> environment = {"HOME=" + dir.string(), "PATH=/usr/bin:/bin"};
    const Outcome demo = runProgram({SKERROW_BINARY}, environment);
    EXPECT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.err.find("running the terminal demo"), std::string::npos) << demo.err;
    EXPECT_EQ(std::count(demo.err.begin(), demo.err.end(), '\n'), 1) << "one line: " << demo.err;
    EXPECT_NE(demo.out.find("The mail client connects the add-in"), std::string::npos);

    const Outcome refused = runProgram({SKERROW_BINARY, "--maildir", maildir.string()}, environment);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("no display"), std::string::npos) << refused.err;

    const fs::path plain = dir / "plain";
    fs::create_directories(plain);
    const Outcome notMaildir =
        runProgram({SKERROW_BINARY, "--maildir", plain.string()}, {"QT_QPA_PLATFORM=offscreen", environment[0]});
    EXPECT_EQ(notMaildir.status, 1);
    EXPECT_NE(notMaildir.err.find(plain.string()), std::string::npos) << notMaildir.err;
    EXPECT_NE(notMaildir.err.find("is not a Maildir"), std::string::npos) << notMaildir.err;
}

TEST_F(DesktopTest, ProgramOpensTheDemoMailboxOnAFreshAccountAndStoresAllOnSigterm) {
    const fs::path home = dir / "home";
    fs::create_directories(home);
    const fs::path data = home / ".local/share/skerrow";
    const fs::path toolbars = home / ".config/skerrow/toolbars";
    const std::vector<std::string> environment = {"HOME=" + home.string(), "PATH=/usr/bin:/bin",
                                                  "QT_QPA_PLATFORM=offscreen", "EMAIL=someone.else@example.com"};
    // Stopped once it has connected: the notice has gone to Deleted Items.
    const pid_t pid = startProgram({SKERROW_BINARY}, environment, dir / "out", dir / "err");
    const fs::path notice = data / "demo-maildir/.Trash/cur";
    EXPECT_TRUE(waitFor([&] { return fs::exists(notice) && !fs::is_empty(notice); }, 60000));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitProgram(pid), 0) << readFile(dir / "err");
    EXPECT_TRUE(fs::exists(data / "demo-contacts.vcf"));
    EXPECT_EQ(readFile(toolbars), "Corvalle\n") << "the session ended as the window's closing ends it";
    posix::PosixPlatform platform((home / ".config/skerrow").string(), data.string());
    const std::string lists = readFile(getSystemDir(platform) + "/" + getUserName(platform));
    EXPECT_EQ(parseListFile(lists).friendemail, FilterList({"mary@example.org", "bob@example.net"}));
    // The demo mail is addressed to the demo user, whatever $EMAIL says:
    // nothing but the notice was deleted.
    EXPECT_EQ(fileNames(data / "demo-maildir/new").size() + fileNames(data / "demo-maildir/cur").size(), 8u);
}

} // namespace
} // namespace skerrow::test
