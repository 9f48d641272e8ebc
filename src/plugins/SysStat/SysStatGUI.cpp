#include "SysStatGUI.h"

#include "CNetRenderer.h"
#include "SysStatProps.h"

#include <QLabel>
#include <QSignalBlocker>

namespace {

const QString kAllAdapters = QStringLiteral("All adapters");

} // namespace

CSysStatPage::CSysStatPage(const QString& label, QComboBox* list, QWidget* parent)
    : CTesDialog(0xFFFF, parent, 0), m_label(new QLabel(label, this)), m_list(list) {
    setWindowFlags(Qt::Widget);
    m_list->setParent(this);
    int width = parent ? std::max(parent->width(), 120) : 120;
    if (parent)
        setGeometry(parent->rect());
    else
        resize(width, 48);
    m_label->setGeometry(0, 0, 120, 20);
    m_list->setGeometry(0, 20, width, 24);
    m_list->setAccessibleName(label);
    m_label->setBuddy(m_list);
}

int CSysStatPage::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    AddControl(m_list, TES_FOLLOW_WIDTH, 1, QRect());
    return result;
}

CMemWatcherGUI::CMemWatcherGUI(IMemWatcherProps* props, QWidget* parent)
    : CSysStatPage(QStringLiteral("Memory type"), new QComboBox(), parent) {
    m_list->setObjectName(QStringLiteral("740"));
    m_list->addItems(
        {QStringLiteral("Physical"), QStringLiteral("Paging"), QStringLiteral("Virtual")});
    m_list->setCurrentIndex(props->memoryType());
    connect(m_list, &QComboBox::currentIndexChanged, this, [props](int index) {
        if (index >= 0)
            props->SetMemoryType(index);
    });
}

CNetworkingWatcherGUI::CNetworkingWatcherGUI(INetWatcherProps* props, QWidget* parent)
    : CSysStatPage(QStringLiteral("Interface/network card"), new CRefreshedComboBox(nullptr),
                   parent),
      m_props(props) {
    m_list->setObjectName(QStringLiteral("742"));
    QString stored = props->adapter();
    m_list->addItem(stored.isEmpty() ? kAllAdapters : stored);
    m_list->setCurrentIndex(0);
    static_cast<CRefreshedComboBox*>(m_list)->beforePopup = [this] { rebuild(); };
    connect(m_list, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_props->SetAdapter(index <= 0 ? QString() : m_list->itemText(index));
    });
}

void CNetworkingWatcherGUI::rebuild() {
    // Rebuilding is no choice of the user's: nothing is stored.
    QSignalBlocker blocker(m_list);
    m_list->clear();
    m_list->addItem(kAllAdapters);
    m_list->addItems(CNetRenderer::interfaceNames());
    QString stored = m_props->adapter();
    int index = stored.isEmpty() ? 0 : m_list->findText(stored, Qt::MatchExactly);
    // An interface that is gone (unplugged) stays chosen, and listed, until another is.
    if (index < 0) {
        m_list->addItem(stored);
        index = m_list->count() - 1;
    }
    m_list->setCurrentIndex(index);
}
