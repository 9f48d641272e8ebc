#pragma once

#include "update/QXFirmwareUpdateController.h"

#include <QDialog>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

// The update dialog: the keyboard's and the program's versions next to the latest ones
// on the update server, and the buttons that fetch a firmware image or an installer.
//
// Opening it reads the keyboard's version again and starts fetching the lists; the fields
// follow the controller on every 2047, which the dialog binds on the current dispatch
// while it exists. Closing it leaves a download under way to the controller. Open it
// modally with the main window as parent:
//     CFirmwareUpdateDlg dialog(controller, mainWindow);
//     dialog.exec();
//
// Child widgets by object name: "tabs", "keyboardFirmwareVersion", "latestFirmwareVersion",
// "listMode", "firmwareVersions", "updateFirmware", "runningProgramVersion",
// "latestProgramVersion", "updateProgram", "progress".
class CFirmwareUpdateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFirmwareUpdateDlg(QXFirmwareUpdateController& controller, QWidget* parent = nullptr);
    ~CFirmwareUpdateDlg() override;

    // Shows the controller's fields again (2047).
    void refresh();

private:
    void updateFirmware();
    void updateProgram();

    QXFirmwareUpdateController& m_controller;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_keyboardVersion = nullptr;
    QLabel* m_latestFirmware = nullptr;
    QCheckBox* m_listMode = nullptr;
    QComboBox* m_versions = nullptr;
    QPushButton* m_updateFirmware = nullptr;
    QLabel* m_runningProgram = nullptr;
    QLabel* m_latestProgram = nullptr;
    QPushButton* m_updateProgram = nullptr;
    QLabel* m_progress = nullptr;
    // The list the drop-down shows; refilled (first entry selected) only when it changes,
    // so a refresh keeps the user's choice.
    std::vector<QXFirmwareUpdateController::FirmwareEntry> m_shownList;
};
