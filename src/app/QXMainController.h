#pragma once

#include "app/QXLiveSystemState.h"
#include "device/QXDevice.h"
#include "device/QXDeviceController.h"
#include "model/QXLayersController.h"
#include "platform/QXSingleton.h"
#include "pluginhost/QXPluginHostFactory.h"
#include "pluginhost/QXPluginRegistry.h"
#include "store/QXProfile.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <vector>

class QXFirmwareUpdateController;
class QXSysApplicationsController;
class QXX11Idle;

// The controller of the program as a whole. Its construction brings up, in this order,
// the applications list, the temporary folder, the layers controller, the device
// controller, the keyboard and the update controller; loadProfile() reads the profile
// and builds the active layers; its end saves the profile once and lets everything go
// in the reverse order, the keyboard last but one with its final files.
//
// Binds 2042 (show the main window), 2048 (import a layers file handed over) and 2040
// (the sleep keeper runs while a keyboard is connected). GUI thread.
class QXMainController : public singleton<QXMainController> {
public:
    struct Setup {
        QXProfileFolders folders = QXProfileFolders::forCurrentUser();
        // Where keyboards are found; the system's (real and virtual) when empty.
        std::unique_ptr<QXDiscoveryBackend> discovery;
        // Plug-in folders read after the program's own "Plugins" (QX_PLUGIN_PATH).
        std::vector<std::filesystem::path> extraPluginFolders;
    };

    QXMainController();
    explicit QXMainController(Setup setup);
    ~QXMainController();
    QXMainController(const QXMainController&) = delete;
    QXMainController& operator=(const QXMainController&) = delete;

    // Reads the profile: layers, plug-ins, device settings, applications; makes sure the
    // fixed items exist and builds the active layers.
    void loadProfile();
    // Connects the first keyboard found; true when one is connected.
    bool connectKeyboard();
    // Saves the profile and lets the layers, plug-ins and keyboard go. Runs once; the
    // destructor runs it when nobody did.
    void shutdown();

    // Creates the main window when it does not exist, centres it on first show, shows,
    // raises and activates it.
    void showMainWindow();
    QWidget* mainWindow() const { return m_mainWindow; }

    // Imports a ".layers" file into "user_layers", ahead of the layers there; the new item,
    // or none with the reason in error when the file could not be read.
    QXLayersItem::Ptr importLayers(const std::filesystem::path& file, std::string* error = nullptr);
    // Puts a new item first in "user_layers", so it shows over the layers already there,
    // and makes it take part at once; false with the reason in error when there is no
    // such group.
    bool addToUserLayers(const QXLayersItem::Ptr& item, std::string* error = nullptr);
    // True when the last save wrote the whole profile.
    bool saveProfile();

    QXProfile& profile() { return m_profile; }
    QXLiveSystemState& liveState() { return m_state; }
    QXLayerTree& tree() { return m_tree; }
    QXLayersController& layers() { return *m_layers; }
    QXDevice& device() { return *m_device; }
    QXDeviceController& deviceController() { return *m_deviceController; }
    QXPluginRegistry& plugins() { return m_registry; }
    QXFirmwareUpdateController& updates() { return *m_updates; }
    // The update dialog, modal over the main window.
    void showUpdates();

private:
    void openFile(const char16_t* path);
    void deviceState(unsigned state);
    void sleepStep();
    void warnIfProfileNotWritable();

    Setup m_setup;
    QXSysApplicationsController& m_applications;
    QXLiveSystemState m_state;
    QXProfile m_profile;
    QXPluginRegistry m_registry;
    QXPluginHostFactory m_factory{m_registry};
    QXPropertyNode::Ptr m_root;
    QXLayerTree m_tree;
    std::unique_ptr<QXX11Idle> m_idle;
    std::unique_ptr<QXLayersController> m_layers;
    std::unique_ptr<QXDevice> m_device;
    std::unique_ptr<QXDeviceController> m_deviceController;
    std::unique_ptr<QXFirmwareUpdateController> m_updates;
    QTimer m_sleepTimer;
    QPointer<QWidget> m_mainWindow;
    bool m_shutDown = false;
};
