#include "addin/host/host.h"

namespace skerrow::host {

std::shared_ptr<MailItem> asMailItem(const std::shared_ptr<Item>& item) noexcept {
    if (!item)
        return nullptr;
    try {
        if (item->typeName() != mailItemTypeName)
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<MailItem>(item);
}

} // namespace skerrow::host
