#include "editor/CQXDisplayProps.h"

#include "platform/QXLog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

const QString CQXDisplayProps::kBrowseTitle = QStringLiteral("Select a picture for a button");
const QString CQXDisplayProps::kBrowseFilter =
    QStringLiteral("Images (*.bmp *.jpg *.gif *.tiff *.psd *.png);;All files (*)");

CQXDisplayProps::CQXDisplayProps(QXKeyPropsContext& context, QWidget* parent)
    : CQXCommonPluginProps(kViews, tr("Display:"), context, nullptr, parent) {
    auto* label = new QLabel(tr("Enter path, browse or drop a file:"), this);
    label->setWordWrap(true);
    m_body->addWidget(label);
    auto* row = new QHBoxLayout;
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("PicturePath"));
    m_path->setAccessibleName(tr("Picture file"));
    label->setBuddy(m_path);
    row->addWidget(m_path, 1);
    auto* browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName(QString::number(kBrowseId));
    browse->setAccessibleName(tr("Browse for a picture"));
    row->addWidget(browse);
    m_body->addLayout(row);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("PictureMessage"));
    m_message->setAccessibleName(tr("Picture message"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00000"));
    m_message->hide();
    m_body->addWidget(m_message);
    m_body->addStretch(1);

    connect(browse, &QPushButton::clicked, this, &CQXDisplayProps::browse);
    connect(m_path, &QLineEdit::returnPressed, this, [this] {
        if (!m_path->text().trimmed().isEmpty())
            setPicture(m_path->text().trimmed());
    });
    reload();
}

QString CQXDisplayProps::message() const {
    return m_message->isHidden() ? QString() : m_message->text();
}

void CQXDisplayProps::browse() {
    const QString start =
        m_path->text().isEmpty() ? QString() : QFileInfo(m_path->text()).absolutePath();
    const QString chosen = QFileDialog::getOpenFileName(this, kBrowseTitle, start, kBrowseFilter);
    if (!chosen.isEmpty())
        setPicture(chosen);
}

bool CQXDisplayProps::setPicture(const QString& path) {
    QXLayer::Ptr layer = m_context.editableLayer();
    if (!layer)
        return false;
    const std::filesystem::path file(path.toStdString());
    std::string refusal;
    auto picture = makeQX<QXImage>();
    if (!QXImage::isAcceptedPicture(file, &refusal) || !picture->loadFile(file)) {
        if (refusal.empty())
            refusal = "it could not be read";
        QXLog::warning(QXLog::kEditor,
                       "The picture " + file.string() + " was not given to the keys: " + refusal);
        m_message->setText(tr("%1 is not a picture the keys can show: %2")
                               .arg(QFileInfo(path).fileName(), QString::fromStdString(refusal)));
        m_message->show();
        return false;
    }
    picture->ensureKeySize();
    // Each key saves its picture into its own file, so each gets its own copy.
    bool first = true;
    for (size_t key : m_context.keys()) {
        layer->setPicture(key, first ? picture : makeQX<QXImage>(*picture));
        first = false;
    }
    m_message->hide();
    changed();
    return true;
}

bool CQXDisplayProps::takeFiles(const QStringList& paths) {
    if (paths.isEmpty())
        return false;
    QXButton* button = m_context.shownButton();
    if (button && button->view && CQXCommonPluginProps::takeFiles(paths))
        return true;
    return setPicture(paths.front());
}

void CQXDisplayProps::reload() {
    CQXCommonPluginProps::reload();
    QXButton* button = m_context.shownButton();
    const bool picture = button && button->image && !button->view;
    m_path->setText(picture ? QString::fromStdString(button->image->sourcePath().string())
                            : QString());
    m_message->hide();
}
