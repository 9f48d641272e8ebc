#include "app/QXMainController.h"

#include "app/CQXCfgDlg.h"
#include "app/QXSysApplicationsController.h"
#include "app/QXX11Idle.h"
#include "model/QXKeyTable.h"
#include "model/QXLanguageLayers.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXDispatch.h"
#include "platform/QXFiles.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "pluginhost/QXPluginLiveSet.h"
#include "update/CFirmwareUpdateDlg.h"
#include "update/QXFirmwareUpdateController.h"
#include "utility/utility.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// QX_PLUGIN_PATH: more plug-in folders, separated by colons, read after the program's own
// (for plug-ins being developed and for tests).
std::vector<fs::path> pluginPathFromEnvironment() {
    std::vector<fs::path> folders;
    const char* value = std::getenv("QX_PLUGIN_PATH");
    std::string text = value ? value : "";
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find(':', start), text.size());
        if (end > start)
            folders.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

// The nearest folder that exists on the way to path.
fs::path existingAncestor(fs::path path) {
    std::error_code ec;
    while (!path.empty() && !fs::exists(path, ec) && path != path.parent_path())
        path = path.parent_path();
    return path;
}

} // namespace

QXMainController::QXMainController()
    : QXMainController(Setup{QXProfileFolders::forCurrentUser(), nullptr, pluginPathFromEnvironment()}) {}

QXMainController::QXMainController(Setup setup)
    : m_setup(std::move(setup)), m_applications(QXSysApplicationsController::instance()),
      m_state(&m_applications), m_profile(m_setup.folders, QXKeyTable::names()),
      m_idle(std::make_unique<QXX11Idle>()) {
    QXSystemState::setCurrent(&m_state);
    QXPluginInstanceFactory::setCurrent(&m_factory);
    QXDispatch& dispatch = QXDispatch::current();
    // Ahead of the layers controller, so its re-evaluation on 2040 already sees the state.
    dispatch.RegisterHandler(QXM_DEVICE_STATE, this, &QXMainController::deviceState);

    m_layers = std::make_unique<QXLayersController>(m_tree, dispatch);
    m_device = m_setup.discovery ? std::make_unique<QXDevice>(std::move(m_setup.discovery))
                                 : std::make_unique<QXDevice>();
    m_deviceController = std::make_unique<QXDeviceController>(
        *m_device, *m_layers, [this] { return m_idle->idleSeconds(); });
    // Checks every keyboard that connects; firmware too old to work with ends the program
    // the way "Exit" does.
    m_updates = std::make_unique<QXFirmwareUpdateController>(*m_device, m_setup.folders.profile);
    m_updates->setEndProgram([] { QXDispatch::current().Post(qxwin::WM_CLOSE); });
    m_state.setKeyboardConnected([this] { return m_device && m_device->isConnected(); });
    m_state.setKeyboardModifiers([this] { return m_device ? m_device->keyboardModifiers() : 0u; });

    m_sleepTimer.setSingleShot(true);
    QObject::connect(&m_sleepTimer, &QTimer::timeout, [this] { sleepStep(); });
    // A key event while the keyboard sleeps: the keeper's next step runs now, not when the
    // slow look for pointer activity comes round.
    m_deviceController->setWakeUp([this] { m_sleepTimer.start(0); });

    dispatch.RegisterHandler(QXM_SHOW_MAIN_WINDOW, this, &QXMainController::showMainWindow);
    dispatch.RegisterHandler(QXM_OPEN_FILE, this, &QXMainController::openFile);
}

QXMainController::~QXMainController() {
    shutdown();
}

void QXMainController::loadProfile() {
    m_root = m_profile.load();
    QXPluginRegistry::scan(QXPluginRegistry::programPluginsFolder(), *m_root);
    for (const fs::path& folder : m_setup.extraPluginFolders)
        QXPluginRegistry::scan(folder, *m_root);
    if (QXPropertyNode::Ptr layers = m_root->findChild(u"Layers"))
        m_tree.loadFrom(*layers);
    m_registry.build(*m_root);
    m_deviceController->loadFrom(*m_root);
    m_applications.loadFrom(*m_root);
    m_tree.ensureFixedItems(m_profile);
    QXXkbLayoutSource layouts(m_state.keyboard().installedLayouts());
    if (QXLayersItem::Ptr system = m_tree.systemLayers())
        QXLanguageLayers::synchronise(*system, layouts);
    m_layers->reevaluate();
    warnIfProfileNotWritable();
}

void QXMainController::warnIfProfileNotWritable() {
    const fs::path folder = existingAncestor(m_profile.folders().profile);
    std::error_code ec;
    if (!folder.empty() && (!fs::is_directory(folder, ec) || ::access(folder.c_str(), W_OK | X_OK) != 0))
        QXLog::warning(QXLog::kApp, "the profile folder " + m_profile.folders().profile.string() +
                                        " cannot be written: changes made now will not be "
                                        "kept when the program ends");
}

bool QXMainController::connectKeyboard() {
    return m_device->discoverAndConnect();
}

void QXMainController::deviceState(unsigned state) {
    if (state == QXDevice::Connected)
        m_sleepTimer.start(0);
    else
        m_sleepTimer.stop();
}

void QXMainController::sleepStep() {
    if (!m_deviceController)
        return;
    if (const auto next = m_deviceController->sleepStep())
        m_sleepTimer.start(static_cast<int>(std::min<long long>(next->count(), 3'600'000)));
}

bool QXMainController::saveProfile() {
    auto root = makeQX<QXPropertyNode>(u"root");
    m_tree.saveTo(*root);
    m_deviceController->saveTo(*root);
    m_applications.saveTo(*root);
    return m_profile.save(*root);
}

void QXMainController::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    QXDispatch::current().UnregisterObject(this);
    m_sleepTimer.stop();
    delete m_mainWindow;

    // The editor's selection is not part of the profile.
    m_layers->unselectAll();
    const bool saved = m_root ? saveProfile() : true;
    if (!saved)
        QXLog::warning(QXLog::kApp, "the profile could not be written to " +
                                        m_profile.folders().profile.string() +
                                        "; it is tried again at the next exit");

    // The layers and their plug-in instances go; running instances get a moment to end.
    m_updates.reset();
    m_deviceController.reset();
    m_layers.reset();
    m_tree.topLevel().clear();
    const auto grace = std::chrono::milliseconds(1000);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (QXPluginLiveSet* set :
         {&QXPluginLiveSet::views(), &QXPluginLiveSet::actions(), &QXPluginLiveSet::conditions()})
        set->waitForInstances(std::max(std::chrono::milliseconds(0),
                                       std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())));
    // Views drawing on the shared working thread leave Qt data of that thread behind (its
    // font cache); it goes with the thread, which must end while Qt is still up.
    WorkingThreadStop();
    // The keyboard gets its own codes back and goes dark; the device thread writes that.
    m_device.reset();
    QXPluginInstanceFactory::setCurrent(nullptr);
    m_registry.clear();
    QXSystemState::setCurrent(nullptr);
    // Pictures of imported items live in the temporary folder until a save copied them.
    if (saved && !m_profile.folders().temporary.empty())
        removeTree(m_profile.folders().temporary);
}

void QXMainController::showMainWindow() {
    if (!m_mainWindow) {
        auto* window = new CQXCfgDlg(*this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        m_mainWindow = window;
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void QXMainController::showUpdates() {
    CFirmwareUpdateDlg dialog(*m_updates, m_mainWindow);
    dialog.exec();
}

QXLayersItem::Ptr QXMainController::importLayers(const fs::path& file, std::string* error) {
    QXPropertyNode::Ptr node = m_profile.importItem(file, error);
    if (!node)
        return {};
    QXLayersItem::Ptr item = createItem(*node);
    if (!item || !addToUserLayers(item, error))
        return {};
    QXDispatch::current().Post(QXM_LAYER_IMPORTED);
    return item;
}

bool QXMainController::addToUserLayers(const QXLayersItem::Ptr& item, std::string* error) {
    QXLayersItem::Ptr user = m_tree.userLayers();
    if (!item || !user) {
        if (error)
            *error = "there is no group \"user_layers\" for it";
        return false;
    }
    // A new item's pictures are all new to the profile: the next save writes them.
    markAllChanged(*item);
    user->children().insert(user->children().begin(), item);
    m_layers->reevaluate();
    QXDispatch::current().Send(QXM_LAYERS_CHANGED);
    return true;
}

void QXMainController::openFile(const char16_t* path) {
    if (!path)
        return;
    std::string error;
    const fs::path file = toPath(std::u16string(path));
    if (importLayers(file, &error))
        showMainWindow();
    else
        QXLog::warning(QXLog::kApp, "cannot import " + file.string() + ": " + error);
}
