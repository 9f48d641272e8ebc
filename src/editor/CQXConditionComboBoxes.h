#pragma once

#include "editor/QXConditionChoices.h"

#include <QComboBox>
#include <functional>

// The installed keyboard layouts, each item carrying its layout handle. A condition's
// layout that is not installed (a profile from another machine) is listed too, so that
// showing it changes nothing.
class CQXLanguagesComboBox : public QComboBox {
    Q_OBJECT
public:
    CQXLanguagesComboBox(const QXConditionChoices& choices, uint32_t layout, QWidget* parent);

    // The layout handle of an item (the selected one without an index).
    uint32_t layoutAt(int index) const;
    uint32_t selectedLayout() const { return layoutAt(currentIndex()); }

signals:
    // The user picked another layout.
    void layoutChosen(uint32_t layout);
};

// The known applications and, last, "Add application...", which asks for a program file
// and adds it. The condition's application is listed even when it is not known.
class CQXApplicationsComboBox : public QComboBox {
    Q_OBJECT
public:
    // Asks the user for a program file; empty when nothing was chosen.
    using Picker = std::function<QString(QWidget* parent)>;

    CQXApplicationsComboBox(QXConditionChoices& choices, const std::u16string& application,
                            QWidget* parent);

    // The application names of the items; the "Add application..." item has none.
    std::u16string applicationAt(int index) const;
    std::u16string selectedApplication() const { return applicationAt(currentIndex()); }
    int addItemIndex() const { return count() - 1; }

    // A file dialog for executables starting in /usr/bin unless replaced.
    void setPicker(Picker picker) { m_picker = std::move(picker); }
    static QString pickExecutable(QWidget* parent);

signals:
    void applicationChosen(const std::u16string& application);

private:
    void onActivated(int index);
    int insertApplication(const QXApplicationChoice& choice);

    QXConditionChoices& m_choices;
    Picker m_picker;
    int m_lastIndex = -1;
};
