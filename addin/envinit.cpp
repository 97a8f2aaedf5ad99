#include "addin/lifecycle.h"
#include "filter/filter_store.h"
#include "filter/settings.h"
#include "filter/varient.h"

namespace skerrow {

void loadEnvironment(Varient& v) {
    v.environmentLoaded = true;
    // loadFilter records whether the lists may later replace the file.
    loadFilter(v);
    if (auto total = parseTotal(regRead(v.services.platform, v.settingsRoot, v.settingsKey, haveAutoDeleteCountValue)))
        v.totalDeleted = *total;
    v.storedTotal = v.totalDeleted;
}

} // namespace skerrow
