#include "CModeCondition.h"

#include <vector>

CModeRegistry& ModeRegistry() {
    static CModeRegistry registry;
    return registry;
}

void ForEachModeCondition(const std::u16string& layerID,
                          const std::function<void(CModeCondition&)>& operation) {
    auto it = ModeRegistry().find(layerID);
    if (it == ModeRegistry().end())
        return;
    // A report may make the program evaluate its layers; the set is copied so that nothing
    // the host does in between can pull it from under the loop.
    const std::vector<CModeCondition*> conditions(it->second.begin(), it->second.end());
    for (CModeCondition* condition : conditions)
        operation(*condition);
}

CModeCondition::CModeCondition(IQXConditionPluginContext* context) : CQXPluginInstance(context) {
    char16_t buffer[kQXTextCapacity] = {};
    context->GetLayerID(buffer);
    buffer[kQXTextCapacity - 1] = 0;
    m_layerID = buffer;
    ModeRegistry()[m_layerID].insert(this);
}

CModeCondition::~CModeCondition() {
    auto it = ModeRegistry().find(m_layerID);
    if (it != ModeRegistry().end()) {
        it->second.erase(this);
        if (it->second.empty())
            ModeRegistry().erase(it);
    }
}

void CModeCondition::ToggleMode() {
    m_counter = m_counter == 0 ? 1 : 0;
    context()->SetActive(m_counter);
}

void CModeCondition::PressMode() {
    ++m_counter;
    context()->SetActive(1);
}

void CModeCondition::ReleaseMode() {
    if (m_counter > 1) {
        --m_counter;
    } else if (m_counter == 1) {
        m_counter = 0;
        context()->SetActive(0);
    }
}
