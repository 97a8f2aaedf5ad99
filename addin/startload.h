// The add-in class the mail client creates and connects.
#pragma once

#include "addin/host/host.h"
#include "filter/varient.h"

#include <memory>
#include <string>
#include <vector>

namespace skerrow {

// The host's add-in connection interface, operations in its own order. The
// Windows COM layer wraps it; the Linux hosts call it directly.
class IDTExtensibility2 {
public:
    using CustomValues = std::vector<std::string>;
    virtual ~IDTExtensibility2() = default;
    virtual void OnConnection(const std::shared_ptr<host::Object>& application, int connectMode,
                              const std::shared_ptr<host::Object>& addInInst, CustomValues& custom) = 0;
    // Throws when the messaging session cannot be logged off: the host gets
    // that failure as the result of the disconnection.
    virtual void OnDisconnection(int removeMode, CustomValues& custom) = 0;
    virtual void OnAddInsUpdate(CustomValues& custom) = 0;
    virtual void OnStartupComplete(CustomValues& custom) = 0;
    virtual void OnBeginShutdown(CustomValues& custom) = 0;
};

// Captions of the add-in's command bar controls.
inline constexpr const char* toolbarName = "Corvalle";
inline constexpr const char* popupCaption = " &Corvalle";
inline constexpr const char* checkSpamCaption = "&Check Spam";
inline constexpr const char* addFriendDomainCaption = "Add the Entire Domain to &Friends List";
inline constexpr const char* addEnemyDomainCaption = "Add the Entire Domain to &Blacklist";
inline constexpr const char* optionsCaption = "&Options";
inline constexpr const char* helpCaption = "&Help";
inline constexpr const char* aboutCaption = "&About Corvalle";
inline constexpr const char* isSpamCaption = "Is &Spam";
inline constexpr const char* isSpamTooltip = "Delete selected email,add email address to blacklist";
inline constexpr const char* addFriendCaption = "A&dd Sender to Friends List";
inline constexpr const char* addFriendTooltip = "Add sender email address to friends list";
inline constexpr const char* selectMailMessage = "Please select a mail item.";
inline constexpr const char* helpFileName = "skerrow.chm";
// The removal mode of a disconnection by the user while the host runs on.
inline constexpr int removeModeUserClosed = 1;

class startLoad : public IDTExtensibility2 {
public:
    explicit startLoad(Services services);
    ~startLoad() override;

    void OnConnection(const std::shared_ptr<host::Object>& application, int connectMode,
                      const std::shared_ptr<host::Object>& addInInst, CustomValues& custom) override;
    void OnDisconnection(int removeMode, CustomValues& custom) override;
    void OnAddInsUpdate(CustomValues& custom) override;
    void OnStartupComplete(CustomValues& custom) override;
    void OnBeginShutdown(CustomValues& custom) override;

    // Public operations of the add-in's own interface, in its order.
    void CreateAddInUI();
    void CreateAddinsMenuBar(const std::shared_ptr<host::Application>& application,
                             const std::shared_ptr<host::CommandBarPopup>& popup);
    void CreateAddinsToolBar(const std::shared_ptr<host::Application>& application);
    void IsOrNotSpam_PublicClick(const std::string& kind);
    void m_objExplorer_Close();

    // The add-in-wide state of this add-in.
    Varient& state() { return v_; }

    // Members, in declaration order; buttons stay empty until the toolbar
    // is built.
    std::shared_ptr<host::CommandBarButton> cmdCheckSpam;
    std::shared_ptr<host::CommandBarButton> cmdAddEnemyDomain;
    std::shared_ptr<host::CommandBarButton> cmdOptions;
    std::shared_ptr<host::CommandBarButton> cmdHelp;
    std::shared_ptr<host::CommandBarButton> cmdAboutCorvalle;
    std::shared_ptr<host::CommandBarButton> cmdIsSpamToolButton;
    std::shared_ptr<host::CommandBarButton> cmdAddFriendToolButton;
    std::shared_ptr<host::Explorer> m_objExplorer;
    std::shared_ptr<host::CommandBarButton> cmdAddFriendDomain;

private:
    using Member = std::shared_ptr<host::CommandBarButton> startLoad::*;
    // Stores a button in its member and routes its clicks to handler.
    void keep(Member member, const std::shared_ptr<host::CommandBarButton>& button, void (startLoad::*handler)());
    void setGlobalApplication(std::shared_ptr<host::Application> application);
    // Drops the toolbar and the buttons' events.
    void removeAddInUI();
    // Stores what changed and lets go of every host object and event: the
    // host cannot end while an add-in holds them.
    void releaseHost();
    void setExplorer(std::shared_ptr<host::Explorer> explorer);
    void addFaceButton(const std::shared_ptr<host::CommandBar>& bar, Member member, void (startLoad::*handler)(),
                       int bitmap, const char* caption, const char* tooltip);

    void globalApplication_NewMail();
    void m_objExplorer_SelectionChange();
    void updateButtonStates();
    void resetButtonStates();

    void cmdCheckSpam_Click();
    void cmdAddFriendDomain_Click();
    void cmdAddEnemyDomain_Click();
    void cmdOptions_Click();
    void cmdHelp_Click();
    void cmdAboutCorvalle_Click();
    void cmdIsSpamToolButton_Click();
    void cmdAddFriendToolButton_Click();

    Varient v_;
    host::Subscription newMail_;
    host::Subscription explorerClose_;
    host::Subscription selectionChange_;
    std::vector<host::Subscription> clicks_;
    std::shared_ptr<host::CommandBar> toolbar_;
    // The host was let go when its last main window closed.
    bool released_ = false;
};

} // namespace skerrow
