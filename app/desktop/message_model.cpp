#include "app/desktop/message_model.h"

#include "filter/trap.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QMetaObject>

#include <chrono>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace skerrow::desktop {

namespace {

enum Column { Subject, From, Received, ColumnCount };

bool unreadOf(const std::shared_ptr<host::Item>& item) {
    host::MailItem* mail = item ? item->mailItem() : nullptr;
    return mail && attempt([&] { return mail->UnRead(); }).value_or(false);
}

} // namespace

QString receivedText(host::Date when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const QLocale locale;
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    format.remove(QLatin1String(":ss")); // the C locale's has seconds
    return locale.toString(QDateTime::fromMSecsSinceEpoch(ms), format);
}

struct MessageModel::Text {
    QString columns[ColumnCount];
};

MessageModel::MessageModel(FromText fromText, QObject* parent)
    : QAbstractTableModel(parent), fromText_(std::move(fromText)) {}

MessageModel::~MessageModel() = default;

MessageModel::Row MessageModel::makeRow(const std::shared_ptr<host::Item>& item) {
    Row row;
    row.item = item;
    row.unread = unreadOf(item);
    return row;
}

void MessageModel::reset(const std::vector<std::shared_ptr<host::Item>>& items) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(items.size());
    unread_ = 0;
    // Newest first, as mail clients show the Inbox.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        rows_.push_back(makeRow(*it));
        unread_ += counts(rows_.back());
    }
    endResetModel();
}

bool MessageModel::update(const std::vector<std::shared_ptr<host::Item>>& items) {
    // Beyond this many rows come or gone, one change per row costs more
    // than showing the rows afresh.
    constexpr std::size_t fewChanges = 200;
    std::unordered_set<const host::Item*> present;
    present.reserve(items.size());
    for (const auto& item : items)
        present.insert(item.get());
    std::size_t kept = 0;
    for (const Row& row : rows_)
        kept += present.contains(row.item.get());
    if ((rows_.size() - kept) + (items.size() - kept) > fewChanges) {
        std::unordered_map<const host::Item*, std::pair<std::unique_ptr<Text>, Kind>> known;
        for (Row& row : rows_)
            if (row.text && present.contains(row.item.get()))
                known.emplace(row.item.get(), std::pair(std::move(row.text), row.kind));
        reset(items);
        // What was read of the rows that stay is kept.
        for (Row& row : rows_)
            if (auto it = known.find(row.item.get()); it != known.end()) {
                unread_ -= counts(row);
                std::tie(row.text, row.kind) = std::move(it->second);
                unread_ += counts(row);
            }
        return true;
    }
    // Gone first, a run of neighbours at a time.
    for (std::size_t end = rows_.size(); end > 0;) {
        if (present.contains(rows_[end - 1].item.get())) {
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > 0 && !present.contains(rows_[begin - 1].item.get()))
            --begin;
        beginRemoveRows({}, static_cast<int>(begin), static_cast<int>(end - 1));
        for (std::size_t i = begin; i < end; ++i)
            unread_ -= counts(rows_[i]);
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(begin), rows_.begin() + static_cast<std::ptrdiff_t>(end));
        endRemoveRows();
        end = begin;
    }
    // The rows left keep the folder's order: the new items go between them.
    std::size_t at = 0;
    for (std::size_t k = items.size(); k > 0;) {
        const auto& item = items[k - 1];
        if (at < rows_.size() && rows_[at].item == item) {
            Row& row = rows_[at];
            if (const bool unread = unreadOf(item); unread != row.unread) {
                unread_ -= counts(row);
                row.unread = unread;
                unread_ += counts(row);
                emit dataChanged(index(static_cast<int>(at), 0), index(static_cast<int>(at), ColumnCount - 1),
                                 {Qt::FontRole});
            }
            ++at;
            --k;
            continue;
        }
        std::vector<Row> arrived;
        while (k > 0 && !(at < rows_.size() && rows_[at].item == items[k - 1]))
            arrived.push_back(makeRow(items[--k]));
        beginInsertRows({}, static_cast<int>(at), static_cast<int>(at + arrived.size() - 1));
        for (const Row& row : arrived)
            unread_ += counts(row);
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(arrived.begin()),
                     std::make_move_iterator(arrived.end()));
        endInsertRows();
        at += arrived.size();
    }
    // Only a host that reordered its items gets here: show them afresh.
    if (rows_.size() != items.size()) {
        reset(items);
        return true;
    }
    return false;
}

std::vector<int> MessageModel::rowsOf(const std::vector<std::shared_ptr<host::Item>>& items) const {
    std::unordered_map<const host::Item*, std::size_t> wanted;
    for (std::size_t i = 0; i < items.size(); ++i)
        wanted.emplace(items[i].get(), i);
    std::vector<int> rows(items.size(), -1);
    for (std::size_t row = 0; row < rows_.size() && !wanted.empty(); ++row)
        if (auto it = wanted.find(rows_[row].item.get()); it != wanted.end()) {
            rows[it->second] = static_cast<int>(row);
            wanted.erase(it);
        }
    return rows;
}

const MessageModel::Text& MessageModel::text(const Row& row) const {
    if (row.text)
        return *row.text;
    row.text = std::make_unique<Text>();
    QString* columns = row.text->columns;
    auto mail = host::asMailItem(row.item);
    const bool counted = counts(row);
    row.kind = mail ? Kind::Mail : Kind::Other;
    if (!mail) {
        const std::string type = attempt([&] { return row.item->typeName(); }).value_or("Item");
        columns[Subject] = QStringLiteral("(%1)").arg(QString::fromStdString(type));
    } else {
        columns[Subject] = QString::fromStdString(attempt([&] { return mail->Subject(); }).value_or(std::string()));
        columns[From] = QString::fromStdString(fromText_(mail));
        if (auto when = attempt([&] { return mail->ReceivedTime(); }))
            columns[Received] = receivedText(*when);
    }
    if (counted != counts(row)) {
        unread_ -= 1;
        // Asked while the view paints: the count is shown after that.
        if (countChanged_)
            QMetaObject::invokeMethod(const_cast<MessageModel*>(this), [this] { countChanged_(); },
                                      Qt::QueuedConnection);
    }
    return *row.text;
}

void MessageModel::prefetch(int first, int last) const {
    for (int row = std::max(first, 0); row < std::min(last, size()); ++row)
        text(rows_[static_cast<std::size_t>(row)]);
}

int MessageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : size();
}

int MessageModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= size() || index.column() >= ColumnCount)
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return text(row).columns[index.column()];
    case Qt::FontRole: {
        text(row);
        if (row.kind == Kind::Mail && !row.unread)
            return {};
        QFont font;
        font.setBold(row.kind == Kind::Mail);
        font.setItalic(row.kind == Kind::Other);
        return font;
    }
    default:
        return {};
    }
}

QVariant MessageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Subject:
        return QCoreApplication::translate("MainWindow", "Subject");
    case From:
        return QCoreApplication::translate("MainWindow", "From");
    case Received:
        return QCoreApplication::translate("MainWindow", "Received");
    default:
        return {};
    }
}

} // namespace skerrow::desktop
