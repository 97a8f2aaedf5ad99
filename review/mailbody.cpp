#include "review/mailbody.h"

#include "filter/trap.h"
#include "filter/varient.h"

namespace skerrow {

mailbody::mailbody(Varient& v) : ui::Window(v.services.windows, "mailbody"), v_(v) {}

void mailbody::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    client = {0, 0, 8400, 6240};
    // Cancel only: Enter belongs to the body text.
    cancelButton = "Command4";

    declare(makeControl(ControlKind::Label, "Label1", {120, 120, 900, 255}, "From:"));
    declare(makeControl(ControlKind::Label, "Label5", {1080, 120, 3600, 255}));
    declare(makeControl(ControlKind::Label, "Label2", {4800, 120, 720, 255}, "Date:"));
    declare(makeControl(ControlKind::Label, "Label6", {5520, 120, 2760, 255}));
    declare(makeControl(ControlKind::Label, "Label3", {120, 480, 900, 255}, "To:"));
    declare(makeControl(ControlKind::Label, "Label7", {1080, 480, 7200, 255}));
    declare(makeControl(ControlKind::Label, "Label4", {120, 840, 900, 255}, "Subject:"));
    declare(makeControl(ControlKind::Label, "Label8", {1080, 840, 7200, 255}));
    // Editable, but nothing is ever written back to the mail.
    ui::Control& body = declare(makeControl(ControlKind::TextBox, "Text1", {120, 1260, 8160, 4320}));
    body.multiLine = true;
    body.verticalScrollBar = true;
    declare(makeControl(ControlKind::Button, "Command4", {7080, 5760, 1200, 360}, "&Close"));
}

void mailbody::showMail(const std::string& sender, host::Date received, const std::string& to,
                        const std::string& subject, const std::string& body) {
    // Mail texts are shown as they are: "Tom & Jerry" is no access key.
    control("Label5").caption = ui::literalCaption(sender);
    // In the user's own date format; none when the system cannot give it.
    control("Label6").caption =
        ui::literalCaption(attempt([&] { return v_.services.platform.generalDate(received); }).value_or(""));
    control("Label7").caption = ui::literalCaption(to);
    control("Label8").caption = ui::literalCaption(subject);
    setText("Text1", body);
    caption = subject;
    touch();
    showModal();
}

void mailbody::onEvent(Event event, const std::string& name, int, int) {
    if (event == Event::Click && name == "Command4")
        Command4_Click();
}

void mailbody::Command4_Click() {
    unload();
}

} // namespace skerrow
