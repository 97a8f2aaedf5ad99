#include "filter/varient.h"

#include "addin/forms.h"

#include <algorithm>
#include <functional>

namespace skerrow {

Varient::Varient(Services s) : services(s), forms_(std::make_unique<Forms>(*this)) {}

Varient::~Varient() = default;

void Varient::setLists(FilterLists lists) {
    friendemail = std::move(lists.friendemail);
    frienddomain = std::move(lists.frienddomain);
    enemyemail = std::move(lists.enemyemail);
    enemydomain = std::move(lists.enemydomain);
}

bool Varient::JudgedMails::wasKept(const host::MailItem* mail) const {
    const auto at = std::lower_bound(kept.begin(), kept.end(), mail,
                                     [](const auto& held, const host::MailItem* m) { return std::less<>()(held.get(), m); });
    return at != kept.end() && at->get() == mail;
}

} // namespace skerrow
