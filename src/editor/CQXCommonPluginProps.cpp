#include "editor/CQXCommonPluginProps.h"

#include "editor/CQXLayersView.h"
#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXPluginHostFactory.h"
#include "pluginhost/QXPluginRegistry.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Two links of a chain, drawn rather than shipped so it follows the palette.
QIcon chainIcon(const QPalette& palette) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::ButtonText), 2));
    painter.drawRoundedRect(QRectF(1.5, 5.5, 8, 5), 2.5, 2.5);
    painter.drawRoundedRect(QRectF(6.5, 5.5, 8, 5), 2.5, 2.5);
    return QIcon(pixmap);
}

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime)
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    return paths;
}

} // namespace

CQXCommonPluginProps::CQXCommonPluginProps(Kind kind, const QString& caption,
                                           QXKeyPropsContext& context, QAbstractButton* chain,
                                           QWidget* parent)
    : QGroupBox(caption, parent), m_context(context), m_kind(kind), m_chain(chain) {
    setAccessibleName(kind == kViews ? tr("Display") : tr("Action"));
    setAcceptDrops(true);
    m_body = new QVBoxLayout(this);
    m_body->setContentsMargins(6, 4, 6, 6);
    m_body->setSpacing(4);
    m_topRow = new QHBoxLayout;
    m_body->addLayout(m_topRow);

    m_select = new QPushButton(tr("Select a plugin"), this);
    m_select->setObjectName(QString::number(kSelectId));
    m_select->setAccessibleName(kind == kViews ? tr("View plug-in") : tr("Action plug-in"));
    m_topRow->addWidget(m_select, 1);
    m_menu = new QMenu(this);
    m_menu->setAccessibleName(m_select->accessibleName());
    connect(m_select, &QPushButton::clicked, this,
            [this] { pluginMenu()->popup(m_select->mapToGlobal(QPoint(0, m_select->height()))); });

    if (!m_chain) {
        auto* toggle = new QToolButton(this);
        toggle->setObjectName(QString::number(kChainId));
        toggle->setAccessibleName(tr("Keep view and action paired"));
        toggle->setToolTip(tr("Selecting this chain, relative pair of view and action plugins "
                              "will synchronize when you select either of them"));
        toggle->setIcon(chainIcon(palette()));
        toggle->setCheckable(true);
        toggle->setChecked(true);
        toggle->setAutoRaise(true);
        m_topRow->addWidget(toggle);
        m_chain = toggle;
    }
    m_context.dispatch.RegisterHandler(QXM_KEY_SELECTED, this, &CQXCommonPluginProps::reload);
}

CQXCommonPluginProps::~CQXCommonPluginProps() {
    m_context.dispatch.UnregisterObject(this);
}

std::vector<CQXCommonPluginProps::Choice> CQXCommonPluginProps::choices() const {
    std::vector<Choice> out;
    auto name = [](const QXSubPluginEntry& e) {
        return QString::fromStdU16String(e.displayName.empty() ? e.id : e.displayName);
    };
    for (const QXPluginEntry::Ptr& plugin : m_context.registry.plugins()) {
        if (m_kind == kViews)
            for (const QXViewEntry& view : plugin->views())
                out.push_back({plugin, view.id, name(view)});
        else
            for (const QXActionEntry& action : plugin->actions())
                out.push_back({plugin, action.id, name(action)});
    }
    return out;
}

QMenu* CQXCommonPluginProps::pluginMenu() {
    m_menu->clear();
    int id = kFirstPluginId;
    for (const Choice& choice : choices()) {
        QAction* action = m_menu->addAction(choice.name);
        action->setObjectName(QString::number(id));
        action->setToolTip(QString::fromStdU16String(choice.plugin->displayName()));
        connect(action, &QAction::triggered, this, [this, id] { choose(id); });
        ++id;
    }
    if (m_menu->isEmpty())
        m_menu->addAction(tr("(no plug-ins installed)"))->setEnabled(false);
    return m_menu;
}

bool CQXCommonPluginProps::choose(int commandId) {
    const std::vector<Choice> all = choices();
    const int index = commandId - kFirstPluginId;
    if (index < 0 || index >= static_cast<int>(all.size()))
        return false;
    return assign(all[index].plugin, all[index].subId, true);
}

bool CQXCommonPluginProps::assign(const QXPluginEntry::Ptr& plugin, std::u16string_view subId,
                                  bool follow) {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer || !plugin)
        return false;
    QXPluginHostFactory factory(m_context.registry);
    bool any = false;
    for (size_t key : m_context.keys()) {
        const int keyIndex = static_cast<int>(key);
        if (m_kind == kViews) {
            QXPtr<QXViewPluginInstance> view = factory.newView(plugin, subId, keyIndex);
            if (!view)
                break;
            layer->setView(key, view);
        } else {
            QXPtr<QXActionPluginInstance> action = factory.newAction(plugin, subId, keyIndex);
            if (!action)
                break;
            layer->setAction(key, action);
        }
        any = true;
    }
    if (!any) {
        QXLog::warning(
            QXLog::kEditor,
            "The plug-in \"" + QString::fromStdU16String(plugin->id()).toStdString() +
                "\" made no instance of \"" +
                QString::fromStdU16String(std::u16string(subId)).toStdString() +
                "\"; the keys keep what they had" +
                (plugin->loadError().empty()
                     ? std::string()
                     : " (" + QString::fromStdU16String(plugin->loadError()).toStdString() + ")"));
        return false;
    }
    if (follow && m_chain && m_chain->isChecked() && m_partner) {
        // The pair goes both ways: a view names its action, an action its view.
        std::u16string paired;
        if (m_kind == kViews) {
            if (const QXViewEntry* view = plugin->findView(subId))
                paired = view->defaultAction;
            if (!paired.empty() && plugin->findAction(paired))
                m_partner->assign(plugin, paired, false);
        } else {
            if (const QXActionEntry* action = plugin->findAction(subId))
                paired = action->defaultView;
            if (!paired.empty() && plugin->findView(paired))
                m_partner->assign(plugin, paired, false);
        }
    }
    if (follow)
        changed();
    return true;
}

QXKeyPluginInstance* CQXCommonPluginProps::instanceOf(const QXButton& button) const {
    if (m_kind == kViews)
        return button.view.get();
    return button.action.get();
}

QString CQXCommonPluginProps::nameOf(const QXKeyPluginInstance& instance) const {
    QString name = QString::fromStdU16String(instance.subPluginId());
    if (QXPluginEntry::Ptr plugin = m_context.registry.find(instance.pluginId())) {
        const QXSubPluginEntry* entry =
            m_kind == kViews
                ? static_cast<const QXSubPluginEntry*>(plugin->findView(instance.subPluginId()))
                : plugin->findAction(instance.subPluginId());
        if (entry && !entry->displayName.empty())
            name = QString::fromStdU16String(entry->displayName);
    }
    return name;
}

void CQXCommonPluginProps::reload() {
    QString caption = tr("Select a plugin");
    // The shown key's plug-in names the button; else that of any other selected key.
    std::vector<size_t> keys = m_context.keys();
    const size_t shown = m_context.shownKey();
    if (shown != QXKeyPropsContext::kNoKey)
        keys.insert(keys.begin(), shown);
    if (QXLayer::Ptr layer = m_context.keyboard.currentLayer())
        for (size_t key : keys)
            if (const QXKeyPluginInstance* instance = instanceOf(*layer->getButton(key))) {
                caption = nameOf(*instance);
                break;
            }
    m_select->setText(caption);
    setEnabled(static_cast<bool>(m_context.editableLayer()));
}

void CQXCommonPluginProps::changed() {
    m_context.edited();
    emit edited();
}

bool CQXCommonPluginProps::takeFiles(const QStringList& paths) {
    // The plug-in of the shown key takes them when it has a drop target.
    QXButton* button = m_context.shownButton();
    if (!button || paths.isEmpty() || !m_context.editableLayer())
        return false;
    std::vector<std::u16string> files;
    for (const QString& path : paths)
        files.push_back(path.toStdU16String());
    bool taken = false;
    if (m_kind == kViews) {
        if (auto view = button->view.dynamicCast<QXViewPluginInstance>())
            taken = view->dropFiles(files);
    } else if (auto action = button->action.dynamicCast<QXActionPluginInstance>()) {
        taken = action->dropFiles(files);
    }
    if (taken)
        changed();
    return taken;
}

void CQXCommonPluginProps::dragEnterEvent(QDragEnterEvent* event) {
    if (isEnabled() && !localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CQXCommonPluginProps::dropEvent(QDropEvent* event) {
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty() || !isEnabled())
        return;
    event->setAccepted(takeFiles(paths));
}
