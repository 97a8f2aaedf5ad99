// skerrow.dll as the mail client meets it: registered with regsvr32,
// created by its programmatic identifier, connected through
// IDTExtensibility2 to a fake Outlook of our own, and watched through what
// it leaves in the fake client, the registry, the list file and on screen.
#include "dll/extensibility.h"
#include "hosts/outlook/dispatch.h"
#include "tests/hosts/outlook/fake/fake_outlook.h"
#include "tests/support/win32_clipboard.h"
#include "tests/support/win32_messages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using namespace skerrow;
using fake::FakeOutlook;
using fake::MailData;
using outlook::ComPtr;
using test::clipboardText;
using test::copyText;
using test::pump;

namespace {

const wchar_t* const progID = L"Skerrow.startLoad";
const wchar_t* const addinsKey = L"Software\\Microsoft\\Office\\Outlook\\Addins";
const wchar_t* const addinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Skerrow.startLoad";
const wchar_t* const settingsKey = L"Software\\Corvalle\\Addins\\Skerrow";

// The DLL next to this program, or the other bitness's, built beside this one's folder.
std::wstring dllPath(bool other = false) {
    wchar_t path[MAX_PATH];
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.erase(folder.find_last_of(L'\\'));
    return folder + (!other ? L"" : sizeof(void*) == 8 ? L"\\..\\i686" : L"\\..\\x86_64") + L"\\skerrow.dll";
}

// regsvr32's exit code for the DLL next to this program, or for the other
// bitness's DLL with that bitness's regsvr32.
DWORD regsvr32(const std::wstring& options, bool other = false) {
    const wchar_t* program = !other ? L"regsvr32.exe"
                             : sizeof(void*) == 8 ? L"C:\\windows\\syswow64\\regsvr32.exe"
                                                  : L"C:\\windows\\sysnative\\regsvr32.exe";
    return static_cast<DWORD>(::_wsystem((program + (L" /s " + options) + L" \"" + dllPath(other) + L"\"").c_str()));
}

// view: 0 for this program's view of the registry, else KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool keyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY opened;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(opened);
    return true;
}

std::optional<std::wstring> readString(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data);
}

std::string listFilePath() {
    char folder[MAX_PATH];
    ::GetSystemDirectoryA(folder, MAX_PATH);
    char user[256];
    DWORD size = sizeof user;
    ::GetUserNameA(user, &size);
    return std::string(folder) + "\\" + user;
}

// Empty when there is none.
std::string listFile() {
    std::ifstream in(listFilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        // A run that stopped midway may have left a registration behind.
        regsvr32(L"/u");
        regsvr32(L"/u /n /i:machine");
        regsvr32(L"/u /n /i:machine", true);
        // Another add-in's entry, which unregistering must leave alone.
        ::RegSetKeyValueW(HKEY_CURRENT_USER, (std::wstring(addinsKey) + L"\\Other.Addin").c_str(), L"FriendlyName",
                          REG_SZ, L"Other", sizeof L"Other");
    }
    void TearDown() override {
        EXPECT_EQ(readString(HKEY_CURRENT_USER, std::wstring(addinsKey) + L"\\Other.Addin", L"FriendlyName"), L"Other");
        ::RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(addinsKey) + L"\\Other.Addin").c_str());
    }

    // The class registered under root's classes: its CLSID key, checked.
    static void expectClass(HKEY root) {
        const std::wstring classes = L"Software\\Classes\\";
        auto clsid = readString(root, classes + progID + L"\\CLSID", nullptr);
        ASSERT_TRUE(clsid.has_value());
        const std::wstring key = classes + L"CLSID\\" + *clsid;
        auto server = readString(root, key + L"\\InprocServer32", nullptr);
        ASSERT_TRUE(server.has_value());
        EXPECT_EQ(::CompareStringOrdinal(server->c_str(), -1, dllPath().c_str(), -1, TRUE), CSTR_EQUAL)
            << fake::utf8(server->c_str());
        EXPECT_EQ(readString(root, key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(readString(root, key + L"\\ProgID", nullptr), progID);
    }
    static bool classRegistered(HKEY root) {
        return keyExists(root, std::wstring(L"Software\\Classes\\") + progID) ||
               keyExists(root, L"Software\\Classes\\CLSID\\{DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}");
    }
    // Load behaviour 3: loaded at every start of the client.
    static void expectAddinEntry(HKEY root) {
        EXPECT_EQ(readString(root, addinKey, L"FriendlyName"), L"Skerrow");
        EXPECT_EQ(readString(root, addinKey, L"Description"), L"Skerrow Software for Outlook2000");
        DWORD load = 0, size = sizeof load;
        EXPECT_EQ(::RegGetValueW(root, addinKey, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &load, &size), 0);
        EXPECT_EQ(load, 3u);
    }
};

// For the user, or for every user of the machine under the machine's
// classes; unregistering removes exactly what was written. An unknown scope
// is refused and writes nothing.
TEST_F(Registration, WritesTheClassAndTheAddinEntryForTheScopeAndUnregisteringRemovesExactlyThem) {
    EXPECT_NE(regsvr32(L"/n /i:everyone"), 0u);
    EXPECT_FALSE(classRegistered(HKEY_CURRENT_USER) || classRegistered(HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, addinKey));
    const struct {
        const wchar_t* options;
        HKEY root;
        HKEY other;
    } scopes[] = {{L"", HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}, {L"/n /i:machine", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}};
    for (const auto& scope : scopes) {
        SCOPED_TRACE(fake::utf8(scope.options));
        ASSERT_EQ(regsvr32(scope.options), 0u);
        expectClass(scope.root);
        expectAddinEntry(scope.root);
        EXPECT_FALSE(classRegistered(scope.other));
        EXPECT_FALSE(keyExists(scope.other, addinKey));

        ASSERT_EQ(regsvr32(std::wstring(L"/u ") + scope.options), 0u);
        EXPECT_FALSE(classRegistered(scope.root));
        EXPECT_FALSE(keyExists(scope.root, addinKey));
    }
}

// 64-bit Windows shares some of the keys between its 32- and 64-bit views.
TEST_F(Registration, The32And64BitRegistrationsLeaveEachOthersKeys) {
    if (::GetFileAttributesW(dllPath(true).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the other bitness is not built";
    // The ProgID key is one for both views; the add-in entry is the other's.
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::wstring progIDKey = std::wstring(L"Software\\Classes\\") + progID;
    ASSERT_EQ(regsvr32(L"/n /i:machine", true), 0u);
    ASSERT_EQ(regsvr32(L"/n /i:machine"), 0u);
    ASSERT_EQ(regsvr32(L"/u /n /i:machine"), 0u);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, progIDKey));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, addinKey, otherView));
    ASSERT_EQ(regsvr32(L"/u /n /i:machine", true), 0u);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, addinKey, otherView));
}

// Outlook 2000 with CDO, and today's Outlook without it.
enum class Client { Outlook2000, Today };

// The add-in, registered for the machine (Wine 8 finds classes only there),
// connected to a fresh fake client of each face in each test.
class AddIn : public ::testing::TestWithParam<Client> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(regsvr32(L"/n /i:machine"), 0u); }
    static void TearDownTestSuite() { regsvr32(L"/u /n /i:machine"); }

    // The user's world before the first start: no settings, two address
    // books, a list file that already blacklists a domain, the client's own
    // notice and a friend's mail in the Inbox.
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ::RegDeleteTreeW(HKEY_CURRENT_USER, settingsKey);
        client.addressLists = {{"friend@pals.example", "josé@example.com"},
                               {"friend@pals.example", "boss@work.example"}};
        std::ofstream(listFilePath(), std::ios::binary) << "\r\n\r\n\r\n*@spam.example\r\n";
        client.addMail(client.inbox, MailData{.entryID = "notice",
                                              .subject = "Microsoft Outlook Test Message",
                                              .sender = "outlook@home.example"});
        friendMail = client.addMail(client.inbox, MailData{.entryID = "friend",
                                                           .subject = "Lunch?",
                                                           .sender = "friend@pals.example",
                                                           .headers = "To: me@home.example"});
        if (cdo())
            session = std::make_unique<fake::RegisteredClass>(fake::fakeSessionClass, L"MAPI.Session",
                                                              [this] { return client.makeSession(); });
    }
    static bool cdo() { return GetParam() == Client::Outlook2000; }
    void TearDown() override {
        ::SafeArrayDestroy(custom);
        addin = {};
        session.reset();
        ::CoFreeUnusedLibraries();
        ::CoUninitialize();
    }

    ComPtr<com::IDTExtensibility2> create() {
        CLSID clsid;
        IID extensibility;
        EXPECT_EQ(::CLSIDFromProgID(progID, &clsid), S_OK);
        ::IIDFromString(L"{B65AD801-ABAF-11D0-BB8B-00A0C90F2744}", &extensibility);
        ComPtr<com::IDTExtensibility2> created;
        EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, extensibility, created.putVoid()), S_OK);
        return created;
    }
    HRESULT connect() {
        if (!addin)
            addin = create();
        return addin->OnConnection(client.application(), com::ext_cm_Startup, nullptr, &custom);
    }
    HRESULT disconnect() { return addin->OnDisconnection(com::ext_dm_HostShutdown, &custom); }

    // A mail to the user, received 10 March 2024 at noon.
    fake::Mail deliver(const std::string& entryID, const std::string& sender) {
        return client.addMail(client.inbox, MailData{.entryID = entryID,
                                                     .subject = "mail from " + sender,
                                                     .sender = sender,
                                                     .headers = "To: me@home.example",
                                                     .body = "hello",
                                                     .received = 45361.5});
    }
    std::vector<std::string> inbox() const {
        std::vector<std::string> ids;
        for (const auto& mail : client.inbox.items)
            ids.push_back(mail->entryID);
        return ids;
    }

    FakeOutlook client{cdo()};
    std::unique_ptr<fake::RegisteredClass> session;
    ComPtr<com::IDTExtensibility2> addin;
    fake::Mail friendMail;
    SAFEARRAY* custom = ::SafeArrayCreateVector(VT_VARIANT, 0, 0);
};

TEST_P(AddIn, TheFirstConnectionImportsTheAddressBooksAndBuildsTheToolbarWithItsFaces) {
    copyText(L"copied by the user");
    ASSERT_EQ(connect(), S_OK);

    EXPECT_EQ(client.sessionLog, cdo() ? std::vector<std::string>{"Logon(mspr,,False,False)"}
                                       : std::vector<std::string>{});
    EXPECT_EQ(inbox(), std::vector<std::string>{"friend"});
    // One pass over the Inbox for the client's notices, also on the first run.
    const auto& calls = friendMail->object->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Subject"), 1);
    EXPECT_EQ(listFile(), "friend@pals.example;jos\xe9@example.com;boss@work.example\r\n\r\n\r\n*@spam.example\r\n");

    // The layout is the add-in's test's, the properties' passage the host's;
    // here the faces, which take the DLL's own bitmaps.
    ASSERT_EQ(client.bars.size(), 1u);
    const auto& controls = client.bars[0]->controls;
    ASSERT_EQ(controls.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto& button = controls[i + 1];
        // Today's buttons take their face as a picture, Outlook 2000's from
        // the clipboard; the pixels are the clipboard's own test's.
        EXPECT_EQ(std::count(button->log.begin(), button->log.end(), "Picture"), cdo() ? 0 : 1);
        EXPECT_EQ(std::count(button->log.begin(), button->log.end(), "PasteFace"), cdo() ? 1 : 0);
    }
    // The user's copy is on the clipboard again, or was never touched.
    EXPECT_EQ(clipboardText(), L"copied by the user");

    // A failed Logoff is the result of the disconnection.
    client.logoffFailure = static_cast<HRESULT>(0x80040111);
    EXPECT_EQ(disconnect(), cdo() ? client.logoffFailure : S_OK);
}

// The review window is owned by the window it was opened over. "Not Spam"
// reaches the list file at once: today's client may end without a
// disconnection. When the owner goes, the form unloads and ends the check.
TEST_P(AddIn, TheCheckSpamWindowStoresAVerdictAtOnceAndGoesWithTheExplorersWindow) {
    ASSERT_EQ(connect(), S_OK);
    HWND explorer = ::CreateWindowExW(0, L"STATIC", L"Explorer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                                      nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(explorer);
    ::SetActiveWindow(explorer);
    deliver("stray", "stranger@elsewhere.example");
    EXPECT_EQ(client.newMail(), std::vector<HRESULT>{S_OK});
    client.selection = {friendMail};
    // Two sinks hear the explorer: the one for Close lets the event pass.
    EXPECT_EQ(client.selectionChange(), (std::vector<HRESULT>{S_OK, S_OK}));
    pump(100);
    HWND review = ::FindWindowW(nullptr, L"Check Spam");
    ASSERT_TRUE(review && ::IsWindowVisible(review));
    EXPECT_EQ(::GetWindow(review, GW_OWNER), explorer);
    ListView_SetCheckState(::FindWindowExW(review, nullptr, WC_LISTVIEWW, nullptr), 0, TRUE);
    ::SendMessageW(::FindWindowExW(review, nullptr, L"Button", L"&Not Spam"), BM_CLICK, 0, 0);
    EXPECT_NE(listFile().find(";stranger@elsewhere.example\r\n"), std::string::npos);

    ::DestroyWindow(explorer);
    pump(100);
    EXPECT_FALSE(::IsWindow(review));
    deliver("spam", "seller@spam.example");
    client.selectionChange();
    EXPECT_EQ(inbox(), (std::vector<std::string>{"friend", "stray", "spam"}));
    EXPECT_EQ(disconnect(), S_OK);
}

// Today's client ends without a disconnection once its last main window
// has closed, and cannot end while an add-in holds its objects; released,
// the add-in leaves no sink behind and the DLL may unload.
TEST_P(AddIn, ClosingTheLastExplorerLetsGoOfTheClientAndWhatChangedIsStored) {
    const long held = client.applicationObject().references();
    addin = create();
    // Through void(*)(): FARPROC's own type says nothing of the real one.
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"skerrow.dll"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(connect(), S_OK);
    auto junk = deliver("junk", "junk@junk.example");
    client.selection = {junk};
    EXPECT_EQ(client.click("Is &Spam"), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(inbox(), std::vector<std::string>{"friend"});
    const auto button = client.control("Is &Spam");

    // The Close handler drops both subscriptions, so the second sink hears nothing.
    EXPECT_EQ(client.closeExplorer(), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(client.explorerObject().sinkCount(fake::published::explorerEvents), 0);
    EXPECT_EQ(client.applicationObject().sinkCount(fake::published::applicationEvents), 0);
    EXPECT_EQ(button->object->sinkCount(fake::published::buttonEvents), 0);
    EXPECT_EQ(client.applicationObject().references(), held);
    addin = {};
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_NE(listFile().find("junk@junk.example"), std::string::npos);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, settingsKey, L"HaveAutoDeleteCount"), L"1");
}

// On Exchange the user's own address and a colleague's are directory
// names. Today's client tells their SMTP addresses; with CDO alone none is
// known, so the own-address rule deletes nothing. An address book too long
// to walk at start-up is left out.
TEST_P(AddIn, DirectoryUsersAreKnownByTheirSmtpAddressesWhereTheClientTellsThem) {
    const std::string boss = "/o=Corp/ou=Site/cn=Recipients/cn=boss";
    const std::string bossAddress = cdo() ? boss : "boss@corp.example";
    client.currentUser = "/o=Corp/ou=Site/cn=Recipients/cn=me";
    client.directory = {{client.currentUser, "Me@Corp.example"}, {boss, "boss@corp.example"}};
    client.accounts = {"me@home.example"};
    client.addressLists.push_back({boss});
    client.addressLists.push_back(std::vector<std::string>(10001, "many@x.example"));
    auto mail = [&](const char* id, const std::string& sender, const char* type, const char* to) {
        return client.addMail(client.inbox, MailData{.entryID = id, .sender = sender, .senderType = type,
                                                     .headers = std::string("To: ") + to, .unread = false});
    };
    auto fromBoss = mail("boss", boss, "EX", "me@corp.example");
    mail("home", "pal@else.example", "SMTP", "me@home.example");
    mail("stray", "pal@else.example", "SMTP", "list@lists.example");
    ASSERT_EQ(connect(), S_OK);
    EXPECT_EQ(listFile().substr(0, listFile().find("\r\n")),
              "friend@pals.example;jos\xe9@example.com;boss@work.example;" + bossAddress);
    EXPECT_EQ(client.click("&Check Spam"), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(inbox(), cdo() ? (std::vector<std::string>{"friend", "boss", "home", "stray"})
                             : (std::vector<std::string>{"friend", "boss", "home"}));
    client.selection = {fromBoss};
    EXPECT_EQ(client.click("Is &Spam"), std::vector<HRESULT>{S_OK});
    EXPECT_NE(listFile().find("\r\n" + bossAddress + "\r\n"), std::string::npos);
    EXPECT_EQ(disconnect(), S_OK);
}

TEST_P(AddIn, TheOperationsAnswerThroughIDispatchInTheirOrder) {
    addin = create();
    outlook::Dispatch late{ComPtr<IDispatch>(addin.get())};
    const char* names[] = {"OnConnection", "OnDisconnection", "OnAddInsUpdate", "OnStartupComplete", "OnBeginShutdown"};
    for (int i = 0; i < 5; ++i) {
        std::wstring name = fake::wide(names[i]);
        LPOLESTR list[] = {name.data()};
        DISPID id = 0;
        EXPECT_EQ(addin->GetIDsOfNames(IID_NULL, list, 1, 0, &id), S_OK) << names[i];
        EXPECT_EQ(id, i + 1) << names[i];
    }
    EXPECT_FALSE(late.has("Connect"));

    // The custom values come by reference, as the client passes them.
    outlook::Variant values;
    values.get()->vt = VT_ARRAY | VT_VARIANT | VT_BYREF;
    values.get()->pparray = &custom;
    late.call("OnConnection",
              {outlook::Variant(client.application()), 1, outlook::Variant(static_cast<IDispatch*>(nullptr)), values});
    EXPECT_EQ(client.bars.size(), 1u);
    late.call("OnStartupComplete", {values});
    late.call("OnBeginShutdown", {values});
    // The user switched the add-in off: its toolbar goes with it.
    late.call("OnDisconnection", {static_cast<int>(com::ext_dm_UserClosed), values});
    EXPECT_TRUE(client.bars.empty());
}

INSTANTIATE_TEST_SUITE_P(Clients, AddIn, ::testing::Values(Client::Outlook2000, Client::Today),
                         [](const auto& info) { return info.param == Client::Today ? "Today" : "Outlook2000"; });

} // namespace
