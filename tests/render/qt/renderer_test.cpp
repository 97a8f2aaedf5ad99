// What the add-in's windows do not show of the renderer: access keys of a
// label and a check box, and changes the host makes outside any event.
#include "tests/render/qt/qt_world.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

namespace skerrow::test {
namespace {

class Form1 : public ui::Window {
public:
    explicit Form1(ui::WindowManager& manager) : ui::Window(manager, "Form1") {}
    std::vector<std::string> clicks;

protected:
    void declareControls() override {
        using ui::ControlKind;
        client = {0, 0, 4000, 1200};
        declare(ui::makeControl(ControlKind::Label, "Label1", {120, 120, 1000, 255}, "&Name:"));
        declare(ui::makeControl(ControlKind::TextBox, "Text1", {1200, 120, 2400, 315}));
        declare(ui::makeControl(ControlKind::CheckBox, "Check1", {120, 600, 2400, 315}, "&Keep"));
    }
    void onEvent(Event event, const std::string& name, int, int) override {
        if (event == Event::Click)
            clicks.push_back(name);
    }
};

TEST_F(QtWindowTest, AccessKeysLeadFromLabelsAndTickBoxesAndHostChangesShowAfterARefresh) {
    Form1 form(windows);
    form.showModeless();
    QWidget& view = *windows.view(form);
    ASSERT_TRUE(activate(view));

    press(view, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(view.focusWidget(), widget<QLineEdit>(form, "Text1")) << "the label leads to the box after it";
    press(view, Qt::Key_K, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.clicks.empty(); }));
    EXPECT_TRUE(widget<QCheckBox>(form, "Check1")->isChecked());

    form.control("Check1").enabled = false;
    form.setText("Text1", "typed by code");
    windows.refresh();
    EXPECT_FALSE(widget<QCheckBox>(form, "Check1")->isEnabled());
    EXPECT_EQ(widget<QLineEdit>(form, "Text1")->text(), "typed by code");
    EXPECT_EQ(form.clicks, std::vector<std::string>{"Check1"}) << "drawing the model raised no event";
    form.unload();
    EXPECT_EQ(windows.view(form), nullptr);
}

} // namespace
} // namespace skerrow::test
