#pragma once

#include "editor/QXKeyPropsContext.h"
#include "pluginhost/QXPluginEntry.h"

#include <QGroupBox>
#include <string>
#include <vector>

class QAbstractButton;
class QHBoxLayout;
class QMenu;
class QPushButton;
class QToolButton;
class QVBoxLayout;

// What the display and the action panels share: the button (1631) that names the plug-in
// of the panel's kind on the selected keys and opens the menu of every view or action
// the registry offers (entries "1632" on, in registry order), the chain toggle (1072)
// that makes a choice on one side also choose the paired default on the other, and file
// drops. Reloads on 2038; after a change it sends 2039 and emits edited().
class CQXCommonPluginProps : public QGroupBox {
    Q_OBJECT
public:
    enum Kind { kViews, kActions };
    static constexpr int kSelectId = 1631;
    static constexpr int kFirstPluginId = 1632;
    static constexpr int kChainId = 1072;

    // Without a chain the panel makes one beside its button; the other panel of the pair
    // is given that one, so both follow a single toggle.
    CQXCommonPluginProps(Kind kind, const QString& caption, QXKeyPropsContext& context,
                         QAbstractButton* chain, QWidget* parent);
    ~CQXCommonPluginProps() override;

    Kind kind() const { return m_kind; }
    QPushButton* selectButton() const { return m_select; }
    QAbstractButton* chain() const { return m_chain; }
    // The other panel, which a chained choice reaches.
    void setPartner(CQXCommonPluginProps* partner) { m_partner = partner; }

    // The plug-in menu, rebuilt from the registry.
    QMenu* pluginMenu();
    // What the menu entry with this identifier does; false for an unknown entry or when
    // the plug-in makes no instance.
    bool choose(int commandId);
    // Gives every selected key a new instance of the plug-in's view or action; with
    // follow and the chain on, the partner gives them the paired default too.
    bool assign(const QXPluginEntry::Ptr& plugin, std::u16string_view subId, bool follow);

    // Reads the selected keys again (2038 and after edits).
    virtual void reload();
    // Files dropped on the panel, in drop order.
    virtual bool takeFiles(const QStringList& paths);

signals:
    void edited();

protected:
    // The instance of the panel's kind on a button; null when it has none.
    QXKeyPluginInstance* instanceOf(const QXButton& button) const;
    // Announces a change: stacks, 2039, edited().
    void changed();

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    QXKeyPropsContext& m_context;
    QVBoxLayout* m_body = nullptr; // the panel's rows; the button row comes first
    QHBoxLayout* m_topRow = nullptr;

private:
    struct Choice {
        QXPluginEntry::Ptr plugin;
        std::u16string subId;
        QString name;
    };
    std::vector<Choice> choices() const;
    QString nameOf(const QXKeyPluginInstance& instance) const;

    Kind m_kind;
    QPushButton* m_select = nullptr;
    QAbstractButton* m_chain = nullptr;
    QMenu* m_menu = nullptr;
    CQXCommonPluginProps* m_partner = nullptr;
};
