// The four filter lists, their value-style operations and the list file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <cstdint>
#include <string_view>
#include <vector>

namespace skerrow {

namespace platform {
class FolderLock;
}

class Varient;
namespace host {
class Application;
}

// An ordered list of entries that may hold duplicates and blanks (as read
// from a file). Membership is a hash look-up, so the lists stay quick at
// the sizes an address-book import makes.
class FilterList {
public:
    FilterList() = default;
    FilterList(std::initializer_list<std::string> entries);
    explicit FilterList(std::vector<std::string> entries);

    const std::vector<std::string>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const std::string& operator[](std::size_t i) const { return entries_[i]; }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    bool contains(std::string_view value) const;
    // Room for n entries in all: a hint for a caller about to append many.
    void reserve(std::size_t n);
    // Appends each value in order as addToArray would (blank values, values
    // holding ";" and values already listed are left out), quicker for many.
    // Call reserve first when appending many batches.
    void appendEach(std::vector<std::string> values);

    friend bool operator==(const FilterList& a, const FilterList& b) { return a.entries_ == b.entries_; }

private:
    friend FilterList addToArray(FilterList list, const std::string& value);
    friend FilterList delFromArray(FilterList list, const std::string& value);

    struct Probe {
        std::size_t slot; // where the value is, or the empty slot for it
        bool found;
    };
    Probe probe(std::string_view value, std::uint64_t hash) const;
    template <typename Value>
    void appendNew(Value&& value, std::uint64_t hash);
    void rebuildIndex(std::size_t capacity);
    // Records entry i in the index unless an equal entry is there already.
    bool index(std::size_t i, std::uint64_t hash);

    std::vector<std::string> entries_;
    std::uint32_t positionMask() const;
    std::uint32_t tagOf(std::uint64_t hash) const;

    // Open addressing over the distinct entries, half full at most. A slot
    // holds an entry's position + 1 in its low positionBits_ bits (0 marks
    // an empty slot) and as many bits of the entry's hash as are left
    // above them: four bytes a slot keep the index of a large list small
    // enough to stay in the cache.
    std::vector<std::uint32_t> slots_;
    unsigned positionBits_ = 0;
    std::size_t distinct_ = 0;
};

// List keys, compared exactly.
inline constexpr const char* friendemailKey = "friendemail";
inline constexpr const char* frienddomainKey = "frienddomain";
inline constexpr const char* enemyemailKey = "enemyemail";
inline constexpr const char* enemydomainKey = "enemydomain";

struct FilterLists {
    FilterList friendemail;
    FilterList frienddomain;
    FilterList enemyemail;
    FilterList enemydomain;
    friend bool operator==(const FilterLists&, const FilterLists&) = default;
};

// Exact, case-sensitive membership.
bool isInArray(const FilterList& list, const std::string& value);
// The list with value appended, unless value is blank, holds ";" (which
// would split it in the list file) or is already there. Pass the list with
// std::move when storing the result back, and the append costs no copy.
FilterList addToArray(FilterList list, const std::string& value);
// The list without any entry equal to value.
FilterList delFromArray(FilterList list, const std::string& value);

// The list file's path: the system directory, a separator, the user name.
std::string listFilePath(Varient& v);
// Line n (1 to 4) of the list file, split at every ";".
FilterList readFilterLine(Varient& v, int n);
bool filterFileExists(Varient& v, const std::string& fileName);
// Outcome of loadFilter: whether the list file was read (or was missing and
// has been created empty), so that storing the lists later cannot wipe a
// file that merely could not be read. Without a data folder there is no
// list file: nothing is created or read outside it.
bool loadFilter(Varient& v);
// Applies the entries this process added and removed since it last loaded
// or stored the lists to the list file as it is now, under the lock of its
// folder, so that another process's changes stay; the file is written only
// when that changes it. True when the file holds the lists afterwards.
// Any number of calls apply each change once.
bool saveFilter(Varient& v);
// saveFilter for a caller that holds the folder's lock already.
bool saveFilterLocked(Varient& v);
// The lock on the list file's folder, nothing when the folder has no name
// or cannot be locked now.
std::unique_ptr<platform::FolderLock> lockListFolder(Varient& v);
void importAddressBook(Varient& v, const std::shared_ptr<host::Application>& application);

// The list file's text for the four lists, and the lists of a text.
std::string formatListFile(const FilterLists& lists);
FilterLists parseListFile(const std::string& text);

} // namespace skerrow
