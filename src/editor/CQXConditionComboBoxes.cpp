#include "editor/CQXConditionComboBoxes.h"

#include "editor/QXGlobalImageList.h"
#include "platform/QXLog.h"

#include <QDir>
#include <QFileDialog>
#include <QPixmap>

namespace {

constexpr int kNameRole = Qt::UserRole;

QString hexHandle(uint32_t layout) {
    return QStringLiteral("%1").arg(layout, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

// ---- languages -----------------------------------------------------------------------

CQXLanguagesComboBox::CQXLanguagesComboBox(const QXConditionChoices& choices, uint32_t layout,
                                           QWidget* parent)
    : QComboBox(parent) {
    setAccessibleName(QStringLiteral("Keyboard language"));
    int selected = -1;
    for (const QXLayoutChoice& choice : choices.layouts()) {
        QString text = QString::fromStdU16String(choice.text);
        if (text.isEmpty())
            text = hexHandle(choice.handle);
        if (choice.handle == layout)
            selected = count();
        addItem(text, QVariant::fromValue(choice.handle));
    }
    if (selected < 0) {
        selected = count();
        addItem(QStringLiteral("Layout %1 (not installed)").arg(hexHandle(layout)),
                QVariant::fromValue(layout));
    }
    setCurrentIndex(selected);
    connect(this, &QComboBox::activated, this,
            [this](int index) { emit layoutChosen(layoutAt(index)); });
}

uint32_t CQXLanguagesComboBox::layoutAt(int index) const {
    return itemData(index).value<uint32_t>();
}

// ---- applications --------------------------------------------------------------------

CQXApplicationsComboBox::CQXApplicationsComboBox(QXConditionChoices& choices,
                                                 const std::u16string& application, QWidget* parent)
    : QComboBox(parent), m_choices(choices), m_picker(&CQXApplicationsComboBox::pickExecutable) {
    setAccessibleName(QStringLiteral("Application"));
    for (const QXApplicationChoice& choice : choices.applications())
        insertApplication(choice);
    addItem(QStringLiteral("Add application..."));
    int selected = findData(QString::fromStdU16String(application), kNameRole);
    if (selected < 0)
        selected = insertApplication({application, {}, -1});
    setCurrentIndex(selected);
    m_lastIndex = selected;
    connect(this, &QComboBox::activated, this, &CQXApplicationsComboBox::onActivated);
}

std::u16string CQXApplicationsComboBox::applicationAt(int index) const {
    return itemData(index, kNameRole).toString().toStdU16String();
}

int CQXApplicationsComboBox::insertApplication(const QXApplicationChoice& choice) {
    // Before "Add application..." once that is there.
    const int at = count() > 0 && itemData(count() - 1, kNameRole).isNull() ? count() - 1 : count();
    const QString text = QString::fromStdU16String(choice.text.empty() ? choice.name : choice.text);
    QIcon icon;
    if (choice.iconIndex >= 0)
        icon = QIcon(QPixmap::fromImage(QXGlobalImageList::instance().icon(choice.iconIndex)));
    insertItem(at, icon, text, QString::fromStdU16String(choice.name));
    return at;
}

void CQXApplicationsComboBox::onActivated(int index) {
    if (index != addItemIndex()) {
        m_lastIndex = index;
        emit applicationChosen(applicationAt(index));
        return;
    }
    const QString path = m_picker ? m_picker(this) : QString();
    std::optional<QXApplicationChoice> added;
    if (!path.isEmpty())
        added = m_choices.addApplication(path.toStdU16String());
    if (!added) {
        setCurrentIndex(m_lastIndex); // nothing chosen or refused: the condition keeps its own
        return;
    }
    int at = findData(QString::fromStdU16String(added->name), kNameRole);
    if (at < 0)
        at = insertApplication(*added);
    setCurrentIndex(at);
    m_lastIndex = at;
    emit applicationChosen(added->name);
}

QString CQXApplicationsComboBox::pickExecutable(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Add application"), QStringLiteral("/usr/bin"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Application files (*)"));
    // Executables only: the folder walk keeps folders to move through and executable files.
    dialog.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Files | QDir::Executable);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
