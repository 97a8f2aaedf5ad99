#include "render/qt/window_view.h"

#include "addin/ui/fit.h"
#include "render/qt/qt_window_manager.h"
#include "resources/bitmaps.h"

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace skerrow::qt {

namespace {

constexpr int windowFontPoints = 8;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// An access key is an "&" before anything but another "&".
bool hasAccessKey(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            return true;
        ++i;
    }
    return false;
}

// What a label without a control to lead to shows: "&&" is one "&", a
// single "&" only marks a letter.
QString withoutAccessKeys(const QString& caption) {
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && ++i == caption.size())
            break;
        shown += caption[i];
    }
    return shown;
}

// The model keeps multi-line text with CR LF, as the system's text boxes do.
QString toLf(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

std::string toCrLf(const QString& text) {
    return toLf(text).replace(u'\n', QStringLiteral("\r\n")).toStdString();
}

QString cellText(const ui::ListCell& cell) {
    if (!cell.date)
        return q(cell.text);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(cell.date->time_since_epoch()).count();
    return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
}

bool takesFocus(ui::ControlKind kind) {
    using ui::ControlKind;
    return kind == ControlKind::TextBox || kind == ControlKind::Button || kind == ControlKind::CheckBox ||
           kind == ControlKind::OptionButton || kind == ControlKind::ListView || kind == ControlKind::TabStrip;
}

// The rows of a list view, read from the window's control as the view
// asks for them, so that a list of tens of thousands of rows costs only the
// rows on the screen. The count is the one drawn last: rows the window has
// dropped since read as empty until the next redraw.
class RowModel : public QAbstractTableModel {
public:
    RowModel(std::function<const ui::Control*()> control, QObject* parent)
        : QAbstractTableModel(parent), control_(std::move(control)) {}

    // The user ticked or unticked a row.
    std::function<void(int row, bool checked)> onCheck;

    void setColumns(QStringList captions) {
        beginResetModel();
        captions_ = std::move(captions);
        endResetModel();
    }
    // Rows came or went at the end, and any row may have changed.
    void redraw(int count) {
        if (count < count_) {
            beginRemoveRows({}, count, count_ - 1);
            count_ = count;
            endRemoveRows();
        } else if (count > count_) {
            beginInsertRows({}, count_, count - 1);
            count_ = count;
            endInsertRows();
        }
        if (count_ > 0)
            emit dataChanged(index(0, 0), index(count_ - 1, columnCount() - 1));
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : count_; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : std::max<int>(1, int(captions_.size()));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < captions_.size())
            return captions_[section];
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        const ui::Control* control = index.isValid() ? control_() : nullptr;
        if (control && control->checkBoxes)
            flags |= Qt::ItemIsUserCheckable;
        return flags;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const ui::ListRow* row = rowAt(index);
        if (!row)
            return {};
        const auto cell = static_cast<std::size_t>(index.column());
        switch (role) {
        case Qt::DisplayRole:
            return cell < row->cells.size() ? cellText(row->cells[cell]) : QString();
        case Qt::ToolTipRole:
            return cell < row->cells.size() ? q(row->cells[cell].tooltip) : QString();
        case Qt::ForegroundRole:
            return QBrush(QColor(row->colour.red, row->colour.green, row->colour.blue));
        case Qt::CheckStateRole:
            if (index.column() == 0 && control_()->checkBoxes)
                return row->checked ? Qt::Checked : Qt::Unchecked;
            return {};
        default:
            return {};
        }
    }
    // The window decides: what it makes of the tick is drawn next.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role != Qt::CheckStateRole || index.column() != 0 || !rowAt(index) || !onCheck)
            return false;
        onCheck(index.row(), value.toInt() == Qt::Checked);
        return true;
    }

private:
    const ui::ListRow* rowAt(const QModelIndex& index) const {
        const ui::Control* control = index.isValid() ? control_() : nullptr;
        if (!control || index.row() >= int(control->rows.size()))
            return nullptr;
        return &control->rows[static_cast<std::size_t>(index.row())];
    }

    std::function<const ui::Control*()> control_;
    QStringList captions_;
    int count_ = 0;
};

// Reports a click once the mouse button is released (so a press that ticks
// a box or starts a double click is not a click of its own). A selection
// moved with the keyboard is no click: it only moves the selection.
class ListView : public QTreeView {
public:
    ListView(std::function<const ui::Control*()> control, QWidget* parent)
        : QTreeView(parent), rows_(new RowModel(std::move(control), this)) {
        setModel(rows_);
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
            if (!pressed_ && onMove)
                onMove();
        });
    }

    std::function<void()> onClick;
    std::function<void()> onMove;
    RowModel& rows() const { return *rows_; }

    int selectedRow() const {
        const QModelIndexList selected = selectionModel()->selectedRows();
        return selected.isEmpty() ? -1 : selected.first().row();
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = true;
        QTreeView::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QTreeView::mouseReleaseEvent(event);
        if (std::exchange(pressed_, false) && onClick)
            onClick();
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeView::mouseDoubleClickEvent(event);
        pressed_ = false;
    }
    // Space ticks the current row, whichever of its cells is current.
    void keyPressEvent(QKeyEvent* event) override {
        const QModelIndex current = currentIndex().siblingAtColumn(0);
        if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && current.isValid() &&
            (rows_->flags(current) & Qt::ItemIsUserCheckable)) {
            const bool ticked = current.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            rows_->setData(current, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            return;
        }
        QTreeView::keyPressEvent(event);
    }

private:
    RowModel* rows_;
    bool pressed_ = false;
};

class Picture : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
            onClick();
    }
};

} // namespace

WindowView::WindowView(QtWindowManager& manager, ui::Window& window, QWidget* parent)
    : QDialog(parent), manager_(manager), window_(window) {
    setObjectName(q(window.formName()));
    setSizeGripEnabled(false);
    // The twips layouts were made for the system's 8-point dialog font.
    QFont small = font();
    small.setPointSize(windowFontPoints);
    setFont(small);
    build();
}

WindowView::~WindowView() {
    // Children die while this object is still whole, so that nothing they
    // signal on the way reaches the model.
    retired_ = true;
    const QObjectList children = this->children();
    for (QObject* child : children)
        delete child;
}

void WindowView::removeLoop(QEventLoop* loop) {
    loops_.erase(std::remove(loops_.begin(), loops_.end(), loop), loops_.end());
}

void WindowView::retire() {
    if (retired_)
        return;
    retired_ = true;
    for (QEventLoop* loop : loops_)
        loop->quit();
    hide();
    deleteLater();
}

int WindowView::px(int twips) const {
    const QScreen* shown = screen();
    const double dpi = shown ? shown->logicalDotsPerInch() : 96.0;
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

// Building

void WindowView::build() {
    std::vector<ui::Control>& controls = window_.controls();
    bound_.reserve(controls.size());
    for (const ui::Control& control : controls)
        if (!bound(control.name, control.index))
            create(control, parentFor(control));
    linkBuddies();
    setTabOrder();
}

QWidget* WindowView::parentFor(const ui::Control& control) {
    if (control.container.empty())
        return this;
    Bound* container = bound(control.container);
    if (!container) {
        // Declared after what it holds: make it first.
        const auto& controls = window_.controls();
        const auto declared = std::find_if(controls.begin(), controls.end(), [&](const ui::Control& c) {
            return c.name == control.container && c.index == -1 && &c != &control;
        });
        if (declared == controls.end())
            return this;
        create(*declared, parentFor(*declared));
        container = bound(control.container);
    }
    if (container->kind == ui::ControlKind::TabStrip && !container->pages.empty()) {
        const auto page = static_cast<std::size_t>(std::clamp(control.tab, 0, int(container->pages.size()) - 1));
        return container->pages[page];
    }
    return container->widget;
}

QWidget* WindowView::create(const ui::Control& control, QWidget* parent) {
    using ui::ControlKind;
    Bound b;
    b.name = control.name;
    b.index = control.index;
    b.kind = control.kind;
    b.hideSelection = control.hideSelection;

    switch (control.kind) {
    case ControlKind::Label: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A label of a fixed size wraps its text whatever its word-wrap
        // setting (that one only says how a label that sizes itself grows).
        label->setWordWrap(true);
        b.widget = label;
        break;
    }
    case ControlKind::TextBox:
        if (control.multiLine) {
            auto* edit = new QPlainTextEdit(parent);
            edit->setTabChangesFocus(true);
            edit->setVerticalScrollBarPolicy(control.verticalScrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->installEventFilter(this);
            b.widget = edit;
        } else {
            b.widget = new QLineEdit(parent);
        }
        break;
    case ControlKind::Button: {
        auto* button = new QPushButton(parent);
        // Else the dialog would make its first button the default when the
        // window has none; Enter on a focused button is handled below.
        button->setAutoDefault(false);
        b.widget = button;
        break;
    }
    case ControlKind::CheckBox:
        b.widget = new QCheckBox(parent);
        break;
    case ControlKind::OptionButton: {
        auto* option = new QRadioButton(parent);
        QButtonGroup*& group = groups_[control.name];
        if (!group)
            group = new QButtonGroup(this);
        group->addButton(option);
        b.widget = option;
        break;
    }
    case ControlKind::Frame:
        b.widget = new QGroupBox(parent);
        break;
    case ControlKind::ListView: {
        const std::string name = control.name;
        const int index = control.index;
        auto* list = new ListView(
            [this, name, index]() -> const ui::Control* {
                if (!window_.isLoaded())
                    return nullptr;
                for (const ui::Control& each : window_.controls())
                    if (each.name == name && each.index == index)
                        return &each;
                return nullptr;
            },
            parent);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setItemsExpandable(false);
        list->setSortingEnabled(false); // the model orders the rows
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->header()->setStretchLastSection(false);
        list->header()->setSectionsMovable(false);
        if (control.columns.empty()) {
            list->setHeaderHidden(true);
        } else {
            QStringList captions;
            for (const ui::ListColumn& column : control.columns)
                captions << q(column.caption);
            list->rows().setColumns(captions);
            for (int i = 0; i < int(control.columns.size()); ++i)
                list->header()->resizeSection(i, px(control.columns[static_cast<std::size_t>(i)].width));
        }
        list->installEventFilter(this);
        b.widget = list;
        break;
    }
    case ControlKind::TabStrip: {
        auto* tabs = new QTabWidget(parent);
        for (const std::string& caption : control.tabs) {
            auto* page = new QWidget;
            tabs->addTab(page, q(caption));
            page->installEventFilter(this); // the page moves under the tabs once laid out
            b.pages.push_back(page);
        }
        tabs->tabBar()->installEventFilter(this);
        b.widget = tabs;
        break;
    }
    case ControlKind::Picture: {
        auto* picture = new Picture(parent);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        const std::vector<std::uint8_t> bytes = resources::bitmapResource(control.bitmap);
        QPixmap pixmap;
        if (!bytes.empty() && pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()), "BMP"))
            picture->setPixmap(pixmap);
        b.widget = picture;
        break;
    }
    }

    QWidget* widget = b.widget;
    widget->setObjectName(control.index < 0 ? q(control.name)
                                            : q(control.name) + u'(' + QString::number(control.index) + u')');
    if (control.bold || control.fontSize > 0) {
        QFont font = widget->font();
        font.setBold(control.bold);
        if (control.fontSize > 0)
            font.setPointSize(control.fontSize);
        widget->setFont(font);
    }
    bound_.push_back(std::move(b));
    wire(control, widget);
    return widget;
}

void WindowView::wire(const ui::Control& control, QWidget* widget) {
    using ui::ControlKind;
    const std::string name = control.name;
    const int index = control.index;
    const auto click = [this, name, index] { report([&] { window_.userClick(name, index); }); };

    switch (control.kind) {
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::OptionButton:
        // clicked, not toggled: only what the user does.
        connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this, click);
        break;
    case ControlKind::Picture:
        static_cast<Picture*>(widget)->onClick = click;
        break;
    case ControlKind::TextBox:
        if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            connect(line, &QLineEdit::textEdited, this,
                    [this, name](const QString& text) { report([&] { window_.userType(name, text.toStdString()); }); });
        } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
            connect(edit, &QPlainTextEdit::textChanged, this, [this, name, edit] {
                report([&] { window_.userType(name, toCrLf(edit->toPlainText())); });
            });
        }
        break;
    case ControlKind::ListView: {
        auto* list = static_cast<ListView*>(widget);
        list->onClick = [this, name, list] { report([&] { window_.userSelectRow(name, list->selectedRow()); }); };
        list->onMove = [this, name, list] {
            report([&] {
                ui::Control& model = window_.control(name);
                if (model.selectedRow != list->selectedRow()) {
                    model.selectedRow = list->selectedRow();
                    window_.touch();
                }
            });
        };
        connect(list, &QAbstractItemView::doubleClicked, this,
                [this, name] { report([&] { window_.userDoubleClick(name); }); });
        list->rows().onCheck = [this, name](int row, bool checked) {
            report([&] {
                const auto& rows = window_.control(name).rows;
                if (row >= 0 && row < int(rows.size()) && rows[static_cast<std::size_t>(row)].checked != checked)
                    window_.userCheckRow(name, row, checked);
            });
        };
        break;
    }
    case ControlKind::TabStrip: {
        auto* tabs = static_cast<QTabWidget*>(widget);
        connect(tabs, &QTabWidget::currentChanged, this,
                [this, name](int tab) { report([&] { window_.userSelectTab(name, tab); }); });
        // A click on the tab already shown changes nothing but still puts
        // the focus on the strip.
        connect(tabs, &QTabWidget::tabBarClicked, this, [this, name, tabs](int tab) {
            if (tab == tabs->currentIndex())
                report([&] { window_.userFocus(name); });
        });
        break;
    }
    case ControlKind::Label:
    case ControlKind::Frame:
        break;
    }
}

// A label's access key leads to the control after it in tab order.
void WindowView::linkBuddies() {
    const auto& controls = window_.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind != ui::ControlKind::Label || !hasAccessKey(q(controls[i].caption)))
            continue;
        const auto next = std::find_if(controls.begin() + static_cast<std::ptrdiff_t>(i) + 1, controls.end(),
                                       [](const ui::Control& c) { return takesFocus(c.kind); });
        Bound* label = bound(controls[i].name, controls[i].index);
        Bound* buddy = next == controls.end() ? nullptr : bound(next->name, next->index);
        if (!label || !buddy)
            continue;
        static_cast<QLabel*>(label->widget)->setBuddy(buddy->widget);
        label->buddied = true;
    }
}

// Tab order is the order of declaration, whatever the containers.
void WindowView::setTabOrder() {
    QWidget* previous = nullptr;
    for (const ui::Control& control : window_.controls()) {
        if (!takesFocus(control.kind))
            continue;
        const Bound* b = bound(control.name, control.index);
        if (!b)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, b->widget);
        previous = b->widget;
    }
}

// Drawing the model

void WindowView::sync() {
    if (retired_ || !window_.isLoaded())
        return;
    syncing_ = true;
    if (shownRevision_ != window_.revision()) {
        // Qt takes "[*]" for its modified mark; doubled, it shows as typed.
        setWindowTitle(q(window_.caption).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
        for (auto& [name, group] : groups_)
            group->setExclusive(false); // so that the model may select none
        for (const ui::Control& control : window_.controls())
            if (Bound* b = bound(control.name, control.index))
                syncControl(*b, control);
        for (auto& [name, group] : groups_)
            group->setExclusive(true);
        place();
        shownRevision_ = window_.revision();
    }
    syncFocus();
    syncing_ = false;
}

void WindowView::syncControl(Bound& b, const ui::Control& control) {
    using ui::ControlKind;
    QWidget* widget = b.widget;
    const QSignalBlocker blocker(widget);
    widget->setEnabled(control.enabled);
    widget->setVisible(control.visible);
    const QString caption = q(control.caption);

    switch (control.kind) {
    case ControlKind::Label: {
        auto* label = static_cast<QLabel*>(widget);
        const QString text = b.buddied ? caption : withoutAccessKeys(caption);
        if (label->text() != text)
            label->setText(text);
        break;
    }
    case ControlKind::TextBox:
        if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            if (line->text() != caption)
                line->setText(caption);
        } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
            const QString text = toLf(caption);
            if (edit->toPlainText() != text)
                edit->setPlainText(text);
        }
        break;
    case ControlKind::Button: {
        auto* button = static_cast<QPushButton*>(widget);
        button->setText(caption);
        button->setDefault(control.name == window_.defaultButton);
        break;
    }
    case ControlKind::CheckBox:
    case ControlKind::OptionButton: {
        auto* button = static_cast<QAbstractButton*>(widget);
        button->setText(caption);
        button->setChecked(control.value);
        break;
    }
    case ControlKind::Frame:
        static_cast<QGroupBox*>(widget)->setTitle(caption);
        break;
    case ControlKind::ListView:
        syncList(b, control);
        break;
    case ControlKind::TabStrip: {
        auto* tabs = static_cast<QTabWidget*>(widget);
        for (int i = 0; i < tabs->count() && i < int(control.tabs.size()); ++i)
            tabs->setTabText(i, q(control.tabs[static_cast<std::size_t>(i)]));
        if (control.currentTab >= 0 && control.currentTab < tabs->count())
            tabs->setCurrentIndex(control.currentTab);
        break;
    }
    case ControlKind::Picture:
        break;
    }
}

void WindowView::syncList(Bound& b, const ui::Control& control) {
    // Rows are read when shown; the current row and the scrolling survive
    // a redraw, as no row is made afresh.
    static_cast<ListView*>(b.widget)->rows().redraw(int(control.rows.size()));
    b.hideSelection = control.hideSelection;
    showSelection(b);
}

// The model's selected row, hidden while the list is without the focus
// when the list hides its selection then.
void WindowView::showSelection(const Bound& b) {
    auto* list = static_cast<ListView*>(b.widget);
    const QSignalBlocker blocker(list->selectionModel());
    int row = -1;
    for (const ui::Control& control : window_.controls())
        if (control.name == b.name && control.index == b.index)
            row = control.selectedRow;
    const QModelIndex item = row >= 0 && row < list->rows().rowCount() ? list->rows().index(row, 0) : QModelIndex();
    if (item.isValid() && (!b.hideSelection || list->hasFocus())) {
        if (list->currentIndex().row() != row || !list->selectionModel()->isRowSelected(row))
            list->setCurrentIndex(item);
        return;
    }
    if (list->selectionModel()->hasSelection())
        list->selectionModel()->clearSelection();
    if (!item.isValid() && list->currentIndex().isValid())
        list->setCurrentIndex({});
}

void WindowView::syncFocus() {
    const std::string& wanted = window_.focus();
    if (wanted.empty())
        return;
    const Bound* current = owning(focusWidget());
    if (current && current->name == wanted)
        return;
    const Bound* target = nullptr;
    for (const Bound& b : bound_) {
        if (b.name != wanted)
            continue;
        // In an array of option buttons the focus goes to the selected one.
        if (!target || (b.kind == ui::ControlKind::OptionButton && static_cast<QAbstractButton*>(b.widget)->isChecked()))
            target = &b;
    }
    if (!target)
        return;
    QWidget* widget = target->widget;
    if (target->kind == ui::ControlKind::TabStrip)
        widget = static_cast<QTabWidget*>(widget)->tabBar();
    if (widget->isEnabled())
        widget->setFocus(Qt::OtherFocusReason);
}

// Positions in twips by the screen's logical resolution. Controls in a tab
// strip are placed from the strip's corner, tabs included, as the window
// declares them; a page starts below the tabs, hence the offset.
void WindowView::place() {
    if (retired_ || !window_.isLoaded())
        return;
    const ui::Rect& client = window_.client;
    int width = px(client.width);
    int height = px(client.height);
    if (width <= 0 || height <= 0) {
        // No size given: room for every control, with a margin.
        for (const ui::Control& c : window_.controls())
            if (c.container.empty()) {
                width = std::max(width, px(c.rect.left + c.rect.width + 120));
                height = std::max(height, px(c.rect.top + c.rect.height + 120));
            }
    }
    setFixedSize(width, height);

    std::vector<Placed> placed;
    for (const ui::Control& control : window_.controls()) {
        Bound* b = bound(control.name, control.index);
        if (!b)
            continue;
        QRect rect(px(control.rect.left), px(control.rect.top), px(control.rect.width), px(control.rect.height));
        const Bound* container = control.container.empty() ? nullptr : bound(control.container);
        if (container && container->kind == ui::ControlKind::TabStrip && b->widget->parentWidget())
            rect.translate(-b->widget->parentWidget()->mapTo(container->widget, QPoint(0, 0)));
        placed.push_back({b, rect});
    }
    fitLabels(placed);
    for (const Placed& p : placed)
        if (p.bound->widget->geometry() != p.rect)
            p.bound->widget->setGeometry(p.rect);
}

// This font is wider than the one the layouts were made for: the labels
// are fitted to their measured text among the controls beside them.
void WindowView::fitLabels(std::vector<Placed>& placed) const {
    std::map<const QWidget*, std::vector<std::size_t>> byParent;
    for (std::size_t i = 0; i < placed.size(); ++i)
        byParent[placed[i].bound->widget->parentWidget()].push_back(i);
    for (const auto& [parent, members] : byParent) {
        QSize area = parent == this ? size() : parent->size();
        for (const Placed& p : placed)
            if (p.bound->widget == parent)
                area = p.rect.size();
        std::vector<ui::Placed> boxes;
        std::vector<QLabel*> labels;
        for (const std::size_t i : members) {
            const QRect& r = placed[i].rect;
            ui::Placed box{{r.x(), r.y(), r.width(), r.height()}, false, !placed[i].bound->widget->isHidden(), 0};
            auto* label = placed[i].bound->kind == ui::ControlKind::Label ? static_cast<QLabel*>(placed[i].bound->widget)
                                                                          : nullptr;
            if (label && !label->text().isEmpty()) {
                box.label = true;
                const int flags = placed[i].bound->buddied ? Qt::TextShowMnemonic : 0;
                box.lineWidth = label->fontMetrics().size(flags, label->text()).width() + 1;
            }
            boxes.push_back(box);
            labels.push_back(label);
        }
        ui::fitLabels(boxes, area.width(), area.height(),
                      [&](std::size_t i, int width) { return labels[i]->heightForWidth(width); });
        for (std::size_t k = 0; k < members.size(); ++k) {
            const ui::Rect& r = boxes[k].rect;
            placed[members[k]].rect = QRect(r.left, r.top, r.width, r.height);
        }
    }
}

// Events

void WindowView::report(const std::function<void()>& act) {
    if (syncing_ || retired_ || !window_.isLoaded())
        return;
    // The model learns where the focus is, so that a handler that moves it
    // is seen to.
    if (const Bound* focused = owning(focusWidget()))
        window_.setFocus(focused->name);
    try {
        act();
    } catch (...) {
        // The handlers trap their own failures; nothing may unwind through
        // Qt's event loop.
    }
    manager_.refresh();
}

void WindowView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        report([&] { window_.userCancel(); });
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain) {
        // A button with the focus takes Enter itself, as on the system's
        // dialogs; elsewhere Enter presses the default button.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        else
            report([&] { window_.userDefault(); });
        return;
    }
    event->ignore();
}

void WindowView::closeEvent(QCloseEvent* event) {
    // The window leaves the screen when its model unloads it.
    event->ignore();
    report([&] { window_.userClose(); });
}

void WindowView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    place();
}

bool WindowView::eventFilter(QObject* watched, QEvent* event) {
    if (retired_ || !window_.isLoaded())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        for (const Bound& b : bound_)
            if (std::find(b.pages.begin(), b.pages.end(), watched) != b.pages.end()) {
                place();
                break;
            }
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        for (const Bound& b : bound_) {
            if (b.widget == watched && b.kind == ui::ControlKind::ListView) {
                showSelection(b);
            } else if (event->type() == QEvent::FocusIn && b.kind == ui::ControlKind::TabStrip &&
                       static_cast<QTabWidget*>(b.widget)->tabBar() == watched) {
                // The user tabbed onto the strip; a window coming to the
                // front is not the strip getting the focus.
                const auto reason = static_cast<QFocusEvent*>(event)->reason();
                if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                    report([&] { window_.userFocus(b.name); });
            }
        }
        break;
    case QEvent::KeyPress: {
        // Enter in a multi-line box presses the default button, when there
        // is one, as on the system's dialogs.
        auto* key = static_cast<QKeyEvent*>(event);
        if (qobject_cast<QPlainTextEdit*>(watched) && !window_.defaultButton.empty() &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            report([&] { window_.userDefault(); });
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

WindowView::Bound* WindowView::bound(const std::string& name, int index) {
    for (Bound& b : bound_)
        if (b.name == name && b.index == index)
            return &b;
    return nullptr;
}

const WindowView::Bound* WindowView::owning(const QWidget* widget) const {
    for (; widget && widget != this; widget = widget->parentWidget())
        for (const Bound& b : bound_)
            if (b.widget == widget)
                return &b;
    return nullptr;
}

} // namespace skerrow::qt
