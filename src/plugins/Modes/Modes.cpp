// The library's exports. The sub-plugin identifiers are told apart by their beginnings
// alone: "textmode..." makes a text-mode condition and any other condition identifier a
// mode condition; "press..." makes a hold action and any other action identifier a toggle.

#include "CModeCondition.h"
#include "CTextModeCondition.h"
#include "CToggleModeAction.h"

#include <string_view>

namespace {

bool startsWith(const char16_t* id, std::u16string_view prefix) {
    return std::u16string_view(id).starts_with(prefix);
}

template <typename Call> auto guarded(Call&& call) -> decltype(call()) {
    // Nothing is thrown across the library boundary.
    try {
        return call();
    } catch (...) {
        return nullptr;
    }
}

} // namespace

QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* id,
                                                       IQXActionPluginContext* context) {
    if (!id || !context)
        return nullptr;
    return guarded([&]() -> IQXActionPluginInstance* {
        if (startsWith(id, u"press"))
            return new CActiveWhenPressModeAction(context);
        return new CToggleModeAction(context);
    });
}

QX_PLUGIN_EXPORT IQXConditionPluginInstance* createCondition(const char16_t* id,
                                                             IQXConditionPluginContext* context) {
    if (!id || !context)
        return nullptr;
    return guarded([&]() -> IQXConditionPluginInstance* {
        if (startsWith(id, u"textmode"))
            return new CTextModeCondition(context);
        return new CModeCondition(context);
    });
}

static_assert(std::is_same_v<decltype(&createAction), QXCreateActionFunction>);
static_assert(std::is_same_v<decltype(&createCondition), QXCreateConditionFunction>);
