// The add-in's windows, one instance each, made on first use and kept for
// the life of the add-in (unloading resets a window, it does not destroy it).
#pragma once

#include <memory>

namespace skerrow {

class Varient;
class CheckSpamFrm;
class addFilter;
class Options;
class about;
class mailbody;

class Forms {
public:
    explicit Forms(Varient& v);
    ~Forms();

    CheckSpamFrm& checkSpamFrm();
    addFilter& addFilterDialog();
    Options& optionsWindow();
    about& aboutBox();
    mailbody& mailBodyViewer();

private:
    Varient& v_;
    std::unique_ptr<CheckSpamFrm> checkSpamFrm_;
    std::unique_ptr<addFilter> addFilter_;
    std::unique_ptr<Options> options_;
    std::unique_ptr<about> about_;
    std::unique_ptr<mailbody> mailbody_;
};

} // namespace skerrow
