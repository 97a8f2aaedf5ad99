#include "addin/lifecycle.h"
#include "filter/filter_store.h"
#include "filter/settings.h"
#include "filter/trap.h"
#include "filter/varient.h"

#include <string>

namespace skerrow {

void saveEnvironment(Varient& v, const std::shared_ptr<host::Application>&) {
    if (!v.environmentLoaded)
        return;
    saveFilter(v);
    regWrite(v.services.platform, v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue,
             std::to_string(v.totalDeleted));
}

void storeChanges(Varient& v) {
    trap([&] { saveEnvironment(v, v.globalApplication); });
}

} // namespace skerrow
