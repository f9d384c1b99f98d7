#include "core/PluginId.hpp"

#include "core/Pattern.hpp"

namespace PluginId {

bool isValid(std::string_view id) {
    static const Pattern rule("^[a-z][a-z0-9-]{1,39}$");
    return rule.matchesWhole(id);
}

}  // namespace PluginId
