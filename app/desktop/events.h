// Host events as the desktop program raises them: subscriber lists that a
// dropped subscription leaves at once, and a log of the failures that the
// add-in's handlers pass back.
#pragma once

#include "addin/host/host.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace skerrow::desktop {

// The add-in's handlers may throw (a failed step of the automatic check
// passes its failure back as the event's result); the host notes it and
// goes on, as Outlook ignores a failed event sink.
class EventLog {
public:
    template <typename Call>
    void deliver(const char* event, Call&& call) noexcept {
        try {
            call();
        } catch (const std::exception& e) {
            record(std::string(event) + ": " + e.what());
        } catch (...) {
            record(std::string(event) + ": unknown failure");
        }
    }
    void record(std::string failure) { failures_.push_back(std::move(failure)); }
    const std::vector<std::string>& failures() const { return failures_; }

private:
    std::vector<std::string> failures_;
};

template <typename Handler>
class HandlerList {
public:
    host::Subscription add(Handler handler) {
        auto entry = std::make_shared<Handler>(std::move(handler));
        list_->push_back(entry);
        return std::make_unique<Connection>(list_, std::move(entry));
    }

    // Calls every handler subscribed at the start that is still subscribed
    // when its turn comes: a handler may drop its own or another's.
    template <typename Call>
    void each(Call&& call) {
        const auto snapshot = *list_;
        for (const auto& handler : snapshot)
            if (std::find(list_->begin(), list_->end(), handler) != list_->end())
                call(*handler);
    }

    std::size_t size() const { return list_->size(); }

private:
    using List = std::vector<std::shared_ptr<Handler>>;
    class Connection : public host::EventConnection {
    public:
        Connection(const std::shared_ptr<List>& list, std::shared_ptr<Handler> handler)
            : list_(list), handler_(std::move(handler)) {}
        ~Connection() override {
            if (auto list = list_.lock())
                std::erase(*list, handler_);
        }

    private:
        std::weak_ptr<List> list_;
        std::shared_ptr<Handler> handler_;
    };

    std::shared_ptr<List> list_ = std::make_shared<List>();
};

} // namespace skerrow::desktop
