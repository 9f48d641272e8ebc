#include "app/CQXCommandLineInfo.h"
#include "app/CQXMessageDispatch.h"
#include "app/QXMainController.h"
#include "app/QXSingleInstance.h"
#include "app/QXSysApplicationsController.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"

#include <QApplication>
#include <filesystem>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The program lives in the notification area; closing its window does not end it.
    application.setQuitOnLastWindowClosed(false);

    std::vector<std::string> arguments;
    const QStringList qtArguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArguments.size(); ++i)
        arguments.push_back(qtArguments[i].toStdString());
    CQXCommandLineInfo commandLine(arguments);

    QXSingleInstance instance;
    if (!instance.claim(commandLine))
        return 0;

    CQXMessageDispatch& dispatch = CQXMessageDispatch::instance();
    instance.listen(dispatch);
    QXSysApplicationsController::instance();
    QXMainController::instance();

    if (!commandLine.minimized())
        dispatch.Send(QXM_SHOW_MAIN_WINDOW);
    if (!commandLine.layersFile().empty()) {
        std::error_code ec;
        const std::u16string path =
            fromPath(std::filesystem::absolute(commandLine.layersFile(), ec));
        dispatch.SendCopyData(QXM_OPEN_FILE, path.c_str(), (path.size() + 1) * 2);
    }

    const int status = application.exec();
    dispatch.shutdown();
    return status;
}
