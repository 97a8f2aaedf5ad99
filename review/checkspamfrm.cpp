#include "review/checkspamfrm.h"

#include "addin/forms.h"
#include "addin/host/host.h"
#include "addin/lifecycle.h"
#include "filter/checkspam.h"
#include "filter/sender.h"
#include "filter/trap.h"
#include "filter/varient.h"
#include "resources/bitmaps.h"
#include "review/mailbody.h"

namespace skerrow {

namespace {

constexpr const char* windowCaption = "Check Spam";
constexpr const char* instructions =
    "You can double-click on a subject to bring up the email body.To move selected emails to the Inbox folder and "
    "add senders to Friends List,select the emails and click on the Not Spam button.To delete selected emails and "
    "add sender to Blacklist,select the emails and click on the Is Spam button.";
constexpr const char* senderTooltip = "Sender address";
constexpr const char* receivedTooltip = "Received time";

// Cells of a row: the subject, then the sub-items.
constexpr std::size_t fromColumn = 1;

const std::string& senderOf(const ui::ListRow& row) {
    static const std::string none;
    return fromColumn < row.cells.size() ? row.cells[fromColumn].text : none;
}

} // namespace

CheckSpamFrm::CheckSpamFrm(Varient& v) : ui::Window(v.services.windows, "CheckSpamFrm"), v_(v) {}

void CheckSpamFrm::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    client = {0, 0, 9000, 6480};
    cancelButton = "Command4";

    declare(makeControl(ControlKind::Picture, "Picture1", {120, 120, 480, 480})).bitmap = resources::productPicture;
    declare(makeControl(ControlKind::Label, "Label1", {720, 120, 3975, 255}));
    declare(makeControl(ControlKind::Label, "Label3", {720, 405, 3975, 255}));
    declare(makeControl(ControlKind::Label, "Label2", {120, 720, 8760, 855}, instructions)).wordWrap = true;

    ui::Control& list = declare(makeControl(ControlKind::ListView, "ListView1", {120, 1680, 8760, 3975}));
    list.checkBoxes = true;
    list.columns = {{"Subject", 3600}, {"From", 2640}, {"Received", 2400}};

    declare(makeControl(ControlKind::CheckBox, "Check2", {120, 5900, 1695, 315}, selectAllCaption));
    declare(makeControl(ControlKind::Button, "Command1", {3000, 5880, 1200, 360}, "&Is Spam"));
    declare(makeControl(ControlKind::Button, "Command2", {4320, 5880, 1200, 360}, "&Not Spam"));
    declare(makeControl(ControlKind::Button, "Command5", {5640, 5880, 1200, 360}, "Delete"));
    declare(makeControl(ControlKind::Button, "Command4", {7680, 5880, 1200, 360}, "&Close"));
}

void CheckSpamFrm::onLoad() {
    form_refresh();
}

void CheckSpamFrm::onUnload() {
    v_.newMailPending = false;
    checkFolder.reset();
    checkApplication.reset();
}

void CheckSpamFrm::onEvent(Event event, const std::string& name, int, int row) {
    if (event == Event::Click) {
        if (name == "Command1")
            Command1_Click();
        else if (name == "Command2")
            Command2_Click();
        else if (name == "Command5")
            Command5_Click();
        else if (name == "Command4")
            Command4_Click();
        else if (name == "Check2")
            Check2_Click();
    } else if (event == Event::ItemCheck && name == "ListView1") {
        ListView1_ItemCheck(row);
    } else if (event == Event::DblClick && name == "ListView1") {
        ListView1_DblClick();
    }
}

void CheckSpamFrm::form_refresh() {
    if (!isLoaded()) {
        load(); // which comes back here
        return;
    }
    caption = windowCaption;
    // Set once: they keep telling what the pass before the opening did.
    control("Label1").caption = "Deleted " + std::to_string(v_.deletedThisPass) + " spams.";
    control("Label3").caption = "A total of " + std::to_string(v_.totalDeleted) + " spams have been deleted.";
    list_refresh();
    ui::Control& list = control("ListView1");
    list.sorted = false;
    list.sortColumn = static_cast<int>(fromColumn);
    list.sorted = true;
    sortRows(list);
}

void CheckSpamFrm::list_refresh() {
    if (checkApplication)
        trap([&] { purgeInbox(v_, checkApplication); });

    // The first list after Check Spam takes what its purge found.
    const auto judged = std::exchange(v_.lastPurge, {});
    ui::Control& list = control("ListView1");
    list.rows.clear();
    list.selectedRow = -1;
    const auto items = checkFolder ? attempt([&] { return checkFolder->Items(); }) : std::nullopt;
    if (items) {
        for (const auto& item : *items) {
            // A mail that cannot be read is left out; the others are listed.
            trap([&] {
                const auto mail = host::asMailItem(item);
                const auto suspect = mail ? suspectSender(v_, mail, judged) : std::nullopt;
                if (!suspect)
                    return;
                const std::string& sender = *suspect;
                ui::ListRow row;
                row.key = mail->EntryID();
                const host::Date received = mail->ReceivedTime();
                row.cells = {{mail->Subject(), std::nullopt, {}},
                             {sender, std::nullopt, senderTooltip},
                             {attempt([&] { return v_.services.platform.generalDate(received); }).value_or(""),
                              received, receivedTooltip}};
                list.rows.push_back(std::move(row));
            });
        }
    }
    if (list.sorted)
        sortRows(list);
    touch();
}

void CheckSpamFrm::actOnTicked(const std::function<void(const std::string&, const std::string&)>& act) {
    const std::size_t count = control("ListView1").rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        const auto& rows = control("ListView1").rows;
        if (i >= rows.size())
            break;
        if (!rows[i].checked)
            continue;
        const std::string key = rows[i].key;
        const std::string sender = senderOf(rows[i]);
        trap([&] { act(key, sender); });
    }
    list_refresh();
}

void CheckSpamFrm::Command1_Click() {
    actOnTicked([this](const std::string& key, const std::string& sender) {
        markIsSpam(v_, checkApplication, checkFolder, key, sender);
    });
    storeChanges(v_);
}

void CheckSpamFrm::Command2_Click() {
    actOnTicked([this](const std::string& key, const std::string& sender) {
        markNotSpam(v_, checkApplication, checkFolder, key, sender);
    });
    storeChanges(v_);
}

void CheckSpamFrm::Command5_Click() {
    actOnTicked([this](const std::string& key, const std::string&) {
        if (const auto mail = findMailByEntryID(v_, checkApplication, checkFolder, key))
            mail->Delete();
    });
}

void CheckSpamFrm::Command4_Click() {
    unload();
}

void CheckSpamFrm::Check2_Click() {
    // Only the caption counts: a rebuild unticks the rows but keeps it.
    ui::Control& box = control("Check2");
    const bool selectAll = box.caption == selectAllCaption;
    for (ui::ListRow& row : control("ListView1").rows)
        row.checked = selectAll;
    box.caption = selectAll ? selectNoneCaption : selectAllCaption;
    touch();
}

void CheckSpamFrm::ListView1_ItemCheck(int row) {
    auto& rows = control("ListView1").rows;
    if (row < 0 || row >= static_cast<int>(rows.size()))
        return;
    const bool ticked = rows[static_cast<std::size_t>(row)].checked;
    const std::string sender = senderOf(rows[static_cast<std::size_t>(row)]);
    // Only the sender ticked last is shown red.
    for (ui::ListRow& r : rows) {
        r.colour = ui::black;
        if (senderOf(r) != sender)
            continue;
        r.checked = ticked;
        if (ticked)
            r.colour = ui::red;
    }
    touch();
}

void CheckSpamFrm::ListView1_DblClick() {
    const ui::Control& list = control("ListView1");
    if (list.selectedRow < 0 || list.selectedRow >= static_cast<int>(list.rows.size()))
        return;
    const ui::ListRow& row = list.rows[static_cast<std::size_t>(list.selectedRow)];
    const std::string key = row.key;
    const std::string sender = senderOf(row);

    const auto mail = attempt([&] { return findMailByEntryID(v_, checkApplication, checkFolder, key); });
    if (!mail || !*mail)
        return;
    const auto& m = *mail;
    const host::Date received = attempt([&] { return m->ReceivedTime(); }).value_or(host::Date{});
    const std::string to = attempt([&] { return m->To(); }).value_or(std::string());
    const std::string subject = attempt([&] { return m->Subject(); }).value_or(std::string());
    const std::string body = attempt([&] { return m->Body(); }).value_or(std::string());
    trap([&] { v_.forms().mailBodyViewer().showMail(sender, received, to, subject, body); });

    if (isLoaded())
        list_refresh();
}

} // namespace skerrow
