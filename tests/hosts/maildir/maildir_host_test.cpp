#include "filter/text.h"
#include "tests/hosts/maildir/maildir_fixture.h"

namespace skerrow::test {
namespace {

// ---- The store and its folders ----

TEST_F(MaildirTest, FoldersCarryTheirDisplayNamesAndTheCanonicalRootAsStoreID) {
    for (const char* folder : {".Lists.dev", ".Archive"})
        for (const char* sub : {"cur", "new", "tmp"})
            fs::create_directories(root / folder / sub);
    fs::create_directory_symlink(root / ".Lists.dev", root / ".Linked"); // refused, named
    auto& h = host();
    ASSERT_FALSE(fs::exists(root / ".Trash"));
    EXPECT_EQ(inbox()->Name(), "Inbox");
    EXPECT_EQ(inbox(), inbox()) << "the add-in compares folder objects";
    EXPECT_EQ(trash()->Name(), "Deleted Items");
    for (const char* sub : {"cur", "new", "tmp"})
        EXPECT_TRUE(fs::is_directory(root / ".Trash" / sub)) << sub;

    std::vector<std::string> names;
    for (const auto& folder : h.folders()) {
        names.push_back(folder->Name());
        EXPECT_EQ(folder->StoreID(), fs::canonical(root).string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Deleted Items", "Archive", "Lists/dev"}));
    ASSERT_EQ(h.failures().size(), 1u);
    EXPECT_EQ(h.failures()[0].message, fs::canonical(root).string() + "/.Linked is a symbolic link: not followed");
}

TEST_F(MaildirTest, WalkOrdersByDeliverySecondsThenUniqueNameAndSkipsDotFiles) {
    put("new", "1700000002.x", mailText(plainHeaders, "b"));
    put("cur", "1700000001.b:2,S", mailText(plainHeaders, "b"));
    put("cur", "1700000001.a:2,", mailText(plainHeaders, "b"));
    put("cur", "999999999.z:2,S", mailText(plainHeaders, "b"));
    put("new", ".1700000000.partial", mailText(plainHeaders, "b"));
    // maildrop's names carry the size; the unique name is everything before ":2,".
    put("cur", "1700000003.M12P34.host,S=1234,W=1260:2,RS", mailText(plainHeaders, "b"));
    host();
    std::vector<std::string> ids;
    for (const auto& mail : mails(inbox()))
        ids.push_back(mail->EntryID());
    EXPECT_EQ(ids, (std::vector<std::string>{"999999999.z", "1700000001.a", "1700000001.b", "1700000002.x",
                                             "1700000003.M12P34.host,S=1234,W=1260"}));
    EXPECT_EQ(inbox()->ItemCount(), 5);
}

TEST_F(MaildirTest, UnreadIsBeingInNewOrLackingSeenAndMarkReadAddsSeenInOrderInCur) {
    const struct {
        const char* where;
        const char* name;
        bool unread;
        const char* read; // its name in cur/ once marked read
    } rows[] = {
        {"new", "1.in-new", true, "1.in-new:2,S"},
        {"new", "2.in-new-marked:2,S", true, "2.in-new-marked:2,S"},
        {"new", "3.flagged-in-new:2,F", true, "3.flagged-in-new:2,FS"},
        {"cur", "4.no-info", true, "4.no-info:2,S"},
        {"cur", "5.no-flags:2,", true, "5.no-flags:2,S"},
        {"cur", "6.around:2,FRT", true, "6.around:2,FRST"},
        {"cur", "7.seen:2,RS", false, "7.seen:2,RS"},
    };
    for (const auto& row : rows)
        put(row.where, row.name, mailText(plainHeaders, "b"));
    auto& mailClient = host();
    auto all = byEntryID(mails(inbox()));
    std::vector<std::string> read;
    for (const auto& row : rows) {
        const std::string id = std::string(row.name).substr(0, std::string(row.name).find(":2,"));
        ASSERT_TRUE(all.count(id)) << id;
        EXPECT_EQ(all[id]->UnRead(), row.unread) << row.name;
        mailClient.markRead(all[id]);
        EXPECT_FALSE(all[id]->UnRead()) << row.name;
        read.push_back(row.read);
    }
    EXPECT_EQ(files("cur"), read);
    EXPECT_TRUE(files("new").empty());
}

// ---- Header-level reading ----

TEST_F(MaildirTest, SubjectAndToAreDecodedForDisplay) {
    const struct {
        std::vector<std::string> headers;
        std::string eol;
        std::string subject;
        std::string to;
    } rows[] = {
        {{"Subject: =?iso-8859-1?q?Gr=FC=DFe?=", "To: \"Smith, John\" <john@x.org>, =?utf-8?q?J=C3=B6rg?= <j@x.de>"},
         "\n", "Grüße", "\"Smith, John\" <john@x.org>, Jörg <j@x.de>"},
        {{"Subject: =?utf-8?b?S8O2bG4=?= calling", "To: a@x.org"}, "\r\n", "Köln calling", "a@x.org"},
        {{"Subject: folded", " over two lines", "To: <b@x.org>"}, "\r\n", "folded over two lines", "b@x.org"},
        {{"SUBJECT: caf\xc3\xa9 in raw UTF-8"}, "\n", "caf\xc3\xa9 in raw UTF-8", ""},
        {{"Subject: caf\xe9 in Latin-1"}, "\n", "caf\xc3\xa9 in Latin-1", ""},
        // Plain text as the MIME parser gives it: inner blanks kept, no word taken for an encoded one.
        {{"Subject:   two  spaces\tand a tab  "}, "\n", "two  spaces\tand a tab", ""},
        {{"Subject: a=b ?= c =? d"}, "\n", "a=b ?= c =? d", ""},
        {{"Subject: Re: =?utf-8?q?caf=C3=A9?= x"}, "\n", "Re: caf\xc3\xa9 x", ""},
        {{"Subject: x=?utf-8?q?y?="}, "\n", "xy", ""},
    };
    int n = 0;
    for (const auto& row : rows)
        put("new", std::to_string(++n) + ".row", mailText(row.headers, "body", row.eol));
    host();
    auto all = mails(inbox());
    ASSERT_EQ(all.size(), std::size(rows));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->Subject(), rows[i].subject) << "row " << i + 1;
        EXPECT_EQ(all[i]->To(), rows[i].to) << "row " << i + 1;
    }
}

TEST_F(MaildirTest, SenderIsTheFirstFromMailboxOrFails) {
    const struct {
        std::vector<std::string> headers;
        std::optional<std::string> sender; // nothing: the lookup fails
    } rows[] = {
        {{"From: Ann <ann@example.org>"}, "ann@example.org"},
        {{"From: bob@example.net, carol@example.net"}, "bob@example.net"},
        {{"From: =?utf-8?q?J=C3=B6rg?= <joerg@example.de>"}, "joerg@example.de"},
        {{"From: \"D\xe9sir\xe9\x65\" <desiree@example.fr>"}, "desiree@example.fr"},
        {{"from:    folded@example.com", "\t(comment)"}, "folded@example.com"},
        {{"From: \"Ann \\\"A\\\" B\" <q@example.org>"}, "q@example.org"},
        {{"From: a@example.org <c@example.org>"}, "c@example.org"},
        {{"From: ann@example.org (Ann)"}, "ann@example.org"},
        {{"From: Ann <ann@xn--bcher-kva.example>"}, "ann@b\xc3\xbc" "cher.example"},
        {{"From: Ann <ann@example.org.>"}, "ann@example.org"},
        {{"From: undisclosed-recipients:;"}, std::nullopt},
        {{"From: friends: a@example.org, b@example.org;"}, std::nullopt},
        {{"From: <>"}, std::nullopt},
        {{"Subject: no sender at all"}, std::nullopt},
    };
    int n = 0;
    for (const auto& row : rows)
        put("cur", std::to_string(++n) + ".row:2,S", mailText(row.headers, "body"));
    host();
    n = 0;
    for (const auto& row : rows) {
        auto msg = message(std::to_string(++n) + ".row");
        if (row.sender)
            EXPECT_EQ(msg->Sender()->Address(), *row.sender) << "row " << n;
        else
            EXPECT_THROW(msg->Sender(), host::HostError) << "row " << n;
    }
}

TEST_F(MaildirTest, TransportHeadersAreTheHeaderBlockAsReceived) {
    const std::vector<std::string> headers = {"From: Ann <ann@example.org>", "Subject: =?utf-8?b?S8O2bG4=?=",
                                              "To: john.smith@example.com"};
    put("new", "1.crlf", mailText(headers, "body\r\n", "\r\n"));
    put("new", "2.lf", mailText(headers, "body\n"));
    put("new", "3.headers-only", "From: ann@example.org\nSubject: no body");
    host();
    EXPECT_EQ(headersOf("1.crlf"),
              "From: Ann <ann@example.org>\r\nSubject: =?utf-8?b?S8O2bG4=?=\r\nTo: john.smith@example.com\r\n");
    EXPECT_EQ(headersOf("2.lf"), "From: Ann <ann@example.org>\nSubject: =?utf-8?b?S8O2bG4=?=\nTo: john.smith@example.com\n");
    EXPECT_EQ(headersOf("3.headers-only"), "From: ann@example.org\nSubject: no body");
    EXPECT_EQ(message("1.crlf")->Fields(0x0037001E), nullptr) << "only the transport headers are offered";
    EXPECT_EQ(byEntryID(mails(inbox()))["1.crlf"]->Body(), "body\r\n") << "from right after the blank line";
    auto headersOnly = byEntryID(mails(inbox()))["3.headers-only"];
    EXPECT_EQ(headersOnly->Body(), "");
    EXPECT_EQ(headersOnly->Subject(), "no body");
}

// The store answers from what it searched while reading each header block;
// its answers must be those of searching the text itself.
TEST_F(MaildirTest, HeaderSearchesAgreeWithTheText) {
    put("new", "1.named", mailText({"From: ann@example.org", "To: \"Me\" <ME@Example.ORG>"}, "body\n"));
    put("new", "2.body-only", mailText({"From: ann@example.org", "To: list@example.net"}, "me@example.org\n"));
    put("new", "3.junk", mailText({"From: ann@example.org", std::string("Cc: \xffme@example.org\x80")}, "x\n"));
    put("new", "4.other", mailText({"From: ann@example.org", "Cc: you@example.net"}, "x\n"));
    host("Me@example.org");
    for (const char* id : {"1.named", "2.body-only", "3.junk", "4.other"})
        for (const char* needle : {"me@example.org", "you@example.net", "me@example.org"}) {
            auto field = message(id)->Fields(host::prTransportMessageHeaders);
            const auto known = field->Contains(needle);
            // A text first asked for is searched in the blocks read after.
            ASSERT_TRUE(known || (std::string(id) == "1.named" && std::string(needle) != "me@example.org")) << id;
            const bool found = CaseInsensitiveSearch(needle).foundIn(field->Value());
            EXPECT_EQ(known.value_or(found), found) << id << " " << needle;
        }
}

// The Inbox's texts are searched ahead on a second thread (or by the caller
// when it gets there first); the answers must be those of the purge's own
// search, whatever the case. Which parts are searched is tried end to end
// by the check tests.
TEST_F(MaildirTest, WholeTextSearchesAgreeWithThePurgesRule) {
    const struct {
        std::string header;
        std::string text;
        bool found;
    } rows[] = {
        {"To: \"Me\" <ME@Example.ORG>", "x\n", true},
        {"To: list@example.net", "write to me@EXAMPLE.org\n", true},
        {"To: you@example.net", "nobody here\n", false},
    };
    int n = 0;
    for (const auto& row : rows)
        put("new", std::to_string(++n) + ".row", mailText({"From: ann@example.org", row.header}, row.text));
    host("Me@example.org");
    const auto all = mails(inbox());
    ASSERT_EQ(all.size(), std::size(rows));
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i]->TextContains("me@example.org"), rows[i].found) << "row " << i + 1;
    EXPECT_EQ(all[1]->TextContains("you@example.net"), std::nullopt) << "not searched ahead";
}

TEST_F(MaildirTest, GarbageAndNulBytesInHeadersComeOutAsValidUtf8) {
    const std::string junk = std::string("X-Junk: \xff\xfe", 10) + std::string(1, '\0') + "\x80zz";
    put("new", "1.junk", mailText({"From: ann@example.org", junk, "To: john.smith@example.com"},
                                  std::string("nul\0inside", 10)));
    host();
    const std::string value = headersOf("1.junk");
    EXPECT_EQ(value.find('\0'), std::string::npos);
    EXPECT_NE(value.find("\xEF\xBF\xBD"), std::string::npos) << "invalid bytes become U+FFFD";
    EXPECT_NE(value.find("To: john.smith@example.com"), std::string::npos);
    EXPECT_EQ(message("1.junk")->Sender()->Address(), "ann@example.org");
    EXPECT_EQ(onlyMail()->Body(), "nul\xEF\xBF\xBDinside");
    put("new", "2.nul-sender", mailText({std::string("From: ann\0x@example.org", 23)}, "b"));
    EXPECT_EQ(message("2.nul-sender")->Sender()->Address().find('\0'), std::string::npos);
}

TEST_F(MaildirTest, FilesWithoutAHeaderFieldAreUnreadableItems) {
    const struct {
        const char* name;
        std::string content;
        bool mail;
    } rows[] = {
        {"1.empty", "", false},
        {"2.blank-first", "\nFrom: a@example.org\n", false},
        {"3.binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false},
        {"4.prose", "Dear John,\nno headers here\n", false},
        {"5.subject-only", "Subject: only this", true},
        {"6.mbox-line", "From ann@example.org Mon Jan  1 00:00:00 2024\nFrom: ann@example.org\n\nbody", true},
    };
    for (const auto& row : rows)
        put("new", row.name, row.content);
    host();
    auto items = inbox()->Items();
    ASSERT_EQ(items.size(), std::size(rows));
    EXPECT_EQ(inbox()->ItemCount(), static_cast<int>(std::size(rows)));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i]->typeName(), rows[i].mail ? "MailItem" : "UnreadableItem") << rows[i].name;
        EXPECT_EQ(host::asMailItem(items[i]) != nullptr, rows[i].mail) << rows[i].name;
    }
}

// ---- Bodies ----

TEST_F(MaildirTest, BodiesAreTheTextPartsDecodedToUtf8EvenFromBrokenMime) {
    const struct {
        std::vector<std::string> headers;
        std::string text;
        std::string body;
        std::string html;
    } rows[] = {
        {{"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"outer\""},
         "--outer\n"
         "Content-Type: multipart/alternative; boundary=inner\n\n"
         "--inner\n"
         "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
         "Gr=FC=DFe aus K=F6ln\n"
         "--inner\n"
         "Content-Type: text/html; charset=koi8-r\nContent-Transfer-Encoding: base64\n\n"
         "PHA+8NLJ18XUPC9wPg==\n"
         "--inner--\n"
         "--outer\n"
         "Content-Type: text/plain\nContent-Disposition: attachment; filename=notes.txt\n\n"
         "not the body\n"
         "--outer--\n",
         "Grüße aus Köln", "<p>Привет</p>"},
        {{"Content-Type: text/plain; charset=windows-1252", "Content-Transfer-Encoding: base64"},
         "k3F1b3RlZJQgY2Fm6Q==\n", "“quoted” café", ""},
        {{"Content-Type: text/html; charset=utf-8"}, "<b>hi</b>", "", "<b>hi</b>"},
        {{"Content-Type: text/plain; charset=x-nonesuch"}, "caf\xe9", "caf\xEF\xBF\xBD", ""},
        // A mail that reads as nothing is still judged.
        {{"Content-Transfer-Encoding: base64"}, "!!!*\n", "", ""},
        {{"Content-Type: multipart/mixed; boundary=b"},
         "--b\nContent-Type: text/plain\n\nfirst part\n--b\nContent-Type: text/html\n\n<i>cut", "first part", "<i>cut"},
        {{"From: bob@example.org", "Content-Type: multipart/mixed"}, "just text\n", "", ""},
    };
    int n = 0;
    for (const auto& row : rows)
        put("new", std::to_string(++n) + ".row", mailText(row.headers, row.text));
    host();
    auto all = mails(inbox());
    ASSERT_EQ(all.size(), std::size(rows));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->Body(), rows[i].body) << "row " << i + 1;
        EXPECT_EQ(all[i]->HTMLBody(), rows[i].html) << "row " << i + 1;
    }
    EXPECT_EQ(message("7.row")->Sender()->Address(), "bob@example.org") << "broken MIME still gives the headers";
}

TEST_F(MaildirTest, TwentyMebibyteAttachmentLeavesTextAndHeadersReadable) {
    std::string content = mailText({"From: ann@example.org", "To: john.smith@example.com",
                                    "Content-Type: multipart/mixed; boundary=cut"},
                                   "--cut\nContent-Type: text/plain\n\nsee attached\n--cut\n"
                                   "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
                                   "Content-Disposition: attachment; filename=big.bin\n\n");
    const std::string line = std::string(76, 'A') + "\n";
    for (std::size_t size = 0; size < 20u * 1024 * 1024; size += line.size())
        content += line;
    content += "--cut--\n";
    put("new", "1.big", content);
    host();
    EXPECT_EQ(headersOf("1.big"), "From: ann@example.org\nTo: john.smith@example.com\nContent-Type: multipart/mixed; boundary=cut\n");
    EXPECT_EQ(onlyMail()->Body(), "see attached");
    EXPECT_EQ(onlyMail()->HTMLBody(), "");
}

// A large mail's parts that can hold no text are left out before GMime
// reads it: what it gives must be what the whole mail gives, here the same
// mail with a short filler in place of the long one.
TEST_F(MaildirTest, LeavingOutALargeMailsBinaryPartsChangesNoneOfItsText) {
    const std::string filler = std::string(76, 'Q') + "\n";
    const struct {
        std::string text;
        bool named; // the address is in the text GMime gives
    } parts[] = {
        {"--b\nContent-Type: text/plain\n\nhello me@x.org\n--b\nContent-Type: application/pdf\n"
         "Content-Transfer-Encoding: base64\n\nFILL--b--\n", true},
        {"--b\nContent-Type: application/pdf\n\nFILL--b\nContent-Type: text/html\n\n<p>me@x.org</p>\n--b--\n", true},
        {"--b\nContent-Type: application/octet-stream\n\nAB-CD\nFILL--b\nContent-Type: text/plain\n\nme@x.org\n--b--\n",
         true},
        {"--b\nContent-Type: text/plain; charset=utf-8\n\nFILLme@x.org\n--b\nContent-Type: image/png\n\nFILL--b--\n",
         true},
        {"--b\n\nFILLme@x.org\n--b--\n", true},
        {"--b\nX-No-Field\nContent-Type: application/pdf\n\nFILLme@x.org\n--b--\n", false},
        {"--b\nContent-Type: multipart/alternative; boundary=i\n\n--i\nContent-Type: text/plain\n\nme@x.org\n"
         "--i\nContent-Type: text/html\n\n<b>me@x.org</b>\n--i--\n--b\nContent-Type: image/png\n\nFILL--b--\n",
         true},
    };
    const auto mail = [&](std::string text, int fillers, bool crlf) {
        std::string fill;
        for (int i = 0; i < fillers; ++i)
            fill += filler;
        for (std::size_t at; (at = text.find("FILL")) != std::string::npos;)
            text.replace(at, 4, fill);
        std::string whole = mailText({"From: a@x.org", "Content-Type: multipart/mixed; boundary=b"}, text);
        for (std::size_t at = 0; crlf && (at = whole.find('\n', at)) != std::string::npos; at += 2)
            whole.insert(at, "\r");
        return whole;
    };
    const auto text = [&](const std::shared_ptr<host::MailItem>& item) {
        std::string all = item->Body() + "|" + item->HTMLBody();
        for (std::size_t at; (at = all.find(std::string(76, 'Q'))) != std::string::npos;)
            all.erase(at, all.find('\n', at) + 1 - at);
        std::erase(all, '\r');
        return all;
    };
    int n = 0;
    for (const bool crlf : {false, true})
        for (const auto& part : parts) {
            put("new", std::to_string(++n) + ".short", mail(part.text, 2, crlf));
            put("new", std::to_string(n) + ".whole", mail(part.text, 600, crlf));
        }
    host();
    const auto all = mails(inbox());
    ASSERT_EQ(all.size(), 2 * 2 * std::size(parts));
    for (std::size_t i = 0; i < all.size(); i += 2) {
        EXPECT_EQ(text(all[i + 1]), text(all[i])) << all[i]->EntryID();
        if (parts[i / 2 % std::size(parts)].named) {
            EXPECT_NE(text(all[i]).find("me@x.org"), std::string::npos) << all[i]->EntryID();
        }
    }
}

// ---- Deleting ----

TEST_F(MaildirTest, DeleteRenamesIntoTrashCurKeepingUniqueNameAndFlags) {
    const auto fresh = put("new", "1.fresh", mailText(plainHeaders, "b"));
    put("cur", "2.seen:2,RS", mailText(plainHeaders, "b"));
    // No room for ":2," in a name this long; and two files under one unique name.
    const std::string longName = "3." + std::string(253, 'L');
    put("new", longName, mailText(plainHeaders, "b"));
    put("new", "4.twin", mailText(plainHeaders, "b"));
    put("cur", "4.twin:2,S", mailText(plainHeaders, "b"));
    fs::create_hard_link(fresh, root / "fresh"); // to know the file after the move
    host();
    // Deleting while walking the snapshot must reach every mail.
    for (const auto& mail : mails(inbox()))
        mail->Delete();
    EXPECT_TRUE(inbox()->settleDeletions().empty());
    EXPECT_TRUE(files("new").empty());
    EXPECT_TRUE(files("cur").empty());
    EXPECT_EQ(files(".Trash/cur"), (std::vector<std::string>{"1.fresh:2,", "2.seen:2,RS", "4.twin:2,", "4.twin:2,S"}));
    EXPECT_EQ(files(".Trash/new"), std::vector<std::string>{longName});
    EXPECT_TRUE(fs::equivalent(root / "fresh", root / ".Trash/cur/1.fresh:2,")) << "moved by rename, not copied";
    auto deleted = byEntryID(mails(trash()));
    ASSERT_EQ(deleted.size(), 4u);
    EXPECT_TRUE(deleted["1.fresh"]->UnRead());
    EXPECT_FALSE(deleted["2.seen"]->UnRead());
}

TEST_F(MaildirTest, DeleteInTrashRemovesTheFileAndNeverReplacesOneThere) {
    host();
    trash();
    put(".Trash/cur", "3.old:2,S", mailText(plainHeaders, "b"));
    put(".Trash/cur", "8.twin:2,", "Subject: the old one\n\n");
    put("new", "8.twin", "Subject: the new one\n\n");
    const auto mail = onlyMail();
    mail->Delete(); // the move is made on a thread of its own: settling tells it failed
    EXPECT_EQ(inbox()->settleDeletions(), std::vector<const host::MailItem*>{mail.get()});
    EXPECT_EQ(readFile(root / ".Trash/cur/8.twin:2,"), "Subject: the old one\n\n");
    EXPECT_EQ(readFile(root / "new/8.twin"), "Subject: the new one\n\n");
    byEntryID(mails(trash()))["3.old"]->Delete();
    EXPECT_EQ(files(".Trash/cur"), std::vector<std::string>{"8.twin:2,"});
    EXPECT_EQ(trash()->ItemCount(), 1);
}

// ---- Session, namespace and application ----

TEST_F(MaildirTest, SessionOpensTheMessageAskedForInAnyFolderOfItsStoreOnly) {
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(root / ".Work" / sub);
    put(".Work/cur", "1.work:2,S", "From: w@example.org\n\n");
    put("new", "2.ann", "From: ann@example.org\nSubject: a\n\n");
    auto& h = host();
    trash();
    put(".Trash/cur", "3.trashed:2,", "From: t@example.org\n\n");
    auto s = session();
    auto ann = onlyMail();
    ann->EntryID(); // named last
    EXPECT_EQ(s->GetMessage("1.work", h.storeID())->Sender()->Address(), "w@example.org");
    EXPECT_EQ(s->GetMessage("3.trashed", h.storeID())->Sender()->Address(), "t@example.org");
    EXPECT_EQ(s->GetMessage(ann->EntryID(), h.storeID())->Sender()->Address(), "ann@example.org");
    ann->Delete(); // named last, then moved: found in the Trash
    EXPECT_EQ(s->GetMessage("2.ann", h.storeID())->Fields(host::prTransportMessageHeaders)->Value(),
              "From: ann@example.org\nSubject: a\n");
    put("new", "4.late", "From: l@example.org\n\n"); // delivered after the walk
    EXPECT_EQ(s->GetMessage("4.late", h.storeID())->Sender()->Address(), "l@example.org");
    EXPECT_THROW(s->GetMessage("5.nonesuch", h.storeID()), host::HostError);
    EXPECT_THROW(s->GetMessage("4.late", h.storeID() + "-other"), host::HostError);
    auto notLoggedOn =
        std::dynamic_pointer_cast<host::MessagingSession>(h.objects().CreateObject("MAPI.Session"));
    EXPECT_THROW(notLoggedOn->GetMessage("4.late", h.storeID()), host::HostError);
    EXPECT_EQ(h.objects().CreateObject("Outlook.Application"), nullptr);
}

TEST_F(MaildirTest, NewMailReachesEverySubscriberAndRecordsFailures) {
    auto& h = host();
    int calls = 0;
    auto counting = h.application()->onNewMail([&] { ++calls; });
    auto failing = h.application()->onNewMail([] { throw host::HostError("handler broke"); });
    h.raiseNewMail();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(h.eventFailures(), (std::vector<std::string>{"handler broke"}));
    counting.reset();
    h.raiseNewMail();
    EXPECT_EQ(calls, 1) << "a dropped subscription still delivers";
}

} // namespace
} // namespace skerrow::test
