#include "addin/host/platform.h"
#include "addin/lifecycle.h"
#include "filter/filter_store.h"
#include "filter/settings.h"
#include "filter/trap.h"
#include "filter/varient.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace skerrow {

namespace {

// Adds the deletions counted since the total was last read or stored to
// the total stored now, which another process may have raised meanwhile.
void storeTotal(Varient& v) {
    auto& p = v.services.platform;
    // A total that cannot be read now must not be overwritten: the count
    // waits for the next store.
    const auto read = attempt([&] { return p.readValue(v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue); });
    if (!read)
        return;
    std::string stored = read->value_or(std::string());
    stored.resize(std::min(stored.find('\0'), stored.size()));
    const int counted = v.totalDeleted - v.storedTotal;
    const int total = std::clamp(parseTotal(stored).value_or(0) + counted, 0, int{INT16_MAX});
    const std::string text = std::to_string(total);
    if (text != stored && !trap([&] { p.writeValue(v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue, text); }))
        return;
    v.totalDeleted = static_cast<std::int16_t>(total);
    v.storedTotal = v.totalDeleted;
}

} // namespace

void saveEnvironment(Varient& v, const std::shared_ptr<host::Application>&) {
    if (!v.environmentLoaded)
        return;
    // One lock over the lists and the total, so that no other process
    // stores between reading what is stored and writing it back. Without
    // it the lists wait for the next store; the total lives elsewhere and
    // is stored all the same, so that a folder refusing the lock cannot
    // cost the count.
    const auto lock = lockListFolder(v);
    if (lock)
        saveFilterLocked(v);
    storeTotal(v);
}

void storeChanges(Varient& v) {
    trap([&] { saveEnvironment(v, v.globalApplication); });
}

} // namespace skerrow
