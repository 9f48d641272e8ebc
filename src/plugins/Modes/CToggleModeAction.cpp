#include "CToggleModeAction.h"

#include "CModeCondition.h"
#include "CToggleModePropertiesFrame.h"

#include <QWidget>

CToggleModeAction::CToggleModeAction(IQXActionPluginContext* context) : CQXPluginInstance(context) {
    char16_t buffer[kQXTextCapacity] = {};
    if (context->GetProperty(u"LayerID", buffer)) {
        buffer[kQXTextCapacity - 1] = 0;
        m_layerID = buffer;
    }
}

CToggleModeAction::~CToggleModeAction() {
    delete m_page.data();
}

void CToggleModeAction::KeyDown() {
    // No layer chosen: nothing, also for the conditions of layers the program has not named.
    if (m_layerID.empty())
        return;
    ForEachModeCondition(m_layerID, [](CModeCondition& condition) { condition.ToggleMode(); });
}

QXWindowHandle CToggleModeAction::CreateGUI(QXWindowHandle parent) {
    if (m_page)
        return m_page.data();
    m_page = new CToggleModePropertiesFrame(*this, static_cast<QWidget*>(parent));
    m_page->show();
    return m_page.data();
}

QXBool CToggleModeAction::DestroyGUI() {
    if (!m_page)
        return 0;
    delete m_page.data();
    return 1;
}

void CToggleModeAction::SetLayerID(const std::u16string& layerID) {
    m_layerID = layerID;
    context()->SetProperty(u"LayerID", m_layerID.c_str());
}

void CToggleModeAction::FillLayers(std::vector<std::pair<std::u16string, std::u16string>>& layers) {
    layers.clear();
    for (const auto& [layerID, conditions] : ModeRegistry()) {
        // A layer without an identifier cannot be chosen: "(None)" stands for it.
        if (conditions.empty() || layerID.empty())
            continue;
        char16_t name[kQXTextCapacity] = {};
        (*conditions.begin())->context()->GetLayerName(name);
        name[kQXTextCapacity - 1] = 0;
        layers.emplace_back(name, layerID);
    }
}

void CActiveWhenPressModeAction::KeyDown() {
    if (m_layerID.empty())
        return;
    ForEachModeCondition(m_layerID, [](CModeCondition& condition) { condition.PressMode(); });
}

void CActiveWhenPressModeAction::KeyUp() {
    if (m_layerID.empty())
        return;
    ForEachModeCondition(m_layerID, [](CModeCondition& condition) { condition.ReleaseMode(); });
}
