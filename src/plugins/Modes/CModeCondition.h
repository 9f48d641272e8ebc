#pragma once

#include "kit/CQXPluginInstance.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

// A condition switched by the toggle and hold actions of this library. It knows the layer
// holding it (asked once, when it is made) and registers itself under that layer's
// identifier, so an action naming the layer reaches every mode condition in it.
//
// The counter counts the hold keys down for the layer; a toggle sets it to 1 or 0. GUI
// thread only, as are the registry and the actions.
class CModeCondition : public CQXPluginInstance<IQXConditionPluginInstance> {
public:
    explicit CModeCondition(IQXConditionPluginContext* context);
    ~CModeCondition() override;

    // 0 becomes 1 and anything else 0; the new counter is reported.
    void ToggleMode();
    // One more hold key is down: the condition is active.
    void PressMode();
    // One hold key less: the condition goes off when the last one is released; a release
    // without a press does nothing.
    void ReleaseMode();

    const std::u16string& layerID() const { return m_layerID; }
    int32_t counter() const { return m_counter; }

private:
    int32_t m_counter = 0;
    std::u16string m_layerID;
};

// The live mode conditions of the process, by the identifier of their layer (exact text
// comparison), each set ordered by address. An entry goes when its last condition goes.
using CModeRegistry = std::map<std::u16string, std::set<CModeCondition*>>;
CModeRegistry& ModeRegistry();

// Applies operation to every mode condition of layerID, in registry order; nothing happens
// when the layer holds none.
void ForEachModeCondition(const std::u16string& layerID,
                          const std::function<void(CModeCondition&)>& operation);
