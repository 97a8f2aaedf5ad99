// The review window: the unread Inbox mails of senders on no friend list,
// which the user ticks and declares junk, wanted, or simply deletes.
#pragma once

#include "addin/ui/window.h"

#include <functional>
#include <memory>
#include <string>

namespace skerrow {

class Varient;
namespace host {
class Application;
class Folder;
} // namespace host

inline constexpr const char* selectAllCaption = "Select All";
inline constexpr const char* selectNoneCaption = "Select None";

class CheckSpamFrm : public ui::Window {
public:
    explicit CheckSpamFrm(Varient& v);

    // Set by the opener before showing the window; released at unload.
    std::shared_ptr<host::Folder> checkFolder;
    std::shared_ptr<host::Application> checkApplication;

    // Caption, both labels and the rows; then the rows are kept sorted by
    // sender from here on.
    void form_refresh();

    // Handlers. Each one goes on past a failing step and never throws.
    void Command1_Click(); // Is Spam
    void Command2_Click(); // Not Spam
    void Command5_Click(); // Delete
    void Command4_Click(); // Close
    void Check2_Click();
    // Runs only for ticks made by the user, so grouping cannot recurse.
    void ListView1_ItemCheck(int row);
    // With no selected row, or when the row's mail has gone, nothing opens
    // and the rows stay as they are.
    void ListView1_DblClick();

protected:
    void declareControls() override;
    void onLoad() override;
    void onUnload() override;
    void onEvent(Event event, const std::string& name, int index, int row) override;

private:
    // Purges the Inbox, then lists its suspects afresh.
    void list_refresh();
    // Calls act with the key and sender of every ticked row, then rebuilds.
    void actOnTicked(const std::function<void(const std::string& key, const std::string& sender)>& act);

    Varient& v_;
};

} // namespace skerrow
