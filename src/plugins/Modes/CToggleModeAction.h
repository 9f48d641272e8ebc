#pragma once

#include "kit/CQXPluginInstance.h"

#include <QPointer>
#include <string>
#include <utility>
#include <vector>

class CToggleModePropertiesFrame;

// What the toggle page asks of its action.
class IModesPluginViewProps {
public:
    // Stores the target layer ("LayerID"); empty means none.
    virtual void SetLayerID(const std::u16string& layerID) = 0;
    virtual std::u16string LayerID() const = 0;
    // (display name, identifier) of every layer holding a mode condition, ordered by
    // identifier.
    virtual void FillLayers(std::vector<std::pair<std::u16string, std::u16string>>& layers) = 0;

protected:
    ~IModesPluginViewProps() = default;
};

// A key that flips the mode conditions of one layer on every press.
class CToggleModeAction : public CQXPluginInstance<IQXActionPluginInstance>,
                          public IQXPluginGUIController,
                          public IModesPluginViewProps {
public:
    explicit CToggleModeAction(IQXActionPluginContext* context);
    ~CToggleModeAction() override;

    IQXPluginGUIController* GetGUIController() override { return this; }
    void KeyDown() override;
    void KeyUp() override {}

    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override;

    void SetLayerID(const std::u16string& layerID) override;
    std::u16string LayerID() const override { return m_layerID; }
    void FillLayers(std::vector<std::pair<std::u16string, std::u16string>>& layers) override;

protected:
    std::u16string m_layerID;

private:
    QPointer<CToggleModePropertiesFrame> m_page;
};

// A key that holds the mode conditions of one layer active while it is down. With several
// such keys the layer stays active until the last of them is released.
class CActiveWhenPressModeAction : public CToggleModeAction {
public:
    using CToggleModeAction::CToggleModeAction;

    void KeyDown() override;
    void KeyUp() override;
};
