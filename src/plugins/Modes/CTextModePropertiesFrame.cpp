#include "CTextModePropertiesFrame.h"

#include "CTextModeCondition.h"

#include <QCheckBox>

CTextModePropertiesFrame::CTextModePropertiesFrame(ITextModePluginViewProps& props, QWidget* parent)
    : CTesDialog(0, parent, 0), m_props(props) {
    setWindowFlags(Qt::Widget);
    setObjectName(QStringLiteral("CTextModePropertiesFrame"));
    setAccessibleName(QStringLiteral("Text input mode"));
    m_textMode = new QCheckBox(QStringLiteral("Text input mode"), this);
    m_textMode->setObjectName(QStringLiteral("textMode"));
    m_textMode->setAccessibleName(m_textMode->text());
    m_textMode->setGeometry(8, 8, 240, m_textMode->sizeHint().height());
    resize(260, m_textMode->geometry().bottom() + 8);
    // Shown before anything listens, so opening the page stores nothing.
    m_textMode->setChecked(m_props.TextMode());
    connect(m_textMode, &QCheckBox::toggled, this,
            [this](bool checked) { m_props.SetTextMode(checked); });
}

CTextModePropertiesFrame::~CTextModePropertiesFrame() = default;
