#include "editor/CQXViewProps.h"

#include "controls/CTesSliderCtrl.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr std::u16string_view kEntries[] = {u"FontFace", u"FontSize", u"Bold",
                                            u"Italic",   u"Color",    u"BkColor"};

std::u16string text(const QString& s) {
    return s.toStdU16String();
}
std::u16string number(long long n) {
    return text(QString::number(n));
}
std::u16string boolean(bool b) {
    return b ? u"true" : u"false";
}

} // namespace

CQXViewProps::CQXViewProps(QXKeyPropsContext& context, QWidget* parent)
    : QGroupBox(tr("Text:"), parent), m_context(context) {
    setAccessibleName(tr("Text appearance"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);

    m_face = new QComboBox(this);
    m_face->setObjectName(QStringLiteral("FontFace"));
    m_face->setAccessibleName(tr("Font"));
    QStringList families = QFontDatabase::families();
    // The default face stays choosable where it is not installed.
    if (!families.contains(Appearance{}.face))
        families.prepend(Appearance{}.face);
    m_face->addItems(families);
    m_face->setMinimumContentsLength(10);
    m_face->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    grid->addWidget(m_face, 0, 0, 1, 3);

    m_sizeSlider = new CTesSliderCtrl(this);
    m_sizeSlider->setObjectName(QStringLiteral("FontSize"));
    m_sizeSlider->setAccessibleName(tr("Font size"));
    m_sizeSlider->setRange(kMinSize, kMaxSize);
    m_sizeSlider->SetTicFreq(6);
    m_sizeEdit = new QSpinBox(this);
    m_sizeEdit->setObjectName(QStringLiteral("FontSizeEdit"));
    m_sizeEdit->setAccessibleName(tr("Font size in points"));
    m_sizeEdit->setRange(kMinSize, kMaxSize);
    grid->addWidget(m_sizeSlider, 1, 0, 1, 2);
    grid->addWidget(m_sizeEdit, 1, 2);

    m_bold = new QCheckBox(tr("&Bold"), this);
    m_bold->setObjectName(QStringLiteral("Bold"));
    m_bold->setAccessibleName(tr("Bold"));
    m_italic = new QCheckBox(tr("&Italic"), this);
    m_italic->setObjectName(QStringLiteral("Italic"));
    m_italic->setAccessibleName(tr("Italic"));
    grid->addWidget(m_bold, 2, 0);
    grid->addWidget(m_italic, 2, 1);

    m_color = new QPushButton(tr("Tex&t color"), this);
    m_color->setObjectName(QStringLiteral("Color"));
    m_color->setAccessibleName(tr("Text color"));
    m_bkColor = new QPushButton(tr("Bac&k color"), this);
    m_bkColor->setObjectName(QStringLiteral("BkColor"));
    m_bkColor->setAccessibleName(tr("Background color"));
    grid->addWidget(m_color, 3, 0);
    grid->addWidget(m_bkColor, 3, 1, 1, 2);

    auto* row = new QHBoxLayout;
    auto* copyButton = new QPushButton(tr("&Copy"), this);
    copyButton->setObjectName(QStringLiteral("Copy"));
    copyButton->setAccessibleName(tr("Copy text appearance"));
    m_paste = new QPushButton(tr("&Paste"), this);
    m_paste->setObjectName(QStringLiteral("Paste"));
    m_paste->setAccessibleName(tr("Paste text appearance"));
    auto* resetButton = new QPushButton(tr("&Reset"), this);
    resetButton->setObjectName(QStringLiteral("Reset"));
    resetButton->setAccessibleName(tr("Reset text appearance"));
    row->addWidget(copyButton);
    row->addWidget(m_paste);
    row->addWidget(resetButton);
    grid->addLayout(row, 4, 0, 1, 3);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(1, 1);

    connect(m_face, &QComboBox::currentTextChanged, this, [this](const QString& face) {
        if (!m_loading)
            setEntry(u"FontFace", text(face));
    });
    connect(m_sizeSlider, &QSlider::valueChanged, this,
            [this](int size) { m_sizeEdit->setValue(size); });
    connect(m_sizeEdit, &QSpinBox::valueChanged, this, [this](int size) {
        m_sizeSlider->setValue(size);
        if (!m_loading)
            setEntry(u"FontSize", number(size));
    });
    connect(m_bold, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            setEntry(u"Bold", boolean(on));
    });
    connect(m_italic, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            setEntry(u"Italic", boolean(on));
    });
    connect(m_color, &QPushButton::clicked, this, [this] { chooseColour(true); });
    connect(m_bkColor, &QPushButton::clicked, this, [this] { chooseColour(false); });
    connect(copyButton, &QPushButton::clicked, this, &CQXViewProps::copy);
    connect(m_paste, &QPushButton::clicked, this, &CQXViewProps::paste);
    connect(resetButton, &QPushButton::clicked, this, &CQXViewProps::reset);

    m_context.dispatch.RegisterHandler(QXM_KEY_SELECTED, this, &CQXViewProps::reload);
    reload();
}

CQXViewProps::~CQXViewProps() {
    m_context.dispatch.UnregisterObject(this);
}

uint32_t CQXViewProps::toColorRef(const QColor& c) {
    return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

QColor CQXViewProps::fromColorRef(uint32_t v) {
    return QColor(int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF));
}

CQXViewProps::Appearance CQXViewProps::read(const QXButton& button) {
    Appearance a;
    const QXPropertyNode::Ptr& p = button.properties();
    if (!p)
        return a;
    auto entry = [&](std::u16string_view name) -> std::optional<QString> {
        if (QXPropertyNode::Ptr node = p->findChild(name))
            return QString::fromStdU16String(node->value());
        return std::nullopt;
    };
    if (auto face = entry(u"FontFace"); face && !face->isEmpty())
        a.face = *face;
    bool ok = false;
    if (auto size = entry(u"FontSize")) {
        const int n = size->toInt(&ok);
        if (ok && n > 0)
            a.size = n;
    }
    if (auto bold = entry(u"Bold"))
        a.bold = *bold == QLatin1String("true");
    if (auto italic = entry(u"Italic"))
        a.italic = *italic == QLatin1String("true");
    if (auto color = entry(u"Color")) {
        const uint32_t v = color->toUInt(&ok);
        if (ok)
            a.color = v & 0xFFFFFF;
    }
    if (auto color = entry(u"BkColor")) {
        const uint32_t v = color->toUInt(&ok);
        if (ok)
            a.bkColor = v & 0xFFFFFF;
    }
    return a;
}

CQXViewProps::Appearance CQXViewProps::shown() const {
    return {m_face->currentText(), m_sizeEdit->value(), m_bold->isChecked(),
            m_italic->isChecked(), m_colorValue,        m_bkColorValue};
}

void CQXViewProps::showColour(QPushButton* button, uint32_t value) {
    QPixmap swatch(14, 14);
    swatch.fill(fromColorRef(value));
    QPainter(&swatch).drawRect(0, 0, 13, 13);
    button->setIcon(QIcon(swatch));
}

void CQXViewProps::reload() {
    m_loading = true;
    const QXButton* button = m_context.shownButton();
    const Appearance a = button ? read(*button) : Appearance{};
    if (m_face->findText(a.face) < 0)
        m_face->addItem(a.face); // a face stored on another machine
    m_face->setCurrentText(a.face);
    m_sizeEdit->setValue(a.size);
    m_sizeSlider->setValue(a.size);
    m_bold->setChecked(a.bold);
    m_italic->setChecked(a.italic);
    m_colorValue = a.color;
    m_bkColorValue = a.bkColor;
    showColour(m_color, a.color);
    showColour(m_bkColor, a.bkColor);
    m_paste->setEnabled(m_clip.has_value());
    setEnabled(static_cast<bool>(m_context.editableLayer()));
    m_loading = false;
}

void CQXViewProps::setEntry(std::u16string_view name, const std::u16string& value) {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer)
        return;
    for (size_t key : m_context.keys())
        layer->getButton(key)->ensureProperties().addChild(std::u16string(name), value);
    m_context.edited();
    reload();
}

void CQXViewProps::chooseColour(bool textColour) {
    const uint32_t now = textColour ? m_colorValue : m_bkColorValue;
    const QColor chosen = QColorDialog::getColor(fromColorRef(now), this,
                                                 textColour ? tr("Text color") : tr("Back color"));
    if (chosen.isValid())
        setEntry(textColour ? u"Color" : u"BkColor", number(toColorRef(chosen)));
}

void CQXViewProps::write(const Appearance& a) {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer)
        return;
    for (size_t key : m_context.keys()) {
        QXPropertyNode& p = layer->getButton(key)->ensureProperties();
        p.addChild(u"FontFace", text(a.face));
        p.addChild(u"FontSize", number(a.size));
        p.addChild(u"Bold", boolean(a.bold));
        p.addChild(u"Italic", boolean(a.italic));
        p.addChild(u"Color", number(a.color));
        p.addChild(u"BkColor", number(a.bkColor));
    }
    m_context.edited();
    reload();
}

void CQXViewProps::copy() {
    const QXButton* button = m_context.shownButton();
    m_clip = button ? read(*button) : Appearance{};
    m_paste->setEnabled(true);
}

void CQXViewProps::paste() {
    if (m_clip)
        write(*m_clip);
}

void CQXViewProps::reset() {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer)
        return;
    for (size_t key : m_context.keys()) {
        QXButton* button = layer->getButton(key);
        if (!button->properties())
            continue;
        for (std::u16string_view name : kEntries)
            button->properties()->removeChild(name);
        if (!button->properties()->hasChildren())
            button->setProperties({});
    }
    m_context.edited();
    reload();
}
