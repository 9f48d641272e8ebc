#include "editor/CQXOnScreenKeyboard.h"

#include "editor/CQXKeyboardSelect.h"

namespace {

// The dialog first shows the picture at this share of its size.
constexpr double kInitialScale = 0.6;
constexpr unsigned kTemplateId = 1083;

} // namespace

CQXOnScreenKeyboard::CQXOnScreenKeyboard(size_t currentKey, QWidget* parent)
    : CTesDialog(kTemplateId, parent, 1) {
    setWindowTitle(tr("Select Key"));
    setAccessibleName(tr("Select Key"));
    m_keyboard = new CQXKeyboardSelect(this);
    m_keyboard->setCurrentKey(currentKey);
    const QSize picture = CQXKeyboardSelect::pictureSize();
    resize(static_cast<int>(picture.width() * kInitialScale),
           static_cast<int>(picture.height() * kInitialScale));
    m_keyboard->setGeometry(rect());
    connect(m_keyboard, &CQXKeyboardSelect::keyChosen, this, [this](size_t key) {
        m_chosen = key;
        accept();
    });
}

void CQXOnScreenKeyboard::OnInit() {
    m_keyboard->setGeometry(rect());
}

int CQXOnScreenKeyboard::OnInitDialog() {
    const int result = CTesDialog::OnInitDialog();
    AddControl(m_keyboard, TES_FOLLOW_WIDTH | TES_FOLLOW_HEIGHT, 0, m_keyboard->geometry());
    const QSize picture = CQXKeyboardSelect::pictureSize();
    const QPoint pictureRatio(picture.width(), picture.height());
    SetRatioRect(&pictureRatio);
    return result;
}

void CQXOnScreenKeyboard::resizeEvent(QResizeEvent* event) {
    CTesDialog::resizeEvent(event);
    // Before the dialog is first shown nothing keeps the picture in place yet.
    if (controls.empty())
        m_keyboard->setGeometry(rect());
}

std::optional<size_t> CQXOnScreenKeyboard::chooseKey(QWidget* parent, size_t currentKey) {
    CQXOnScreenKeyboard dialog(currentKey, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenKey();
}
