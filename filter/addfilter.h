// The entry dialog: confirm or change one address or domain before it goes
// on a list, taking it off the opposite list first.
#pragma once

#include "addin/ui/window.h"

#include <memory>
#include <string>

namespace skerrow {

class Varient;
namespace host {
class Application;
}

// The instruction above the entry box, here and in the options window.
inline constexpr const char* entryInstruction =
    "Type the email address(for example,someone@example.com) or domain name(for example,example.com)that you "
    "want to block.";

class addFilter : public ui::Window {
public:
    explicit addFilter(Varient& v);

    // The list key the entry goes to; the opener sets it before showing.
    std::string AddFilterObjectName;

    void Text1_Change();
    // Always closes the dialog, whatever failed on the way.
    void Command1_Click(); // OK
    void Command2_Click(); // Cancel

protected:
    void declareControls() override;
    void onLoad() override;
    void onEvent(Event event, const std::string& name, int index, int row) override;

private:
    Varient& v_;
};

// Opens the dialog once for each selected mail, prefilled with its sender
// (address lists) or the sender's domain (domain lists). Items that are not
// mails are passed over.
void addSenderDialog(Varient& v, const std::shared_ptr<host::Application>& application, const std::string& listKey);

} // namespace skerrow
