#include "render/qt/qt_dialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace skerrow::qt {

namespace {

// "description|pattern|description|pattern" to Qt's "description (pattern)"
// entries; several patterns of one entry are joined by ";" there and by
// blanks here. The description stays as given, even when it already shows
// the pattern in brackets.
QStringList nameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
        filters << parts[i] + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

QMessageBox::Icon iconOf(ui::Icon icon) {
    switch (icon) {
    case ui::Icon::Critical:
        return QMessageBox::Critical;
    case ui::Icon::Question:
        return QMessageBox::Question;
    case ui::Icon::Exclamation:
        return QMessageBox::Warning;
    case ui::Icon::Information:
        return QMessageBox::Information;
    case ui::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsOf(ui::Buttons buttons) {
    switch (buttons) {
    case ui::Buttons::OKCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case ui::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case ui::Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case ui::Buttons::OK:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

QtDialogs::QtDialogs(QWidget* owner) : owner_(owner) {}

QWidget* QtDialogs::parentWidget() const {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return owner_;
}

ui::Answer QtDialogs::messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                                 const std::string& title) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(iconOf(icon), QString::fromStdString(title), shown, buttonsOf(buttons), parentWidget());
    box.setTextFormat(Qt::PlainText);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return ui::Answer::OK;
    case QMessageBox::Yes:
        return ui::Answer::Yes;
    case QMessageBox::No:
        return ui::Answer::No;
    case QMessageBox::Cancel:
        return ui::Answer::Cancel;
    default:
        // Closed without a button: what its Esc key would have answered.
        return buttons == ui::Buttons::OK ? ui::Answer::OK
               : buttons == ui::Buttons::YesNo ? ui::Answer::No
                                               : ui::Answer::Cancel;
    }
}

std::optional<std::string> QtDialogs::chooseFile(const std::string& filter, bool save) const {
    // No title, start folder or default suffix: the system's own title, and
    // the name exactly as typed or picked.
    QFileDialog dialog(parentWidget());
    dialog.setNameFilters(nameFilters(filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return QFile::encodeName(chosen.first()).toStdString();
}

std::optional<std::string> QtDialogs::openFile(const std::string& filter) {
    return chooseFile(filter, false);
}

std::optional<std::string> QtDialogs::saveFile(const std::string& filter) {
    return chooseFile(filter, true);
}

} // namespace skerrow::qt
