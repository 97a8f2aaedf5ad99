#include "addin/lifecycle.h"

#include "tests/addin/addin_fixture.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::Client;
using test::Connected;

TEST(Connection, FirstRunImportsFriendsAndSavesThem) {
    Client c;
    c.host.addAddressList("Contacts", {"friend@x.com", "pal@y.com"});
    c.connect();
    EXPECT_EQ(c.platform.files.at(c.listFile()), "friend@x.com;pal@y.com\r\n\r\n\r\n\r\n");
    EXPECT_EQ(c.setting("HaveAutoDeleteCount"), "0");
    EXPECT_EQ(c.setting("NeverDisplayForAutoTellSpam"), "0");
}

// The host's notices go by their subject, matched in its letter case, and
// are not counted as spam.
TEST(Connection, LaterRunsDoNotImportButStillDeleteHostNotices) {
    Client c;
    c.markInstalled();
    c.host.addAddressList("Contacts", {"friend@x.com"});
    auto notice = c.mail("outlook@x.com", "Welcome to Microsoft Outlook!");
    auto other = c.mail("a@x.com", "microsoft outlook tips");
    c.connect();
    EXPECT_TRUE(c.v().friendemail.empty());
    EXPECT_EQ(notice->folder(), c.host.deletedItems());
    EXPECT_EQ(other->folder(), c.host.inbox());
    EXPECT_EQ(c.v().totalDeleted, 0);
    EXPECT_EQ(c.setting("HaveAutoDeleteCount"), "<missing>");
}

TEST(Connection, LogsOnOnceAndTakesTheUsersAddressLowerCased) {
    Client c;
    c.connect();
    // The logon's arguments as the client gets them are the DLL's test's.
    ASSERT_EQ(c.host.objects().sessions.size(), 1u);
    EXPECT_EQ(c.host.objects().sessions[0]->logons.size(), 1u);
    EXPECT_EQ(c.v().ownAddress, "john.smith@example.com");
}

TEST(Connection, AnApplicationThatIsNotTheMailClientsDoesNothing) {
    Client c;
    IDTExtensibility2::CustomValues custom;
    c.addin->OnConnection(c.host.inbox(), 0, nullptr, custom);
    EXPECT_TRUE(c.host.objects().sessions.empty());
    EXPECT_THROW(c.disconnect(), std::exception) << "no session to log off";
    EXPECT_TRUE(c.platform.files.empty());
    EXPECT_EQ(c.platform.faults().calls("Platform.writeValue"), 0) << "no settings at all";
}

TEST(Totals, StoredTextIsParsedAndTheNewTotalWrittenBack) {
    struct Case {
        const char* stored;
        int deleted;
        const char* written;
    } cases[] = {{"40", 3, "43"}, {"abc", 0, "0"}, {"abc", 2, "2"}, {"", 1, "1"},
                 {"40000", 0, "0"}, {"32767", 5, "32767"}, {"-4", 0, "0"}, {"+7", 0, "7"}, {"000012", 1, "13"},
                 {"000000000040", 0, "40"}, {"+", 0, "0"}, {"1 2", 0, "0"}};
    for (const auto& k : cases) {
        Client c;
        c.markInstalled();
        c.setSetting("HaveAutoDeleteCount", k.stored);
        c.connect();
        for (int i = 0; i < k.deleted; ++i)
            bump(c.v().totalDeleted);
        c.disconnect();
        EXPECT_EQ(c.setting("HaveAutoDeleteCount"), k.written) << k.stored << " + " << k.deleted;
    }
}

TEST(Disconnection, StoresListsThenLogsOffAndReleases) {
    Connected c;
    c.v().enemyemail = addToArray(c.v().enemyemail, "bad@spam.com");
    auto session = c.host.objects().sessions.at(0);
    c.disconnect();
    EXPECT_EQ(c.platform.files.at(c.listFile()), "\r\n\r\nbad@spam.com\r\n\r\n");
    EXPECT_EQ(session->logoffs, 1);
    EXPECT_FALSE(c.v().messagingSession);
    EXPECT_FALSE(c.v().globalApplication);
    EXPECT_EQ(c.host.application()->newMailSubscribers(), 0);
}

TEST(Disconnection, FailedLogoffIsPassedBackAndSkipsTheReleases) {
    Connected c;
    c.host.faults().failOnce("Session.Logoff");
    EXPECT_THROW(c.disconnect(), std::exception);
    EXPECT_TRUE(c.v().globalApplication);
    EXPECT_EQ(c.setting("HaveAutoDeleteCount"), "0") << "the environment is stored first";
}

// Every host or platform operation the start-up touches may fail; the
// connection goes on and nothing escapes to the host.
TEST(Connection, SurvivesAFailureAtEveryStep) {
    const char* faults[] = {
        "Factory.CreateObject",     "Session.Logon",           "Application.GetNamespace", "Namespace.CurrentUser",
        "Recipient.Address",        "Namespace.GetDefaultFolder", "Folder.Items",          "MailItem.Subject",
        "MailItem.Delete",          "Namespace.AddressLists",  "Application.ActiveExplorer", "Explorer.GetCommandBars",
        "CommandBars.Count",        "CommandBars.Item",        "CommandBars.Add",          "CommandBar.setVisible",
        "CommandBar.setPosition",   "Controls.Add",            "Control.setCaption",       "Button.PasteFace",
        "Button.setStyle",          "Popup.Controls",          "Clipboard.setBitmap",      "Platform.readValue",
        "Platform.writeValue",      "Platform.userName",       "Platform.systemDirectory", "Platform.fileExists",
        "Platform.createEmptyFile", "Platform.replaceTextFile", "Platform.loadBitmap",
    };
    for (const std::string fault : faults) {
        Client c;
        c.host.addAddressList("Contacts", {"friend@x.com"});
        c.mail("outlook@x.com", "Microsoft Outlook");
        (fault.starts_with("Platform.") ? c.platform.faults() : c.host.faults()).failAlways(fault);
        EXPECT_NO_THROW(c.connect()) << fault;
        EXPECT_TRUE(c.v().environmentLoaded) << fault;
    }
}

// Two processes over one store: each saves its own changes into what the
// other stored, as often as it saves.
TEST(Store, TwoProcessesKeepEachOthersListsAndDeletions) {
    test::World w;
    w.platform.files[w.listFile()] = "f@x.com\r\n\r\n\r\n\r\n";
    w.platform.setValue(platform::RegistryRoot::CurrentUser, settingsKeyName, "HaveAutoDeleteCount", "40");
    Varient other(w.v.services);
    other.settingsKey = w.v.settingsKey;
    other.listFileUserName = w.v.listFileUserName;
    loadEnvironment(w.v);
    loadEnvironment(other);
    w.v.enemyemail = addToArray(w.v.enemyemail, "a@spam.com");
    w.v.totalDeleted += 3;
    other.friendemail = addToArray(delFromArray(other.friendemail, "f@x.com"), "g@x.com");
    other.totalDeleted += 2;
    for (int round = 0; round < 2; ++round) {
        saveEnvironment(w.v, nullptr);
        saveEnvironment(other, nullptr);
        EXPECT_EQ(w.platform.files.at(w.listFile()), "g@x.com\r\n\r\na@spam.com\r\n\r\n") << round;
        EXPECT_EQ(w.platform.value(platform::RegistryRoot::CurrentUser, settingsKeyName, "HaveAutoDeleteCount"), "45")
            << round;
    }

    // While another process holds the store, nothing is stored; the
    // changes wait for the next save.
    auto held = w.platform.lockFolder(*w.platform.systemDir);
    w.v.enemyemail = addToArray(w.v.enemyemail, "b@spam.com");
    bump(w.v.totalDeleted);
    saveEnvironment(w.v, nullptr);
    EXPECT_EQ(w.platform.files.at(w.listFile()), "g@x.com\r\n\r\na@spam.com\r\n\r\n");
    held.reset();
    saveEnvironment(w.v, nullptr);
    EXPECT_EQ(w.platform.files.at(w.listFile()), "g@x.com\r\n\r\na@spam.com;b@spam.com\r\n\r\n");
    EXPECT_EQ(w.platform.value(platform::RegistryRoot::CurrentUser, settingsKeyName, "HaveAutoDeleteCount"), "46");
}

// The list file that could not be read is left as it was; the total is stored.
TEST(FirstRun, AnImportThatCouldNotBeStoredRunsAgainAndKeepsTheTotal) {
    Client c;
    c.host.addAddressList("Contacts", {"friend@x.com"});
    c.platform.files[c.listFile()] = "kept@x.com\r\n\r\n\r\n\r\n";
    c.platform.faults().failAlways("Platform.readTextFile");
    c.connect();
    c.v().totalDeleted = 3;
    c.disconnect();
    EXPECT_EQ(c.setting("SetupComplete"), "<missing>");
    c.platform.faults().clearAll();
    c.host.endSession();
    c.restartAddin();
    c.connect();
    EXPECT_EQ(c.v().friendemail.entries(), (std::vector<std::string>{"kept@x.com", "friend@x.com"}));
    EXPECT_EQ(c.setting("SetupComplete"), "1");
    EXPECT_EQ(c.setting("HaveAutoDeleteCount"), "3");
}

} // namespace
} // namespace skerrow
