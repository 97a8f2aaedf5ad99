#include "filter/varient.h"

#include "addin/forms.h"

namespace skerrow {

Varient::Varient(Services s) : services(s), forms_(std::make_unique<Forms>(*this)) {}

Varient::~Varient() = default;

void Varient::setLists(FilterLists lists) {
    friendemail = std::move(lists.friendemail);
    frienddomain = std::move(lists.frienddomain);
    enemyemail = std::move(lists.enemyemail);
    enemydomain = std::move(lists.enemydomain);
}

} // namespace skerrow
