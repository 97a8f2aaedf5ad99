#include "filter/sender.h"

#include "addin/host/host.h"
#include "addin/ui/dialogs.h"
#include "filter/text.h"
#include "filter/trap.h"
#include "filter/varient.h"

namespace skerrow {

namespace {

std::shared_ptr<host::Message> openMessage(const std::shared_ptr<host::MessagingSession>& session,
                                           const std::shared_ptr<host::MailItem>& mail) {
    const std::string entryID = host::must(mail)->EntryID();
    const std::string storeID = host::must(mail->Parent())->StoreID();
    return host::must(host::must(session)->GetMessage(entryID, storeID));
}

// Nothing when the headers cannot be read; empty text when there are none.
std::optional<std::shared_ptr<const std::string>> readHeaders(const std::shared_ptr<host::Message>& message) {
    static const auto none = std::make_shared<const std::string>();
    return attempt([&] {
        auto field = host::must(message)->Fields(host::prTransportMessageHeaders);
        auto value = field ? field->SharedValue() : nullptr;
        return value ? value : none;
    });
}

// Never nothing: an empty text when the headers cannot be read.
std::shared_ptr<const std::string> headersOf(const std::shared_ptr<host::Message>& message) {
    return readHeaders(message).value_or(std::make_shared<const std::string>());
}

// Nothing when the body that counts cannot be read.
std::optional<std::string> readBody(const std::shared_ptr<host::MailItem>& mail) {
    auto body = attempt([&] { return host::must(mail)->HTMLBody(); });
    if (body && !body->empty())
        return body;
    return attempt([&] { return host::must(mail)->Body(); });
}

std::string bodyOf(const std::shared_ptr<host::MailItem>& mail) {
    return readBody(mail).value_or(std::string());
}

} // namespace

SessionMail::SessionMail(const std::shared_ptr<host::MessagingSession>& session, std::shared_ptr<host::MailItem> mail)
    : mail_(std::move(mail)), message_(attempt([&] { return openMessage(session, mail_); }).value_or(nullptr)) {}

std::string SessionMail::senderAddress() const {
    return attempt([&] { return host::must(host::must(message_)->Sender())->Address(); })
        .value_or(fallbackSenderAddress);
}

std::optional<bool> SessionMail::textContains(const CaseInsensitiveSearch& search) const {
    if (!message_)
        return std::nullopt;
    if (const auto known = attempt([&] { return mail_->TextContains(search.needle()); }); known && *known)
        return **known;
    // Asked for once: the host may answer without the text, else it gives it.
    const auto field = attempt([&] { return host::must(message_)->Fields(host::prTransportMessageHeaders); });
    // Most mails name the user in their headers: a host that knows it
    // spares reading them.
    const auto known =
        field && *field ? attempt([&] { return (*field)->Contains(search.needle()); }) : std::nullopt;
    if (known && *known && **known)
        return true;
    const bool notInHeaders = known && *known;
    // As readHeaders: nothing when they cannot be read, empty when there are none.
    auto readField = [&]() -> std::optional<std::shared_ptr<const std::string>> {
        static const auto none = std::make_shared<const std::string>();
        if (!field)
            return std::nullopt;
        return attempt([&] {
            auto value = *field ? (*field)->SharedValue() : nullptr;
            return value ? value : none;
        });
    };
    // A text that could not be read whole cannot show that the address is
    // missing from it: such a mail is not judged either.
    std::optional<std::shared_ptr<const std::string>> shared;
    if (!notInHeaders) {
        shared = readField();
        if (shared && search.foundIn(**shared))
            return true;
    }
    const auto read = readBody(mail_);
    if (read && search.foundIn(*read))
        return true;
    if (!read)
        return std::nullopt;
    if (notInHeaders) // wanted now for the seam only
        shared = readField();
    if (!shared)
        return std::nullopt;
    // The text is the headers followed directly by the body.
    return search.foundAcross(**shared, *read);
}

std::string getSenderAddress(const std::shared_ptr<host::MessagingSession>& session,
                             const std::shared_ptr<host::MailItem>& mail) {
    return SessionMail(session, mail).senderAddress();
}

namespace {
std::string_view domainOf(std::string_view address) {
    const auto at = address.find('@');
    return trimSpacesView(at == std::string_view::npos ? address : address.substr(at + 1));
}
} // namespace

std::string getDomain(const std::string& address) {
    return std::string(domainOf(address));
}

std::string domainKey(const std::string& address) {
    std::string key;
    domainKey(address, key);
    return key;
}

void domainKey(std::string_view address, std::string& key) {
    const std::string_view domain = domainOf(address);
    key.resize(2 + domain.size());
    key[0] = '*';
    key[1] = '@';
    domain.copy(key.data() + 2, domain.size());
}

bool hasDomainPrefix(const std::string& text) {
    return text.find("*@") != std::string::npos;
}

bool hasAt(const std::string& text) {
    return text.find('@') != std::string::npos;
}

std::string getMailText(const std::shared_ptr<host::MailItem>& mail,
                        const std::shared_ptr<host::MessagingSession>& session) {
    auto message = attempt([&] { return openMessage(session, mail); });
    std::string text = message ? *headersOf(*message) : std::string();
    return text + bodyOf(mail);
}

std::optional<bool> mailTextContains(const std::shared_ptr<host::MailItem>& mail,
                                     const std::shared_ptr<host::MessagingSession>& session,
                                     const CaseInsensitiveSearch& search) {
    return SessionMail(session, mail).textContains(search);
}

bool hasNonMailItems(Varient& v, const std::shared_ptr<host::Application>&,
                     const std::shared_ptr<host::Folder>& folder) {
    const int count = attempt([&] { return host::must(folder)->ItemCount(); }).value_or(0);
    if (count == 0)
        return false;
    int mails = 0;
    if (auto items = attempt([&] { return host::must(folder)->Items(); })) {
        for (const auto& item : *items)
            if (host::asMailItem(item))
                ++mails;
    }
    if (mails >= count)
        return false;
    trap([&] { v.services.dialogs.messageBox(invalidItemsMessage, ui::Buttons::OK, ui::Icon::None, ui::programTitle); });
    return true;
}

} // namespace skerrow
