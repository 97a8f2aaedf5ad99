#include "addin/startload.h"

#include "addin/forms.h"
#include "addin/lifecycle.h"
#include "review/checkspamfrm.h"
#include "filter/trap.h"

namespace skerrow {

startLoad::startLoad(Services services) : v_(services) {}

startLoad::~startLoad() = default;

void startLoad::setGlobalApplication(std::shared_ptr<host::Application> application) {
    newMail_.reset();
    v_.globalApplication = std::move(application);
    if (v_.globalApplication)
        trap([&] { newMail_ = v_.globalApplication->onNewMail([this] { globalApplication_NewMail(); }); });
}

void startLoad::setExplorer(std::shared_ptr<host::Explorer> explorer) {
    explorerClose_.reset();
    selectionChange_.reset();
    m_objExplorer = std::move(explorer);
    if (!m_objExplorer)
        return;
    trap([&] { explorerClose_ = m_objExplorer->onClose([this] { m_objExplorer_Close(); }); });
    trap([&] { selectionChange_ = m_objExplorer->onSelectionChange([this] { m_objExplorer_SelectionChange(); }); });
}

void startLoad::OnConnection(const std::shared_ptr<host::Object>& application, int, const std::shared_ptr<host::Object>&,
                             CustomValues&) {
    // Anything but the mail client's application ends the connection here.
    auto mailClient = std::dynamic_pointer_cast<host::Application>(application);
    if (!mailClient)
        return;
    setGlobalApplication(std::move(mailClient));
    released_ = false;
    removeAddInUI();
    initGlobals(v_, v_.globalApplication);
    firstRunSetup(v_, v_.globalApplication);
    CreateAddInUI();
    loadEnvironment(v_);
    auto explorer = attempt([&] { return v_.globalApplication->ActiveExplorer(); });
    setExplorer(explorer ? *explorer : nullptr);
}

void startLoad::removeAddInUI() {
    clicks_.clear();
    for (Member member : {&startLoad::cmdCheckSpam, &startLoad::cmdAddEnemyDomain, &startLoad::cmdOptions,
                          &startLoad::cmdHelp, &startLoad::cmdAboutCorvalle, &startLoad::cmdIsSpamToolButton,
                          &startLoad::cmdAddFriendToolButton, &startLoad::cmdAddFriendDomain})
        (this->*member).reset();
    toolbar_.reset();
}

void startLoad::releaseHost() {
    storeChanges(v_);
    // The review window holds the Inbox and the application.
    trap([&] { v_.forms().checkSpamFrm().unload(); });
    removeAddInUI();
    setExplorer(nullptr);
    trap([&] {
        if (v_.messagingSession)
            v_.messagingSession->Logoff();
    });
    v_.messagingSession.reset();
    setGlobalApplication(nullptr);
    released_ = true;
}

void startLoad::OnDisconnection(int removeMode, CustomValues&) {
    saveEnvironment(v_, v_.globalApplication);
    // The user switched the add-in off and the host runs on: its toolbar
    // goes now, or a later connection would find it full and add another.
    if (removeMode == removeModeUserClosed) {
        if (toolbar_)
            trap([&] { toolbar_->Delete(); });
        removeAddInUI();
        setExplorer(nullptr);
    }
    if (released_)
        return;
    if (!v_.messagingSession)
        throw host::HostError("no messaging session to log off");
    v_.messagingSession->Logoff();
    v_.messagingSession.reset();
    setGlobalApplication(nullptr);
}

void startLoad::OnAddInsUpdate(CustomValues&) {}

void startLoad::OnStartupComplete(CustomValues&) {}

void startLoad::OnBeginShutdown(CustomValues&) {}

} // namespace skerrow
