#include "options/options.h"

#include "addin/lifecycle.h"
#include "addin/ui/dialogs.h"
#include "filter/addfilter.h"
#include "filter/sender.h"
#include "filter/settings.h"
#include "filter/trap.h"
#include "filter/varient.h"

#include <optional>
#include <string_view>
#include <unordered_set>

namespace skerrow {

namespace {

constexpr const char* windowCaption = "Options";
constexpr const char* wildcardHint = "This program use * for any word, ie. *@corvalle.example.";
constexpr const char* enterAddressMessage = "Please enter e-mail address.";
constexpr const char* enterDomainMessage = "Please enter domain name.";
constexpr const char* backedUpMessage = "User data backed up successfully";
constexpr const char* backedUpTitle = " Backup Settings to File ";
constexpr const char* restoredMessage = "User data restored successfully";
constexpr const char* restoredTitle = " Restore Settings ";

using ListOf = FilterList FilterLists::*;

// What Add does for each option button, Option1(0) to Option1(3).
struct AddTarget {
    ListOf list;
    ListOf opposite;
    bool domain;
};
constexpr AddTarget addTargets[] = {
    {&FilterLists::friendemail, &FilterLists::enemyemail, false},   // Approved Email
    {&FilterLists::frienddomain, &FilterLists::enemydomain, true},  // Approved Domain
    {&FilterLists::enemyemail, &FilterLists::friendemail, false},   // Blocked Email
    {&FilterLists::enemydomain, &FilterLists::frienddomain, true},  // Blocked Domain
};

// Fills a list view from lists in turn, showing each value once (a list
// view's keys are unique). The set of keys shown keeps a refill linear in
// the number of entries.
class ViewFiller {
public:
    explicit ViewFiller(ui::Control& view) : view_(view) {}

    void fill(const FilterList& list, const std::string& hidden) {
        view_.rows.reserve(view_.rows.size() + list.size());
        shown_.reserve(shown_.size() + list.size());
        for (const std::string& entry : list) {
            if (entry == hidden || !shown_.insert(entry).second)
                continue;
            ui::ListRow row;
            row.key = entry;
            row.cells = {{entry, std::nullopt, {}}};
            view_.rows.push_back(std::move(row));
        }
    }

private:
    ui::Control& view_;
    std::unordered_set<std::string_view> shown_; // views of the lists' own entries
};

std::optional<std::string> selectedKey(const ui::Control& view) {
    if (view.selectedRow < 0 || view.selectedRow >= static_cast<int>(view.rows.size()))
        return std::nullopt;
    const std::string& key = view.rows[static_cast<std::size_t>(view.selectedRow)].key;
    if (key.empty())
        return std::nullopt;
    return key;
}

} // namespace

Options::Options(Varient& v) : ui::Window(v.services.windows, "Options"), v_(v) {}

void Options::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    caption = windowCaption;
    client = {0, 0, 7965, 6705};
    // Esc cancels, as the close box does.
    cancelButton = "Command2";

    ui::Control& tabs = declare(makeControl(ControlKind::TabStrip, "SSTab1", {120, 120, 7695, 5895}));
    tabs.tabs = {"Options", "Friends List && Blacklist"};
    tabs.currentTab = 0;
    declare(makeControl(ControlKind::Button, "Command1", {3360, 6240, 1200, 360}, "&OK"));
    declare(makeControl(ControlKind::Button, "Command2", {4800, 6240, 1200, 360}, "&Cancel"));
    declare(makeControl(ControlKind::Button, "Command9", {6240, 6240, 1200, 360}, "&Apply"));
    // The file dialogs come from the dialog service.

    declare(makeControl(ControlKind::Frame, "Frame1", {360, 840, 6975, 1455}, "Backup Settings", "SSTab1", 0));
    declare(makeControl(ControlKind::Label, "Label1", {240, 720, 3735, 255},
                        "Backup Friends List && Blacklist Settings to a File.", "Frame1"));
    declare(makeControl(ControlKind::Button, "Command3", {4560, 600, 1200, 360}, "Backup. . .", "Frame1"));
    declare(makeControl(ControlKind::Frame, "Frame2", {360, 3120, 6975, 1575}, "Restore Settings", "SSTab1", 0));
    declare(makeControl(ControlKind::Label, "Label2", {240, 720, 3975, 375},
                        "Restore Friends List && Blacklist Settings from a File.", "Frame2"));
    declare(makeControl(ControlKind::Button, "Command4", {4560, 720, 1200, 360}, "Restore. . .", "Frame2"));

    declare(makeControl(ControlKind::Frame, "Frame3", {120, 600, 7455, 5055}, {}, "SSTab1", 1));
    declare(makeControl(ControlKind::Label, "Label5", {360, 240, 6375, 615}, entryInstruction, "Frame3")).wordWrap =
        true;
    declare(makeControl(ControlKind::Label, "Label10", {360, 840, 1335, 255}, "Email or Domain", "Frame3"));
    declare(makeControl(ControlKind::TextBox, "Text1", {2640, 840, 2295, 340}, {}, "Frame3"));
    declare(makeControl(ControlKind::Button, "Command7", {5280, 840, 1200, 360}, "&Add", "Frame3"));

    // One group; each button is as wide as its mark and a label beside it
    // carries the text.
    const ui::Rect optionRects[] = {{360, 1320, 255, 195}, {1920, 1320, 252, 195}, {3840, 1320, 255, 195},
                                    {5400, 1320, 255, 195}};
    for (int i = 0; i < 4; ++i) {
        ui::Control& option = declare(makeControl(ControlKind::OptionButton, "Option1", optionRects[i], {}, "Frame3"));
        option.index = i;
        option.value = i == 0;
    }
    declare(makeControl(ControlKind::Label, "Label6", {720, 1320, 1335, 255}, "Approved Email", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label7", {2280, 1320, 1815, 255}, "Approved Domain", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label8", {4200, 1320, 1215, 255}, "Blocked Email", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label9", {5760, 1320, 1455, 255}, "Blocked Domain", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label3", {360, 1800, 1095, 255}, "Approved", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label4", {4680, 1800, 1455, 255}, "Blocked", "Frame3"));
    declare(makeControl(ControlKind::Label, "Label11", {360, 2160, 4455, 255}, wildcardHint, "Frame3"));
    declare(makeControl(ControlKind::ListView, "ListView1", {360, 2520, 2415, 2295}, {}, "Frame3")).columns = {
        {"E-Mail", 2295}};
    declare(makeControl(ControlKind::ListView, "ListView2", {4680, 2520, 2415, 2295}, {}, "Frame3")).columns = {
        {"E-Mail", 2295}};
    declare(makeControl(ControlKind::Button, "Command5", {3120, 2640, 1200, 360}, "<<  &Approved", "Frame3"));
    declare(makeControl(ControlKind::Button, "Command6", {3120, 3480, 1200, 360}, ">> &Blocked", "Frame3"));
    declare(makeControl(ControlKind::Button, "Command8", {3120, 4320, 1200, 360}, "&Delete", "Frame3"));
}

void Options::onLoad() {
    reloadFilter();
    control("ListView1").hideSelection = false;
    control("ListView2").hideSelection = false;
    control("Command8").enabled = false;
    approvedActive = true;
    restorePending = false;
    control("Command9").enabled = false;
}

void Options::onEvent(Event event, const std::string& name, int, int) {
    if (event == Event::GotFocus) {
        if (name == "SSTab1")
            SSTab1_GotFocus();
        return;
    }
    if (event != Event::Click)
        return;
    if (name == "Command1")
        Command1_Click();
    else if (name == "Command2")
        Command2_Click();
    else if (name == "Command3")
        Command3_Click();
    else if (name == "Command4")
        Command4_Click();
    else if (name == "Command5")
        Command5_Click();
    else if (name == "Command6")
        Command6_Click();
    else if (name == "Command7")
        Command7_Click();
    else if (name == "Command8")
        Command8_Click();
    else if (name == "Command9")
        Command9_Click();
    else if (name == "ListView1")
        ListView1_Click();
    else if (name == "ListView2")
        ListView2_Click();
}

void Options::Array_Init() {
    ui::Control& approved = control("ListView1");
    ui::Control& blocked = control("ListView2");
    approved.rows.clear();
    approved.selectedRow = -1;
    blocked.rows.clear();
    blocked.selectedRow = -1;
    ViewFiller toApproved(approved);
    toApproved.fill(working_.friendemail, hiddenFriendEmail);
    toApproved.fill(working_.frienddomain, hiddenFriendDomain);
    ViewFiller toBlocked(blocked);
    toBlocked.fill(working_.enemyemail, hiddenEnemyEmail);
    toBlocked.fill(working_.enemydomain, hiddenEnemyDomain);
    touch();
}

void Options::reloadFilter() {
    working_ = v_.lists();
    Array_Init();
}

void Options::commit() {
    v_.setLists(working_);
    storeChanges(v_);
}

void Options::takeRestoredLists() {
    if (!restorePending)
        return;
    reloadFilter();
    restorePending = false;
}

void Options::Command1_Click() {
    // Committing the copy taken before a restore would undo the restore.
    takeRestoredLists();
    commit();
    unload();
}

void Options::Command2_Click() {
    unload();
}

void Options::Command9_Click() {
    takeRestoredLists();
    commit();
    control("Command9").enabled = false;
    touch();
}

void Options::Command7_Click() {
    int option = 0;
    for (int i = 0; i < 4; ++i)
        if (control("Option1", i).value)
            option = i;
    const AddTarget& target = addTargets[option];
    const std::string text = control("Text1").caption;

    const bool refused = target.domain ? hasAt(text) || text.empty() : !hasAt(text);
    if (refused) {
        const char* message = target.domain ? enterDomainMessage : enterAddressMessage;
        trap([&] { v_.services.dialogs.messageBox(message, ui::Buttons::OK, ui::Icon::None, ui::programTitle); });
        setText("Text1", "");
        setFocus("Text1");
        return;
    }

    const std::string entry = target.domain ? "*@" + text : text;
    // An entry the lists refuse (one that would break the list file) is an
    // edit of nothing: Apply stays as it was.
    if (addToArray(FilterList{}, entry).empty())
        return;
    FilterList& opposite = working_.*target.opposite;
    if (isInArray(opposite, entry))
        opposite = delFromArray(std::move(opposite), entry);
    FilterList& list = working_.*target.list;
    list = addToArray(std::move(list), entry);
    control("Command9").enabled = true;
    Array_Init();
}

void Options::move(const std::string& sourceView, ListOf domainFrom, ListOf domainTo, ListOf emailFrom,
                   ListOf emailTo) {
    const auto key = selectedKey(control(sourceView));
    if (!key)
        return;
    // Only the entry's form tells which list of the side holds it.
    const bool domain = hasDomainPrefix(*key);
    FilterList& from = working_.*(domain ? domainFrom : emailFrom);
    FilterList& to = working_.*(domain ? domainTo : emailTo);
    from = delFromArray(std::move(from), *key);
    to = addToArray(std::move(to), *key);
    Array_Init();
    control("Command9").enabled = true;
}

void Options::Command5_Click() {
    move("ListView2", &FilterLists::enemydomain, &FilterLists::frienddomain, &FilterLists::enemyemail,
         &FilterLists::friendemail);
}

void Options::Command6_Click() {
    move("ListView1", &FilterLists::frienddomain, &FilterLists::enemydomain, &FilterLists::friendemail,
         &FilterLists::enemyemail);
}

void Options::ListView1_Click() {
    control("Command8").enabled = true;
    approvedActive = true;
}

void Options::ListView2_Click() {
    control("Command8").enabled = true;
    approvedActive = false;
}

void Options::Command8_Click() {
    const ui::Control& view = control(approvedActive ? "ListView1" : "ListView2");
    if (const auto key = selectedKey(view)) {
        const bool domain = hasDomainPrefix(*key);
        FilterList& list = approvedActive ? (domain ? working_.frienddomain : working_.friendemail)
                                          : (domain ? working_.enemydomain : working_.enemyemail);
        list = delFromArray(std::move(list), *key);
        // In the form in which it can be added again.
        setText("Text1", domain ? getDomain(*key) : *key);
        control("Command9").enabled = true;
    }
    Array_Init();
}

void Options::Command3_Click() {
    // The backup holds the committed lists, not unapplied edits.
    backupFilter();
}

void Options::Command4_Click() {
    // A cancelled restore also reports success, yet replaced nothing: the
    // unapplied edits must survive it.
    restored_ = false;
    if (restoreFilter() && restored_)
        restorePending = true;
}

void Options::SSTab1_GotFocus() {
    takeRestoredLists();
}

// Without a data folder there is no list file to copy, and none may be
// written anywhere else.
bool Options::hasDataFolder() {
    return !getSystemDir(v_.services.platform).empty();
}

bool Options::backupFilter() {
    const auto chosen = attempt([&] { return v_.services.dialogs.saveFile(backupFileFilter); });
    if (!chosen)
        return false;
    if (!*chosen)
        return true;
    if (!hasDataFolder())
        return false;
    const bool copied = trap([&] {
        saveFilter(v_);
        // The platform replaces the target whole or not at all, so a failed
        // backup never leaves a cut-off file under the chosen name.
        v_.services.platform.copyFile(listFilePath(v_), **chosen);
    });
    if (!copied)
        return false;
    trap([&] {
        v_.services.dialogs.messageBox(backedUpMessage, ui::Buttons::OK, ui::Icon::Exclamation, backedUpTitle);
    });
    return true;
}

bool Options::restoreFilter() {
    const auto chosen = attempt([&] { return v_.services.dialogs.openFile(backupFileFilter); });
    if (!chosen)
        return false;
    if (!*chosen)
        return true;
    if (!hasDataFolder())
        return false;
    // Held when it can be, so that another process's store does not land
    // between the copy and the load.
    {
        const auto lock = lockListFolder(v_);
        // Replaced whole or left as it was: a failed copy leaves the list file
        // and the lists untouched.
        if (!trap([&] { v_.services.platform.copyFile(**chosen, listFilePath(v_)); }))
            return false;
        if (!loadFilter(v_))
            return false;
    }
    restored_ = true;
    // Outside the lock: the store takes it again.
    storeChanges(v_);
    trap([&] {
        v_.services.dialogs.messageBox(restoredMessage, ui::Buttons::OK, ui::Icon::Exclamation, restoredTitle);
    });
    return true;
}

} // namespace skerrow
