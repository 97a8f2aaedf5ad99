// What the host keeps between the walks of one check (text bodies, item
// objects, the message last named) must never outlive the file it came from.
#include "tests/hosts/maildir/maildir_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>

namespace skerrow::test {
namespace {

// Takes GMime's parse: multipart with a base64 text part.
std::string mimeMail(const std::string& subject, const std::string& base64Text) {
    return mailText({"From: a@x.org", "To: john@example.com", "Subject: " + subject,
                     "Content-Type: multipart/mixed; boundary=\"b\""},
                    "--b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
                        base64Text + "\n--b--\n");
}

// Another program renames, replaces or removes a mail's file after the walk:
// every call follows the unique name to the file there now, reads what was
// kept only while it is the same file, and fails once the file is gone,
// touching nothing else.
TEST_F(MaildirTest, ItemsFollowTheirFileByUniqueNameAndFailOnceItIsGone) {
    const auto dated = put("new", "1.moved", mimeMail("one", "Zmlyc3Q=")); // "first"
    const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dated.c_str(), times, 0), 0);
    put("new", "2.deleted", mimeMail("two", "dHJhc2hlZA==")); // "trashed"
    put("new", "3.marked", mailText(plainHeaders, "marked"));
    put("new", "4.gone", mailText(plainHeaders, "gone"));
    put("new", "5.vanished", mailText(plainHeaders, "vanished"));
    auto& mailClient = host();
    const auto items = inbox()->Items();
    auto all = byEntryID(mails(inbox()));
    all["1.moved"]->Body(); // kept now
    all["4.gone"]->Body();

    // Read by another client: new/ to cur/ with a flag.
    fs::rename(root / "new/1.moved", root / "cur/1.moved:2,S");
    fs::rename(root / "new/2.deleted", root / "cur/2.deleted:2,S");
    fs::rename(root / "new/3.marked", root / "cur/3.marked:2,F");
    EXPECT_EQ(all["1.moved"]->Body(), "first");
    EXPECT_EQ(all["1.moved"]->ReceivedTime(), host::Date(std::chrono::seconds(1600000000)));
    EXPECT_EQ(all["2.deleted"]->Body(), "trashed");
    EXPECT_FALSE(all["2.deleted"]->UnRead()) << "the item follows its file";
    all["2.deleted"]->Delete();
    mailClient.markRead(all["3.marked"]);
    EXPECT_EQ(files(".Trash/cur"), (std::vector<std::string>{"2.deleted:2,S"}));
    EXPECT_EQ(files("cur"), (std::vector<std::string>{"1.moved:2,S", "3.marked:2,FS"}));
    EXPECT_FALSE(all["3.marked"]->UnRead());
    EXPECT_THROW(all["2.deleted"]->Body(), host::HostError) << "it left the Inbox";
    EXPECT_THROW(all["2.deleted"]->HTMLBody(), host::HostError);
    EXPECT_EQ(mails(trash()).at(0)->Body(), "trashed");

    // A new file under the name, then one rewritten in place: read afresh.
    put("tmp", "1.moved", mimeMail("again", "c2Vjb25k")); // "second"
    fs::rename(root / "tmp/1.moved", root / "cur/1.moved:2,S");
    EXPECT_EQ(byEntryID(mails(inbox()))["1.moved"]->Body(), "second");
    EXPECT_EQ(all["1.moved"]->Subject(), "again");
    EXPECT_EQ(all["1.moved"]->Body(), "second") << "the item follows its unique name to the new file";
    put("cur", "1.moved:2,S", mimeMail("third time", "dGhpcmQ=")); // "third", same inode
    mails(inbox());
    EXPECT_EQ(all["1.moved"]->Subject(), "third time");
    EXPECT_EQ(all["1.moved"]->Body(), "third");

    // Gone: every call fails, and nothing else is touched.
    fs::remove(root / "new/4.gone");
    fs::remove(root / "new/5.vanished");
    EXPECT_THROW(mailClient.markRead(all["5.vanished"]), host::HostError);
    EXPECT_THROW(all["5.vanished"]->ReceivedTime(), host::HostError);
    EXPECT_THROW(all["5.vanished"]->Delete(), host::HostError);
    EXPECT_THROW(all["5.vanished"]->Subject(), host::HostError);
    EXPECT_THROW(message("5.vanished"), host::HostError);
    EXPECT_EQ(items[4]->typeName(), "MailItem") << "a vanished mail must not make the Inbox look invalid";
    EXPECT_EQ(files(".Trash/cur"), (std::vector<std::string>{"2.deleted:2,S"}));
    EXPECT_EQ(mails(inbox()).size(), 2u);
    EXPECT_THROW(all["4.gone"]->Body(), host::HostError) << "seen gone by the walk, not served from what was kept";
    EXPECT_EQ(all["3.marked"]->Body(), "marked");
}

TEST_F(MaildirTest, BodiesBeyondTheCacheBudgetAreStillRightWhenAskedAgain) {
    // Five bodies of 7 MiB overflow the cache: the oldest are dropped and
    // read again.
    const std::string filler(7u * 1024 * 1024, 'x');
    for (int i = 1; i <= 5; ++i)
        put("cur", std::to_string(i) + ".big:2,S", mailText(plainHeaders, "mail " + std::to_string(i) + "\n" + filler));
    host();
    auto all = mails(inbox());
    ASSERT_EQ(all.size(), 5u);
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::string body = all[i]->Body();
            EXPECT_EQ(body.substr(0, body.find('\n')), "mail " + std::to_string(i + 1)) << "round " << round;
            EXPECT_EQ(body.size(), filler.size() + 7) << "round " << round;
        }
    }
    all[4]->Delete(); // drops a cached body that is the newest in the cache
    EXPECT_EQ(all[3]->Body().substr(0, 6), "mail 4");
}

TEST_F(MaildirTest, LaterWalksSeeOtherProgramsChangesAndHandOutTheSameItemsForFilesStillThere) {
    for (const char* name : {"1.kept", "2.deleted", "3.read-elsewhere", "4.removed-elsewhere"})
        put("new", name, mailText(plainHeaders, "b"));
    maildir::MaildirHost& opened = host();
    auto folder = inbox();
    const auto first = folder->Items();
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(folder->Items(), first);

    host::asMailItem(first[1])->Delete();
    fs::rename(root / "new/3.read-elsewhere", root / "cur/3.read-elsewhere:2,S");
    fs::remove(root / "new/4.removed-elsewhere");
    put("tmp", "0.delivered", mailText(plainHeaders, "b"));
    fs::rename(root / "tmp/0.delivered", root / "new/0.delivered");

    const auto second = folder->Items();
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(folder->ItemCount(), 3);
    EXPECT_EQ(trash()->ItemCount(), 1);
    EXPECT_EQ(host::asMailItem(second[0])->EntryID(), "0.delivered");
    EXPECT_TRUE(host::asMailItem(second[0])->UnRead());
    EXPECT_EQ(second[1], first[0]);
    EXPECT_EQ(second[2], first[2]);
    EXPECT_FALSE(host::asMailItem(second[2])->UnRead());

    // Work ended, as before an exit, starts again with a fresh reading.
    opened.endWork();
    fs::remove(root / "new/0.delivered");
    EXPECT_EQ(folder->Items().size(), 2u);

    // Items outlive the host, and walks made after it still work.
    host();
    EXPECT_EQ(folder->Items().size(), 2u);
    EXPECT_EQ(host::asMailItem(second[2])->EntryID(), "3.read-elsewhere");
}

// A host told to read the Inbox ahead lists it and reads its header blocks
// as it opens; a change before the first walk must still be seen as a
// fresh reading sees it.
TEST_F(MaildirTest, TheInboxReadAheadGivesWayToChangesMadeBeforeTheFirstWalk) {
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"delivered", [this] {
             put("tmp", "4.late", mailText({"From: d@x.org", "Subject: late"}, "b"));
             fs::rename(root / "tmp/4.late", root / "new/4.late");
         }},
        {"removed", [this] { fs::remove(root / "new/2.b"); }},
        {"read elsewhere", [this] { fs::rename(root / "new/2.b", root / "cur/2.b:2,S"); }},
        {"replaced", [this] {
             put("tmp", "2.b", mailText({"From: e@x.org", "Subject: replaced"}, "b"));
             fs::rename(root / "tmp/2.b", root / "new/2.b");
         }},
        {"rewritten", [this] { put("new", "2.b", mailText({"Subject: rewritten"}, "b")); }},
    };
    const auto seen = [&](bool ahead, const std::function<void()>& change) {
        maildir::MaildirHost mailClient(maildir::MaildirOptions{root.string(), "me@x.org", {}, false, ahead});
        if (ahead) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // read by then
            change();
        }
        std::vector<std::string> result;
        for (const auto& item : mailClient.application()->GetNamespace("MAPI")->GetDefaultFolder(host::olFolderInbox)->Items())
            if (auto mail = host::asMailItem(item))
                result.push_back(mail->EntryID() + " " + mail->Subject() + (mail->UnRead() ? " unread" : ""));
        return result;
    };
    for (const auto& [what, change] : changes) {
        fs::remove_all(root);
        for (const char* sub : {"cur", "new", "tmp"})
            fs::create_directories(root / sub);
        for (const char* name : {"1.a", "2.b", "3.c"})
            put("new", name, mailText({"From: a@x.org", std::string("Subject: ") + name}, "b"));
        const auto afterAhead = seen(true, change);
        EXPECT_EQ(afterAhead, seen(false, {})) << what;
    }
}

} // namespace
} // namespace skerrow::test
