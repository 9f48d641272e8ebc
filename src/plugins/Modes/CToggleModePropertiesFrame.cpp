#include "CToggleModePropertiesFrame.h"

#include "CToggleModeAction.h"

#include <QComboBox>
#include <QLabel>
#include <QResizeEvent>

namespace {

QString fromU16(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

} // namespace

CToggleModePropertiesFrame::CToggleModePropertiesFrame(IModesPluginViewProps& props,
                                                       QWidget* parent)
    : CTesDialog(0, parent, 0), m_props(props) {
    setWindowFlags(Qt::Widget);
    setObjectName(QStringLiteral("CToggleModePropertiesFrame"));
    setAccessibleName(QStringLiteral("Layer to toggle"));

    m_caption = new QLabel(QStringLiteral("Select layer to toggle:"), this);
    m_caption->setObjectName(QStringLiteral("layerCaption"));
    m_caption->setAccessibleName(m_caption->text());
    m_layers = new QComboBox(this);
    m_layers->setObjectName(QStringLiteral("layerList"));
    m_layers->setAccessibleName(QStringLiteral("Layer to toggle"));
    m_tip = new QLabel(
        QStringLiteral("Tip: at first the \"Switch by action\" condition should be added to the "
                       "target layer."),
        this);
    m_tip->setObjectName(QString::number(kTipId));
    m_tip->setAccessibleName(QStringLiteral("Tip"));
    m_tip->setWordWrap(true);
    // The dialog leaves the tip's area alone, so the tip paints all of it itself.
    m_tip->setAutoFillBackground(true);

    const int line = fontMetrics().height();
    const int width = 260;
    m_caption->setGeometry(8, 8, width - 16, line + 4);
    m_layers->setGeometry(8, 8 + line + 8, width - 16, m_layers->sizeHint().height());
    const int tipTop = m_layers->geometry().bottom() + 10;
    m_tip->setGeometry(8, tipTop, width - 16, 3 * line + 4);
    resize(width, m_tip->geometry().bottom() + 8);

    // Where the registry's list comes from: the layers holding a mode condition right now.
    std::vector<std::pair<std::u16string, std::u16string>> layers;
    m_props.FillLayers(layers);
    m_layers->addItem(QStringLiteral("(None)"), QString());
    int current = 0;
    const std::u16string target = m_props.LayerID();
    for (const auto& [name, layerID] : layers) {
        m_layers->addItem(fromU16(name), fromU16(layerID));
        if (!target.empty() && layerID == target)
            current = m_layers->count() - 1;
    }
    m_layers->setCurrentIndex(current);
    connect(m_layers, &QComboBox::activated, this, &CToggleModePropertiesFrame::selected);
}

CToggleModePropertiesFrame::~CToggleModePropertiesFrame() = default;

int CToggleModePropertiesFrame::OnInitDialog() {
    const int result = CTesDialog::OnInitDialog();
    AddControl(m_layers, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_tip, TES_FOLLOW_WIDTH, 0, QRect());
    return result;
}

void CToggleModePropertiesFrame::resizeEvent(QResizeEvent* event) {
    CTesDialog::resizeEvent(event);
    // The tip wraps differently at every width.
    m_tip->update();
}

void CToggleModePropertiesFrame::selected(int index) {
    m_props.SetLayerID(index <= 0 ? std::u16string()
                                  : m_layers->itemData(index).toString().toStdU16String());
}
