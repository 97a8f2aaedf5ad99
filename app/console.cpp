#include "app/console.h"

#include <ostream>

namespace skerrow::app {

namespace {

// Box texts carry CR LF; a terminal wants plain line ends and no blank
// lines around the text.
std::string forTerminal(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    const auto first = out.find_first_not_of(" \n");
    if (first == std::string::npos)
        return {};
    const auto last = out.find_last_not_of(" \n");
    return out.substr(first, last - first + 1);
}

} // namespace

ui::Answer ConsoleDialogs::messageBox(const std::string& text, ui::Buttons buttons, ui::Icon,
                                      const std::string& title) {
    out_ << "[" << forTerminal(title) << "] " << forTerminal(text) << "\n";
    return buttons == ui::Buttons::YesNo || buttons == ui::Buttons::YesNoCancel ? ui::Answer::No : ui::Answer::OK;
}

std::optional<std::string> ConsoleDialogs::openFile(const std::string&) {
    return std::nullopt;
}

std::optional<std::string> ConsoleDialogs::saveFile(const std::string&) {
    return std::nullopt;
}

void printWindow(std::ostream& out, ui::Window& window) {
    out << "== " << window.caption << " ==\n";
    for (const ui::Control& c : window.controls()) {
        if (c.kind == ui::ControlKind::Label && c.visible && !c.caption.empty())
            out << c.caption << "\n";
    }
    for (const ui::Control& c : window.controls()) {
        if (c.kind != ui::ControlKind::ListView)
            continue;
        for (const ui::ListRow& row : c.rows) {
            if (row.cells.size() < 3) {
                out << (row.cells.empty() ? row.key : row.cells[0].text) << "\n";
                continue;
            }
            // From, Subject, Received: the sender first, as the list is sorted.
            const std::string subject = row.cells.size() > 0 ? row.cells[0].text : "";
            const std::string from = row.cells.size() > 1 ? row.cells[1].text : "";
            // The window wrote the date in the user's format.
            const std::string received = row.cells.size() > 2 ? row.cells[2].text : "";
            out << (row.checked ? "[x] " : "    ") << from << " | " << subject << " | " << received << "\n";
        }
    }
}

void ConsoleWindows::show(ui::Window& window) {
    printWindow(out_, window);
    if (reviewer_ && window.isLoaded())
        reviewer_(window);
    if (window.isLoaded())
        window.userClose();
}

} // namespace skerrow::app
