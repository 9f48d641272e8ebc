#include "CVideoPropertiesFrame.h"

#include "CVideoPluginView.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <algorithm>
#include <set>

namespace {

// Laid out in dialog units: a quarter of the font's average character width across, an
// eighth of its height down. The page is 160 by 59 units.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int alphabet = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_x = std::max(1, (alphabet / 26 + 1) / 2);
        m_y = std::max(1, metrics.height());
    }
    QRect rect(int x, int y, int width, int height) const {
        return QRect(x * m_x / 4, y * m_y / 8, width * m_x / 4, height * m_y / 8);
    }

private:
    int m_x;
    int m_y;
};

template <typename T> T* place(T* control, const char* id, const QString& name, const QRect& rect) {
    control->setObjectName(QString::fromLatin1(id));
    control->setAccessibleName(name);
    control->setGeometry(rect);
    return control;
}

} // namespace

CVideoPropertiesFrame::CVideoPropertiesFrame(IVideoPluginViewProps* props, QWidget* parent)
    : CTesDialog(102, parent, 0), m_props(props) {
    setWindowFlags(Qt::Widget);
    const DialogUnits units(font());
    resize(units.rect(0, 0, 160, 59).size());
    m_path = place(new QLineEdit(this), "2004", QStringLiteral("Video file or address"),
                   units.rect(0, 0, 160, 13));
    auto* restart = place(new QPushButton(QStringLiteral("Restart"), this), "2005",
                          QStringLiteral("Restart"), units.rect(0, 18, 45, 12));
    auto* browse = place(new QPushButton(QStringLiteral("Browse..."), this), "2006",
                         QStringLiteral("Browse"), units.rect(115, 18, 45, 12));
    m_loop = place(new QCheckBox(QStringLiteral("Loop playback"), this), "2007",
                   QStringLiteral("Loop playback"), units.rect(0, 39, 89, 10));
    refresh();
    connect(m_path, &QLineEdit::textEdited, this,
            [props](const QString& text) { props->SetPath(text); });
    connect(m_path, &QLineEdit::returnPressed, this, [props] { props->Restart(); });
    connect(restart, &QPushButton::clicked, this, [props] { props->Restart(); });
    connect(browse, &QPushButton::clicked, this, &CVideoPropertiesFrame::browse);
    connect(m_loop, &QCheckBox::clicked, this,
            [props](bool checked) { props->SetLooping(checked); });
}

void CVideoPropertiesFrame::refresh() {
    m_path->setText(m_props->path());
    m_loop->setChecked(m_props->looping());
}

int CVideoPropertiesFrame::OnInitDialog() {
    const int result = CTesDialog::OnInitDialog();
    AddControl(m_path, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(findChild<QPushButton*>(QStringLiteral("2006")), TES_MOVE_RIGHT, 1, QRect());
    return result;
}

QStringList CVideoPropertiesFrame::fileFilters() {
    std::set<QString> patterns;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes())
        if (type.name().startsWith(QLatin1String("video/")))
            for (const QString& glob : type.globPatterns())
                patterns.insert(glob);
    QStringList all(patterns.begin(), patterns.end());
    return {QStringLiteral("Video files (all types) (%1)").arg(all.join(QLatin1Char(' '))),
            QStringLiteral("Gif animation (*.gif)"), QStringLiteral("Any file (*.*)")};
}

void CVideoPropertiesFrame::browse() {
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Choose a video"), QString(), fileFilters().join(QLatin1String(";;")));
    if (chosen.isEmpty())
        return;
    m_path->setText(chosen);
    m_props->SetPath(chosen);
    m_props->Restart();
}
