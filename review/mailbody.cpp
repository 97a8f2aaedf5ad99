#include "review/mailbody.h"

#include "filter/varient.h"

#include <ctime>

namespace skerrow {

std::string generalDate(host::Date date) {
    const std::time_t t = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0)
        return {};
#else
    if (!localtime_r(&t, &local))
        return {};
#endif
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

mailbody::mailbody(Varient& v) : ui::Window(v.services.windows, "mailbody") {}

void mailbody::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    client = {0, 0, 8400, 6240};
    cancelButton = "Command4";
    defaultButton = "Command4";

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
    control("Label6").caption = generalDate(received);
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
