#include "filter/addfilter.h"

#include "addin/forms.h"
#include "addin/host/host.h"
#include "addin/lifecycle.h"
#include "filter/filter_store.h"
#include "filter/sender.h"
#include "filter/trap.h"
#include "filter/varient.h"

namespace skerrow {

namespace {

constexpr const char* dialogTitle = "Add Sender";

struct Target {
    const char* key;
    FilterList Varient::*list;
    FilterList Varient::*opposite;
    bool domain;
};

constexpr Target targets[] = {
    {friendemailKey, &Varient::friendemail, &Varient::enemyemail, false},
    {frienddomainKey, &Varient::frienddomain, &Varient::enemydomain, true},
    {enemyemailKey, &Varient::enemyemail, &Varient::friendemail, false},
    {enemydomainKey, &Varient::enemydomain, &Varient::frienddomain, true},
};

const Target* targetOf(const std::string& key) {
    for (const Target& t : targets)
        if (key == t.key)
            return &t;
    return nullptr;
}

} // namespace

addFilter::addFilter(Varient& v) : ui::Window(v.services.windows, "addFilter"), v_(v) {}

void addFilter::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    caption = dialogTitle;
    client = {0, 0, 5760, 2040};
    cancelButton = "Command2";

    // Declared in tab order.
    declare(makeControl(ControlKind::TextBox, "Text1", {1200, 240, 4320, 315}));
    declare(makeControl(ControlKind::Label, "Label1", {240, 270, 900, 255}, "Address:"));
    declare(makeControl(ControlKind::Button, "Command1", {2880, 1560, 1200, 360}, "&OK"));
    declare(makeControl(ControlKind::Button, "Command2", {4320, 1560, 1200, 360}, "&Cancel"));
    declare(makeControl(ControlKind::Label, "Label2", {240, 720, 5280, 615}, entryInstruction)).wordWrap = true;
}

void addFilter::onLoad() {
    control("Command1").enabled = false;
    defaultButton = "Command2";
}

void addFilter::onEvent(Event event, const std::string& name, int, int) {
    if (event == Event::Change && name == "Text1")
        Text1_Change();
    else if (event == Event::Click && name == "Command1")
        Command1_Click();
    else if (event == Event::Click && name == "Command2")
        Command2_Click();
}

void addFilter::Text1_Change() {
    // Not trimmed: a text of blanks may be confirmed (and is refused later).
    const bool filled = !control("Text1").caption.empty();
    control("Command1").enabled = filled;
    defaultButton = filled ? "Command1" : "Command2";
    touch();
}

void addFilter::Command1_Click() {
    trap([&] {
        const Target* target = targetOf(AddFilterObjectName);
        if (!target)
            return;
        const std::string& text = control("Text1").caption;
        const std::string entry = target->domain ? "*@" + text : text;
        FilterList& opposite = v_.*(target->opposite);
        if (isInArray(opposite, entry))
            opposite = delFromArray(std::move(opposite), entry);
        FilterList& list = v_.*(target->list);
        list = addToArray(std::move(list), entry);
    });
    storeChanges(v_);
    unload();
}

void addFilter::Command2_Click() {
    unload();
}

void addSenderDialog(Varient& v, const std::shared_ptr<host::Application>& application, const std::string& listKey) {
    if (!application)
        return;
    const auto explorer = attempt([&] { return application->ActiveExplorer(); }).value_or(nullptr);
    if (!explorer)
        return;
    const auto selection = attempt([&] { return explorer->GetSelection(); });
    if (!selection || !*selection)
        return;
    const int count = attempt([&] { return (*selection)->Count(); }).value_or(0);
    const bool domain = listKey == frienddomainKey || listKey == enemydomainKey;
    const bool address = listKey == friendemailKey || listKey == enemyemailKey;
    for (int position = 1; position <= count; ++position) {
        trap([&] {
            const auto mail = host::asMailItem((*selection)->Item(position));
            if (!mail)
                return;
            addFilter& dialog = v.forms().addFilterDialog();
            const std::string sender = getSenderAddress(v.messagingSession, mail);
            if (address)
                dialog.setText("Text1", sender);
            if (domain)
                dialog.setText("Text1", getDomain(sender));
            dialog.AddFilterObjectName = listKey;
            dialog.showModal();
        });
    }
}

} // namespace skerrow
