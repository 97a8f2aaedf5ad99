#include "addin/lifecycle.h"
#include "filter/checkspam.h"
#include "filter/filter_store.h"
#include "filter/settings.h"
#include "filter/trap.h"
#include "filter/varient.h"

namespace skerrow {

void firstRunSetup(Varient& v, const std::shared_ptr<host::Application>& application) {
    purgeHostNotices(v, application);
    if (!isFirstRun(v))
        return;
    // No second pass over the Inbox: nothing can arrive on the host's
    // thread since the first, and on a large Inbox each pass reads every
    // subject through the host.
    importAddressBook(v, application);
    // Only an import that reached the list file completes the set-up; else
    // the next connection imports again.
    if (saveFilter(v))
        writeFirstRunSettings(v);
}

void writeFirstRunSettings(Varient& v) {
    // A total counted while an earlier set-up could not store its import
    // is kept.
    if (regRead(v.services.platform, v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue).empty())
        regWrite(v.services.platform, v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue, "0");
    regWrite(v.services.platform, v.settingsRoot, v.settingsKey, neverDisplayValue, "0");
    regWrite(v.services.platform, v.settingsRoot, v.settingsKey, setupCompleteValue, "1");
}

} // namespace skerrow
