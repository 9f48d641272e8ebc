#include "app/QXEditorConditionChoices.h"

#include "app/QXSysApplicationsController.h"
#include "platform/QXLog.h"
#include "platform/QXText.h"

QXEditorConditionChoices::QXEditorConditionChoices(QXLayoutSource& layouts,
                                                   QXSysApplicationsController& applications)
    : QXSystemConditionChoices(layouts), m_applications(applications) {}

std::vector<QXApplicationChoice> QXEditorConditionChoices::applications() const {
    std::vector<QXApplicationChoice> result;
    for (const QXSysApplicationsController::Application* a :
         m_applications.applicationsByDisplayText())
        result.push_back({a->name, a->displayText(), a->iconIndex});
    return result;
}

std::optional<QXApplicationChoice>
QXEditorConditionChoices::addApplication(const std::u16string& path) {
    if (!isProgramFile(path))
        return std::nullopt;
    std::optional<QXSysApplicationsController::Application> added =
        m_applications.addApplication(path, /*trusted=*/true, /*userAddition=*/true);
    if (!added) {
        QXLog::warning(QXLog::kApp, "Not added to the applications: " + toUtf8(path) +
                                        " was refused by the list");
        return std::nullopt;
    }
    return QXApplicationChoice{added->name, added->displayText(), added->iconIndex};
}
