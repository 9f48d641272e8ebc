#pragma once

#include "store/QXPropertyNode.h"

#include <string>

class QXCondition;

// What the layer model knows of a plug-in assignment: which plug-in and sub-plugin it
// stands for, the key it sits on and its "PluginProperties". The plug-in host derives
// its live instances from these classes; the model's own objects are inert: they do
// nothing when used and save back exactly what they read, so a profile naming a
// plug-in that is not installed loses nothing.
class QXKeyPluginInstance {
public:
    virtual ~QXKeyPluginInstance() = default;

    const std::u16string& pluginId() const { return m_pluginId; }
    const std::u16string& subPluginId() const { return m_subPluginId; }
    void setIds(std::u16string pluginId, std::u16string subPluginId);

    // Key index 0 to 112 of the key the instance sits on; -1 for conditions.
    int keyIndex() const { return m_keyIndex; }
    virtual void setKeyIndex(int keyIndex) { m_keyIndex = keyIndex; }

    // The "PluginProperties" node of the loaded document itself (may be empty), so an
    // edit made through it reaches the next save.
    const QXPropertyNode::Ptr& pluginProperties() const { return m_properties; }
    void setPluginProperties(QXPropertyNode::Ptr properties) { m_properties = std::move(properties); }

    // Reads "PluginID" and "SubPluginID" and takes the "PluginProperties" child.
    void loadFrom(const QXPropertyNode& node);
    // Writes "PluginID" and "SubPluginID" and, when there is one, the property node as
    // "PluginProperties" (replacing a child of that name).
    void saveTo(QXPropertyNode& node) const;

private:
    std::u16string m_pluginId;
    std::u16string m_subPluginId;
    int m_keyIndex = -1;
    QXPropertyNode::Ptr m_properties;
};

// A view on a key: draws the key's display while its button wins the key.
class QXKeyViewInstance : public QXKeyPluginInstance, public QXTypes<QXKeyViewInstance> {
public:
    using Ptr = QXTypes<QXKeyViewInstance>::Ptr;

    // The layer holding the button became active (start) or inactive (stop).
    virtual void start() {}
    virtual void stop() {}
    // The button became the winner of its key (show) or lost it (hide).
    virtual void show() {}
    virtual void hide() {}
    virtual bool isShown() const { return false; }
};

// An action on a key: runs when the key is pressed while its button wins the key.
class QXKeyActionInstance : public QXKeyPluginInstance, public QXTypes<QXKeyActionInstance> {
public:
    using Ptr = QXTypes<QXKeyActionInstance>::Ptr;

    virtual void start() {}
    virtual void stop() {}
    // state 1 is a press, anything else a release. Instances remember whether they
    // are pressed, so a release without a press does nothing.
    virtual void keyEvent(int keyIndex, int state) {
        (void)keyIndex;
        (void)state;
    }
    virtual bool isPressed() const { return false; }
};

// Makes the instances named in a profile. The plug-in host installs one that makes
// live instances; the default one makes the inert model objects above.
class QXPluginInstanceFactory {
public:
    virtual ~QXPluginInstanceFactory() = default;

    // From a "ViewPlugin" or "ActionPlugin" dictionary.
    virtual QXKeyViewInstance::Ptr createView(const QXPropertyNode& stored);
    virtual QXKeyActionInstance::Ptr createAction(const QXPropertyNode& stored);
    // From a condition entry whose "Type" is "plugin".
    virtual QXPtr<QXCondition> createPluginCondition(const QXPropertyNode& stored);

    // The factory in use; never null. setCurrent(nullptr) restores the default. The
    // caller keeps the factory alive while it is current.
    static QXPluginInstanceFactory& current();
    static void setCurrent(QXPluginInstanceFactory* factory);
};
