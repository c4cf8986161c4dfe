#include "engine/KeyValueStore.h"

namespace vesperine {

StoreOutcome KeyValueStore::change(const StoreChange& change) {
    StoreOutcome outcome = change.text ? setValue(change.key, *change.text) : remove(change.key);
    if (outcome.stored && change.whileLocked) {
        change.whileLocked();
    }
    return outcome;
}

std::optional<std::string> InMemoryStore::value(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

StoreOutcome InMemoryStore::setValue(std::string_view key, std::string_view text) {
    values_.insert_or_assign(std::string(key), std::string(text));
    return StoreOutcome::ok();
}

StoreOutcome InMemoryStore::remove(std::string_view key) {
    auto it = values_.find(key);
    if (it != values_.end()) {
        values_.erase(it);
    }
    return StoreOutcome::ok();
}

}  // namespace vesperine
