// The mail body viewer: header fields and plain-text body of one mail,
// copied in by the review window. It holds no reference to the mail.
#pragma once

#include "addin/host/host.h"
#include "addin/ui/window.h"

#include <string>

namespace skerrow {

class Varient;

class mailbody : public ui::Window {
public:
    explicit mailbody(Varient& v);

    // Fills the viewer and shows it modally; returns once it has closed.
    void showMail(const std::string& sender, host::Date received, const std::string& to,
                  const std::string& subject, const std::string& body);

    void Command4_Click();

protected:
    void declareControls() override;
    void onEvent(Event event, const std::string& name, int index, int row) override;

private:
    Varient& v_;
};

} // namespace skerrow
