#pragma once

#include "store/QXPropertyNode.h"

#include <mutex>
#include <optional>
#include <span>
#include <string>

class QXCondition;
class QXLayersItem;

// What the layer model knows of a plug-in assignment: which plug-in and sub-plugin it
// stands for, the key it sits on and its "PluginProperties". The plug-in host derives
// its live instances from these classes; the model's own objects are inert: they do
// nothing when used and save back exactly what they read, so a profile naming a
// plug-in that is not installed loses nothing.
class QXKeyPluginInstance {
public:
    QXKeyPluginInstance() = default;
    virtual ~QXKeyPluginInstance() = default;
    QXKeyPluginInstance(const QXKeyPluginInstance&) = delete;
    QXKeyPluginInstance& operator=(const QXKeyPluginInstance&) = delete;

    const std::u16string& pluginId() const { return m_pluginId; }
    const std::u16string& subPluginId() const { return m_subPluginId; }
    void setIds(std::u16string pluginId, std::u16string subPluginId);

    // Key index 0 to 112 of the key the instance sits on; -1 for conditions.
    int keyIndex() const { return m_keyIndex; }
    virtual void setKeyIndex(int keyIndex) { m_keyIndex = keyIndex; }

    // The "PluginProperties" node of the loaded document itself (may be empty), so an
    // edit made through it reaches the next save. A plug-in may write it from any of
    // its threads: read it directly only on the GUI thread while no plug-in runs, and
    // use property() and setProperty() everywhere else.
    QXPropertyNode::Ptr pluginProperties() const;
    void setPluginProperties(QXPropertyNode::Ptr properties);
    // The value of one property; nothing when there is no such entry or no dictionary
    // yet. Any thread.
    std::optional<std::u16string> property(std::u16string_view name) const;
    // Sets one property, replacing an entry of the same name; the dictionary is created
    // (named "PluginProperties") on first use. Any thread.
    void setProperty(std::u16string_view name, std::u16string_view value);

    // The layer, or for a condition the layer or group, that holds the instance. The
    // item tells the instance when it stores it and when it lets go of it (removed,
    // replaced or the item destroyed), always on the GUI thread; the pointer is only for
    // that thread. Overriders call the base.
    const QXLayersItem* holder() const { return m_holder; }
    virtual void setHolder(const QXLayersItem* holder);
    // Lets go only when this item is still the holder (the instance may have moved).
    void forgetHolder(const QXLayersItem* holder) {
        if (m_holder == holder)
            setHolder(nullptr);
    }
    // Copies of the holder's identifier and display name (empty without a holder),
    // taken when it told the instance last; any thread.
    std::u16string holderId() const;
    std::u16string holderName() const;

    // Reads "PluginID" and "SubPluginID" and takes the "PluginProperties" child.
    void loadFrom(const QXPropertyNode& node);
    // Writes "PluginID" and "SubPluginID" and, when there is one, a copy of the property
    // dictionary as "PluginProperties" (replacing a child of that name). The copy is taken
    // under the lock the plug-in's writes take, so the document being written never
    // changes under the writer.
    void saveTo(QXPropertyNode& node) const;

private:
    std::u16string m_pluginId;
    std::u16string m_subPluginId;
    int m_keyIndex = -1;
    const QXLayersItem* m_holder = nullptr;
    mutable std::mutex m_mutex; // guards the three below and the entries of m_properties
    QXPropertyNode::Ptr m_properties;
    std::u16string m_holderId;
    std::u16string m_holderName;
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

    // The picture the view published last, as the keyboard takes it: 48 rows of 144
    // bytes, bottom row first, blue-green-red. False, with nothing copied, while the view
    // is not shown (an inert view never is). GUI thread.
    static constexpr size_t kImageBytes = 48 * 48 * 3;
    virtual bool copyImage(std::span<unsigned char, kImageBytes> out) const {
        (void)out;
        return false;
    }
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
