#include "tests/hosts/maildir/maildir_fixture.h"

namespace skerrow::test {
namespace {

std::vector<std::string> addressesOf(const std::shared_ptr<host::AddressList>& list) {
    std::vector<std::string> addresses;
    for (const auto& entry : list->AddressEntries())
        addresses.push_back(entry->Address());
    return addresses;
}

TEST_F(MaildirTest, EveryEmailPropertyOfAVCardIsAnAddressEntry) {
    const struct {
        const char* what;
        std::string card;
        std::vector<std::string> addresses;
    } rows[] = {
        {"4.0, quoted parameter holding a colon", "BEGIN:VCARD\nVERSION:4.0\nEMAIL;PID=1.1;LABEL=\"a:b\";PREF=1:bob@example.org\nEND:VCARD\n",
         {"bob@example.org"}},
        {"2.1 bare types", "BEGIN:VCARD\nVERSION:2.1\nEMAIL;INTERNET;PREF:carol@example.org\nEND:VCARD\n",
         {"carol@example.org"}},
        {"2.1 quoted-printable with a soft break",
         "BEGIN:VCARD\nVERSION:2.1\nEMAIL;ENCODING=QUOTED-PRINTABLE:dave=40exa=\nmple.org\nEND:VCARD\n",
         {"dave@example.org"}},
        {"grouped property", "BEGIN:VCARD\nVERSION:3.0\nitem1.EMAIL;type=INTERNET:erin@example.org\n"
                             "item1.X-ABLabel:Other\nEND:VCARD\n",
         {"erin@example.org"}},
        {"folded line", "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL;TYPE=work:frank@exam\r\n ple.org\r\nEND:VCARD\r\n",
         {"frank@example.org"}},
        {"lower case, mailto and blanks", "\xEF\xBB\xBF" "begin:vcard\nemail:mailto:gina@example.org \nemail:\nend:vcard\n",
         {"gina@example.org"}},
        {"two cards in one file", "BEGIN:VCARD\nEMAIL:h@example.org\nEND:VCARD\nBEGIN:VCARD\nEMAIL:i@example.org\nEND:VCARD\n",
         {"h@example.org", "i@example.org"}},
        {"no address", "BEGIN:VCARD\nFN:Nobody\nNOTE:EMAIL:not-a-property@example.org\nEND:VCARD\n", {}},
    };
    for (const auto& row : rows) {
        const auto file = put("contacts", "card.vcf", row.card);
        host(std::nullopt, {file.string()});
        auto lists = mapi()->AddressLists();
        ASSERT_EQ(lists.size(), 1u) << row.what;
        EXPECT_EQ(addressesOf(lists[0]), row.addresses) << row.what;
    }
}

TEST_F(MaildirTest, VdirFolderGivesOneListOfItsVcfFilesInNameOrder) {
    put("vdir", "b.vcf", "BEGIN:VCARD\nEMAIL:second@example.org\nEND:VCARD\n");
    put("vdir", "a.VCF", "BEGIN:VCARD\nEMAIL:first@example.org\nEND:VCARD\n");
    put("vdir", "notes.txt", "EMAIL:not-a-card@example.org\n");
    put("vdir", ".x.vcf", "BEGIN:VCARD\nEMAIL:hidden@example.org\nEND:VCARD\n");
    const auto single = put("address-books", "one.vcf", "BEGIN:VCARD\nEMAIL:third@example.org\nEND:VCARD\n");
    host(std::nullopt, {(root / "vdir").string(), single.string()});
    auto lists = mapi()->AddressLists();
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(addressesOf(lists[0]), (std::vector<std::string>{"first@example.org", "second@example.org"}));
    EXPECT_EQ(addressesOf(lists[1]), (std::vector<std::string>{"third@example.org"}));
}

} // namespace
} // namespace skerrow::test
