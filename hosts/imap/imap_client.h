// One IMAP4rev1 connection, spoken through libetpan over a stream of our
// own: TLS by GnuTLS with the server's certificate verified (the system's
// store, or a private CA file) and every network wait bounded by a timeout.
#pragma once

#include "addin/host/host.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// libetpan's, declared here so that its headers stay out of ours.
struct clist_s;
struct mailimap_fetch_type;

namespace skerrow::imap {

// imaps://user@host[:port]/ (TLS from the start, port 993) or
// imap://user@host[:port]/ (STARTTLS, port 143).
struct ImapUrl {
    bool implicitTls = true;
    std::string user;
    std::string host;
    int port = 993;
};
// Throws std::invalid_argument saying what is wrong.
ImapUrl parseImapUrl(const std::string& url);

struct ConnectOptions {
    ImapUrl url;
    std::string password;
    std::optional<std::string> caFile; // else the system's trust store
    bool allowPlaintext = false;       // honoured on loopback addresses only
    std::chrono::seconds timeout{30};
};

// What connecting can fail with, said in one line for the user.
class ConnectError : public host::HostError {
public:
    using host::HostError::HostError;
};
// The connection broke (or timed out) under an operation.
class ConnectionLost : public host::HostError {
public:
    using host::HostError::HostError;
};

struct MailboxInfo {
    std::string name; // as the server names it (modified UTF-7)
    char delimiter = 0;
    bool trash = false; // flagged \Trash (SPECIAL-USE)
    bool selectable = true;
};

struct Selection {
    std::uint32_t uidValidity = 0;
    std::uint32_t exists = 0;
    std::uint32_t uidNext = 0;
};

struct FetchedMessage {
    std::uint32_t uid = 0;
    bool seen = false;
    host::Date internalDate{};
    std::optional<std::string> header; // BODY[HEADER] when asked for
};

class ImapClient {
public:
    // Connects and logs in. Throws ConnectError.
    explicit ImapClient(ConnectOptions options);
    ~ImapClient();
    ImapClient(const ImapClient&) = delete;
    ImapClient& operator=(const ImapClient&) = delete;

    // Drops the connection and makes a new one, logged in, nothing selected.
    void reconnect();

    bool hasMove() const { return move_; }
    bool hasUidPlus() const { return uidPlus_; }
    bool hasIdle() const { return idle_; }
    const ConnectOptions& options() const { return options_; }

    std::vector<MailboxInfo> list();
    void create(const std::string& mailbox);
    // SELECT (read-write): nothing a check reads sets \Seen, as every
    // fetch peeks.
    Selection select(const std::string& mailbox);
    const std::optional<std::string>& selected() const { return selected_; }
    // Messages in the selected mailbox as the server last said.
    std::uint32_t exists() const;


    // One UID FETCH over uids of UID, FLAGS and, with headers, INTERNALDATE
    // and BODY.PEEK[HEADER], handing each message to `each` as soon as its
    // answer is read (the server still sends the rest meanwhile); uids
    // empty: the whole folder.
    void fetch(const std::vector<std::uint32_t>& uids, bool headers, const std::function<void(FetchedMessage&&)>& each);
    // BODY.PEEK[] of the messages, in one command: UID to the whole
    // message; messages that have gone are not in it.
    std::vector<std::pair<std::uint32_t, std::string>> fetchWhole(const std::vector<std::uint32_t>& uids);
    // Where the body of a multipart message is read, by its BODYSTRUCTURE:
    // the sections ("1", "2.1") of its first text/plain and first text/html
    // part that are no attachment and not in an attached message ("" for
    // none). Not readable when the structure leaves that in doubt (a server
    // without the extension data, a multipart without a boundary, deep
    // nesting): then only the whole message says.
    struct TextParts {
        std::uint32_t uid = 0;
        bool readable = false;
        std::string plain;
        std::string html;
    };
    std::vector<TextParts> textParts(const std::vector<std::uint32_t>& uids);
    // BODY.PEEK[s.MIME] and BODY.PEEK[s] of these sections of the messages,
    // in one command: UID to section name ("1", "1.MIME") to its bytes.
    std::vector<std::pair<std::uint32_t, std::map<std::string, std::string>>>
    fetchSections(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& sections);
    // UID MOVE, or UID COPY, UID STORE +FLAGS.SILENT (\Deleted) and UID
    // EXPUNGE of exactly these messages; to = nothing removes them for good.
    // Returns the UIDs moved: those the server's COPYUID names (a message
    // another client removed meanwhile is not among them), else all.
    std::vector<std::uint32_t> remove(const std::vector<std::uint32_t>& uids, const std::optional<std::string>& to);
    // Sorted UIDs cut into runs whose set fits one command line (servers
    // bound its length). A removal with a long line that fails makes the
    // lines short from then on.
    std::vector<std::vector<std::uint32_t>> commandSets(const std::vector<std::uint32_t>& uids) const;
    // UID STORE +FLAGS.SILENT (\Seen), or -FLAGS when unread.
    void setSeen(const std::vector<std::uint32_t>& uids, bool seen);

    // IDLE on the selected mailbox until the server says something, stopFd
    // becomes readable or the time runs out; true when the server spoke.
    bool idle(int stopFd, std::chrono::seconds longest);

private:
    struct Session;
    void open();
    void close() noexcept;
    // Turns a libetpan result into an exception (ConnectionLost for the
    // stream, host::HostError for a refusal).
    void check(int result, const std::string& what);
    // One UID FETCH of the UIDs for what `type` (a mailimap_fetch_type, freed
    // here) asks; the answers as libetpan's list, for mailimap_fetch_list_free.
    clist_s* uidFetch(const std::vector<std::uint32_t>& uids, mailimap_fetch_type* type);
    std::vector<std::uint32_t> removeSet(const std::vector<std::uint32_t>& uids, const std::optional<std::string>& to);

    ConnectOptions options_;
    std::unique_ptr<Session> session_;
    std::optional<std::string> selected_;
    bool move_ = false;
    bool uidPlus_ = false;
    bool idle_ = false;
    // Every removal costs Dovecot a pass over the mailbox: as few as its
    // 64 KiB lines allow.
    std::size_t setOctets_ = 60000;
};

// True for 127.0.0.0/8 and ::1 (and names that resolve only to them).
bool isLoopback(const std::string& host);

} // namespace skerrow::imap
