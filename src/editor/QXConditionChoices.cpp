#include "editor/QXConditionChoices.h"

#include "editor/QXDesktopBrowser.h"
#include "model/QXCondition.h"
#include "model/QXLanguageLayers.h"
#include "platform/QXLog.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

QXSystemConditionChoices::QXSystemConditionChoices(QXLayoutSource& layouts,
                                                   std::vector<QXApplicationChoice> applications)
    : m_layouts(layouts), m_applications(std::move(applications)) {}

std::u16string QXSystemConditionChoices::applicationName(const std::u16string& path) {
    std::error_code error;
    fs::path file = fs::path(QString::fromStdU16String(path).toStdString());
    fs::path resolved = fs::canonical(file, error);
    if (error)
        resolved = file;
    return QString::fromStdString(resolved.filename().string()).toLower().toStdU16String();
}

bool QXSystemConditionChoices::isProgramFile(const std::u16string& path) {
    const std::string file = QString::fromStdU16String(path).toStdString();
    std::error_code error;
    if (fs::is_regular_file(file, error) && access(file.c_str(), X_OK) == 0)
        return true;
    QXLog::warning(QXLog::kEditor,
                   "Not added to the applications: " + file + " is not an executable file");
    return false;
}

std::optional<QXApplicationChoice>
QXSystemConditionChoices::addApplication(const std::u16string& path) {
    if (!isProgramFile(path))
        return std::nullopt;
    QXApplicationChoice choice{applicationName(path), {}, -1};
    auto same = std::find_if(m_applications.begin(), m_applications.end(),
                             [&](const QXApplicationChoice& c) { return c.name == choice.name; });
    if (same != m_applications.end())
        return *same;
    m_applications.push_back(choice);
    return choice;
}

std::vector<QXLayoutChoice> QXSystemConditionChoices::layouts() const {
    std::vector<QXLayoutChoice> result;
    for (uint32_t handle : m_layouts.installedLayouts().value_or(std::vector<uint32_t>{})) {
        std::u16string text = m_layouts.languageName(handle);
        if (text.empty())
            text = m_layouts.layoutName(handle);
        result.push_back({handle, text});
    }
    return result;
}

uint32_t QXSystemConditionChoices::currentLayout() const {
    return QXSystemState::current().currentLayout();
}

std::u16string QXSystemConditionChoices::defaultBrowser() const {
    return desktopDefaultBrowser();
}

std::u16string QXSystemConditionChoices::desktopDefaultBrowser() {
    if (std::optional<std::string> program = QXDesktopBrowser::programPath())
        return applicationName(QString::fromStdString(*program).toStdU16String());
    QXLog::info(QXLog::kEditor,
                "The desktop names no web browser that can be found; using firefox");
    return u"firefox";
}
