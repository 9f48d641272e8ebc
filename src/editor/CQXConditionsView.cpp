#include "editor/CQXConditionsView.h"

#include "editor/CQXConditionComboBoxes.h"
#include "editor/QXSingleParamOperation.h"
#include "model/QXLayersController.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXConditionPluginInstance.h"
#include "pluginhost/QXPluginRegistry.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>

namespace {

constexpr int kButtonSize = 22;
constexpr int kLeft = 6;  // inside the frame
constexpr int kRight = 3; // from the right edge of the view to the buttons
constexpr int kGap = 4;   // between the cells of a row
constexpr int kApplicationCommand = 3102;
constexpr int kLanguageCommand = 3103;
constexpr int kModifierCommand = 3104;
constexpr int kLockCommand = 3105;
constexpr int kFirstPluginCommand = 3107;

const QString kMinus = QString(QChar(0x2212));

// The plug-in condition an add-menu identifier from 3107 stands for.
struct PluginChoice {
    std::u16string pluginId;
    std::u16string conditionId;
    std::u16string displayName;
};

std::vector<PluginChoice> pluginChoices(const QXPluginRegistry& registry) {
    std::vector<PluginChoice> result;
    for (const QXPluginEntry::Ptr& plugin : registry.plugins())
        for (const QXConditionEntry& condition : plugin->conditions())
            result.push_back(
                {plugin->id(), condition.id,
                 condition.displayName.empty() ? condition.id : condition.displayName});
    return result;
}

} // namespace

CQXConditionsView::CQXConditionsView(QXLayersController& controller, QXConditionChoices& choices,
                                     QXPluginRegistry& registry, QWidget* parent)
    : CQXConditionsView(controller, choices, registry, QXDispatch::current(), parent) {}

CQXConditionsView::CQXConditionsView(QXLayersController& controller, QXConditionChoices& choices,
                                     QXPluginRegistry& registry, QXDispatch& dispatch,
                                     QWidget* parent)
    : QGroupBox(QStringLiteral("Conditions"), parent), m_controller(controller), m_choices(choices),
      m_registry(registry), m_dispatch(dispatch) {
    setAccessibleName(QStringLiteral("Conditions"));
    m_addButton = new QPushButton(QStringLiteral("+"), this);
    m_addButton->setObjectName(QStringLiteral("3000"));
    m_addButton->setAccessibleName(QStringLiteral("Add condition"));
    m_addButton->setFixedSize(kButtonSize, kButtonSize);
    m_addMenu = new QMenu(this);
    m_addMenu->setAccessibleName(QStringLiteral("Add condition"));
    connect(m_addButton, &QPushButton::clicked, this, [this] {
        addMenu()->popup(m_addButton->mapToGlobal(QPoint(0, m_addButton->height())));
    });
    m_dispatch.RegisterHandler(QXM_LAYER_SELECTED, this, &CQXConditionsView::onLayerSelected);
    onLayerSelected();
}

CQXConditionsView::~CQXConditionsView() {
    m_dispatch.UnregisterObject(this);
    clearRows();
}

// ---- names ---------------------------------------------------------------------------

const std::vector<uint32_t>& CQXConditionsView::modifierBits() {
    static const std::vector<uint32_t> bits{QXModifier::kShift, QXModifier::kAlt, QXModifier::kCtrl,
                                            QXModifier::kWindows};
    return bits;
}

const std::vector<uint32_t>& CQXConditionsView::lockBits() {
    static const std::vector<uint32_t> bits{QXModifier::kCapsLock, QXModifier::kNumLock,
                                            QXModifier::kScrollLock, QXModifier::kKana};
    return bits;
}

QString CQXConditionsView::bitName(uint32_t bit) {
    static const char* const names[] = {"Alt",  "Ctrl", "Shift", "Win",
                                        "Caps", "Kana", "Num",   "Scroll"};
    for (int i = 0; i < 8; ++i)
        if (bit == (1u << i))
            return QString::fromLatin1(names[i]);
    return {};
}

QString CQXConditionsView::maskName(uint32_t mask) {
    QStringList parts;
    for (int i = 0; i < 8; ++i)
        if (mask & (1u << i))
            parts << bitName(1u << i);
    return parts.isEmpty() ? QStringLiteral("Main") : parts.join(QLatin1Char('+'));
}

// ---- selection -----------------------------------------------------------------------

void CQXConditionsView::onLayerSelected() {
    clearRows();
    m_item = {};
    const QXItemList& selected = m_controller.selectedItems();
    if (selected.size() > 1) {
        setTitle(QStringLiteral("(multiple selection)"));
        m_editable = false;
    } else if (selected.size() == 1) {
        m_item = selected.front();
        m_editable = !m_item->hasFlag(QXLayersItem::kFixed);
        setTitle(m_item->conditions().empty() ? QStringLiteral("Conditions: use inherited")
                                              : QStringLiteral("Conditions"));
        buildRows();
    } else {
        setTitle(QStringLiteral("Conditions"));
        m_editable = false;
    }
    m_addButton->setEnabled(m_item && m_editable);
}

void CQXConditionsView::clearRows() {
    for (Row& row : m_rows) {
        if (row.condition && row.condition->type() == u"plugin")
            if (auto plugin = row.condition.dynamicCast<QXConditionPluginInstance>())
                plugin->hidePropertyPage(); // the plug-in lets go of its page first
        for (const Cell& cell : row.cells) {
            // A remove button may be the sender of the click being handled now.
            cell.widget->hide();
            cell.widget->setObjectName(QString());
            cell.widget->deleteLater();
        }
        row.remove->hide();
        row.remove->setObjectName(QString());
        row.remove->deleteLater();
    }
    m_rows.clear();
    m_controls.clear();
}

void CQXConditionsView::buildRows() {
    for (const QXPtr<QXCondition>& condition : m_item->conditions())
        if (condition && condition->type() != u"sys_condition")
            addRow(condition);
    layoutRows();
}

// ---- rows ----------------------------------------------------------------------------

QWidget* CQXConditionsView::addControl(int kind, const QXPtr<QXCondition>& condition,
                                       QWidget* widget) {
    const int id = kFirstControlId + static_cast<int>(m_controls.size());
    if (id <= kLastControlId)
        widget->setObjectName(QString::number(id));
    widget->setEnabled(m_editable);
    widget->show();
    m_controls.push_back({kind, condition, widget});
    return widget;
}

void CQXConditionsView::addRow(const QXPtr<QXCondition>& condition) {
    Row row;
    row.condition = condition;
    const std::u16string& type = condition->type();
    // The kind decides the row; a condition whose class does not match its kind gets the
    // row that only names it.
    auto application = condition.dynamicCast<QXApplicationCondition>();
    auto language = condition.dynamicCast<QXSysLayoutCondition>();
    auto mask = condition.dynamicCast<QXModifierCondition>();
    if (type == u"application" && application) {
        auto* list = new CQXApplicationsComboBox(m_choices, application->application(), this);
        addControl(kApplication, condition, list);
        connect(list, &CQXApplicationsComboBox::applicationChosen, this,
                [this, application](const std::u16string& name) {
                    makeSingleParamOperation(application, &QXApplicationCondition::setApplication,
                                             name)
                        .execute();
                    edited();
                });
        auto* predicate = new QComboBox(this);
        predicate->setAccessibleName(QStringLiteral("Application state"));
        predicate->addItem(QStringLiteral("is active"));
        predicate->addItem(QStringLiteral("is running"));
        predicate->setCurrentIndex(application->foreground() ? 0 : 1);
        addControl(kPredicate, condition, predicate);
        connect(predicate, &QComboBox::activated, this, [this, application](int index) {
            makeSingleParamOperation(application, &QXApplicationCondition::setForeground,
                                     index == 0)
                .execute();
            edited();
        });
        row.cells = {{list, 0, 3}, {predicate, 0, 2}};
    } else if (type == u"language" && language) {
        auto* label = new QLabel(QStringLiteral("Language is"), this);
        label->setEnabled(m_editable);
        label->show();
        auto* list = new CQXLanguagesComboBox(m_choices, language->layout(), this);
        addControl(kLanguage, condition, list);
        connect(list, &CQXLanguagesComboBox::layoutChosen, this, [this, language](uint32_t layout) {
            makeSingleParamOperation(language, &QXSysLayoutCondition::setLayout, layout).execute();
            edited();
        });
        row.cells = {{label, label->fontMetrics().horizontalAdvance(label->text()), 0},
                     {list, 0, 1}};
    } else if (type == u"modifier" && mask) {
        addMaskRow(row, QStringLiteral("Modifier is"), modifierBits());
    } else if (type == u"lock" && mask) {
        addMaskRow(row, QStringLiteral("Lock is"), lockBits());
    } else {
        addPluginRow(row);
    }

    row.remove = new QPushButton(kMinus, this);
    row.remove->setAccessibleName(QStringLiteral("Remove condition"));
    row.remove->setFixedSize(kButtonSize, kButtonSize);
    addControl(kRemove, condition, row.remove);
    connect(row.remove, &QPushButton::clicked, this,
            [this, condition] { removeCondition(condition); });
    m_rows.push_back(std::move(row));
}

void CQXConditionsView::addMaskRow(Row& row, const QString& caption,
                                   const std::vector<uint32_t>& bits) {
    auto condition = row.condition.dynamicCast<QXModifierCondition>();
    auto* label = new QLabel(caption, this);
    label->setEnabled(m_editable);
    label->show();
    row.cells.push_back({label, label->fontMetrics().horizontalAdvance(caption), 0});
    for (uint32_t bit : bits) {
        auto* box = new QCheckBox(bitName(bit), this);
        box->setAccessibleName(caption + QLatin1Char(' ') + bitName(bit));
        box->setChecked((condition->mask() & bit) == bit);
        addControl(kCheckBox + static_cast<int>(bit), row.condition, box);
        connect(box, &QCheckBox::toggled, this, [this, condition, bit](bool on) {
            const uint32_t mask = on ? (condition->mask() | bit) : (condition->mask() & ~bit);
            makeSingleParamOperation(condition, &QXModifierCondition::setMask, mask).execute();
            edited();
        });
        row.cells.push_back({box, box->fontMetrics().horizontalAdvance(box->text()) + 23, 0});
    }
}

void CQXConditionsView::addPluginRow(Row& row) {
    // The plug-in's page gets the row's band; without one the row names the condition.
    auto* band = new QWidget(this);
    band->setAccessibleName(QStringLiteral("Plug-in condition"));
    band->setEnabled(m_editable);
    band->show();
    row.cells.push_back({band, 0, 1});
    auto plugin = row.condition.dynamicCast<QXConditionPluginInstance>();
    QXWindowHandle page = plugin ? plugin->showPropertyPage(band) : nullptr;
    // The handle is only trusted as a widget when it is one of the band's own children.
    QWidget* pageWidget = nullptr;
    for (QObject* child : band->children())
        if (child == page && child->isWidgetType())
            pageWidget = static_cast<QWidget*>(child);
    if (pageWidget) {
        pageWidget->setGeometry(0, 0, band->width(), band->height());
        pageWidget->show();
        return;
    }
    auto* stored = dynamic_cast<QXKeyPluginInstance*>(row.condition.get());
    QString text = row.condition->type() == u"plugin"
                       ? QStringLiteral("Plug-in condition")
                       : QString::fromStdU16String(row.condition->type());
    if (stored) {
        text = QString::fromStdU16String(stored->subPluginId());
        if (QXPluginEntry::Ptr entry = m_registry.find(stored->pluginId()))
            if (const QXConditionEntry* found = entry->findCondition(stored->subPluginId()))
                if (!found->displayName.empty())
                    text = QString::fromStdU16String(found->displayName);
        if (!plugin)
            text += QStringLiteral(" (plug-in not installed)");
    }
    auto* label = new QLabel(text, band);
    label->setObjectName(QStringLiteral("pluginConditionName"));
    label->setGeometry(0, 0, 400, kButtonSize);
    label->show();
}

void CQXConditionsView::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    layoutRows();
}

void CQXConditionsView::layoutRows() {
    m_addButton->move(width() - kButtonSize - kRight, 0);
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i)
        layoutRow(i);
}

void CQXConditionsView::layoutRow(int index) {
    Row& row = m_rows[static_cast<size_t>(index)];
    const int top = kRowPitch * index + kRowPitch;
    const int removeLeft = width() - kButtonSize - kRight;
    row.remove->move(removeLeft, top);
    int fixed = 0;
    int weights = 0;
    for (const Cell& cell : row.cells) {
        fixed += cell.width + kGap;
        weights += cell.width > 0 ? 0 : cell.weight;
    }
    const int spare = std::max(0, removeLeft - kLeft - fixed);
    int x = kLeft;
    int shared = 0;
    for (const Cell& cell : row.cells) {
        int w = cell.width;
        if (w == 0 && weights > 0) {
            w = spare * cell.weight / weights;
            shared += w;
        }
        cell.widget->setGeometry(x, top, w, kButtonSize);
        for (QObject* child : cell.widget->children())
            if (child->isWidgetType() &&
                child->objectName() != QLatin1String("pluginConditionName"))
                static_cast<QWidget*>(child)->setGeometry(0, 0, w, kButtonSize);
        x += w + kGap;
    }
}

// ---- editing -------------------------------------------------------------------------

QMenu* CQXConditionsView::addMenu() {
    m_addMenu->clear();
    auto add = [this](const QString& text, int id) {
        QAction* action = m_addMenu->addAction(text);
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, [this, id] { addCondition(id); });
    };
    add(QStringLiteral("Application"), kApplicationCommand);
    add(QStringLiteral("Language"), kLanguageCommand);
    add(QStringLiteral("Modifier"), kModifierCommand);
    add(QStringLiteral("Lock mode"), kLockCommand);
    m_addMenu->addSeparator();
    int id = kFirstPluginCommand;
    for (const PluginChoice& choice : pluginChoices(m_registry))
        add(QString::fromStdU16String(choice.displayName), id++);
    return m_addMenu;
}

void CQXConditionsView::addCondition(int commandId) {
    if (!m_item || !m_editable)
        return;
    QXPtr<QXCondition> condition;
    switch (commandId) {
    case kApplicationCommand:
        condition = makeQX<QXApplicationCondition>(m_choices.defaultBrowser());
        break;
    case kLanguageCommand:
        condition = makeQX<QXSysLayoutCondition>(m_choices.currentLayout());
        break;
    case kModifierCommand:
        condition = makeQX<QXModifierCondition>(0u);
        break;
    case kLockCommand:
        condition = makeQX<QXLockCondition>(0u);
        break;
    default: {
        const std::vector<PluginChoice> plugins = pluginChoices(m_registry);
        const int index = commandId - kFirstPluginCommand;
        if (index < 0 || index >= static_cast<int>(plugins.size()))
            return;
        auto plugin = makeQX<QXConditionPluginInstance>(m_registry);
        plugin->setIds(plugins[static_cast<size_t>(index)].pluginId,
                       plugins[static_cast<size_t>(index)].conditionId);
        condition = plugin;
        break;
    }
    }
    m_item->addCondition(condition);
    setTitle(QStringLiteral("Conditions"));
    addRow(condition);
    layoutRow(static_cast<int>(m_rows.size()) - 1);
    m_controller.conditionsChanged(m_item);
}

void CQXConditionsView::removeCondition(const QXPtr<QXCondition>& condition) {
    if (!m_item || !m_editable)
        return;
    if (!m_item->removeCondition(condition)) {
        QXLog::warning(QXLog::kEditor, "The condition to remove is no longer the item's");
        return;
    }
    const QXLayersItem::Ptr item = m_item;
    clearRows();
    buildRows();
    if (item->conditions().empty())
        setTitle(QStringLiteral("(no conditons - always active)"));
    m_controller.conditionRemoved(item);
}

void CQXConditionsView::edited() {
    if (m_item)
        m_controller.conditionsChanged(m_item);
}
