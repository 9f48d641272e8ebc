#pragma once

#include "editor/QXConditionChoices.h"
#include "model/QXLayersItem.h"

#include <QGroupBox>
#include <vector>

class QMenu;
class QPushButton;
class QXDispatch;
class QXLayersController;
class QXPluginRegistry;

// The framed "Conditions" panel: the conditions of the one layer item selected in the
// layers controller, one row each, with a "+" button to add one of any kind and a
// remove button per row. Rows are rebuilt on every selection change (2034); every edit
// goes through a QXSingleParamOperation and the controller evaluates the item again.
//
// Row n spans y = 23n + 23 to 23n + 46. The row controls carry identifiers from 3001 in
// creation order as object names; the "+" button is "3000" and its menu entries "3102"
// to "3105", then the condition plug-ins from "3107" in registry order.
class CQXConditionsView : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kRowPitch = 23;
    static constexpr int kFirstControlId = 3001;
    static constexpr int kLastControlId = 3101;

    // Control kinds; a check box is kCheckBox plus its bit.
    enum Kind { kRemove = 2, kLanguage = 3, kApplication = 4, kPredicate = 5, kCheckBox = 7 };

    CQXConditionsView(QXLayersController& controller, QXConditionChoices& choices,
                      QXPluginRegistry& registry, QWidget* parent = nullptr);
    CQXConditionsView(QXLayersController& controller, QXConditionChoices& choices,
                      QXPluginRegistry& registry, QXDispatch& dispatch, QWidget* parent = nullptr);
    ~CQXConditionsView() override;

    // The item being edited; empty unless exactly one item is selected.
    const QXLayersItem::Ptr& item() const { return m_item; }
    // The add menu as the "+" button opens it (rebuilt each time).
    QMenu* addMenu();
    // Adds a condition as the add-menu entry with this identifier does.
    void addCondition(int commandId);
    // The row controls in creation order.
    struct RowControl {
        int kind;
        QXPtr<QXCondition> condition;
        QWidget* widget;
    };
    const std::vector<RowControl>& rowControls() const { return m_controls; }

    // 2034: the layer tree selected other items.
    void onLayerSelected();

    // The check-box order of each mask kind, and the names of the mask bits.
    static const std::vector<uint32_t>& modifierBits();
    static const std::vector<uint32_t>& lockBits();
    static QString bitName(uint32_t bit);
    // "Main" for no bits, else the names of the set bits from the lowest up joined by "+".
    static QString maskName(uint32_t mask);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // One widget of a row: a fixed width, or a share of the room the fixed ones leave.
    struct Cell {
        QWidget* widget;
        int width;  // > 0: fixed
        int weight; // used when width is 0
    };
    struct Row {
        QXPtr<QXCondition> condition;
        std::vector<Cell> cells;
        QPushButton* remove = nullptr;
    };

    void clearRows();
    void buildRows();
    void addRow(const QXPtr<QXCondition>& condition);
    void layoutRows();
    void layoutRow(int index);
    QWidget* addControl(int kind, const QXPtr<QXCondition>& condition, QWidget* widget);
    void addMaskRow(Row& row, const QString& label, const std::vector<uint32_t>& bits);
    void addPluginRow(Row& row);
    void removeCondition(const QXPtr<QXCondition>& condition);
    void edited();

    QXLayersController& m_controller;
    QXConditionChoices& m_choices;
    QXPluginRegistry& m_registry;
    QXDispatch& m_dispatch;
    QPushButton* m_addButton = nullptr;
    QMenu* m_addMenu = nullptr;
    QXLayersItem::Ptr m_item;
    bool m_editable = false;
    std::vector<Row> m_rows;
    std::vector<RowControl> m_controls;
};
