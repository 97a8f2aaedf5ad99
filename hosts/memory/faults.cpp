#include "hosts/memory/memory_host.h"

namespace skerrow::memory {

void Faults::failOnce(const std::string& operation) {
    rules_.emplace(operation, Rule{true, std::nullopt});
}

void Faults::failAlways(const std::string& operation) {
    rules_.emplace(operation, Rule{false, std::nullopt});
}

void Faults::failAlwaysFor(const std::string& operation, const std::string& key) {
    rules_.emplace(operation, Rule{false, key});
}

void Faults::clear(const std::string& operation) {
    rules_.erase(operation);
}

void Faults::clearAll() {
    rules_.clear();
}

void Faults::checkSet(std::string_view operation, std::string_view key) {
    if (counting_) {
        auto counted = calls_.find(operation);
        if (counted == calls_.end())
            counted = calls_.emplace(std::string(operation), 0).first;
        ++counted->second;
    }
    if (rules_.empty())
        return;
    auto [first, last] = rules_.equal_range(operation);
    for (auto rule = first; rule != last; ++rule) {
        if (rule->second.key && *rule->second.key != key)
            continue;
        if (rule->second.once)
            rules_.erase(rule);
        throw host::HostError(std::string(operation) + " failed" +
                              (key.empty() ? std::string() : " for " + std::string(key)));
    }
}

int Faults::calls(const std::string& operation) const {
    auto found = calls_.find(operation);
    return found == calls_.end() ? 0 : found->second;
}

} // namespace skerrow::memory
