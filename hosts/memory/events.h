// Event plumbing of the memory host: a handler list owned by the event's
// source and connections that take their own handler out when dropped.
#pragma once

#include "addin/host/host.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace skerrow::memory::events {

template <class Handler>
using HandlerList = std::vector<std::shared_ptr<Handler>>;

template <class Handler>
using SharedHandlers = std::shared_ptr<HandlerList<Handler>>;

template <class Handler>
SharedHandlers<Handler> makeHandlers() {
    return std::make_shared<HandlerList<Handler>>();
}

// Holds the list weakly: the source (and the whole host) may go first.
template <class Handler>
class ListConnection : public host::EventConnection {
public:
    ListConnection(const SharedHandlers<Handler>& list, std::shared_ptr<Handler> handler)
        : list_(list), handler_(std::move(handler)) {}
    ~ListConnection() override {
        if (auto list = list_.lock())
            std::erase(*list, handler_);
    }

private:
    std::weak_ptr<HandlerList<Handler>> list_;
    std::shared_ptr<Handler> handler_;
};

template <class Handler>
host::Subscription subscribe(const SharedHandlers<Handler>& list, Handler handler) {
    auto entry = std::make_shared<Handler>(std::move(handler));
    list->push_back(entry);
    return std::make_unique<ListConnection<Handler>>(list, entry);
}

// Calls run(handler) for each handler subscribed when the event starts.
// Handlers may subscribe or unsubscribe while it runs: one dropped by an
// earlier handler is no longer called, as a COM source skips unadvised sinks.
// The list is taken by value so that it outlives a source destroyed midway.
template <class Handler, class Run>
void raise(SharedHandlers<Handler> list, Run run) {
    const HandlerList<Handler> snapshot = *list;
    for (const auto& handler : snapshot) {
        if (std::find(list->begin(), list->end(), handler) == list->end())
            continue;
        run(*handler);
    }
}

} // namespace skerrow::memory::events
