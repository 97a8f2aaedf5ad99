// Windows as models. A window owns its controls' state and its handlers; a
// renderer (Qt, Win32) draws that state and forwards the user's actions
// through the user* operations below; tests call the same operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::ui {

class Window;

// Shows windows on the screen; tests replace it.
class WindowManager {
public:
    virtual ~WindowManager() = default;
    // Returns once the window has unloaded.
    virtual void showModal(Window& window) = 0;
    // Returns at once; showing a window that is shown brings it forward.
    virtual void showModeless(Window& window) = 0;
    // The window has unloaded itself: take it off the screen (and end its
    // modal loop).
    virtual void closed(Window& window) = 0;
};

enum class ControlKind {
    Label,
    TextBox,
    Button,
    CheckBox,
    OptionButton,
    Frame,
    ListView,
    TabStrip,
    Picture,
};

// Positions and sizes in twips (1/1440 inch), relative to the container.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};
inline constexpr Colour black{0, 0, 0};
inline constexpr Colour red{255, 0, 0};

struct ListColumn {
    std::string caption;
    int width = 0; // twips
};

struct ListCell {
    std::string text;
    // A cell that holds a date is shown in the system's date and time format.
    std::optional<std::chrono::system_clock::time_point> date;
    std::string tooltip;
};

struct ListRow {
    std::string key;
    std::vector<ListCell> cells; // the row's text, then its sub-items
    bool checked = false;
    Colour colour = black;
};

struct Control {
    std::string name;
    int index = -1; // position in a control array, -1 for a single control
    ControlKind kind = ControlKind::Label;
    std::string container; // empty: the window itself
    int tab = -1;          // page of a tab strip container, -1 for none
    Rect rect;

    std::string caption; // caption, or a text box's text
    bool enabled = true;
    bool visible = true;
    bool value = false; // check box ticked, option button selected

    bool bold = false;
    int fontSize = 0; // points; 0: the window's font
    bool wordWrap = false;
    bool multiLine = false;
    bool verticalScrollBar = false;

    // List views.
    bool checkBoxes = false;
    bool hideSelection = true;
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
    int selectedRow = -1;
    bool sorted = false;
    int sortColumn = 0; // 0: the row's text, 1: its first sub-item...

    // Tab strips.
    std::vector<std::string> tabs;
    int currentTab = 0;

    // Pictures: the bitmap resource shown.
    int bitmap = 0;
};

class Window {
public:
    Window(WindowManager& manager, std::string formName);
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    const std::string& formName() const { return formName_; }
    bool isLoaded() const { return loaded_; }

    // Loading declares the controls afresh and runs the load handler; it
    // happens on first use (show, or touching a control).
    void load();
    // Runs the unload handler, drops the controls and takes the window off
    // the screen. Unloading a window that is not loaded does nothing.
    void unload();
    void showModal();
    void showModeless();

    std::string caption;
    Rect client; // width and height of the client area
    std::string defaultButton;
    std::string cancelButton;

    // Loads the window when needed. Throws std::out_of_range for an unknown name.
    Control& control(const std::string& name, int index = -1);
    std::vector<Control>& controls();

    // Sets a text box's text as code does: a change runs the change handler.
    void setText(const std::string& name, const std::string& text);
    // Puts the focus on a control (tests and renderers read it back).
    void setFocus(const std::string& name) { focus_ = name; }
    const std::string& focus() const { return focus_; }

    // Orders a sorted list view's rows by its sort column; rows equal there
    // keep their order.
    void sortRows(Control& list);

    // What the user does, as a renderer reports it. Each one updates the
    // model first, as the toolkit's control would, then runs the handler.
    void userClick(const std::string& name, int index = -1);
    void userDoubleClick(const std::string& name);
    void userType(const std::string& name, const std::string& text);
    void userCheckRow(const std::string& name, int row, bool checked);
    void userSelectRow(const std::string& name, int row);
    void userSelectTab(const std::string& name, int tab);
    void userFocus(const std::string& name);
    // The close box of the title bar.
    void userClose();
    // Esc and Enter.
    void userCancel();
    void userDefault();

    // Bumped at every change made through this class, so a renderer can
    // tell when to redraw.
    unsigned revision() const { return revision_; }
    void touch() { ++revision_; }

protected:
    enum class Event { Click, DblClick, Change, ItemCheck, GotFocus };

    // Builds the controls of a fresh load.
    virtual void declareControls() = 0;
    virtual void onLoad() {}
    virtual void onUnload() {}
    // A user event on a control. For ItemCheck, row is the row ticked or
    // unticked; for control arrays, index is the element.
    virtual void onEvent(Event event, const std::string& name, int index, int row) = 0;

    Control& declare(Control control);
    WindowManager& manager() { return manager_; }

private:
    void raise(Event event, const std::string& name, int index, int row);

    WindowManager& manager_;
    std::string formName_;
    std::vector<Control> controls_;
    std::string focus_;
    bool loaded_ = false;
    bool loading_ = false;
    unsigned revision_ = 0;
};

// Text shown as it is in a caption, where "&" would mark an access key.
std::string literalCaption(const std::string& text);

// Control builders for declareControls.
Control makeControl(ControlKind kind, std::string name, Rect rect, std::string caption = {},
                    std::string container = {}, int tab = -1);

} // namespace skerrow::ui
