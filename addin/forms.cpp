#include "addin/forms.h"

#include "filter/addfilter.h"
#include "options/options.h"
#include "review/about.h"
#include "review/checkspamfrm.h"
#include "review/mailbody.h"

namespace skerrow {

namespace {

template <typename Form>
Form& instance(std::unique_ptr<Form>& slot, Varient& v) {
    if (!slot)
        slot = std::make_unique<Form>(v);
    return *slot;
}

} // namespace

Forms::Forms(Varient& v) : v_(v) {}

Forms::~Forms() = default;

CheckSpamFrm& Forms::checkSpamFrm() {
    return instance(checkSpamFrm_, v_);
}

addFilter& Forms::addFilterDialog() {
    return instance(addFilter_, v_);
}

Options& Forms::optionsWindow() {
    return instance(options_, v_);
}

about& Forms::aboutBox() {
    return instance(about_, v_);
}

mailbody& Forms::mailBodyViewer() {
    return instance(mailbody_, v_);
}

} // namespace skerrow
