#include "review/about.h"

#include "filter/settings.h"
#include "filter/varient.h"
#include "resources/bitmaps.h"

namespace skerrow {

namespace {

constexpr const char* aboutCaption = "About Skerrow";
// Two blanks before "Version", as the product has always written it.
constexpr const char* versionLine = "Skerrow  Version 1.3";
constexpr const char* aboutLine = "A junk-mail filter for Microsoft Outlook 2000, made by Corvalle.";

} // namespace

about::about(Varient& v) : ui::Window(v.services.windows, "about"), v_(v) {}

void about::declareControls() {
    using ui::ControlKind;
    using ui::makeControl;
    caption = aboutCaption;
    client = {0, 0, 5400, 3060};
    cancelButton = "Command1";
    defaultButton = "Command1";

    declare(makeControl(ControlKind::Frame, "Frame1", {120, 120, 5160, 2280}));
    declare(makeControl(ControlKind::Picture, "Picture1", {240, 360, 480, 480}, {}, "Frame1")).bitmap =
        resources::productPicture;
    ui::Control& title = declare(makeControl(ControlKind::Label, "Label4", {960, 360, 3960, 315}, versionLine, "Frame1"));
    title.bold = true;
    title.fontSize = 12;
    declare(makeControl(ControlKind::Label, "Label5", {960, 840, 3960, 615}, aboutLine, "Frame1")).wordWrap = true;
    // 126 by 17 pixels at 15 twips a pixel.
    declare(makeControl(ControlKind::Picture, "Picture2", {960, 1680, 1890, 255}, {}, "Frame1")).bitmap =
        resources::makerBanner;
    // OK first, so that it takes the focus and Enter never opens a web page.
    declare(makeControl(ControlKind::Button, "Command1", {3960, 2580, 1200, 360}, "&OK"));
    declare(makeControl(ControlKind::Button, "Command3", {2640, 2580, 1200, 360}, "&Support"));
}

void about::onEvent(Event event, const std::string& name, int, int) {
    if (event != Event::Click)
        return;
    if (name == "Command1")
        Command1_Click();
    else if (name == "Command3")
        Command3_Click();
    else if (name == "Picture2")
        Picture2_Click();
}

void about::Command1_Click() {
    unload();
}

void about::Command3_Click() {
    shellOpen(v_.services.platform, supportPageAddress);
}

void about::Picture2_Click() {
    shellOpen(v_.services.platform, homePageAddress);
}

} // namespace skerrow
