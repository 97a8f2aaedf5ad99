#include "tests/support/world.h"

#include "filter/settings.h"

namespace skerrow::test {

std::shared_ptr<memory::MemoryMailItem> unreadMail(memory::MemoryHost& host, const std::string& sender,
                                                   const std::string& subject) {
    memory::MailSpec spec;
    spec.subject = subject;
    spec.senderAddress = sender;
    spec.headers = "From: " + sender + "\r\nTo: " + userAddress + "\r\nSubject: " + subject + "\r\n\r\n";
    spec.body = "Dear John,\r\nsome text.\r\n";
    spec.to = "John Smith";
    return host.inbox()->addMail(std::move(spec));
}

void connectInMemory(Varient& v, memory::MemoryHost& host, memory::MemoryPlatform& platform) {
    host.setCurrentUser(userAddress);
    v.globalApplication = host.application();
    auto session = std::dynamic_pointer_cast<host::MessagingSession>(host.objects().CreateObject("MAPI.Session"));
    session->Logon("test", "", false, false);
    v.messagingSession = session;
    v.ownAddress = userAddress;
    v.settingsKey = settingsKeyName;
    v.listFileUserName = *platform.user;
}

} // namespace skerrow::test
