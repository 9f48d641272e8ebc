#include "editor/CQXActionProps.h"

#include "editor/CQXOnScreenKeyboard.h"
#include "model/QXKeyTable.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

std::optional<size_t> verbRow(int code) {
    const auto verbs = QXKeyTable::multimediaVerbs();
    for (size_t i = 0; i < verbs.size(); ++i)
        if (verbs[i].code == code)
            return i;
    return std::nullopt;
}

} // namespace

CQXActionProps::CQXActionProps(QXKeyPropsContext& context, QAbstractButton* chain, QWidget* parent)
    : CQXCommonPluginProps(kActions, tr("Action:"), context, chain, parent),
      keyChooser(&CQXOnScreenKeyboard::chooseKey) {
    m_body->addWidget(new QLabel(tr("Key verb:"), this));
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    m_default = new QRadioButton(tr("Default"), this);
    m_multimedia = new QRadioButton(tr("Multimedia"), this);
    m_other = new QRadioButton(tr("Other verb"), this);
    m_default->setObjectName(QString::number(kDefaultId));
    m_multimedia->setObjectName(QString::number(kMultimediaId));
    m_other->setObjectName(QString::number(kOtherId));
    m_default->setAccessibleName(tr("Default verb"));
    m_multimedia->setAccessibleName(tr("Multimedia verb"));
    m_other->setAccessibleName(tr("Other verb"));
    auto* group = new QButtonGroup(this);
    group->addButton(m_default);
    group->addButton(m_multimedia);
    group->addButton(m_other);

    m_verbs = new QListWidget(this);
    m_verbs->setObjectName(QString::number(kVerbListId));
    m_verbs->setAccessibleName(tr("Multimedia verbs"));
    m_verbs->setIconSize(QSize(kVerbItemHeight - 2, kVerbItemHeight - 2));
    m_verbs->setUniformItemSizes(true);
    for (const QXActionVerb& verb : QXKeyTable::multimediaVerbs()) {
        QPixmap icon;
        const auto png = QXKeyTable::verbIcon(verb.code);
        icon.loadFromData(png.data(), static_cast<unsigned>(png.size()), "PNG");
        auto* item =
            new QListWidgetItem(QIcon(icon), QString::fromStdU16String(std::u16string(verb.name)));
        item->setSizeHint(QSize(0, kVerbItemHeight));
        item->setData(Qt::UserRole, verb.code);
        m_verbs->addItem(item);
    }
    m_selectKey = new QPushButton(tr("Select..."), this);
    m_selectKey->setObjectName(QString::number(kSelectKeyId));
    m_selectKey->setAccessibleName(tr("Select the key whose code is sent"));

    grid->addWidget(m_default, 0, 0);
    grid->addWidget(m_multimedia, 1, 0);
    grid->addWidget(m_other, 2, 0);
    grid->addWidget(m_selectKey, 3, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(m_verbs, 0, 1, 4, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);
    m_body->addLayout(grid, 1);

    connect(m_default, &QRadioButton::clicked, this, [this] { setActionCode(0); });
    connect(m_multimedia, &QRadioButton::clicked, this, [this] {
        m_verbs->setEnabled(true);
        m_selectKey->setEnabled(false);
        if (m_verbs->currentRow() >= 0)
            verbChosen(m_verbs->currentRow());
    });
    connect(m_other, &QRadioButton::clicked, this, [this] {
        m_verbs->setEnabled(false);
        m_selectKey->setEnabled(true);
    });
    connect(m_verbs, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!m_loading)
            verbChosen(row);
    });
    connect(m_selectKey, &QPushButton::clicked, this, [this] {
        const size_t shown = m_context.shownKey();
        if (std::optional<size_t> key = keyChooser(this, shown))
            setActionCode(QXKeyTable::key(*key).actionCode);
    });
    reload();
}

QString CQXActionProps::otherVerbCaption(int code) {
    const std::u16string name = QXKeyTable::actionDisplayName(static_cast<uint8_t>(code));
    return name.empty() ? tr("Other verb")
                        : tr("Other verb (%1)").arg(QString::fromStdU16String(name));
}

void CQXActionProps::verbChosen(int row) {
    QListWidgetItem* item = m_verbs->item(row);
    if (item)
        setActionCode(item->data(Qt::UserRole).toInt());
}

void CQXActionProps::setActionCode(int code) {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer)
        return;
    for (size_t key : m_context.keys())
        layer->setActionCode(key, code);
    changed();
    reload();
}

void CQXActionProps::reload() {
    CQXCommonPluginProps::reload();
    m_loading = true;
    const QXButton* button = m_context.shownButton();
    const size_t key = m_context.shownKey();
    const int code = button ? button->actionCode : 0;
    const int own = key != QXKeyPropsContext::kNoKey ? QXKeyTable::key(key).actionCode : 0;
    const std::optional<size_t> verb = verbRow(code);
    m_other->setText(tr("Other verb"));
    if (code == 0 || code == own) {
        m_default->setChecked(true);
        m_verbs->setCurrentRow(-1);
    } else if (verb) {
        m_multimedia->setChecked(true);
        m_verbs->setCurrentRow(static_cast<int>(*verb));
    } else {
        m_other->setChecked(true);
        m_other->setText(otherVerbCaption(code));
        m_verbs->setCurrentRow(-1);
    }
    m_verbs->setEnabled(m_multimedia->isChecked());
    m_selectKey->setEnabled(m_other->isChecked());
    m_loading = false;
}
