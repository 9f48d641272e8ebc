#include "QXApplicationsTestSupport.h"

#include "app/QXProcessList.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"

#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <csignal>
#include <random>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace qxtest {

void ensureGuiApplication() {
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_applications_tests";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // lives until the test program ends
}

SentMessages::SentMessages() {
    QXDispatch& dispatch = QXDispatch::current();
    dispatch.RegisterHandler(QXM_RUNNING_APPS_CHANGED, this, &SentMessages::onRunningChanged);
    dispatch.RegisterHandler(QXM_FOREGROUND_APP_CHANGED, this, &SentMessages::onForegroundChanged);
}

SentMessages::~SentMessages() {
    QXDispatch::current().UnregisterObject(this);
}

TestProgram::TestProgram(const std::filesystem::path& folder) {
    std::random_device random;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    m_path = folder / (std::string("QXTestApp-") + suffix);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file("/bin/sleep", m_path);
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all);
}

TestProgram::~TestProgram() {
    for (pid_t pid : std::vector<pid_t>(m_running))
        stop(pid);
}

std::u16string TestProgram::fileName() const {
    return fromUtf8(m_path.filename().string());
}

std::u16string TestProgram::name() const {
    return QXProcessList::lowerCase(fileName());
}

pid_t TestProgram::start() {
    const std::string program = m_path.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("600"), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    m_running.push_back(pid);
    // Until exec the child still runs the test program.
    if (!waitFor([&] { return QXProcessList::processName(pid) == name(); }))
        return -1;
    return pid;
}

void TestProgram::stop(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::erase(m_running, pid);
}

TempDesktop::TempDesktop() {
    ensureGuiApplication();
    std::filesystem::create_directories(bin());
}

std::filesystem::path TempDesktop::program(const std::string& relative) {
    const std::filesystem::path file = m_dir / relative;
    writeFile(file, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file;
}

void TempDesktop::entry(const std::string& relative, const std::string& text, bool user) {
    writeFile((user ? dataHome() : dataDir()) / "applications" / relative, text);
}

void writePicture(const std::filesystem::path& file, const QColor& colour, int size,
                  const char* format) {
    std::filesystem::create_directories(file.parent_path());
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(QString::fromStdString(file.string()), format);
}

} // namespace qxtest
