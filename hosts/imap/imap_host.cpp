#include "hosts/imap/imap_host.h"

#include "hosts/maildir/message_file.h"
#include "hosts/maildir/store_parts.h"
#include "hosts/maildir/vcard.h"

#include <poll.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

namespace skerrow::imap {

namespace {

constexpr const char* unreadableItemTypeName = "UnreadableItem";
constexpr const char* inboxName = "INBOX";
constexpr const char* fallbackTrash = "Trash";
// Dovecot and most servers end IDLE after 30 minutes.
constexpr std::chrono::seconds idleRound{25 * 60};
constexpr std::chrono::seconds pollRound{30};
// How long a listing read from the server stands for later walks.
constexpr std::chrono::seconds freshFor{2};

// One message as the last walk saw it.
struct Record {
    std::uint32_t uid = 0;
    std::uint32_t validity = 0;
    bool seen = false;
    bool gone = false;
    host::Date received{};
    std::shared_ptr<const std::string> raw; // the header block, UTF-8-safe
    maildir::HeaderBlock fields;            // its picked fields (raw left empty)
    std::optional<std::optional<std::string>> sender;
    std::optional<std::string> subjectText;
    std::optional<std::string> toText;
    std::shared_ptr<const maildir::MessageBodies> bodies;
    std::optional<bool> wantsBody; // the header block does not name the user
};

struct FolderState {
    std::string mailbox;
    bool trash = false;
    bool fetched = false;
    std::uint32_t validity = 0;
    std::uint32_t uidNext = 0;
    std::vector<std::shared_ptr<Record>> listing; // by UID
    // The listing stands for the next walk when nothing has been asked of
    // the server or deleted since it was read, a moment ago: a check walks
    // the Inbox several times in a row.
    std::uint64_t freshAt = 0;
    std::chrono::steady_clock::time_point freshUntil{};
};

// Servers speak CRLF; the text handed out has plain line ends, as files
// in a Maildir do.
std::string plainLineEnds(std::string text) {
    // A line at a time: a whole folder's header blocks pass through here.
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size();) {
        const void* found = std::memchr(text.data() + i, '\r', text.size() - i);
        const std::size_t cr = found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : text.size();
        if (out != i)
            std::memmove(text.data() + out, text.data() + i, cr - i);
        out += cr - i;
        i = cr;
        if (i < text.size()) {
            if (i + 1 >= text.size() || text[i + 1] != '\n')
                text[out++] = '\r';
            ++i;
        }
    }
    text.resize(out);
    return text;
}

std::shared_ptr<Record> makeRecord(FetchedMessage&& message, std::uint32_t validity) {
    auto record = std::make_shared<Record>();
    record->uid = message.uid;
    record->validity = validity;
    record->seen = message.seen;
    record->received = message.internalDate;
    // The block is where the text starts: cut to it, not copied.
    std::string text = plainLineEnds(std::move(*message.header));
    std::string_view raw;
    record->fields = maildir::scanHeaderBlock(text, raw);
    text.resize(raw.size());
    record->raw = std::make_shared<const std::string>(maildir::cleanUtf8(std::move(text)));
    return record;
}

// The text parts of a whole message (or of one part with its MIME header):
// the bytes after the header block when it is one plain or HTML text in
// UTF-8 or ASCII, GMime's parse otherwise.
maildir::MessageBodies bodiesOf(const maildir::HeaderBlock& fields, const std::string& whole) {
    const auto shape = maildir::bodyShape(fields.contentType, fields.transferEncoding);
    const std::size_t bodyOffset =
        shape == maildir::BodyShape::NeedsParse ? std::string::npos : maildir::scanHeaderBlock(whole).bodyOffset;
    return maildir::WholeFile(whole).bodies(shape, bodyOffset);
}

maildir::MessageBodies partBodies(std::map<std::string, std::string>& sections, const std::string& section) {
    const std::string part = plainLineEnds(sections[section + ".MIME"] + sections[section]);
    return bodiesOf(maildir::scanHeaderBlock(part), part);
}

bool isMultipart(const std::optional<std::string>& contentType) {
    if (!contentType)
        return false;
    const auto start = contentType->find_first_not_of(" \t");
    return start != std::string::npos && g_ascii_strncasecmp(contentType->c_str() + start, "multipart/", 10) == 0;
}

} // namespace

// Deletions from one folder not yet sent: a purge deletes many mails in a
// row, and each UID MOVE costs the server a pass over the mailbox however
// few messages it names.
struct PendingMoves {
    std::shared_ptr<FolderState> folder;
    std::string to;
    std::vector<std::pair<std::shared_ptr<Record>, const host::MailItem*>> deletions;
};

// What the host's objects share.
struct HostContext : maildir::StoreParts {
    static constexpr std::size_t bodyBatch = 200;

    std::unique_ptr<ImapClient> client;
    std::string account;
    std::optional<std::string> lost;
    std::optional<std::string> problem; // deletions that could not be made
    std::optional<PendingMoves> pending;
    // Deleted mails that were not moved after all, since the last walk or
    // settle(): named to the add-in, which counts only what was moved.
    std::vector<const host::MailItem*> unsettled;
    // Operations that may have changed a mailbox (or the connection) so far:
    // a listing read before the last of them no longer stands.
    std::uint64_t operations = 0;
    std::optional<std::string> trashMailbox;
    std::map<std::string, std::shared_ptr<FolderState>> states;
    std::map<std::string, std::shared_ptr<host::Folder>> folders;
    std::pair<std::shared_ptr<FolderState>, std::shared_ptr<Record>> lastNamed;

    // Runs one operation, opening a broken connection again once for it;
    // `changes`: whether it may change a mailbox (a read does not).
    template <class F>
    auto run(F&& operation, bool changes = true) -> decltype(operation()) {
        if (lost)
            throw host::HostError(*lost);
        if (changes)
            ++operations;
        try {
            return operation();
        } catch (const ConnectionLost&) {
        }
        ++operations; // what was missed while the connection was down
        try {
            client->reconnect();
            return operation();
        } catch (const ConnectionLost& e) {
            lost = e.what();
        } catch (const ConnectError& e) {
            lost = std::string("the connection was lost and could not be opened again: ") + e.what();
        }
        throw host::HostError(*lost);
    }

    std::shared_ptr<FolderState> state(const std::string& mailbox) {
        auto& slot = states[mailbox];
        if (!slot) {
            slot = std::make_shared<FolderState>();
            slot->mailbox = mailbox;
        }
        return slot;
    }

    // The Deleted Items mailbox: flagged \Trash, else "Trash", made when
    // missing. Asked once per connection's life.
    std::shared_ptr<FolderState> trash() {
        if (!trashMailbox) {
            run([&] {
                const auto boxes = client->list();
                auto flagged = std::find_if(boxes.begin(), boxes.end(), [](const auto& b) { return b.trash; });
                if (flagged != boxes.end()) {
                    trashMailbox = flagged->name;
                    return;
                }
                if (std::none_of(boxes.begin(), boxes.end(), [](const auto& b) { return b.name == fallbackTrash; }))
                    client->create(fallbackTrash); // new and empty: no listing of it stands
                trashMailbox = fallbackTrash;
            }, false);
        }
        auto s = state(*trashMailbox);
        s->trash = true;
        return s;
    }

    // Selects the folder. A UIDVALIDITY other than the one its listing was
    // read under voids the listing: those UIDs now name other messages.
    Selection select(FolderState& folder) {
        const auto selection = client->select(folder.mailbox);
        if (folder.fetched && selection.uidValidity != folder.validity) {
            for (auto& r : folder.listing)
                r->gone = true;
            folder.listing.clear();
            folder.fetched = false;
        }
        folder.uidNext = selection.uidNext;
        return selection;
    }

    // Selects the folder unless it is selected (while selected, the server
    // keeps the UIDVALIDITY: RFC 3501); throws when the record is no longer
    // one of its messages.
    void selectFor(FolderState& folder, const Record& record) {
        if (client->selected() != folder.mailbox)
            select(folder);
        if (record.gone || record.validity != folder.validity)
            throw host::HostError("the message " + std::to_string(record.uid) +
                                  " is no longer in its folder (its UIDVALIDITY changed or it moved)");
    }

    // Sends the queued deletions, as few commands as the line length
    // allows. A command that fails leaves its messages in place and is kept
    // for problem(); a message another client removed meanwhile is not
    // moved either. Both are named by settle().
    void flushMoves() noexcept {
        if (!pending)
            return;
        PendingMoves moves = std::move(*pending);
        pending.reset();
        // The listing still stands after the moves when they all went as
        // asked: it loses just the moved messages.
        const bool fresh = moves.folder->freshAt == operations;
        const std::uint64_t before = operations;
        std::sort(moves.deletions.begin(), moves.deletions.end(),
                  [](const auto& a, const auto& b) { return a.first->uid < b.first->uid; });
        std::vector<std::uint32_t> uids;
        for (const auto& d : moves.deletions)
            uids.push_back(d.first->uid);
        std::vector<std::uint32_t> moved, failed;
        std::string why;
        struct Shorter {}; // the lines were made shorter: cut the set again
        for (std::size_t done = 0; done < uids.size();) {
            const auto set = client->commandSets({uids.begin() + static_cast<std::ptrdiff_t>(done), uids.end()}).front();
            try {
                run([&] {
                    if (client->commandSets(set).size() > 1)
                        throw Shorter{};
                    if (client->selected() != moves.folder->mailbox &&
                        select(*moves.folder).uidValidity != moves.deletions.front().first->validity)
                        throw host::HostError("the mailbox " + moves.folder->mailbox + " was made anew meanwhile");
                    const auto removed = client->remove(set, moves.to);
                    moved.insert(moved.end(), removed.begin(), removed.end());
                }, false);
            } catch (const Shorter&) {
                continue;
            } catch (const std::exception& e) {
                if (client->commandSets(set).size() > 1)
                    continue;
                failed.insert(failed.end(), set.begin(), set.end());
                if (why.empty())
                    why = e.what();
            }
            done += set.size();
        }
        std::sort(moved.begin(), moved.end());
        std::size_t left = 0;
        bool all = true;
        for (const auto& [record, item] : moves.deletions) {
            if (std::binary_search(moved.begin(), moved.end(), record->uid))
                continue;
            all = false;
            unsettled.push_back(item);
            if (std::binary_search(failed.begin(), failed.end(), record->uid)) {
                record->gone = false;
                ++left;
            }
        }
        if (left > 0 && !problem)
            problem = why + " (" + std::to_string(left) + " deleted mails were left where they were)";
        ++operations; // Deleted Items has more
        if (all && fresh && operations == before + 1) {
            std::erase_if(moves.folder->listing, [](const auto& r) { return r->gone; });
            moves.folder->freshAt = operations;
            // The server's last word (its answer to the moves) counts as a
            // fresh reading when it holds just what the listing holds.
            if (client->selected() == moves.folder->mailbox && client->exists() == moves.folder->listing.size())
                moves.folder->freshUntil = std::chrono::steady_clock::now() + freshFor;
        }
    }

    std::vector<const host::MailItem*> settle() {
        flushMoves();
        return std::exchange(unsettled, {});
    }

    // Known messages need only their flags; new ones their headers.
    void refresh(FolderState& folder) {
        std::unordered_map<std::uint32_t, bool> seen;
        client->fetch({}, false, [&](FetchedMessage&& message) { seen.emplace(message.uid, message.seen); });
        std::vector<std::shared_ptr<Record>> kept;
        kept.reserve(seen.size());
        for (auto& r : folder.listing) {
            auto it = seen.find(r->uid);
            if (it == seen.end()) {
                r->gone = true;
                continue;
            }
            r->seen = it->second;
            r->gone = false;
            seen.erase(it);
            kept.push_back(r);
        }
        if (!seen.empty()) {
            std::vector<std::uint32_t> fresh;
            for (const auto& [uid, s] : seen)
                fresh.push_back(uid);
            std::sort(fresh.begin(), fresh.end());
            client->fetch(fresh, true, [&](FetchedMessage&& message) {
                kept.push_back(makeRecord(std::move(message), folder.validity));
            });
        }
        folder.listing = std::move(kept);
        std::sort(folder.listing.begin(), folder.listing.end(),
                  [](const auto& a, const auto& b) { return a->uid < b->uid; });
        if (!folder.listing.empty())
            folder.uidNext = std::max(folder.uidNext, folder.listing.back()->uid + 1);
    }

    const std::vector<std::shared_ptr<Record>>& scan(FolderState& folder) {
        flushMoves();
        // A new snapshot's mails are other objects: what failed before it
        // is no longer theirs to answer for.
        unsettled.clear();
        if (folder.fetched && folder.freshAt == operations && std::chrono::steady_clock::now() < folder.freshUntil)
            return folder.listing;
        run([&] {
            // Selected, the mailbox keeps its UIDVALIDITY (RFC 3501): its
            // flags alone tell what changed.
            if (folder.fetched && client->selected() == folder.mailbox) {
                refresh(folder);
                return;
            }
            const auto selection = select(folder);
            if (!folder.fetched || selection.uidValidity != folder.validity) {
                for (auto& r : folder.listing)
                    r->gone = true;
                folder.listing.clear();
                folder.validity = selection.uidValidity;
                if (selection.exists > 0) {
                    // The one round trip a walk costs: every header block at once.
                    folder.listing.reserve(selection.exists);
                    client->fetch({}, true, [&](FetchedMessage&& message) {
                        folder.listing.push_back(makeRecord(std::move(message), folder.validity));
                    });
                }
            } else {
                refresh(folder);
                return;
            }
            std::sort(folder.listing.begin(), folder.listing.end(),
                      [](const auto& a, const auto& b) { return a->uid < b->uid; });
            folder.fetched = true;
        });
        folder.freshAt = operations;
        folder.freshUntil = std::chrono::steady_clock::now() + freshFor;
        return folder.listing;
    }

    void remove(const std::shared_ptr<FolderState>& folder, const std::shared_ptr<Record>& record,
                const host::MailItem* item) {
        if (lost)
            throw host::HostError(*lost);
        if (record->gone || record->validity != folder->validity)
            throw host::HostError("the message " + std::to_string(record->uid) + " is no longer in its folder");
        const auto bin = trash();
        if (bin == folder) {
            // For good, at once.
            flushMoves();
            run([&] {
                selectFor(*folder, *record);
                client->remove({record->uid}, std::nullopt);
            });
        } else {
            if (pending && pending->folder != folder)
                flushMoves();
            if (!pending)
                pending = PendingMoves{folder, bin->mailbox, {}};
            pending->deletions.emplace_back(record, item);
        }
        record->gone = true;
        record->bodies.reset();
    }

    // Whether the own-address rule will ask for the body: the header block
    // does not name the address.
    const std::string& foldedAddress() const {
        if (foldedAddress_.empty() && address)
            for (char c : *address)
                foldedAddress_ += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        return foldedAddress_;
    }
    mutable std::string foldedAddress_;

    bool wantsBody(Record& record) const {
        if (!record.wantsBody) {
            static const std::string none;
            const std::string& raw = record.raw ? *record.raw : none;
            // On a lower-case copy: a comparison per character costs more
            // than the rest of the walk.
            std::string folded = raw;
            for (auto& c : folded)
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            record.wantsBody = address && !address->empty() && folded.find(foldedAddress()) == std::string::npos;
        }
        return *record.wantsBody;
    }

    // The body of record, fetched with those of the next messages in the
    // folder that a purge will want too: one round trip for a batch.
    std::shared_ptr<const maildir::MessageBodies> bodies(FolderState& folder, Record& record) {
        if (record.bodies)
            return record.bodies;
        if (pending && pending->folder.get() != &folder)
            flushMoves();
        std::vector<Record*> wanted{&record};
        auto it = std::lower_bound(folder.listing.begin(), folder.listing.end(), record.uid,
                                   [](const auto& r, std::uint32_t u) { return r->uid < u; });
        if (it != folder.listing.end() && it->get() == &record)
            for (++it; it != folder.listing.end() && wanted.size() < bodyBatch; ++it)
                if (!(*it)->gone && !(*it)->bodies && wantsBody(**it))
                    wanted.push_back(it->get());
        // A multipart message's text parts alone, never its attachments;
        // any other message whole.
        std::vector<std::uint32_t> multipart, whole;
        std::map<std::uint32_t, Record*> byUid;
        for (auto* r : wanted) {
            (isMultipart(r->fields.contentType) ? multipart : whole).push_back(r->uid);
            byUid.emplace(r->uid, r);
        }
        std::optional<std::string> failure; // record's own; another's is met when it is asked for
        auto give = [&](std::uint32_t uid, auto&& make) {
            const auto found = byUid.find(uid);
            if (found == byUid.end() || found->second->bodies)
                return;
            try {
                found->second->bodies = std::make_shared<const maildir::MessageBodies>(make(*found->second));
            } catch (const std::exception& e) {
                if (found->second == &record)
                    failure = e.what();
            }
        };
        run([&] {
            selectFor(folder, record);
            auto wholes = whole;
            if (!multipart.empty()) {
                std::map<std::pair<std::string, std::string>, std::vector<std::uint32_t>> bySections;
                for (const auto& parts : client->textParts(multipart))
                    (parts.readable ? bySections[{parts.plain, parts.html}] : wholes).push_back(parts.uid);
                // Named, not bound: lambdas may not capture structured bindings in clang 14.
                for (auto& group : bySections) {
                    const std::string& plain = group.first.first;
                    const std::string& html = group.first.second;
                    auto& uids = group.second;
                    std::vector<std::string> names;
                    for (const auto* name : {&plain, &html})
                        if (!name->empty())
                            names.push_back(*name);
                    std::sort(uids.begin(), uids.end());
                    if (names.empty()) {
                        for (const auto uid : uids)
                            give(uid, [](Record&) { return maildir::MessageBodies{}; });
                        continue;
                    }
                    for (auto& fetched : client->fetchSections(uids, names))
                        give(fetched.first, [&, &bytes = fetched.second](Record&) {
                            maildir::MessageBodies bodies;
                            if (!plain.empty())
                                bodies.plain = partBodies(bytes, plain).plain;
                            if (!html.empty())
                                bodies.html = partBodies(bytes, html).html;
                            return bodies;
                        });
                }
            }
            std::sort(wholes.begin(), wholes.end());
            if (!wholes.empty())
                for (auto& fetched : client->fetchWhole(wholes))
                    give(fetched.first, [&](Record& r) { return bodiesOf(r.fields, plainLineEnds(std::move(fetched.second))); });
        }, false);
        if (failure)
            throw host::HostError(*failure);
        if (!record.bodies)
            throw host::HostError("the message " + std::to_string(record.uid) + " is no longer in its folder");
        return record.bodies;
    }

    std::pair<std::shared_ptr<FolderState>, std::shared_ptr<Record>> find(const std::string& entryID) {
        const auto dot = entryID.find('.');
        std::uint32_t validity = 0, uid = 0;
        try {
            if (dot == std::string::npos)
                throw std::invalid_argument(entryID);
            validity = static_cast<std::uint32_t>(std::stoul(entryID.substr(0, dot)));
            uid = static_cast<std::uint32_t>(std::stoul(entryID.substr(dot + 1)));
        } catch (const std::logic_error&) {
            throw host::HostError("no message " + entryID);
        }
        auto matches = [&](const std::shared_ptr<Record>& r) {
            return r && !r->gone && r->uid == uid && r->validity == validity;
        };
        if (matches(lastNamed.second))
            return lastNamed;
        // Inbox first: two mailboxes made in the same second may share a
        // UIDVALIDITY.
        std::vector<std::shared_ptr<FolderState>> order;
        if (auto it = states.find(inboxName); it != states.end())
            order.push_back(it->second);
        for (const auto& [name, s] : states)
            if (name != inboxName)
                order.push_back(s);
        for (const auto& s : order) {
            auto it = std::lower_bound(s->listing.begin(), s->listing.end(), uid,
                                       [](const auto& r, std::uint32_t u) { return r->uid < u; });
            if (it != s->listing.end() && matches(*it))
                return {s, *it};
        }
        throw host::HostError("no message " + entryID + " in " + account);
    }

    void setSeen(const std::string& entryID, bool seen) {
        flushMoves();
        // Named, not bound: lambdas may not capture structured bindings in clang 14.
        const auto found = find(entryID);
        const auto& folder = found.first;
        const auto& record = found.second;
        if (record->seen == seen)
            return;
        run([&] {
            selectFor(*folder, *record);
            client->setSeen({record->uid}, seen);
        });
        record->seen = seen;
    }

    bool waitForMail(int stopFd) {
        flushMoves();
        auto inbox = state(inboxName);
        if (!inbox->fetched)
            scan(*inbox);
        const std::uint32_t known = inbox->uidNext;
        return run([&] {
            const bool idle = client->hasIdle();
            // Mail delivered since the last walk counts at once: IDLE tells
            // only of what comes after it starts.
            if (client->selected() != inbox->mailbox && select(*inbox).uidNext != known)
                return true;
            bool spoke = false;
            if (idle) {
                spoke = client->idle(stopFd, idleRound);
            } else {
                pollfd p{stopFd, POLLIN, 0};
                spoke = ::poll(&p, stopFd >= 0 ? 1 : 0, static_cast<int>(pollRound.count() * 1000)) == 0;
            }
            if (!spoke)
                return false;
            const auto selection = select(*inbox);
            return selection.uidNext != known || !inbox->fetched;
        });
    }
};

namespace {

class ImapFolder;

class ImapMailItem : public host::MailItem {
public:
    ImapMailItem(std::shared_ptr<HostContext> context, std::shared_ptr<ImapFolder> folder,
                 std::shared_ptr<FolderState> state, std::shared_ptr<Record> record)
        : context_(std::move(context)), folder_(std::move(folder)), state_(std::move(state)), record_(std::move(record)) {}

    std::string typeName() override {
        return record_->fields.isMessage ? host::mailItemTypeName : unreadableItemTypeName;
    }
    std::string EntryID() override {
        context_->lastNamed = {state_, record_};
        return std::to_string(record_->validity) + "." + std::to_string(record_->uid);
    }
    std::shared_ptr<host::Folder> Parent() override;
    std::string Subject() override {
        if (!record_->subjectText)
            record_->subjectText = record_->fields.subject ? maildir::decodeSubject(*record_->fields.subject) : "";
        return *record_->subjectText;
    }
    std::string Body() override { return context_->bodies(*state_, *record_)->plain; }
    std::string HTMLBody() override { return context_->bodies(*state_, *record_)->html; }
    std::string To() override {
        if (!record_->toText)
            record_->toText = record_->fields.to ? maildir::displayAddresses(*record_->fields.to) : "";
        return *record_->toText;
    }
    bool UnRead() override {
        if (record_->gone)
            throw host::HostError("the message " + std::to_string(record_->uid) + " is no longer in its folder");
        return !record_->seen;
    }
    host::Date ReceivedTime() override { return record_->received; }
    void Delete() override { context_->remove(state_, record_, this); }
    const std::shared_ptr<Record>& record() const { return record_; }

private:
    std::shared_ptr<HostContext> context_;
    std::shared_ptr<ImapFolder> folder_;
    std::shared_ptr<FolderState> state_;
    std::shared_ptr<Record> record_;
};

std::string displayName(const FolderState& state, char delimiter) {
    if (state.mailbox == inboxName)
        return "Inbox";
    if (state.trash)
        return "Deleted Items";
    std::string name = state.mailbox;
    if (delimiter && delimiter != '/')
        std::replace(name.begin(), name.end(), delimiter, '/');
    return name;
}

class ImapFolder : public host::Folder, public std::enable_shared_from_this<ImapFolder> {
public:
    ImapFolder(std::shared_ptr<HostContext> context, std::shared_ptr<FolderState> state, char delimiter)
        : context_(std::move(context)), state_(std::move(state)), delimiter_(delimiter) {}

    // The same message is the same item from walk to walk while the host
    // lives, so what a pass learnt of it holds for the pass's later walks.
    std::vector<std::shared_ptr<host::Item>> Items() override {
        const auto& records = context_->scan(*state_);
        std::vector<std::shared_ptr<ImapMailItem>> items;
        items.reserve(records.size());
        auto self = shared_from_this();
        // Both in UID order: one pass finds the old items.
        std::size_t next = 0;
        for (const auto& record : records) {
            while (next < items_.size() && items_[next]->record()->uid < record->uid)
                ++next;
            if (next < items_.size() && items_[next]->record() == record)
                items.push_back(std::move(items_[next++]));
            else
                items.push_back(std::make_shared<ImapMailItem>(context_, self, state_, record));
        }
        if (keepItems_)
            items_ = items;
        return {items.begin(), items.end()};
    }
    // Kept items point back at their folder: the host breaks that cycle
    // when it goes.
    void stopKeepingItems() {
        keepItems_ = false;
        items_.clear();
    }
    int ItemCount() override { return static_cast<int>(context_->scan(*state_).size()); }
    std::string Name() override { return displayName(*state_, delimiter_); }
    std::string StoreID() override { return context_->account; }
    std::vector<const host::MailItem*> settleDeletions() override { return context_->settle(); }

private:
    std::shared_ptr<HostContext> context_;
    std::shared_ptr<FolderState> state_;
    char delimiter_;
    bool keepItems_ = true;
    std::vector<std::shared_ptr<ImapMailItem>> items_;
};

std::shared_ptr<host::Folder> ImapMailItem::Parent() {
    return folder_;
}

using Entry = maildir::PlainAddress<host::AddressEntry>;

class HeaderField : public host::Field {
public:
    explicit HeaderField(std::shared_ptr<const std::string> value) : value_(std::move(value)) {}
    std::string Value() override { return *value_; }
    std::shared_ptr<const std::string> SharedValue() override { return value_; }

private:
    std::shared_ptr<const std::string> value_;
};

class ImapMessage : public host::Message {
public:
    explicit ImapMessage(std::shared_ptr<Record> record) : record_(std::move(record)) {}

    std::shared_ptr<host::AddressEntry> Sender() override {
        if (!record_->sender)
            record_->sender = record_->fields.from ? maildir::senderAddress(*record_->fields.from) : std::nullopt;
        if (!*record_->sender)
            throw host::HostError("the message " + std::to_string(record_->uid) + " names no sender mailbox");
        return std::make_shared<Entry>(**record_->sender);
    }
    std::shared_ptr<host::Field> Fields(std::uint32_t propertyTag) override {
        if (propertyTag != host::prTransportMessageHeaders)
            return nullptr;
        return std::make_shared<HeaderField>(record_->raw);
    }

private:
    std::shared_ptr<Record> record_;
};

std::shared_ptr<host::Folder> folderOf(const std::shared_ptr<HostContext>& context,
                                       const std::shared_ptr<FolderState>& state, char delimiter = '/') {
    auto& slot = context->folders[state->mailbox];
    if (!slot)
        slot = std::make_shared<ImapFolder>(context, state, delimiter);
    return slot;
}

} // namespace

ImapHost::ImapHost(const ImapOptions& options) : context_(std::make_shared<HostContext>()) {
    maildir::initMime();
    for (const auto& path : options.contacts)
        context_->addressLists.push_back(std::make_shared<maildir::AddressBook>(maildir::readContactAddresses(path)));
    context_->client = std::make_unique<ImapClient>(options.connect);
    context_->account = options.connect.url.user + "@" + options.connect.url.host;
    context_->address = options.address;
    application_ = std::make_shared<maildir::StoreApplication>(
        context_,
        [context = context_](int kind) {
            return folderOf(context, kind == host::olFolderInbox ? context->state(inboxName) : context->trash());
        },
        "an IMAP account cannot make new mails here");
    objects_ = std::make_unique<maildir::StoreObjectFactory>(
        context_->account, [context = context_](const std::string& entryID) {
            return std::make_shared<ImapMessage>(context->find(entryID).second);
        });
    clipboard_ = std::make_unique<maildir::NoClipboard>();
}

ImapHost::~ImapHost() {
    context_->flushMoves();
    // Folders kept by the context hold it, and their items them: let go of them.
    for (const auto& [mailbox, folder] : context_->folders)
        std::static_pointer_cast<ImapFolder>(folder)->stopKeepingItems();
    context_->folders.clear();
    context_->explorer.reset();
}

const std::string& ImapHost::storeID() const {
    return context_->account;
}

std::vector<std::shared_ptr<host::Folder>> ImapHost::folders() {
    auto trash = context_->trash();
    const auto boxes = context_->run([&] { return context_->client->list(); }, false);
    std::vector<std::shared_ptr<host::Folder>> result{folderOf(context_, context_->state(inboxName)),
                                                      folderOf(context_, trash)};
    std::vector<MailboxInfo> others;
    for (const auto& box : boxes)
        if (box.selectable && box.name != inboxName && box.name != trash->mailbox)
            others.push_back(box);
    std::sort(others.begin(), others.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& box : others)
        result.push_back(folderOf(context_, context_->state(box.name), box.delimiter));
    return result;
}

void ImapHost::markRead(const std::shared_ptr<host::MailItem>& mail) {
    context_->setSeen(mail->EntryID(), true);
}

void ImapHost::markUnread(const std::shared_ptr<host::MailItem>& mail) {
    context_->setSeen(mail->EntryID(), false);
}

void ImapHost::setExplorer(std::shared_ptr<host::Explorer> explorer) {
    context_->explorer = std::move(explorer);
}

void ImapHost::raiseNewMail() {
    context_->raiseNewMail();
}

const std::vector<std::string>& ImapHost::eventFailures() const {
    return context_->eventFailures;
}

std::optional<std::string> ImapHost::lost() {
    context_->flushMoves();
    return context_->lost ? context_->lost : context_->problem;
}

void ImapHost::endWork() {
    context_->flushMoves();
    context_->client.reset();
    if (!context_->lost)
        context_->lost = "the connection to " + context_->account + " was closed";
}

bool ImapHost::waitForMail(int stopFd) {
    return context_->waitForMail(stopFd);
}

} // namespace skerrow::imap
