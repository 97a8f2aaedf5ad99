#include "addin/lifecycle.h"
#include "addin/startload.h"
#include "filter/trap.h"
#include "resources/bitmaps.h"

namespace skerrow {

namespace {

// One row of the popup menu. Host default means the enabled state is left
// as the host makes it; the two explicit rows set theirs in their own order.
struct MenuRow {
    std::shared_ptr<host::CommandBarButton> startLoad::*member;
    void (startLoad::*handler)();
    const char* caption;
    bool beginGroup;
    enum { VisibleOnly, VisibleThenEnabled, EnabledThenVisible } states;
};

} // namespace

void startLoad::keep(Member member, const std::shared_ptr<host::CommandBarButton>& button,
                     void (startLoad::*handler)()) {
    this->*member = button;
    if (!button)
        return;
    trap([&] {
        clicks_.push_back(host::must(button)->onClick([this, handler](host::CommandBarButton&, bool&) { (this->*handler)(); }));
    });
}

void startLoad::CreateAddInUI() {
    if (v_.globalApplication)
        CreateAddinsToolBar(v_.globalApplication);
}

void startLoad::CreateAddinsToolBar(const std::shared_ptr<host::Application>& application) {
    removeEmptyBars(v_, application);
    std::shared_ptr<host::CommandBar> bar;
    trap([&] { bar = host::must(host::must(host::must(application)->ActiveExplorer())->GetCommandBars())->Add(toolbarName); });
    toolbar_ = bar;
    trap([&] { host::must(bar)->setVisible(true); });
    trap([&] { host::must(bar)->setPosition(host::msoBarTop); });

    std::shared_ptr<host::CommandBarPopup> popup;
    trap([&] {
        popup = std::dynamic_pointer_cast<host::CommandBarPopup>(host::must(host::must(bar)->Controls())->Add(host::msoControlPopup, true));
    });
    trap([&] { host::must(popup)->setCaption(popupCaption); });
    trap([&] { host::must(popup)->setVisible(true); });
    trap([&] { host::must(popup)->setEnabled(true); });
    CreateAddinsMenuBar(application, popup);

    addFaceButton(bar, &startLoad::cmdIsSpamToolButton, &startLoad::cmdIsSpamToolButton_Click,
                  resources::isSpamFace, isSpamCaption, isSpamTooltip);
    addFaceButton(bar, &startLoad::cmdAddFriendToolButton, &startLoad::cmdAddFriendToolButton_Click,
                  resources::addFriendFace, addFriendCaption, addFriendTooltip);
}

void startLoad::addFaceButton(const std::shared_ptr<host::CommandBar>& bar, Member member,
                              void (startLoad::*handler)(), int bitmap, const char* caption, const char* tooltip) {
    std::shared_ptr<host::CommandBarButton> button;
    trap([&] {
        button = std::dynamic_pointer_cast<host::CommandBarButton>(host::must(host::must(bar)->Controls())->Add(host::msoControlButton, true));
    });
    keep(member, button, handler);
    host::Bitmap face;
    trap([&] { face = v_.services.platform.loadBitmap(bitmap); });
    trap([&] { host::must(button)->setCaption(caption); });
    trap([&] { host::must(button)->setTooltipText(tooltip); });
    // Hosts that take a picture directly leave the user's clipboard alone.
    trap([&] {
        if (!host::must(button)->setPicture(face)) {
            v_.services.clipboard.setBitmap(face);
            host::must(button)->PasteFace();
        }
    });
    trap([&] { host::must(button)->setStyle(host::msoButtonIconAndCaption); });
    trap([&] { host::must(button)->setVisible(true); });
    trap([&] { host::must(button)->setEnabled(true); });
}

void startLoad::CreateAddinsMenuBar(const std::shared_ptr<host::Application>&,
                                    const std::shared_ptr<host::CommandBarPopup>& popup) {
    static const MenuRow rows[] = {
        {&startLoad::cmdCheckSpam, &startLoad::cmdCheckSpam_Click, checkSpamCaption, false, MenuRow::VisibleOnly},
        {&startLoad::cmdAddFriendDomain, &startLoad::cmdAddFriendDomain_Click, addFriendDomainCaption, true,
         MenuRow::VisibleOnly},
        {&startLoad::cmdAddEnemyDomain, &startLoad::cmdAddEnemyDomain_Click, addEnemyDomainCaption, false,
         MenuRow::VisibleThenEnabled},
        {&startLoad::cmdOptions, &startLoad::cmdOptions_Click, optionsCaption, true, MenuRow::EnabledThenVisible},
        {&startLoad::cmdHelp, &startLoad::cmdHelp_Click, helpCaption, true, MenuRow::VisibleOnly},
        {&startLoad::cmdAboutCorvalle, &startLoad::cmdAboutCorvalle_Click, aboutCaption, false, MenuRow::VisibleOnly},
    };
    for (const MenuRow& row : rows) {
        std::shared_ptr<host::CommandBarButton> button;
        trap([&] {
            button = std::dynamic_pointer_cast<host::CommandBarButton>(
                host::must(host::must(popup)->Controls())->Add(host::msoControlButton, true));
        });
        keep(row.member, button, row.handler);
        if (row.beginGroup)
            trap([&] { host::must(button)->setBeginGroup(true); });
        trap([&] { host::must(button)->setCaption(row.caption); });
        trap([&] { host::must(button)->setStyle(host::msoButtonIcon); });
        if (row.states == MenuRow::EnabledThenVisible)
            trap([&] { host::must(button)->setEnabled(true); });
        trap([&] { host::must(button)->setVisible(true); });
        if (row.states == MenuRow::VisibleThenEnabled)
            trap([&] { host::must(button)->setEnabled(true); });
    }
}

} // namespace skerrow
