#include "addin/host/host.h"

namespace skerrow::host {

namespace {
MailItem* mailOf(Item* item) noexcept {
    if (!item)
        return nullptr;
    try {
        if (item->typeName() != mailItemTypeName)
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    return item->mailItem();
}
} // namespace

std::shared_ptr<MailItem> asMailItem(const std::shared_ptr<Item>& item) noexcept {
    auto* mail = mailOf(item.get());
    return mail ? std::shared_ptr<MailItem>(item, mail) : nullptr;
}

std::shared_ptr<MailItem> asMailItem(std::shared_ptr<Item>&& item) noexcept {
    auto* mail = mailOf(item.get());
    return mail ? std::shared_ptr<MailItem>(std::move(item), mail) : nullptr;
}

} // namespace skerrow::host
