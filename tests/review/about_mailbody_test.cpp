#include "review/mailbody.h"

#include "addin/forms.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>


namespace skerrow {
namespace {

TEST(MailBody, ShowsTheFiveValuesWithTheSubjectAsCaptionUntilClosed) {
    for (const std::string subject : {"Lunch on Friday", "", "Tom & Jerry"}) {
        test::World w;
        mailbody& viewer = w.v.forms().mailBodyViewer();
        const host::Date received = std::chrono::sys_days{std::chrono::year{2003} / 4 / 5};
        std::vector<std::string> seen;
        w.windows.onModal("mailbody", [&](ui::Window& v) {
            for (const char* name : {"Label5", "Label6", "Label7", "Label8", "Text1"})
                seen.push_back(v.control(name).caption);
            seen.push_back(v.caption);
            v.userCancel();
        });

        viewer.showMail("amy@example.com", received, "John Smith", subject, "line 1\r\nline 2");

        // Labels double an "&" so that it shows instead of marking an access key.
        // The date as the platform writes it in the user's format.
        EXPECT_EQ(seen, (std::vector<std::string>{"amy@example.com", "2003-04-05 00:00:00", "John Smith",
                                                  ui::literalCaption(subject), "line 1\r\nline 2", subject}));
        EXPECT_EQ(w.windows.closedForms, std::vector<std::string>{"mailbody"});
    }
}

} // namespace
} // namespace skerrow
