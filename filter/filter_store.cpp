#include "filter/filter_store.h"

#include "addin/host/host.h"
#include "filter/sender.h"
#include "filter/settings.h"
#include "filter/text.h"
#include "filter/trap.h"
#include "filter/varient.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace skerrow {

FilterList::FilterList(std::initializer_list<std::string> entries) : FilterList(std::vector<std::string>(entries)) {}

FilterList::FilterList(std::vector<std::string> entries) : entries_(std::move(entries)) {
    rebuildIndex(entries_.size());
}

namespace {
// Eight bytes a step: the purge hashes a sender or two for every mail.
// Only the in-memory index uses it, so it may change between versions.
std::uint64_t hashOf(std::string_view value) {
    constexpr std::uint64_t k1 = 0xff51afd7ed558ccdull;
    constexpr std::uint64_t k2 = 0xc4ceb9fe1a85ec53ull;
    const char* p = value.data();
    std::size_t n = value.size();
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * k1;
        h ^= h >> 32;
    }
    // The last eight bytes, overlapping the words above, or the few bytes
    // of a shorter value.
    std::uint64_t tail = 0;
    if (value.size() >= 8)
        std::memcpy(&tail, value.data() + value.size() - 8, 8);
    else
        for (std::size_t i = 0; i < n; ++i)
            tail |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    h = (h ^ tail) * k2;
    h ^= h >> 29;
    h *= k1;
    return h ^ (h >> 32);
}

// Blank entries are refused, and so are entries holding the separator or a
// line break (or any control character), which would come back from the
// file as two entries or move every later list down a line. The fallback
// sender stands for every sender that could not be resolved: neither it
// nor its domain may ever be listed.
bool refusedEntry(std::string_view value) {
    if (value.find_first_not_of(' ') == std::string_view::npos)
        return true;
    for (const char c : value)
        if (c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    static const std::string fallbackDomainKey = domainKey(fallbackSenderAddress);
    return value == fallbackSenderAddress || value == fallbackDomainKey;
}

} // namespace

void FilterList::rebuildIndex(std::size_t capacity) {
    std::size_t slots = 16;
    while (slots < std::max(capacity, entries_.size()) * 2)
        slots *= 2;
    slots_.assign(slots, 0);
    // Positions + 1 never exceed the number of slots (at most half of them
    // hold distinct entries, and duplicates read from a file were counted
    // when the index was sized).
    positionBits_ = static_cast<unsigned>(std::bit_width(slots));
    distinct_ = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        index(i, hashOf(entries_[i]));
}

std::uint32_t FilterList::positionMask() const {
    return static_cast<std::uint32_t>((std::uint64_t{1} << positionBits_) - 1);
}

// The slot comes from the low bits of the hash, the tag from the high ones,
// so that a tag still tells apart entries that share a slot.
std::uint32_t FilterList::tagOf(std::uint64_t hash) const {
    return static_cast<std::uint32_t>(hash >> 32) & ~positionMask();
}

FilterList::Probe FilterList::probe(std::string_view value, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint32_t tag = tagOf(hash);
    const std::uint32_t positions = positionMask();
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = slots_[slot];
        if (held == 0)
            return {slot, false};
        if ((held & ~positions) == tag && entries_[(held & positions) - 1] == value)
            return {slot, true};
    }
}

bool FilterList::index(std::size_t i, std::uint64_t hash) {
    const Probe at = probe(entries_[i], hash);
    if (at.found)
        return false;
    slots_[at.slot] = tagOf(hash) | static_cast<std::uint32_t>(i + 1);
    ++distinct_;
    return true;
}

bool FilterList::contains(std::string_view value) const {
    return !slots_.empty() && probe(value, hashOf(value)).found;
}

template <typename Value>
void FilterList::appendNew(Value&& value, std::uint64_t hash) {
    if (slots_.empty())
        rebuildIndex(1); // a list made without entries has no index yet
    const Probe at = probe(value, hash);
    if (at.found)
        return;
    entries_.push_back(std::forward<Value>(value));
    // Half full at most, so that probes stay short.
    if ((distinct_ + 1) * 2 > slots_.size()) {
        rebuildIndex(entries_.size() * 2);
        return;
    }
    slots_[at.slot] = tagOf(hash) | static_cast<std::uint32_t>(entries_.size());
    ++distinct_;
}

void FilterList::appendEach(std::vector<std::string> values) {
    std::vector<std::uint64_t> hashes;
    hashes.reserve(values.size());
    for (const auto& value : values)
        hashes.push_back(hashOf(value));
    // The index of a large list is larger than the cache: ask for the slots
    // of the values a few places ahead while this one is placed.
    constexpr std::size_t ahead = 8;
    for (std::size_t i = 0; i < values.size(); ++i) {
#if defined(__GNUC__)
        if (i + ahead < values.size() && !slots_.empty())
            __builtin_prefetch(&slots_[hashes[i + ahead] & (slots_.size() - 1)]);
#endif
        if (!refusedEntry(values[i]))
            appendNew(std::move(values[i]), hashes[i]);
    }
}

void FilterList::reserve(std::size_t n) {
    entries_.reserve(n);
    if (slots_.size() < n * 2)
        rebuildIndex(n);
}

bool isInArray(const FilterList& list, const std::string& value) {
    return list.contains(value);
}

FilterList addToArray(FilterList list, const std::string& value) {
    if (!refusedEntry(value))
        list.appendNew(value, hashOf(value));
    return list;
}

FilterList delFromArray(FilterList list, const std::string& value) {
    if (!list.contains(value))
        return list;
    std::erase(list.entries_, value);
    list.rebuildIndex(list.entries_.size());
    return list;
}

std::string formatListFile(const FilterLists& lists) {
    std::string text;
    for (const FilterList* list : {&lists.friendemail, &lists.frienddomain, &lists.enemyemail, &lists.enemydomain}) {
        bool first = true;
        for (const std::string& entry : *list) {
            if (!first)
                text += ';';
            text += entry;
            first = false;
        }
        text += "\r\n";
    }
    return text;
}

namespace {

// Line n (from 1) of a text whose lines end in LF or CR LF; empty when the
// text is shorter.
std::string_view lineOf(std::string_view text, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
    if (start >= text.size())
        return {};
    auto end = text.find('\n', start);
    if (end == std::string_view::npos)
        end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

FilterList splitLine(std::string_view line) {
    std::vector<std::string> entries;
    if (line.empty())
        return FilterList{};
    std::size_t start = 0;
    for (;;) {
        const auto sep = line.find(';', start);
        if (sep == std::string_view::npos) {
            entries.emplace_back(line.substr(start));
            break;
        }
        entries.emplace_back(line.substr(start, sep - start));
        start = sep + 1;
    }
    return FilterList(std::move(entries));
}

std::optional<std::string> readListFile(Varient& v) {
    return attempt([&] { return v.services.platform.readTextFile(listFilePath(v)); });
}

} // namespace

FilterLists parseListFile(const std::string& text) {
    return {splitLine(lineOf(text, 1)), splitLine(lineOf(text, 2)), splitLine(lineOf(text, 3)),
            splitLine(lineOf(text, 4))};
}

std::string listFilePath(Varient& v) {
    return getSystemDir(v.services.platform) + v.services.platform.pathSeparator() +
           getUserName(v.services.platform);
}

FilterList readFilterLine(Varient& v, int n) {
    const auto text = readListFile(v);
    if (!text)
        return {};
    return splitLine(lineOf(*text, n));
}

bool filterFileExists(Varient& v, const std::string& fileName) {
    auto& p = v.services.platform;
    return attempt([&] { return p.fileExists(getSystemDir(p) + p.pathSeparator() + fileName); }).value_or(false);
}

bool loadFilter(Varient& v) {
    auto& p = v.services.platform;
    v.setLists({});
    v.storedLists = {};
    v.listsSafeToStore = false;
    const std::string dir = getSystemDir(p);
    if (dir.empty())
        return false;
    bool created = false;
    if (!filterFileExists(v, v.listFileUserName))
        created = trap([&] { p.createEmptyFile(dir + p.pathSeparator() + v.listFileUserName); });
    const auto text = readListFile(v);
    if (text)
        v.setLists(parseListFile(*text));
    v.storedLists = v.lists();
    v.listsSafeToStore = text.has_value() || created;
    return v.listsSafeToStore;
}

namespace {

// What stored holds now, less the entries this process removed since base,
// followed by those it added.
FilterList merged(const FilterList& base, const FilterList& mine, const FilterList& stored) {
    std::vector<std::string> kept;
    kept.reserve(stored.size());
    for (const std::string& entry : stored)
        if (!base.contains(entry) || mine.contains(entry))
            kept.push_back(entry);
    FilterList result(std::move(kept));
    std::vector<std::string> added;
    for (const std::string& entry : mine)
        if (!base.contains(entry))
            added.push_back(entry);
    result.appendEach(std::move(added));
    return result;
}

bool changedSinceStored(const Varient& v) {
    const FilterLists& s = v.storedLists;
    return !(v.friendemail == s.friendemail && v.frienddomain == s.frienddomain && v.enemyemail == s.enemyemail &&
             v.enemydomain == s.enemydomain);
}

} // namespace

std::unique_ptr<platform::FolderLock> lockListFolder(Varient& v) {
    auto& p = v.services.platform;
    const std::string dir = getSystemDir(p);
    if (dir.empty())
        return nullptr;
    return attempt([&] { return p.lockFolder(dir); }).value_or(nullptr);
}

bool saveFilter(Varient& v) {
    // Without the lock another process may be storing at the same time:
    // the changes wait for the next save.
    const auto lock = lockListFolder(v);
    return lock && saveFilterLocked(v);
}

bool saveFilterLocked(Varient& v) {
    // Lists that could not be read from the file must never replace it.
    if (!v.listsSafeToStore)
        return false;
    auto& p = v.services.platform;
    const std::string dir = getSystemDir(p);
    if (dir.empty())
        return false;
    const std::string path = listFilePath(v);
    if (!attempt([&] { return p.fileExists(path); }).value_or(false))
        return false;
    if (!changedSinceStored(v))
        return true;
    // The changes can only be applied to what can be read.
    const auto text = attempt([&] { return p.readTextFile(path); });
    if (!text)
        return false;
    const FilterLists stored = parseListFile(*text);
    FilterLists mine = v.lists();
    const FilterLists& base = v.storedLists;
    // Alone with the file, the lists in memory are what it must hold, in
    // their own order.
    const FilterLists result = stored == base ? mine
                                              : FilterLists{merged(base.friendemail, mine.friendemail, stored.friendemail),
                                                            merged(base.frienddomain, mine.frienddomain, stored.frienddomain),
                                                            merged(base.enemyemail, mine.enemyemail, stored.enemyemail),
                                                            merged(base.enemydomain, mine.enemydomain, stored.enemydomain)};
    if (result != stored && !trap([&] { p.replaceTextFile(path, formatListFile(result)); }))
        return false;
    v.storedLists = std::move(mine);
    return true;
}

void importAddressBook(Varient& v, const std::shared_ptr<host::Application>& application) {
    auto ns = attempt([&] { return host::must(application)->GetNamespace("MAPI"); });
    loadFilter(v);
    if (!ns || !*ns)
        return;
    auto lists = attempt([&] { return (*ns)->AddressLists(); });
    if (!lists)
        return;
    for (const auto& list : *lists) {
        auto entries = attempt([&] { return host::must(list)->AddressEntries(); });
        if (!entries)
            continue;
        v.friendemail.reserve(v.friendemail.size() + entries->size());
        // In batches: the list looks ahead within each, and a large address
        // book is never held twice.
        constexpr std::size_t batchSize = 256;
        std::vector<std::string> batch;
        batch.reserve(batchSize);
        for (const auto& entry : *entries) {
            if (auto address = attempt([&] { return host::must(entry)->Address(); }))
                batch.push_back(std::move(*address));
            if (batch.size() == batchSize) {
                v.friendemail.appendEach(std::move(batch));
                batch.clear();
                batch.reserve(batchSize);
            }
        }
        v.friendemail.appendEach(std::move(batch));
    }
}

} // namespace skerrow
