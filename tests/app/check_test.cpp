// `skerrow check` from the command line to the files it leaves behind.
#include "tests/app/app_fixture.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace skerrow::test {
namespace {

std::string manyRecipients(int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? ", u" : "u") + std::to_string(i) + "@lists.example";
    return list;
}

// A multipart nested depth times around one text part.
std::string nestedParts(int depth, const std::string& text) {
    std::string body = "Content-Type: text/plain\n\n" + text + "\n";
    for (int i = 0; i < depth; ++i) {
        const std::string b = "b" + std::to_string(i);
        body = "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\n" + body + "\n--" + b + "--\n";
    }
    return body;
}

// ---- The purge ----

// How the files are renamed is the Maildir host's; here, what the program moves and says.
TEST_F(CheckTest, BlacklistedMailMovesToTrashAndIsReported) {
    writeLists({}, {}, {"spammer@junk.example"}, {"*@bad.example"});
    put("new", "1700000001.A1.host", mailFrom("spammer@junk.example", "pills"));
    put("cur", "1700000002.B.host:2,FR", mailFrom("Bulk <bulk@bad.example>", "offer"));

    const Outcome run = check({"--address", ownAddress});

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "[Check Spam] Deleted 2 spams.\n");
    EXPECT_EQ(files(".Trash/cur"), (std::vector<std::string>{"1700000001.A1.host:2,", "1700000002.B.host:2,FR"}));
}

TEST_F(CheckTest, MailIsKeptOnlyWhenItsHeadersOrShownBodyNameTheAddress) {
    const std::string headers = "From: who@else.example\nSubject: s\n";
    const std::string attachment = "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
                                   "Content-Disposition: attachment; filename=x.txt\n\n"
                                   "bWUgYXQgbWVAaG9tZS5leGFtcGxlCg==\n"; // "me at me@home.example"
    const struct {
        const char* where;
        std::string text;
        bool kept;
    } cases[] = {
        {"in To", headers + "To: Me <me@home.example>\n\nHi\n", true},
        {"in Cc only", headers + "To: list@lists.example\nCc: me@home.example\n\nHi\n", true},
        {"in Delivered-To only", "Delivered-To: me@home.example\n" + headers + "To: list@lists.example\n\nHi\n", true},
        {"in a quoted-printable body, across a soft line break",
         headers + "To: list@lists.example\nContent-Type: text/plain; charset=utf-8\n"
                   "Content-Transfer-Encoding: quoted-printable\n\nWrite to me@home.=\nexample soon\n",
         true},
        {"in a base64 body",
         headers + "To: list@lists.example\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\n"
                   "bWUgYXQgbWVAaG9tZS5leGFtcGxlCg==\n",
         true},
        {"in the HTML part of an alternative",
         headers + "To: list@lists.example\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=b\n\n"
                   "--b\nContent-Type: text/plain\n\nplain\n--b\nContent-Type: text/html\n\n"
                   "<p>me@home.example</p>\n--b--\n",
         true},
        {"only in the plain part while an HTML part exists",
         headers + "To: list@lists.example\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=b\n\n"
                   "--b\nContent-Type: text/plain\n\nme@home.example\n--b\nContent-Type: text/html\n\n"
                   "<p>html</p>\n--b--\n",
         false},
        {"only in an attachment",
         headers + "To: list@lists.example\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                   "--b\nContent-Type: text/plain\n\nsee attached\n--b\n" + attachment + "--b--\n",
         false},
        {"nowhere", headers + "To: list@lists.example\n\nHi\n", false},
        {"in a To line after 2 MiB of other header lines",
         headers + "X-Filler: " + std::string(2 << 20, 'f') + "\nTo: me@home.example\n\nHi\n", true},
        {"last of a million recipients", headers + "To: " + manyRecipients(1000000) + ", me@home.example\n\nHi\n", true},
        // Not read whole: such a mail is not judged by what it seems to lack.
        {"in a text part nested deeper than the parser reads", headers + "To: list@lists.example\nMIME-Version: 1.0\n" +
         nestedParts(1100, "me@home.example"), true},
        {"nowhere in a header block too long to read whole",
         headers + "X-Filler: " + std::string(65 << 20, 'f') + "\nTo: list@lists.example\n\nHi\n", true},
    };
    int n = 0;
    std::map<std::string, std::string> names;
    for (const auto& c : cases) {
        const std::string name = "17000000" + std::to_string(10 + n++) + ".x:2,S";
        put("cur", name, c.text);
        names[c.where] = name;
    }

    const Outcome run = check({"--address", ownAddress});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "") << "deletions by this rule are not reported";
    for (const auto& c : cases) {
        const std::string name = names[c.where];
        EXPECT_EQ(fs::exists(maildir / "cur" / name), c.kept) << c.where;
        EXPECT_EQ(fs::exists(maildir / ".Trash/cur" / name), !c.kept) << c.where;
    }
}

TEST_F(CheckTest, AddressComesFromEmailWhenNotGivenAndWithoutOneNothingIsDeletedForNotNamingIt) {
    put("cur", "1700000001.A:2,S", mailFrom("who@else.example", "for me"));
    put("cur", "1700000002.B:2,S", mailFrom("who@else.example", "for someone else", "other@else.example"));
    EXPECT_EQ(check().status, 0);
    EXPECT_EQ(files("cur"), (std::vector<std::string>{"1700000001.A:2,S", "1700000002.B:2,S"}));
    auto env = environment();
    env.push_back(std::string("EMAIL=") + ownAddress);
    const Outcome run = runProgram({SKERROW_BINARY, "check", "--maildir", maildir.string()}, env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(files("cur"), std::vector<std::string>{"1700000001.A:2,S"});
    EXPECT_EQ(files(".Trash/cur"), std::vector<std::string>{"1700000002.B:2,S"});
}

// ---- The review ----

// Which mail is listed, and in what order, is the add-in's; here, how the
// program prints the window, and that printing it moves or marks nothing.
TEST_F(CheckTest, ReviewWindowIsPrintedWithItsCaptionLabelsAndRows) {
    writeLists({}, {}, {"spammer@junk.example"}, {});
    put("new", "1700000001.A", mailFrom("Amy <amy@strangers.example>", "=?UTF-8?Q?caf=C3=A9?="));
    put("cur", "1700000002.B:2,F", mailFrom("bob@strangers.example", "flagged"));
    put("new", "1700000003.C", mailFrom("spammer@junk.example", "junk"));

    const Outcome run = check({"--address", ownAddress});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "== Check Spam ==");
    const Review review = parseReview(run.out);
    EXPECT_EQ(review.labels.size(), 3u) << "the counts, then the window's help";
    ASSERT_EQ(review.rows.size(), 2u) << run.out;
    EXPECT_EQ(review.rows[0].from, "amy@strangers.example");
    EXPECT_EQ(review.rows[0].subject, "café");
    EXPECT_FALSE(review.rows[0].received.empty());
    EXPECT_EQ(files("new"), std::vector<std::string>{"1700000001.A"});
    EXPECT_EQ(files("cur"), std::vector<std::string>{"1700000002.B:2,F"});
}

TEST_F(CheckTest, ControlCharactersInMailTextArePrintedEscapedOneRowPerMail) {
    const struct {
        const char* subjectField;
        const char* printed;
    } cases[] = {
        {"raw \x1b]0;owned\x07 title", "raw \\x1b]0;owned\\x07 title"},
        {"=?UTF-8?Q?encoded_=1B[2J_clear?=", "encoded \\x1b[2J clear"},
        {"=?UTF-8?Q?forged=0A____evil@x.example_=7C_row?=", "forged\\x0a    evil@x.example | row"},
        {"=?UTF-8?B?wpsxbSBjMQ==?=", "\\x9b1m c1"}, // U+009B, the one-byte CSI
    };
    int n = 0;
    for (const auto& c : cases)
        put("new", "17000000" + std::to_string(10 + n++) + ".x",
            mailText({"From: who@strangers.example", "To: me@home.example", std::string("Subject: ") + c.subjectField}, "Hi\n"));

    const Outcome run = check({"--address", ownAddress});

    ASSERT_EQ(run.status, 0) << run.err;
    std::multiset<std::string> printed, expected;
    for (const auto& c : cases)
        expected.insert(c.printed);
    for (const auto& row : parseReview(run.out).rows) // a raw line break would make a row of its own
        printed.insert(row.subject);
    EXPECT_EQ(printed, expected) << run.out;
}

// ---- Settings and lists across runs ----

TEST_F(CheckTest, FirstRunImportsContactsIntoFriendsAndTheTotalGrowsAcrossRuns) {
    writeLists({"old@pals.example"}, {"*@trusted.example"}, {"spammer@junk.example"}, {"*@junk.example"});
    writeFile(dir / "contacts.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEMAIL;TYPE=work:ann@pals.example\r\n"
                                    "EMAIL:ann.home@pals.example\r\nEND:VCARD\r\n"
                                    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Old\r\nEMAIL:old@pals.example\r\nEND:VCARD\r\n");
    writeFile(dir / "vdir" / "b.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bea\r\nEMAIL:bea@pals.example\r\nEND:VCARD\r\n");
    writeFile(dir / "vdir" / "a.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Al\r\nEMAIL:al@pals.example\r\nEND:VCARD\r\n");
    put("new", "1700000001.A", mailFrom("Ann <ann@pals.example>", "from a contact"));
    put("new", "1700000002.B", mailFrom("who@strangers.example", "from a stranger"));
    put("new", "1700000003.C", mailFrom("spammer@junk.example", "junk"));

    const Outcome first = check({"--address", ownAddress, "--contacts", (dir / "contacts.vcf").string(),
                                 "--contacts", (dir / "vdir").string()});

    ASSERT_EQ(first.status, 0) << first.err;
    const std::string lists = "old@pals.example;ann@pals.example;ann.home@pals.example;al@pals.example;bea@pals.example"
                              "\r\n*@trusted.example\r\nspammer@junk.example\r\n*@junk.example\r\n";
    EXPECT_EQ(readFile(listFile()), lists);
    const Review listed = parseReview(first.out);
    ASSERT_EQ(listed.rows.size(), 1u) << "an imported contact is a friend in the same run";
    EXPECT_EQ(listed.rows[0].subject, "from a stranger");
    EXPECT_EQ(listed.labels.at(0), "Deleted 1 spams.");

    writeFile(dir / "later.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:New\r\nEMAIL:new@pals.example\r\nEND:VCARD\r\n");
    put("new", "1700000004.D", mailFrom("spammer@junk.example", "junk again"));
    put("new", "1700000005.E", mailFrom("other@junk.example", "junk domain"));
    const Outcome second = check({"--address", ownAddress, "--contacts", (dir / "later.vcf").string()});
    ASSERT_EQ(second.status, 0) << second.err;
    const Review again = parseReview(second.out);
    EXPECT_EQ(again.labels.at(0), "Deleted 2 spams.") << "this run's deletions";
    EXPECT_EQ(again.labels.at(1), "A total of 3 spams have been deleted.");
    EXPECT_EQ(setting("HaveAutoDeleteCount"), "3");
    EXPECT_EQ(readFile(listFile()), lists) << "no second import";
}

// ---- What the check refuses ----

TEST_F(CheckTest, InboxHoldingANonMailFileIsNotScannedAndTheFileIsNamed) {
    writeFile(dir / "outside", mailFrom("spammer@junk.example", "outside the store"));
    const struct {
        const char* what;
        std::function<fs::path(const fs::path&)> plant; // in new/ or cur/; gives the planted path
        std::string reason;
        int status;
    } cases[] = {
        {"an empty file", [](const fs::path& at) { writeFile(at, ""); return at; }, "no header field", 0},
        {"a FIFO", [](const fs::path& at) { ::mkfifo(at.c_str(), 0600); return at; }, "not a regular file", 3},
        {"a dangling link", [](const fs::path& at) { fs::create_symlink("/nonexistent/mail", at); return at; },
         "No such file or directory", 3},
        {"a link out of the store", [this](const fs::path& at) { fs::create_symlink(dir / "outside", at); return at; },
         "symbolic link out of the store", 3},
    };
    for (const char* where : {"new", "cur"}) {
        for (const auto& c : cases) {
            const std::string label = std::string(c.what) + " in " + where;
            freshStart();
            writeLists({}, {}, {"spammer@junk.example"}, {});
            put("new", "1700000001.A", mailFrom("spammer@junk.example", "junk"));
            const fs::path planted = c.plant(maildir / where / "1700000002.B");

            const Outcome run = check({"--address", ownAddress});

            EXPECT_EQ(run.status, c.status) << label << "\n" << run.err;
            EXPECT_EQ(run.out, "[Skerrow] there are invail email in Inbox.Please delete it .\n") << label;
            const std::string line = run.err.substr(0, run.err.find('\n'));
            EXPECT_EQ(line.rfind("skerrow check: not a mail: ", 0), 0u) << label << "\n" << run.err;
            EXPECT_NE(line.find(planted.string()), std::string::npos) << label << "\n" << run.err;
            EXPECT_NE(line.find(c.reason), std::string::npos) << label << "\n" << run.err;
            EXPECT_TRUE(fs::exists(maildir / "new/1700000001.A")) << label;
        }
    }
}

TEST_F(CheckTest, WhatCannotBeMovedReadOrWrittenIsReportedWithItsOwnStatus) {
    const struct {
        const char* what;
        std::function<void()> plant;
        std::string line; // the start of the one line on stderr
        std::string reason;
        bool listsRead;
    } cases[] = {
        {".Trash is a file", [this] { writeFile(maildir / ".Trash", "x"); },
         "skerrow check: mail could not be moved to the Trash and stays in place: ", "Not a directory", true},
        {"the list file is a FIFO", [this] { fs::remove(listFile()); ::mkfifo(listFile().c_str(), 0600); },
         "skerrow check: the lists could not be read: ", "not a regular file", false},
        {"the list file is a folder", [this] { fs::remove(listFile()); fs::create_directories(listFile()); },
         "skerrow check: the lists could not be ", "Is a directory", false},
    };
    for (const auto& c : cases) {
        freshStart();
        writeLists({}, {}, {"spammer@junk.example"}, {});
        put("new", "1700000001.A", mailFrom("spammer@junk.example", "junk"));
        put("new", "1700000002.B", mailFrom("stranger@else.example", "unknown sender"));
        c.plant();

        const Outcome run = check({"--address", ownAddress});

        EXPECT_EQ(run.status, 3) << c.what << "\n" << run.err;
        EXPECT_EQ(run.err.rfind(c.line, 0), 0u) << c.what << "\n" << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.what << "\n" << run.err;
        EXPECT_TRUE(fs::exists(maildir / "new/1700000001.A")) << c.what;
        // The blacklisted mail is never listed as an unknown sender.
        const auto rows = parseReview(run.out).rows;
        auto listed = [&](const char* from) {
            return std::count_if(rows.begin(), rows.end(), [&](const auto& r) { return r.from == from; });
        };
        EXPECT_EQ(listed("spammer@junk.example"), c.listsRead ? 0 : 1) << c.what << "\n" << run.out;
        EXPECT_EQ(listed("stranger@else.example"), 1) << c.what << "\n" << run.out;
    }
}

TEST_F(CheckTest, BadCommandLineOrMaildirFailsWithAMessageAndWritesNothing) {
    writeFile(dir / "plain" / "note", "not a Maildir");
    const std::string missing = (dir / "missing").string();
    const std::string plain = (dir / "plain").string();
    const std::string file = (dir / "plain" / "note").string();
    const std::string contacts = (dir / "nobody.vcf").string();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"--maildir", missing}, 1, missing},
        {{"--maildir", plain}, 1, plain},
        {{"--maildir", file}, 1, file},
        {{"--maildir", maildir.string(), "--contacts", contacts}, 1, contacts},
        {{}, 2, "--maildir"},
        {{"--maildir"}, 2, "--maildir needs a value"},
        {{"--maildir", maildir.string(), "--bogus"}, 2, "unknown option '--bogus'"},
        {{"--maildir", maildir.string(), "extra"}, 2, "'extra'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("skerrow check " + ::testing::PrintToString(c.args));
        const Outcome run = check(c.args, false);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(fs::exists(configHome)) << "a failed run wrote settings";
    EXPECT_FALSE(fs::exists(dataHome)) << "a failed run wrote a list file";
    EXPECT_FALSE(fs::exists(maildir / ".Trash")) << "a failed run touched the Maildir";
}

TEST_F(CheckTest, RunAsRootOnAUsersStoreItFollowsNoPlantedLink) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: planted links matter when root checks a user's Maildir";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const struct {
        const char* link; // the store's folder that is a link
        bool toRootsFolder;
        int status;
    } cases[] = {{"cur", true, 1}, {"new", true, 1}, {".Trash", false, 3}, {".Trash/cur", false, 3}};
    for (const auto& c : cases) {
        freshStart();
        for (const auto& path : {dir / "roots", dir / "users"})
            fs::remove_all(path);
        for (const char* sub : {".Trash/new", ".Trash/tmp", "../roots", "../users/cur", "../users/new"})
            fs::create_directories(maildir / sub);
        writeFile(dir / "roots" / "1700000009.R", mailFrom("spammer@junk.example", "root's file"));
        writeLists({}, {}, {"spammer@junk.example"}, {});
        const std::string spamIn = std::string(c.link) == "new" ? "cur" : "new";
        put(spamIn, "1700000001.A", mailFrom("spammer@junk.example", "junk"));
        fs::remove_all(maildir / c.link);
        fs::create_symlink(c.toRootsFolder ? dir / "roots" : dir / "users" / (std::string(c.link) == ".Trash" ? "" : "cur"),
                           maildir / c.link);
        for (const auto& entry : fs::recursive_directory_iterator(maildir))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown(maildir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

        const Outcome run = check({"--address", ownAddress});

        EXPECT_EQ(run.status, c.status) << c.link << "\n" << run.err;
        EXPECT_NE(run.err.find((maildir / c.link).string() + " is a symbolic link"), std::string::npos)
            << c.link << "\n" << run.err;
        EXPECT_TRUE(fs::exists(dir / "roots" / "1700000009.R")) << c.link;
        EXPECT_TRUE(fs::is_empty(dir / "users" / "cur")) << c.link;
        EXPECT_TRUE(fs::exists(maildir / spamIn / "1700000001.A") || c.toRootsFolder) << c.link;
    }
}

} // namespace
} // namespace skerrow::test
