#include "hosts/imap/imap_client.h"

#include <libetpan/libetpan.h>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>

namespace skerrow::imap {

namespace {

std::string lower(std::string text) {
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The transport under libetpan's parser: a non-blocking socket, plain or
// wrapped in TLS once the handshake is done, with a deadline on each wait.
struct Transport {
    int fd = -1;
    gnutls_session_t tls = nullptr;
    gnutls_certificate_credentials_t credentials = nullptr;
    int timeoutMs = 30000;

    ~Transport() {
        if (tls)
            gnutls_deinit(tls);
        if (credentials)
            gnutls_certificate_free_credentials(credentials);
        if (fd >= 0)
            ::close(fd);
    }

    bool wait(short events) const {
        pollfd p{fd, events, 0};
        for (;;) {
            const int n = ::poll(&p, 1, timeoutMs);
            if (n > 0)
                return true;
            if (n == 0 || errno != EINTR)
                return false;
        }
    }
    short tlsDirection() const { return gnutls_record_get_direction(tls) ? POLLOUT : POLLIN; }

    ssize_t read(void* buffer, std::size_t size) {
        return transfer([&] { return gnutls_record_recv(tls, buffer, size); },
                        [&] { return ::read(fd, buffer, size); }, POLLIN);
    }
    ssize_t write(const void* buffer, std::size_t size) {
        return transfer([&] { return gnutls_record_send(tls, buffer, size); },
                        [&] { return ::send(fd, buffer, size, MSG_NOSIGNAL); }, POLLOUT);
    }
    // One read or write through TLS or on the plain socket, waiting (up to
    // the timeout) while it would block; -1 when it fails or times out.
    template <class Tls, class Plain>
    ssize_t transfer(Tls throughTls, Plain plain, short plainDirection) {
        for (;;) {
            if (tls) {
                const ssize_t n = throughTls();
                if (n >= 0)
                    return n;
                if (n != GNUTLS_E_AGAIN && n != GNUTLS_E_INTERRUPTED)
                    return -1;
                if (!wait(tlsDirection()))
                    return -1;
                continue;
            }
            const ssize_t n = plain();
            if (n >= 0)
                return n;
            if (errno != EAGAIN && errno != EINTR)
                return -1;
            if (!wait(plainDirection))
                return -1;
        }
    }
    bool pending() const { return tls && gnutls_record_check_pending(tls) > 0; }
};

Transport* transportOf(mailstream_low* low) {
    return static_cast<Transport*>(low->data);
}

ssize_t lowRead(mailstream_low* low, void* buffer, size_t size) {
    return transportOf(low)->read(buffer, size);
}
ssize_t lowWrite(mailstream_low* low, const void* buffer, size_t size) {
    return transportOf(low)->write(buffer, size);
}
int lowClose(mailstream_low* low) {
    auto* t = transportOf(low);
    if (t->tls)
        gnutls_bye(t->tls, GNUTLS_SHUT_WR);
    if (t->fd >= 0)
        ::close(t->fd);
    t->fd = -1;
    return 0;
}
int lowFd(mailstream_low* low) {
    return transportOf(low)->fd;
}
void lowFree(mailstream_low* low) {
    delete transportOf(low);
    std::free(low->identifier);
    std::free(low);
}
void lowCancel(mailstream_low*) {}
struct mailstream_cancel* lowGetCancel(mailstream_low*) {
    return nullptr;
}
carray* lowCertificates(mailstream_low*) {
    return nullptr;
}
int lowNoIdle(mailstream_low*) {
    return -1;
}

mailstream_low_driver transportDriver = {lowRead,  lowWrite,       lowClose,        lowFd,     lowFree, lowCancel,
                                         lowGetCancel, lowCertificates, lowNoIdle, lowNoIdle, lowNoIdle};

std::string where(const ImapUrl& url) {
    return url.host + ":" + std::to_string(url.port);
}

bool loopbackAddress(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
    }
    return false;
}

// Connects within the timeout to the first address that answers.
int connectTo(const ImapUrl& url, int timeoutMs, bool& loopback) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(url.port);
    if (const int r = ::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found); r != 0)
        throw ConnectError("cannot reach " + where(url) + ": " + ::gai_strerror(r));
    std::string failure = "no address";
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                const int n = ::poll(&p, 1, timeoutMs);
                socklen_t length = sizeof error;
                if (n <= 0)
                    error = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error != 0) {
            failure = std::strerror(error);
            ::close(fd);
            fd = -1;
            continue;
        }
        loopback = loopbackAddress(a->ai_addr);
        // Commands are short and each waits for its answer: no Nagle delay.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        throw ConnectError("cannot reach " + where(url) + ": " + failure);
    return fd;
}

void handshake(Transport& t, const ConnectOptions& options) {
    if (gnutls_certificate_allocate_credentials(&t.credentials) != GNUTLS_E_SUCCESS)
        throw ConnectError("cannot set up TLS");
    if (options.caFile) {
        if (gnutls_certificate_set_x509_trust_file(t.credentials, options.caFile->c_str(), GNUTLS_X509_FMT_PEM) <= 0)
            throw ConnectError("cannot read a CA certificate from " + *options.caFile);
    } else if (gnutls_certificate_set_x509_system_trust(t.credentials) < 0) {
        throw ConnectError("cannot read the system's trusted certificates");
    }
    const std::string& host = options.url.host;
    gnutls_init(&t.tls, GNUTLS_CLIENT | GNUTLS_NONBLOCK);
    gnutls_set_default_priority(t.tls);
    gnutls_credentials_set(t.tls, GNUTLS_CRD_CERTIFICATE, t.credentials);
    in6_addr ignored;
    if (::inet_pton(AF_INET, host.c_str(), &ignored) != 1 && ::inet_pton(AF_INET6, host.c_str(), &ignored) != 1)
        gnutls_server_name_set(t.tls, GNUTLS_NAME_DNS, host.data(), host.size());
    // The handshake fails unless the chain is trusted and names the host.
    gnutls_session_set_verify_cert(t.tls, host.c_str(), 0);
    gnutls_transport_set_int(t.tls, t.fd);
    for (;;) {
        const int r = gnutls_handshake(t.tls);
        if (r == GNUTLS_E_SUCCESS)
            return;
        if (r == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
            const unsigned status = gnutls_session_get_verify_cert_status(t.tls);
            gnutls_datum_t text{};
            gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0);
            std::string why(reinterpret_cast<const char*>(text.data), text.size);
            gnutls_free(text.data);
            throw ConnectError("the certificate of " + where(options.url) + " is not trusted (" + why +
                               ")" + (options.caFile ? "" : "; --ca-file names a private CA"));
        }
        if (gnutls_error_is_fatal(r))
            throw ConnectError("TLS with " + where(options.url) + " failed: " + gnutls_strerror(r));
        if (!t.wait(t.tlsDirection()))
            throw ConnectError("TLS with " + where(options.url) + " timed out");
    }
}

host::Date toDate(const mailimap_date_time* d) {
    std::tm tm{};
    tm.tm_year = d->dt_year - 1900;
    tm.tm_mon = d->dt_month - 1;
    tm.tm_mday = d->dt_day;
    tm.tm_hour = d->dt_hour;
    tm.tm_min = d->dt_min;
    tm.tm_sec = d->dt_sec;
    // dt_zone is +HHMM as a number.
    const int zone = d->dt_zone;
    const int offset = (zone / 100) * 3600 + (zone % 100) * 60;
    return std::chrono::system_clock::from_time_t(::timegm(&tm) - offset);
}

// Runs of consecutive UIDs as intervals: a long list stays a short command.
mailimap_set* setOf(const std::vector<std::uint32_t>& uids) {
    mailimap_set* set = mailimap_set_new_empty();
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        if (j == i)
            mailimap_set_add_single(set, uids[i]);
        else
            mailimap_set_add_interval(set, uids[i], uids[j]);
        i = j + 1;
    }
    return set;
}

struct SetOwner {
    mailimap_set* set;
    ~SetOwner() { mailimap_set_free(set); }
};

// Hands each answered message's static items (UID, sections, structure) to
// `each`, and frees the answers.
template <typename Each>
void eachAnswer(clist* result, Each each) {
    for (clistiter* it = clist_begin(result); it; it = clist_next(it)) {
        auto* att = static_cast<mailimap_msg_att*>(clist_content(it));
        std::vector<const mailimap_msg_att_static*> items;
        for (clistiter* i = clist_begin(att->att_list); i; i = clist_next(i)) {
            auto* item = static_cast<mailimap_msg_att_item*>(clist_content(i));
            if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC)
                items.push_back(item->att_data.att_static);
        }
        each(items);
    }
    mailimap_fetch_list_free(result);
}

// The parser gives up beyond some depth; a structure nested this deep is
// read whole, as the parser reads it.
constexpr int deepestTextPart = 8;

bool hasBoundary(const mailimap_body_ext_mpart* extension) {
    if (!extension || !extension->bd_parameter)
        return false;
    for (clistiter* it = clist_begin(extension->bd_parameter->pa_list); it; it = clist_next(it)) {
        const auto* param = static_cast<mailimap_single_body_fld_param*>(clist_content(it));
        if (param->pa_name && strcasecmp(param->pa_name, "boundary") == 0 && param->pa_value && *param->pa_value)
            return true;
    }
    return false;
}

// Walks the parts in order as the body is taken from a parsed message;
// false when the structure cannot be trusted to match that parse.
bool findTextParts(const mailimap_body* body, const std::string& section, int depth, ImapClient::TextParts& out) {
    if (!body || depth > deepestTextPart)
        return false;
    if (body->bd_type == MAILIMAP_BODY_MPART) {
        const auto* multipart = body->bd_data.bd_body_mpart;
        if (!multipart || !hasBoundary(multipart->bd_ext_mpart) || clist_isempty(multipart->bd_list))
            return false;
        int index = 0;
        for (clistiter* it = clist_begin(multipart->bd_list); it; it = clist_next(it)) {
            const std::string child = (section.empty() ? "" : section + ".") + std::to_string(++index);
            if (!findTextParts(static_cast<mailimap_body*>(clist_content(it)), child, depth + 1, out))
                return false;
        }
        return true;
    }
    const auto* part = body->bd_type == MAILIMAP_BODY_1PART ? body->bd_data.bd_body_1part : nullptr;
    if (!part || section.empty())
        return false;
    // An attached message's text, and any part not text, is no body.
    if (part->bd_type != MAILIMAP_BODY_TYPE_1PART_TEXT)
        return part->bd_type == MAILIMAP_BODY_TYPE_1PART_MSG || part->bd_type == MAILIMAP_BODY_TYPE_1PART_BASIC;
    if (!part->bd_ext_1part || !part->bd_data.bd_type_text)
        return false; // without the disposition an attachment looks like text
    const auto* disposition = part->bd_ext_1part->bd_disposition;
    if (disposition && disposition->dsp_type && strcasecmp(disposition->dsp_type, "attachment") == 0)
        return true;
    const char* subtype = part->bd_data.bd_type_text->bd_media_text;
    if (out.plain.empty() && strcasecmp(subtype, "plain") == 0)
        out.plain = section;
    else if (out.html.empty() && strcasecmp(subtype, "html") == 0)
        out.html = section;
    return true;
}

// "1.2" as a section part; nothing for no digits.
mailimap_section_part* sectionPart(const std::string& name) {
    clist* ids = clist_new();
    for (std::size_t start = 0; start < name.size();) {
        const auto dot = name.find('.', start);
        auto* id = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t)));
        *id = static_cast<std::uint32_t>(std::stoul(name.substr(start, dot - start)));
        clist_append(ids, id);
        start = dot == std::string::npos ? name.size() : dot + 1;
    }
    return mailimap_section_part_new(ids);
}

// A fetched section's name as it was asked for: "1.2" or "1.2.MIME".
std::string sectionName(const mailimap_section* section) {
    if (!section || !section->sec_spec || section->sec_spec->sec_type != MAILIMAP_SECTION_SPEC_SECTION_PART ||
        !section->sec_spec->sec_data.sec_part)
        return {};
    std::string name;
    for (clistiter* it = clist_begin(section->sec_spec->sec_data.sec_part->sec_id); it; it = clist_next(it))
        name += (name.empty() ? "" : ".") + std::to_string(*static_cast<std::uint32_t*>(clist_content(it)));
    if (section->sec_spec->sec_text && section->sec_spec->sec_text->sec_type == MAILIMAP_SECTION_TEXT_MIME)
        name += ".MIME";
    return name;
}

} // namespace

struct ImapClient::Session {
    mailimap* imap = nullptr;
    Transport* transport = nullptr; // owned by the stream
    ~Session() {
        if (imap)
            mailimap_free(imap); // closes and frees the stream too
    }
};

ImapUrl parseImapUrl(const std::string& text) {
    ImapUrl url;
    std::string rest;
    if (text.rfind("imaps://", 0) == 0) {
        rest = text.substr(8);
    } else if (text.rfind("imap://", 0) == 0) {
        rest = text.substr(7);
        url.implicitTls = false;
        url.port = 143;
    } else {
        throw std::invalid_argument("an IMAP account is imaps://user@host[:port]/ or imap://user@host[:port]/");
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const auto at = rest.rfind('@');
    if (at == std::string::npos || at == 0)
        throw std::invalid_argument("the IMAP URL names no user (user@host)");
    if (rest.find('/', at) != std::string::npos)
        throw std::invalid_argument("the IMAP URL names a path; only the account is taken");
    url.user = rest.substr(0, at);
    // A user name may carry "@" (user@example.com@host) written as %40.
    for (std::size_t p; (p = url.user.find("%40")) != std::string::npos;)
        url.user.replace(p, 3, "@");
    std::string hostPort = rest.substr(at + 1);
    std::size_t colon = std::string::npos;
    if (hostPort.starts_with("[")) {
        const auto close = hostPort.find(']');
        if (close == std::string::npos)
            throw std::invalid_argument("the IMAP URL's address lacks ']'");
        url.host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size() && hostPort[close + 1] == ':')
            colon = close + 1;
    } else {
        colon = hostPort.find(':');
        url.host = hostPort.substr(0, colon);
    }
    if (url.host.empty())
        throw std::invalid_argument("the IMAP URL names no host");
    if (colon != std::string::npos) {
        const std::string port = hostPort.substr(colon + 1);
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end || value < 1 || value > 65535)
            throw std::invalid_argument("the IMAP URL's port is not a number from 1 to 65535");
        url.port = static_cast<int>(value);
    }
    return url;
}

bool isLoopback(const std::string& host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    bool all = found != nullptr;
    for (addrinfo* a = found; a; a = a->ai_next)
        all = all && loopbackAddress(a->ai_addr);
    ::freeaddrinfo(found);
    return all;
}

ImapClient::ImapClient(ConnectOptions options) : options_(std::move(options)) {
    static const bool once = [] {
        gnutls_global_init();
        return true;
    }();
    (void)once;
    open();
}

ImapClient::~ImapClient() {
    close();
}

void ImapClient::close() noexcept {
    if (session_ && session_->imap && session_->imap->imap_stream) {
        // A polite goodbye, briefly: the connection may be gone already.
        session_->transport->timeoutMs = 2000;
        mailimap_logout(session_->imap);
    }
    session_.reset();
    selected_.reset();
}

void ImapClient::reconnect() {
    close();
    open();
}

void ImapClient::open() {
    const ImapUrl& url = options_.url;
    const int timeoutMs = static_cast<int>(options_.timeout.count() * 1000);
    bool loopback = false;
    auto transport = std::make_unique<Transport>();
    transport->timeoutMs = timeoutMs;
    transport->fd = connectTo(url, timeoutMs, loopback);
    if (url.implicitTls)
        handshake(*transport, options_);

    session_ = std::make_unique<Session>();
    session_->imap = mailimap_new(0, nullptr);
    mailimap_set_timeout(session_->imap, options_.timeout.count());
    mailstream_low* low = mailstream_low_new(transport.get(), &transportDriver);
    if (!low)
        throw ConnectError("out of memory");
    session_->transport = transport.release();
    // Reads as large as TLS records come: a folder's header blocks pass
    // through here.
    mailstream* stream = mailstream_new(low, 65536);
    int r = mailimap_connect(session_->imap, stream);
    if (r != MAILIMAP_NO_ERROR_AUTHENTICATED && r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED)
        throw ConnectError(where(url) + " did not greet as an IMAP server does");

    auto capabilities = [&] {
        mailimap_capability_data* data = nullptr;
        if (mailimap_capability(session_->imap, &data) != MAILIMAP_NO_ERROR)
            throw ConnectError(where(url) + " does not answer CAPABILITY as an IMAP4rev1 server does");
        mailimap_capability_data_free(data);
        if (!mailimap_has_extension(session_->imap, const_cast<char*>("IMAP4rev1")))
            throw ConnectError(where(url) + " is not an IMAP4rev1 server");
    };
    capabilities();
    if (!url.implicitTls) {
        if (mailimap_has_extension(session_->imap, const_cast<char*>("STARTTLS"))) {
            if (mailimap_starttls(session_->imap) != MAILIMAP_NO_ERROR)
                throw ConnectError(where(url) + " refused STARTTLS");
            handshake(*session_->transport, options_);
            capabilities(); // those said before TLS no longer count
        } else if (!(options_.allowPlaintext && loopback)) {
            throw ConnectError(where(url) + " offers no STARTTLS; a plain-text login is allowed only on a loopback "
                               "address with --allow-plaintext");
        }
    }
    r = mailimap_login(session_->imap, url.user.c_str(), options_.password.c_str());
    if (r != MAILIMAP_NO_ERROR) {
        if (r == MAILIMAP_ERROR_STREAM)
            throw ConnectError(where(url) + " closed the connection at login");
        const char* said = session_->imap->imap_response;
        throw ConnectError(where(url) + " refused the login of " + url.user +
                           (said && *said ? std::string(": ") + said : std::string()));
    }
    capabilities();
    move_ = mailimap_has_extension(session_->imap, const_cast<char*>("MOVE"));
    uidPlus_ = mailimap_has_uidplus(session_->imap);
    idle_ = mailimap_has_idle(session_->imap);
}

void ImapClient::check(int result, const std::string& what) {
    if (result == MAILIMAP_NO_ERROR)
        return;
    if (result == MAILIMAP_ERROR_STREAM || !session_ || !session_->imap->imap_stream) {
        selected_.reset();
        throw ConnectionLost("the connection to " + where(options_.url) + " was lost during " + what);
    }
    const char* said = session_->imap->imap_response;
    throw host::HostError(what + " failed" + (said && *said ? std::string(": ") + said : std::string()));
}

std::vector<MailboxInfo> ImapClient::list() {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    clist* result = nullptr;
    check(mailimap_list(session_->imap, "", "*", &result), "LIST");
    std::vector<MailboxInfo> boxes;
    for (clistiter* it = clist_begin(result); it; it = clist_next(it)) {
        auto* entry = static_cast<mailimap_mailbox_list*>(clist_content(it));
        MailboxInfo box{entry->mb_name, entry->mb_delimiter};
        if (entry->mb_flag) {
            if (entry->mb_flag->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG &&
                entry->mb_flag->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT)
                box.selectable = false;
            for (clistiter* f = clist_begin(entry->mb_flag->mbf_oflags); f; f = clist_next(f)) {
                auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
                if (flag->of_type != MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT || !flag->of_flag_ext)
                    continue;
                const std::string name = lower(flag->of_flag_ext);
                if (name == "trash" || name == "\\trash")
                    box.trash = true;
                if (name == "noselect" || name == "\\noselect" || name == "nonexistent" || name == "\\nonexistent")
                    box.selectable = false;
            }
        }
        boxes.push_back(std::move(box));
    }
    mailimap_list_result_free(result);
    return boxes;
}

void ImapClient::create(const std::string& mailbox) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    check(mailimap_create(session_->imap, mailbox.c_str()), "CREATE " + mailbox);
}

Selection ImapClient::select(const std::string& mailbox) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    selected_.reset();
    check(mailimap_select(session_->imap, mailbox.c_str()), "SELECT " + mailbox);
    selected_ = mailbox;
    const auto* info = session_->imap->imap_selection_info;
    return {info->sel_uidvalidity, info->sel_exists, info->sel_uidnext};
}

std::uint32_t ImapClient::exists() const {
    if (!session_ || !session_->imap->imap_selection_info)
        return 0;
    return session_->imap->imap_selection_info->sel_exists;
}

namespace {

// Hands each FETCH answer to the caller while the rest is still coming:
// libetpan calls this as soon as one is parsed.
struct Streamed {
    bool headers = false;
    const std::function<void(FetchedMessage&&)>* each = nullptr;
    std::exception_ptr failure; // kept until the command ends: libetpan is C
};

void streamed(mailimap_msg_att* att, void* context) {
    auto& to = *static_cast<Streamed*>(context);
    if (to.failure || !att)
        return;
    FetchedMessage message;
    for (clistiter* i = clist_begin(att->att_list); i; i = clist_next(i)) {
        auto* item = static_cast<mailimap_msg_att_item*>(clist_content(i));
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
            if (!item->att_data.att_dyn->att_list)
                continue;
            for (clistiter* f = clist_begin(item->att_data.att_dyn->att_list); f; f = clist_next(f)) {
                auto* flag = static_cast<mailimap_flag_fetch*>(clist_content(f));
                if (flag->fl_flag && flag->fl_flag->fl_type == MAILIMAP_FLAG_SEEN)
                    message.seen = true;
            }
        } else if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC) {
            auto* s = item->att_data.att_static;
            if (s->att_type == MAILIMAP_MSG_ATT_UID)
                message.uid = s->att_data.att_uid;
            else if (s->att_type == MAILIMAP_MSG_ATT_INTERNALDATE && s->att_data.att_internal_date)
                message.internalDate = toDate(s->att_data.att_internal_date);
            else if (s->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && s->att_data.att_body_section) {
                auto* section = s->att_data.att_body_section;
                message.header.emplace(section->sec_body_part ? section->sec_body_part : "", section->sec_length);
            }
        }
    }
    // An unsolicited FETCH (another client's flag change) has no UID.
    if (message.uid == 0 || (to.headers && !message.header))
        return;
    try {
        (*to.each)(std::move(message));
    } catch (...) {
        to.failure = std::current_exception();
    }
}

// Set only while its call runs: the parser takes the streaming path only
// with a progress function.
void noProgress(size_t, size_t, void*) {}

} // namespace

void ImapClient::fetch(const std::vector<std::uint32_t>& uids, bool headers,
                       const std::function<void(FetchedMessage&&)>& each) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    mailimap_set* set = uids.empty() ? mailimap_set_new_interval(1, 0) : setOf(uids); // 0 is '*'
    SetOwner owner{set};
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    if (headers) {
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
        mailimap_fetch_type_new_fetch_att_list_add(
            type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new_header()));
    }
    Streamed to{headers, &each, nullptr};
    mailimap* imap = session_->imap;
    mailimap_set_msg_att_handler(imap, streamed, &to);
    mailimap_set_progress_callback(imap, nullptr, noProgress, nullptr);
    clist* result = nullptr;
    const int r = mailimap_uid_fetch(imap, set, type, &result);
    mailimap_set_progress_callback(imap, nullptr, nullptr, nullptr);
    mailimap_set_msg_att_handler(imap, nullptr, nullptr);
    mailimap_fetch_type_free(type);
    if (result)
        mailimap_fetch_list_free(result);
    check(r, "UID FETCH");
    if (to.failure)
        std::rethrow_exception(to.failure);
}

clist* ImapClient::uidFetch(const std::vector<std::uint32_t>& uids, mailimap_fetch_type* type) {
    struct TypeOwner {
        mailimap_fetch_type* type;
        ~TypeOwner() { mailimap_fetch_type_free(type); }
    } ownedType{type};
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    SetOwner owner{setOf(uids)};
    clist* result = nullptr;
    check(mailimap_uid_fetch(session_->imap, owner.set, type, &result), "UID FETCH");
    return result;
}

std::vector<std::pair<std::uint32_t, std::string>> ImapClient::fetchWhole(const std::vector<std::uint32_t>& uids) {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(
        type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
    std::vector<std::pair<std::uint32_t, std::string>> wholes;
    eachAnswer(uidFetch(uids, type), [&](const std::vector<const mailimap_msg_att_static*>& items) {
        std::uint32_t got = 0;
        const char* bytes = nullptr;
        std::size_t length = 0;
        for (const auto* s : items) {
            if (s->att_type == MAILIMAP_MSG_ATT_UID)
                got = s->att_data.att_uid;
            else if (s->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && s->att_data.att_body_section) {
                bytes = s->att_data.att_body_section->sec_body_part;
                length = s->att_data.att_body_section->sec_length;
            }
        }
        if (got != 0 && bytes)
            wholes.emplace_back(got, std::string(bytes, length));
    });
    return wholes;
}

std::vector<ImapClient::TextParts> ImapClient::textParts(const std::vector<std::uint32_t>& uids) {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_bodystructure());
    std::vector<TextParts> found;
    eachAnswer(uidFetch(uids, type), [&](const std::vector<const mailimap_msg_att_static*>& items) {
        TextParts parts;
        const mailimap_body* structure = nullptr;
        for (const auto* s : items) {
            if (s->att_type == MAILIMAP_MSG_ATT_UID)
                parts.uid = s->att_data.att_uid;
            else if (s->att_type == MAILIMAP_MSG_ATT_BODYSTRUCTURE)
                structure = s->att_data.att_bodystructure;
        }
        if (parts.uid == 0 || !structure)
            return;
        parts.readable = structure->bd_type == MAILIMAP_BODY_MPART && findTextParts(structure, "", 0, parts);
        found.push_back(std::move(parts));
    });
    return found;
}

std::vector<std::pair<std::uint32_t, std::map<std::string, std::string>>>
ImapClient::fetchSections(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& sections) {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    for (const auto& section : sections) {
        mailimap_fetch_type_new_fetch_att_list_add(
            type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new_part_mime(sectionPart(section))));
        mailimap_fetch_type_new_fetch_att_list_add(
            type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new_part(sectionPart(section))));
    }
    std::vector<std::pair<std::uint32_t, std::map<std::string, std::string>>> fetched;
    eachAnswer(uidFetch(uids, type), [&](const std::vector<const mailimap_msg_att_static*>& items) {
        std::uint32_t uid = 0;
        std::map<std::string, std::string> bytes;
        for (const auto* s : items) {
            if (s->att_type == MAILIMAP_MSG_ATT_UID)
                uid = s->att_data.att_uid;
            else if (s->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && s->att_data.att_body_section) {
                const auto* section = s->att_data.att_body_section;
                bytes[sectionName(section->sec_section)] =
                    std::string(section->sec_body_part ? section->sec_body_part : "", section->sec_length);
            }
        }
        if (uid != 0 && bytes.size() == 2 * sections.size())
            fetched.emplace_back(uid, std::move(bytes));
    });
    return fetched;
}

namespace {

std::vector<std::vector<std::uint32_t>> splitSets(const std::vector<std::uint32_t>& uids, std::size_t setOctets) {
    std::vector<std::vector<std::uint32_t>> sets;
    std::size_t length = setOctets;
    for (std::size_t i = 0; i < uids.size(); ++i) {
        const std::size_t digits = std::to_string(uids[i]).size();
        std::size_t cost = digits + 1; // "uid," or ":uid" ending a run
        if (i > 0 && uids[i] == uids[i - 1] + 1 && !sets.back().empty()) {
            // The run's end moves on: only a longer number costs more.
            const bool ranged = i > 1 && uids[i - 1] == uids[i - 2] + 1 && sets.back().size() > 1;
            cost = ranged ? digits - std::to_string(uids[i - 1]).size() : cost;
            if (length + cost <= setOctets) {
                length += cost;
                sets.back().push_back(uids[i]);
                continue;
            }
            cost = digits + 1;
        }
        if (length + cost > setOctets) {
            sets.emplace_back();
            length = 0;
        }
        length += cost;
        sets.back().push_back(uids[i]);
    }
    return sets;
}

// RFC 7162 asks servers to take command lines of 8192 octets at least.
constexpr std::size_t shortSetOctets = 8000;

} // namespace

std::vector<std::vector<std::uint32_t>> ImapClient::commandSets(const std::vector<std::uint32_t>& uids) const {
    return splitSets(uids, setOctets_);
}

std::vector<std::uint32_t> ImapClient::remove(const std::vector<std::uint32_t>& uids,
                                              const std::optional<std::string>& to) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    // Never a plain EXPUNGE: it would take other clients' deleted mail too.
    if (!uidPlus_ && !(to && move_))
        throw host::HostError(where(options_.url) + " offers neither MOVE nor UIDPLUS: a message cannot be "
                              "removed alone");
    if (uids.empty())
        return {};
    try {
        try {
            return removeSet(uids, to);
        } catch (const ConnectionLost&) {
            throw;
        } catch (const host::HostError&) {
            // A message another client expunged fails the whole command
            // until this session has heard of it; then it is passed over.
            check(mailimap_noop(session_->imap), "NOOP");
            return removeSet(uids, to);
        }
    } catch (const host::HostError&) {
        // Perhaps the line was too long for the server: later ones are not.
        if (splitSets(uids, shortSetOctets).size() > 1)
            setOctets_ = shortSetOctets;
        throw;
    }
}

std::vector<std::uint32_t> ImapClient::removeSet(const std::vector<std::uint32_t>& uids,
                                                 const std::optional<std::string>& to) {
    mailimap_set* set = setOf(uids);
    SetOwner owner{set};
    std::vector<std::uint32_t> moved;
    // The source UIDs of a COPYUID answer, when there was one.
    auto copied = [&](int result, mailimap_set* source, mailimap_set* destination, const char* what) {
        SetOwner sourceOwner{source ? source : mailimap_set_new_empty()};
        SetOwner destinationOwner{destination ? destination : mailimap_set_new_empty()};
        check(result, what);
        if (!source)
            return false;
        for (clistiter* it = clist_begin(source->set_list); it; it = clist_next(it)) {
            const auto* item = static_cast<mailimap_set_item*>(clist_content(it));
            for (std::uint32_t uid = item->set_first; uid != 0 && uid <= item->set_last; ++uid)
                moved.push_back(uid);
        }
        return true;
    };
    if (to && move_) {
        std::uint32_t validity = 0;
        mailimap_set *source = nullptr, *destination = nullptr;
        const int r = uidPlus_ ? mailimap_uidplus_uid_move(session_->imap, set, to->c_str(), &validity, &source,
                                                           &destination)
                               : mailimap_uid_move(session_->imap, set, to->c_str());
        return copied(r, source, destination, "UID MOVE") ? moved : uids;
    }
    mailimap_set* expunge = set;
    std::unique_ptr<mailimap_set, void (*)(mailimap_set*)> copiedSet(nullptr, mailimap_set_free);
    if (to) {
        std::uint32_t validity = 0;
        mailimap_set *source = nullptr, *destination = nullptr;
        const int r = mailimap_uidplus_uid_copy(session_->imap, set, to->c_str(), &validity, &source, &destination);
        if (copied(r, source, destination, "UID COPY")) {
            // Only what was copied is removed.
            std::sort(moved.begin(), moved.end());
            if (moved.empty())
                return moved;
            copiedSet.reset(expunge = setOf(moved));
        }
    }
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
    mailimap_store_att_flags* store = mailimap_store_att_flags_new_add_flags_silent(flags);
    const int r = mailimap_uid_store(session_->imap, expunge, store);
    mailimap_store_att_flags_free(store);
    check(r, "UID STORE");
    check(mailimap_uid_expunge(session_->imap, expunge), "UID EXPUNGE");
    return expunge == set ? uids : moved;
}

void ImapClient::setSeen(const std::vector<std::uint32_t>& uids, bool seen) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    if (uids.empty())
        return;
    mailimap_set* set = setOf(uids);
    SetOwner owner{set};
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_seen());
    mailimap_store_att_flags* store = seen ? mailimap_store_att_flags_new_add_flags_silent(flags)
                                           : mailimap_store_att_flags_new_remove_flags_silent(flags);
    const int r = mailimap_uid_store(session_->imap, set, store);
    mailimap_store_att_flags_free(store);
    check(r, "UID STORE");
}

bool ImapClient::idle(int stopFd, std::chrono::seconds longest) {
    if (!session_)
        throw ConnectionLost("not connected to " + where(options_.url));
    mailimap* imap = session_->imap;
    check(mailimap_idle(imap), "IDLE");
    Transport& t = *session_->transport;
    bool spoke = imap->imap_stream->read_buffer_len > 0 || t.pending();
    bool stopped = false;
    if (!spoke) {
        pollfd fds[2] = {{t.fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(longest.count() * 1000));
        spoke = n > 0 && fds[0].revents != 0;
        stopped = n > 0 && stopFd >= 0 && fds[1].revents != 0;
        if (n < 0 && errno == EINTR)
            stopped = true; // a signal: let the caller look
    }
    check(mailimap_idle_done(imap), "IDLE");
    return spoke && !stopped;
}

} // namespace skerrow::imap
