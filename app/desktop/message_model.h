// The rows of a main window's message list: one per item of the folder,
// newest first, in the order the host gives from the file names, so that
// showing a folder opens no file. A row's texts are read when the view
// first asks for them (its header block only); a refresh changes the rows
// whose items came, went or changed their read state, and no other.
#pragma once

#include "addin/host/host.h"

#include <QAbstractTableModel>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace skerrow::desktop {

// The locale's short date and time, to the minute.
QString receivedText(host::Date when);

class MessageModel : public QAbstractTableModel {
public:
    // The From text of a mail, in display form.
    using FromText = std::function<std::string(const std::shared_ptr<host::MailItem>&)>;
    explicit MessageModel(FromText fromText, QObject* parent = nullptr);
    ~MessageModel() override;

    // Shows these items (in the folder's order, oldest first) from scratch.
    void reset(const std::vector<std::shared_ptr<host::Item>>& items);
    // Brings the rows in line with the folder's items now; what the view
    // shows of unchanged rows stays as it is. When many items came or went
    // (a purge), the rows are shown afresh in one go, which is cheaper
    // than a change per row on a big folder: then it returns true, and the
    // view's selection is gone.
    bool update(const std::vector<std::shared_ptr<host::Item>>& items);
    // The row of an item of the list, or -1; looked up by a walk.
    std::vector<int> rowsOf(const std::vector<std::shared_ptr<host::Item>>& items) const;
    // Reads the texts of the rows from first up to, not including, last.
    void prefetch(int first, int last) const;

    const std::shared_ptr<host::Item>& item(int row) const { return rows_[static_cast<std::size_t>(row)].item; }
    int size() const { return static_cast<int>(rows_.size()); }
    // Unread items, less those found not to be mails so far.
    int unreadCount() const { return unread_; }
    // Called when the unread count changes without the rows changing.
    void setOnCountChanged(std::function<void()> changed) { countChanged_ = std::move(changed); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    enum class Kind : unsigned char { Unknown, Mail, Other };
    struct Text;
    struct Row {
        std::shared_ptr<host::Item> item;
        bool unread = false; // as the file name says; known without opening it
        mutable Kind kind = Kind::Unknown;
        mutable std::unique_ptr<Text> text;
    };

    static Row makeRow(const std::shared_ptr<host::Item>& item);
    const Text& text(const Row& row) const;
    bool counts(const Row& row) const { return row.unread && row.kind != Kind::Other; }

    FromText fromText_;
    std::vector<Row> rows_;
    mutable int unread_ = 0;
    std::function<void()> countChanged_;
};

} // namespace skerrow::desktop
