// Message boxes and the open and save file dialogs, with Qt's own.
#pragma once

#include "addin/ui/dialogs.h"

#include <QPointer>

class QWidget;

namespace skerrow::qt {

// Needs a QApplication. Each dialog is modal and stays in front of the
// window the user is working in, else of the owner.
class QtDialogs : public ui::Dialogs {
public:
    explicit QtDialogs(QWidget* owner = nullptr);

    // Text with CR LF line ends shows as lines.
    ui::Answer messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                          const std::string& title) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter) override;

private:
    QWidget* parentWidget() const;
    std::optional<std::string> chooseFile(const std::string& filter, bool save) const;

    QPointer<QWidget> owner_;
};

} // namespace skerrow::qt
