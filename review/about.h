// The about box: the product, its version, and the way to the maker's pages.
#pragma once

#include "addin/ui/window.h"

#include <string>

namespace skerrow {

class Varient;

inline constexpr const char* homePageAddress = "http://www.corvalle.example/";
inline constexpr const char* supportPageAddress = "http://www.corvalle.example/support/";

class about : public ui::Window {
public:
    explicit about(Varient& v);

    void Command1_Click(); // OK
    // Both pages open in the browser and leave the box open; whether a
    // browser came up is not looked at.
    void Command3_Click(); // Support
    void Picture2_Click(); // the maker's banner

protected:
    void declareControls() override;
    void onEvent(Event event, const std::string& name, int index, int row) override;

private:
    Varient& v_;
};

} // namespace skerrow
