#pragma once

#include <iosfwd>

namespace skerrow::app {

// A Check Spam pass on the in-memory client, printed step by step. It
// touches no file of the user's.
int runDemo(std::ostream& out);

} // namespace skerrow::app
