// What the host keeps between the walks of one check (text bodies, item
// objects, the message last named) must never outlive the file it came from.
#include "tests/hosts/maildir/maildir_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <map>

namespace skerrow::test {
namespace {

const std::vector<std::string> plainHeaders = {"From: Ann <ann@example.org>", "To: john@example.com",
                                               "Subject: hello"};

// Takes GMime's parse: multipart with a base64 text part.
std::string mimeMail(const std::string& from, const std::string& base64Text) {
    return mailText({"From: " + from, "To: john@example.com", "Subject: mime",
                     "Content-Type: multipart/mixed; boundary=\"b\""},
                    "--b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
                        base64Text + "\n--b--\n");
}

TEST_F(MaildirTest, CachedBodyFollowsRenamesAndIsReadAgainForAReplacedFile) {
    put("new", "1.body", mimeMail("a@x.org", "Zmlyc3Q=")); // "first"
    host();
    EXPECT_EQ(onlyMail()->Body(), "first");
    auto kept = onlyMail();

    fs::rename(root / "new/1.body", root / "cur/1.body:2,S"); // read by another client
    EXPECT_EQ(kept->Body(), "first");
    EXPECT_EQ(onlyMail()->Body(), "first");

    put("tmp", "1.body", mimeMail("a@x.org", "c2Vjb25k")); // "second", a new file under the name
    fs::rename(root / "tmp/1.body", root / "cur/1.body:2,S");
    EXPECT_EQ(onlyMail()->Body(), "second");
    EXPECT_EQ(kept->Body(), "second") << "the item follows its unique name to the new file";

    put("cur", "1.body:2,S", mimeMail("a@x.org", "dGhpcmQ=")); // "third", rewritten in place
    EXPECT_EQ(onlyMail()->Body(), "third");
}

TEST_F(MaildirTest, BodyOfAMailThatLeftTheInboxFailsAndItsTrashCopyIsRead) {
    put("new", "2.trashed", mimeMail("a@x.org", "dHJhc2hlZA==")); // "trashed"
    put("new", "3.removed", mailText(plainHeaders, "removed"));
    put("new", "4.stays", mailText(plainHeaders, "stays"));
    host();
    auto all = byEntryID(mails(inbox()));
    for (const auto& [name, mail] : all)
        mail->Body(); // cached now

    all["2.trashed"]->Delete();
    EXPECT_THROW(all["2.trashed"]->Body(), host::HostError);
    EXPECT_THROW(all["2.trashed"]->HTMLBody(), host::HostError);
    auto trashed = mails(trash());
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(trashed[0]->Body(), "trashed");

    fs::remove(root / "new/3.removed"); // by another program
    EXPECT_EQ(mails(inbox()).size(), 1u);
    EXPECT_THROW(all["3.removed"]->Body(), host::HostError) << "seen gone by the walk, not served from the cache";
    EXPECT_EQ(all["4.stays"]->Body(), "stays");
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

TEST_F(MaildirTest, LaterWalksHandOutTheSameItemsForFilesStillThere) {
    put("new", "1.kept", mailText(plainHeaders, "b"));
    put("new", "2.deleted", mailText(plainHeaders, "b"));
    put("new", "3.read-elsewhere", mailText(plainHeaders, "b"));
    host();
    auto folder = inbox();
    const auto first = folder->Items();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(folder->Items(), first);

    host::asMailItem(first[1])->Delete();
    fs::rename(root / "new/3.read-elsewhere", root / "cur/3.read-elsewhere:2,S");
    put("tmp", "0.delivered", mailText(plainHeaders, "b"));
    fs::rename(root / "tmp/0.delivered", root / "new/0.delivered");

    const auto second = folder->Items();
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(host::asMailItem(second[0])->EntryID(), "0.delivered");
    EXPECT_EQ(second[1], first[0]);
    EXPECT_EQ(second[2], first[2]);
    EXPECT_FALSE(host::asMailItem(second[2])->UnRead());

    // Items outlive the host, and walks made after it still work.
    host();
    EXPECT_EQ(folder->Items().size(), 3u);
    EXPECT_EQ(host::asMailItem(second[2])->EntryID(), "3.read-elsewhere");
}

TEST_F(MaildirTest, SessionOpensTheMessageAskedForNotTheOneNamedLast) {
    put("new", "1.ann", mailText({"From: ann@x.org", "Subject: a"}, "b"));
    put("new", "2.bob", mailText({"From: bob@x.org", "Subject: b"}, "b"));
    host();
    auto all = mails(inbox());
    auto mapiSession = session();
    const std::string store = all[0]->Parent()->StoreID();
    all[0]->EntryID();
    EXPECT_EQ(mapiSession->GetMessage("2.bob", store)->Sender()->Address(), "bob@x.org");
    EXPECT_EQ(mapiSession->GetMessage(all[0]->EntryID(), store)->Sender()->Address(), "ann@x.org");

    all[0]->Delete(); // named last, then moved: found in the Trash
    auto moved = mapiSession->GetMessage("1.ann", store);
    EXPECT_EQ(moved->Fields(host::prTransportMessageHeaders)->Value(), "From: ann@x.org\nSubject: a\n");
    EXPECT_THROW(mapiSession->GetMessage("9.nobody", store), host::HostError);
}

TEST_F(MaildirTest, PlainAsciiSubjectsComeOutAsGMimeGivesThem) {
    const struct {
        std::string field;
        std::string subject;
    } rows[] = {
        {"Subject:   two  spaces\tand a tab  ", "two  spaces\tand a tab"},
        {"Subject: a=b ?= c =? d", "a=b ?= c =? d"},
        {"Subject: Re: =?utf-8?q?caf=C3=A9?= x", "Re: caf\xc3\xa9 x"},
        {"Subject: x=?utf-8?q?y?=", "xy"},
        {"Subject: caf\xe9 in Latin-1", "caf\xc3\xa9 in Latin-1"},
        {"Subject: Microsoft Outlook Test Message", "Microsoft Outlook Test Message"},
    };
    int n = 0;
    for (const auto& row : rows)
        put("cur", std::to_string(++n) + ".subject:2,S", mailText({row.field}, "b"));
    host();
    auto all = mails(inbox());
    ASSERT_EQ(all.size(), std::size(rows));
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i]->Subject(), rows[i].subject) << rows[i].field;
}

TEST_F(MaildirTest, ReceivedTimeFollowsARenamedFileAndFailsForAVanishedOne) {
    const auto path = put("new", "1.dated", mailText(plainHeaders, "b"));
    put("new", "2.vanishing", mailText(plainHeaders, "b"));
    const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    host();
    auto all = byEntryID(mails(inbox()));
    fs::rename(path, root / "cur/1.dated:2,S");
    fs::remove(root / "new/2.vanishing");
    EXPECT_EQ(all["1.dated"]->ReceivedTime(), host::Date(std::chrono::seconds(1600000000)));
    EXPECT_THROW(all["2.vanishing"]->ReceivedTime(), host::HostError);
}

} // namespace
} // namespace skerrow::test
