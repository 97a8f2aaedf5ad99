// The options window: backup and restore of the filter lists, and an
// editor of the lists as Approved and Blocked, working on a copy that OK or
// Apply commits.
#pragma once

#include "addin/ui/window.h"
#include "filter/filter_store.h"

#include <string>

namespace skerrow {

class Varient;

// Example entries that may come with a list file; the window never shows
// them but keeps them in the lists.
inline constexpr const char* hiddenFriendEmail = "support@corvalle.example";
inline constexpr const char* hiddenFriendDomain = "*@corvalle.example";
inline constexpr const char* hiddenEnemyEmail = "offers@junk-mail.example";
inline constexpr const char* hiddenEnemyDomain = "*@bulk-mail.example";

inline constexpr const char* backupFileFilter = "anti filter(*.flt)|*.flt";

class Options : public ui::Window {
public:
    explicit Options(Varient& v);

    // Refills both list views from the working copy.
    void Array_Init();
    // Takes the working copy from the filter lists again, then refills.
    void reloadFilter();

    // Saves the lists and copies the list file to a file the user picks.
    // True when done or when no file was chosen; false when a step failed.
    bool backupFilter();
    // Copies a file the user picks over the list file and loads the lists
    // from it. True when done or when no file was chosen; false when a step
    // failed, and then the list file and the lists are as they were.
    bool restoreFilter();

    void Command1_Click(); // OK
    void Command2_Click(); // Cancel
    void Command9_Click(); // Apply
    void Command7_Click(); // Add
    void Command5_Click(); // Blocked to Approved
    void Command6_Click(); // Approved to Blocked
    void Command8_Click(); // Delete
    void Command3_Click(); // Backup
    void Command4_Click(); // Restore
    void ListView1_Click();
    void ListView2_Click();
    void SSTab1_GotFocus();

protected:
    void declareControls() override;
    void onLoad() override;
    void onEvent(Event event, const std::string& name, int index, int row) override;

private:
    void commit();
    bool hasDataFolder();
    // A restore replaced the filter lists: the working copy is stale.
    void takeRestoredLists();
    void move(const std::string& sourceView, FilterList FilterLists::*domainFrom, FilterList FilterLists::*domainTo,
              FilterList FilterLists::*emailFrom, FilterList FilterLists::*emailTo);

    Varient& v_;
    FilterLists working_;
    bool approvedActive = true; // which list Delete acts on: Approved or Blocked
    bool restorePending = false;
    bool restored_ = false; // the latest restoreFilter replaced the lists
};

} // namespace skerrow
