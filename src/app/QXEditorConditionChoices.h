#pragma once

#include "editor/QXConditionChoices.h"

class QXSysApplicationsController;

// What the editor's conditions view offers, with the program's own applications list:
// its applications by display text, and programs the user picks added to it as the
// user's additions.
class QXEditorConditionChoices : public QXSystemConditionChoices {
public:
    QXEditorConditionChoices(QXLayoutSource& layouts, QXSysApplicationsController& applications);

    std::vector<QXApplicationChoice> applications() const override;
    // A program picked on purpose is listed even without a desktop entry (with no
    // description and a generic icon); a file that is no program is refused.
    std::optional<QXApplicationChoice> addApplication(const std::u16string& path) override;

private:
    QXSysApplicationsController& m_applications;
};
