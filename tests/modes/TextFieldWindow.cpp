// A window with a text field and a button, for the text-input tests: the text field has
// the focus at start; SIGUSR1 moves the focus to the button and SIGUSR2 back to the field.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <QWidget>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void onSignal(int signal) {
    const char code = signal == SIGUSR1 ? 'b' : 't';
    [[maybe_unused]] const ssize_t written = write(g_pipe[1], &code, 1);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return 1;
    std::signal(SIGUSR1, onSignal);
    std::signal(SIGUSR2, onSignal);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Text field"));
    auto* field = new QLineEdit(&window);
    auto* button = new QPushButton(QStringLiteral("Button"), &window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    layout->addWidget(button);

    QSocketNotifier notifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char code = 0;
        if (read(g_pipe[0], &code, 1) == 1)
            (code == 'b' ? static_cast<QWidget*>(button) : field)->setFocus();
    });

    window.show();
    window.activateWindow();
    field->setFocus();
    return QApplication::exec();
}
