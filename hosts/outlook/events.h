// Events of the mail client through connection points: a small IDispatch
// sink answers one event interface and runs a handler for one member.
#pragma once

#include "addin/host/host.h"
#include "hosts/outlook/dispatch.h"

#include <atomic>
#include <functional>
#include <vector>

namespace skerrow::outlook {

// The event's arguments as Invoke passes them, first argument first.
using EventArguments = std::vector<VARIANT*>;
using SinkHandler = std::function<void(const EventArguments&)>;

// Advises a sink on the source's connection point for events; dropping the
// result unadvises it. The handler runs for member dispid only; a handler
// that throws makes the event's Invoke fail with the error's result.
// Throws ComError when the source has no such connection point.
host::Subscription subscribe(const Dispatch& source, const IID& events, DISPID dispid, SinkHandler handler);

// Sinks still held by an event source: the module that holds their code
// must stay loaded while there are any.
long liveSinks();

} // namespace skerrow::outlook
