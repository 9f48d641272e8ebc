#include "CDrawStringPropertiesFrame.h"

#include "FunctionsProps.h"
#include "controls/CTesSliderCtrl.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kMinSize = 4;
constexpr int kMaxSize = 72;
constexpr int kSizeTick = 2;

QColor fromColorref(uint32_t colorref) {
    return QColor(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

uint32_t toColorref(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

} // namespace

CDrawStringPropertiesFrame::CDrawStringPropertiesFrame(IDrawStringPluginViewProps* props,
                                                       QWidget* parent)
    : CFunctionsPage(104, parent), m_props(props), m_text(new QLineEdit(this)),
      m_font(new QComboBox(this)), m_size(new CTesSliderCtrl(this)), m_sizeNumber(new QLabel(this)),
      m_bold(new QCheckBox(QStringLiteral("Bold"), this)),
      m_italic(new QCheckBox(QStringLiteral("Italic"), this)),
      m_color(new QPushButton(QStringLiteral("Color"), this)),
      m_bkColor(new QPushButton(QStringLiteral("Background"), this)) {
    resize(300, 196);
    DrawStringSettings settings = props->settings();

    label(QStringLiteral("Text"), "1020", 8)->setBuddy(m_text);
    m_text->setObjectName(QStringLiteral("1025"));
    m_text->setAccessibleName(QStringLiteral("Text"));
    m_text->setGeometry(80, 6, 212, 24);
    m_text->setMaxLength(255);
    m_text->setText(settings.text);

    label(QStringLiteral("Font"), "1021", 38)->setBuddy(m_font);
    m_font->setObjectName(QStringLiteral("1026"));
    m_font->setAccessibleName(QStringLiteral("Font"));
    m_font->setGeometry(80, 36, 212, 24);
    QStringList families = QFontDatabase::families(QFontDatabase::Latin);
    families.removeDuplicates();
    m_font->addItems(families);
    QString family = settings.font.isEmpty() ? QStringLiteral("Tahoma") : settings.font;
    if (m_font->findText(family) < 0)
        m_font->insertItem(0, family); // kept as stored, even where it is not installed
    m_font->setCurrentIndex(m_font->findText(family));

    label(QStringLiteral("Size"), "1022", 68);
    m_size->setObjectName(QStringLiteral("1027"));
    m_size->setAccessibleName(QStringLiteral("Size"));
    m_size->setGeometry(80, 64, 180, 28);
    m_size->setRange(kMinSize, kMaxSize);
    m_size->SetTicFreq(kSizeTick);
    m_size->setValue(settings.size < kMinSize ? 8 : qMin(settings.size, kMaxSize));
    m_sizeNumber->setObjectName(QStringLiteral("1028"));
    m_sizeNumber->setAccessibleName(QStringLiteral("Size in points"));
    m_sizeNumber->setGeometry(266, 68, 26, 20);
    m_sizeNumber->setNum(m_size->value());

    m_bold->setObjectName(QStringLiteral("1029"));
    m_bold->setAccessibleName(QStringLiteral("Bold"));
    m_bold->setGeometry(80, 98, 100, 22);
    m_bold->setChecked(settings.bold);
    m_italic->setObjectName(QStringLiteral("1030"));
    m_italic->setAccessibleName(QStringLiteral("Italic"));
    m_italic->setGeometry(180, 98, 100, 22);
    m_italic->setChecked(settings.italic);

    label(QStringLiteral("Color"), "1023", 132);
    m_color->setObjectName(QStringLiteral("1031"));
    m_color->setAccessibleName(QStringLiteral("Text colour"));
    m_color->setGeometry(80, 128, 100, 26);
    label(QStringLiteral("Background"), "1024", 164);
    m_bkColor->setObjectName(QStringLiteral("1032"));
    m_bkColor->setAccessibleName(QStringLiteral("Background colour"));
    m_bkColor->setGeometry(80, 160, 100, 26);

    connect(m_text, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_props->setText(text); });
    connect(m_font, &QComboBox::textActivated, this,
            [this](const QString& text) { m_props->setFont(text); });
    connect(m_size, &QSlider::valueChanged, this, [this](int value) {
        m_sizeNumber->setNum(value);
        m_props->setSize(value);
    });
    connect(m_bold, &QCheckBox::toggled, this, [this](bool on) { m_props->setBold(on); });
    connect(m_italic, &QCheckBox::toggled, this, [this](bool on) { m_props->setItalic(on); });
    connect(m_color, &QPushButton::clicked, this, [this] { chooseColor(false); });
    connect(m_bkColor, &QPushButton::clicked, this, [this] { chooseColor(true); });
}

QLabel* CDrawStringPropertiesFrame::label(const QString& text, const char* id, int y) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(id));
    label->setGeometry(8, y, 70, 20);
    return label;
}

int CDrawStringPropertiesFrame::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    AddControl(m_text, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_font, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_size, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_sizeNumber, TES_MOVE_RIGHT, 1, QRect());
    return result;
}

void CDrawStringPropertiesFrame::chooseColor(bool background) {
    DrawStringSettings settings = m_props->settings();
    QColor initial = fromColorref(background ? settings.bkColor : settings.color);
    QColor chosen = QColorDialog::getColor(initial, this);
    if (!chosen.isValid())
        return;
    if (background)
        m_props->setBkColor(toColorref(chosen));
    else
        m_props->setColor(toColorref(chosen));
}
