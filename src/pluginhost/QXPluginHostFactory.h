#pragma once

#include "model/QXKeyPluginInstance.h"
#include "pluginhost/QXActionPluginInstance.h"
#include "pluginhost/QXConditionPluginInstance.h"
#include "pluginhost/QXPluginRegistry.h"
#include "pluginhost/QXViewPluginInstance.h"

#include <string_view>

// Makes live host instances for the layer model. The program installs one with
// QXPluginInstanceFactory::setCurrent before it reads the profile. GUI thread.
class QXPluginHostFactory : public QXPluginInstanceFactory {
public:
    // The instances made look their plug-in up in this registry when they are first
    // attached, so it must stay as long as that can happen.
    explicit QXPluginHostFactory(QXPluginRegistry& registry = QXPluginRegistry::instance());

    // From a stored "ViewPlugin", "ActionPlugin" or plugin condition dictionary. The
    // object is made whether or not its plug-in is installed, so the assignment is kept
    // and saved back as read; the plug-in is looked up when the instance is first made.
    QXKeyViewInstance::Ptr createView(const QXPropertyNode& stored) override;
    QXKeyActionInstance::Ptr createAction(const QXPropertyNode& stored) override;
    QXPtr<QXCondition> createPluginCondition(const QXPropertyNode& stored) override;

    // For a new assignment chosen in the editor: only when the plug-in's library loads
    // and exports the matching factory; empty otherwise. The caller stores it in a
    // layer (setView, setAction, addCondition), which starts it when the layer is active.
    QXPtr<QXViewPluginInstance> newView(const QXPluginEntry::Ptr& plugin,
                                        std::u16string_view subPluginId, int keyIndex);
    QXPtr<QXActionPluginInstance> newAction(const QXPluginEntry::Ptr& plugin,
                                            std::u16string_view subPluginId, int keyIndex);
    QXPtr<QXConditionPluginInstance> newCondition(const QXPluginEntry::Ptr& plugin,
                                                  std::u16string_view subPluginId);

private:
    QXPluginRegistry& m_registry;
};
