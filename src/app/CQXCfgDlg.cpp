#include "app/CQXCfgDlg.h"

#include "app/QXDeviceKeyboardSettings.h"
#include "app/QXEditorConditionChoices.h"
#include "app/QXLayoutExport.h"
#include "app/QXMainController.h"
#include "app/QXSysApplicationsController.h"
#include "app/QXTrayIcon.h"
#include "controls/CTesDialogUnits.h"
#include "editor/CQXConditionsView.h"
#include "editor/CQXKeyProps.h"
#include "editor/CQXKeyboardPropertiesDlg.h"
#include "editor/CQXLayersTreeCtrl.h"
#include "editor/CQXLayersView.h"
#include "editor/QXEditorArt.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXDesktop.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXResource.h"
#include "platform/QXText.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QToolBar>
#include <QToolButton>

#ifndef QX_VERSION
#error "QX_VERSION must name the program's version"
#endif

std::span<const QXResourceData> qxAppResources();

namespace fs = std::filesystem;

namespace {

constexpr unsigned kTemplateId = 102;
const QString kCaption = QStringLiteral("Tessera Quadrix Configurator");

QString qs(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

fs::path pathOf(const QString& file) {
    return fs::path(file.toStdString());
}

// A display name made into a file name: no folder separators, never empty.
QString fileNameOf(const std::u16string& name, const char* fallback) {
    QString result = qs(name).trimmed();
    result.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (result.isEmpty() || result == QLatin1String(".") || result == QLatin1String(".."))
        result = QString::fromLatin1(fallback);
    return result;
}

// The program's icon at every size it is drawn in.
QIcon programIcon() {
    QIcon icon;
    for (const char* name : {"qxcfg-16", "qxcfg-32", "qxcfg-48", "qxcfg"}) {
        QPixmap pixmap;
        if (const QXResourceData* r = findResource(qxAppResources(), name))
            if (pixmap.loadFromData(r->data, static_cast<unsigned>(r->size), "PNG"))
                icon.addPixmap(pixmap);
    }
    return icon;
}

bool isFixedItem(const QXLayersItem& item) {
    return item.hasFlag(QXLayersItem::kFixed) || item.hasFlag(QXLayersItem::kUserLayers) ||
           item.hasFlag(QXLayersItem::kSystemLayers);
}

} // namespace

CQXCfgDlg::CQXCfgDlg(QXMainController& main, QWidget* parent)
    : CTesDialog(kTemplateId, parent, 1), m_main(main),
      m_layouts(std::make_unique<QXXkbLayoutSource>(main.liveState().keyboard().installedLayouts())),
      m_choices(std::make_unique<QXEditorConditionChoices>(*m_layouts, QXSysApplicationsController::instance())) {
    setObjectName(QStringLiteral("CQXCfgDlg"));
    setAccessibleName(kCaption);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowTitle(kCaption + QLatin1Char(' ') + QStringLiteral(QX_VERSION));
    setWindowIcon(programIcon());
    setSizeGripEnabled(false); // the dialog has a grip of its own

    QXLayersController& controller = m_main.layers();
    QXDispatch& dispatch = QXDispatch::current();

    m_tree = new CQXLayersTreeCtrl(controller, dispatch, this);
    m_keyboard = new CQXLayersView(controller, dispatch, this);
    m_conditions = new CQXConditionsView(controller, *m_choices, m_main.plugins(), dispatch, this);
    m_keyProps = new CQXKeyProps(controller, *m_keyboard, m_main.plugins(), dispatch, this);
    m_tree->attachKeyboardView(m_keyboard);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CQXCfgDlg::updateCommands);

    buildMenus();
    buildToolBar();
    m_runFileDialog = [](QFileDialog& dialog) { return dialog.exec(); };
    m_openUrl = [](const QString& url) { return QXDesktop::open(url.toStdString()); };
    updateCommands();
}

CQXCfgDlg::~CQXCfgDlg() {
    // What the editor selected shows on the keyboard only while the editor is open.
    m_main.layers().unselectAll();
}

// ---- building ------------------------------------------------------------------------

void CQXCfgDlg::buildMenus() {
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menuBar"));
    m_menuBar->setAccessibleName(QStringLiteral("Menu bar"));
    m_helpMenu = m_menuBar->addMenu(QStringLiteral("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    QAction* about = m_helpMenu->addAction(QStringLiteral("About Configurator..."), this, &CQXCfgDlg::openAbout);
    about->setObjectName(QString::number(kAbout));
    QAction* forum = m_helpMenu->addAction(QStringLiteral("Discussion forum..."), this, &CQXCfgDlg::openForum);
    forum->setObjectName(QString::number(kForum));

    m_exportMenu = new QMenu(QStringLiteral("Export"), this);
    m_exportMenu->setObjectName(QStringLiteral("exportMenu"));
    m_exportLayer = m_exportMenu->addAction(QStringLiteral("Layer..."), this, &CQXCfgDlg::exportLayer);
    m_exportLayer->setObjectName(QStringLiteral("exportLayer"));
    m_exportImage = m_exportMenu->addAction(QStringLiteral("Layer Image..."), this, &CQXCfgDlg::exportLayerImage);
    m_exportImage->setObjectName(QStringLiteral("exportLayerImage"));
    m_exportLayout = m_exportMenu->addAction(QStringLiteral("Tessera Layout..."), this, &CQXCfgDlg::exportLayout);
    m_exportLayout->setObjectName(QStringLiteral("exportLayout"));

    m_importMenu = new QMenu(QStringLiteral("Import"), this);
    m_importMenu->setObjectName(QStringLiteral("importMenu"));
    m_importLayer = m_importMenu->addAction(QStringLiteral("Layer..."), this, &CQXCfgDlg::importLayer);
    m_importLayer->setObjectName(QStringLiteral("importLayer"));
    m_importImage = m_importMenu->addAction(QStringLiteral("Layer from Image..."), this,
                                            &CQXCfgDlg::importLayerFromImage);
    m_importImage->setObjectName(QStringLiteral("importLayerFromImage"));
}

void CQXCfgDlg::buildToolBar() {
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setAccessibleName(QStringLiteral("Tool bar"));
    m_toolBar->setIconSize(QSize(56, 32));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);

    struct Button {
        Command command;
        const char* name;
        const char* text;
        const char* tip;
        void (CQXCfgDlg::*run)();
    };
    static const Button kButtons[] = {
        {kNewLayer, "new-layer", "New Layer", "Add a layer next to the selected item", &CQXCfgDlg::newLayer},
        {kNewGroup, "new-group", "New Group", "Add a group next to the selected item", &CQXCfgDlg::newGroup},
        {kDelete, "delete", "Delete", "Delete the selected layer or group", &CQXCfgDlg::deleteItem},
        {kPaint, "paint", "Paint", "Edit the selected layer's pictures in an image editor", &CQXCfgDlg::paintLayer},
        {kExport, "export", "Export", "Export a layer, its picture or the keyboard's files", nullptr},
        {kImport, "import", "Import", "Import a layers file or a layer picture", nullptr},
        {kUpdates, "updates", "Updates", "Look for new firmware and a new Configurator", &CQXCfgDlg::showUpdates},
        {kProperties, "properties", "Properties", "Keyboard sleep time and brightness", &CQXCfgDlg::showProperties},
    };
    for (const Button& button : kButtons) {
        if (button.command == kPaint || button.command == kUpdates)
            m_toolBar->addSeparator();
        auto* action = new QAction(toolBarIcon(button.name), QString::fromLatin1(button.text), this);
        action->setObjectName(QString::number(button.command));
        action->setToolTip(QString::fromLatin1(button.tip));
        action->setStatusTip(action->toolTip());
        if (button.run)
            connect(action, &QAction::triggered, this, button.run);
        else
            action->setMenu(button.command == kExport ? m_exportMenu : m_importMenu);
        m_toolBar->addAction(action);
        QWidget* widget = m_toolBar->widgetForAction(action);
        widget->setObjectName(QString::number(button.command));
        widget->setAccessibleName(QString::fromLatin1(button.text));
        if (auto* tool = qobject_cast<QToolButton*>(widget); tool && !button.run)
            tool->setPopupMode(QToolButton::InstantPopup);
    }
    if (QAction* del = action(kDelete))
        del->setShortcutContext(Qt::WidgetShortcut); // the tree handles the Delete key itself
}

QAction* CQXCfgDlg::action(int command) const {
    const QString name = QString::number(command);
    for (QAction* a : findChildren<QAction*>())
        if (a->objectName() == name)
            return a;
    return nullptr;
}

QRect CQXCfgDlg::dialogUnits(int x, int y, int width, int height) const {
    return CTesDialogUnits(font()).rect(x, y, width, height);
}

void CQXCfgDlg::layOut() {
    const int menuHeight = m_menuBar->sizeHint().height();
    const int barHeight = m_toolBar->sizeHint().height();
    const QRect window = dialogUnits(0, 0, 690, 322);
    // The template leaves 41 units above the panels for the tool bar; a taller menu bar
    // and tool bar (large fonts, high scale) push everything down rather than overlap.
    const int room = dialogUnits(0, 41, 0, 0).top() - dialogUnits(0, 6, 0, 0).top();
    const int push = std::max(0, menuHeight + barHeight - room);
    auto place = [&](QWidget* widget, QRect r) { widget->setGeometry(r.translated(0, push)); };

    m_menuBar->setGeometry(0, 0, window.width(), menuHeight);
    m_toolBar->setGeometry(0, menuHeight, window.width(), barHeight);
    place(m_tree, dialogUnits(10, 41, 146, 271));
    place(m_keyboard, dialogUnits(167, 41, 513, 156));
    place(m_conditions, dialogUnits(167, 206, 163, 106));
    place(m_keyProps, dialogUnits(340, 206, 340, 106));
    resize(window.width(), window.height() + push);
}

void CQXCfgDlg::OnInit() {
    layOut();
}

int CQXCfgDlg::OnInitDialog() {
    CTesDialog::OnInitDialog();
    AddControl(m_menuBar, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_toolBar, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_tree, TES_FOLLOW_HEIGHT, 1, QRect());
    // The keyboard view paints every pixel of its own.
    AddControl(m_keyboard, TES_FOLLOW_WIDTH | TES_FOLLOW_HEIGHT, 0, QRect());
    AddControl(m_conditions, TES_MOVE_DOWN, 1, QRect());
    AddControl(m_keyProps, TES_MOVE_DOWN | TES_FOLLOW_WIDTH, 1, QRect());
    return 1;
}

// ---- window ---------------------------------------------------------------------------

void CQXCfgDlg::showEvent(QShowEvent* event) {
    CTesDialog::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    // Where the user left it last time, else centred on the screen.
    QSettings settings(QString::fromStdString((m_main.profile().folders().profile / "Editor.ini").string()),
                       QSettings::IniFormat);
    const QByteArray stored = settings.value(QStringLiteral("MainWindow/Geometry")).toByteArray();
    if (!stored.isEmpty() && restoreGeometry(stored))
        return;
    // The template's size is the smallest that holds everything; the first opening gives
    // the key properties, which take what the window widens, room to breathe.
    if (QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QRect available = shown->availableGeometry();
        const int wider = std::min(width() + dialogUnits(0, 0, 140, 0).width(), available.width() * 9 / 10);
        resize(std::max(width(), wider), height());
        move(available.center() - rect().center());
    }
}

void CQXCfgDlg::saveGeometrySetting() {
    if (!m_placed)
        return;
    std::error_code ec;
    fs::create_directories(m_main.profile().folders().profile, ec);
    QSettings settings(QString::fromStdString((m_main.profile().folders().profile / "Editor.ini").string()),
                       QSettings::IniFormat);
    settings.setValue(QStringLiteral("MainWindow/Geometry"), saveGeometry());
}

void CQXCfgDlg::closeEvent(QCloseEvent* event) {
    saveGeometrySetting();
    CTesDialog::closeEvent(event);
}

void CQXCfgDlg::reject() {
    // A dialog hides on reject; this window goes altogether, as when it is closed.
    saveGeometrySetting();
    CTesDialog::reject();
    deleteLater();
}

void CQXCfgDlg::keyPressEvent(QKeyEvent* event) {
    // Escape closes dialogs, not the editor.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    CTesDialog::keyPressEvent(event);
}

// ---- commands -------------------------------------------------------------------------

void CQXCfgDlg::updateCommands() {
    const QXLayersItem::Ptr item = m_tree->selectedItem();
    const bool layer = item && !item->isGroup();
    action(kDelete)->setEnabled(item && !isFixedItem(*item));
    action(kPaint)->setEnabled(layer);
    m_exportLayer->setEnabled(bool(item));
    m_exportImage->setEnabled(layer);
}

void CQXCfgDlg::newLayer() {
    m_tree->newLayer();
    updateCommands();
}

void CQXCfgDlg::newGroup() {
    m_tree->newGroup();
    updateCommands();
}

void CQXCfgDlg::deleteItem() {
    m_tree->deleteSelected();
    updateCommands();
}

void CQXCfgDlg::paintLayer() {
    const QXLayer::Ptr layer = m_tree->selectedItem().dynamicCast<QXLayer>();
    if (layer && m_main.layers().editLayerAsPicture(layer).empty())
        tellFailure(QStringLiteral("The layer cannot be opened in an image editor"),
                    "its picture could not be written or no program opens it");
}

int CQXCfgDlg::runFileDialog(QFileDialog& dialog) {
    return m_runFileDialog(dialog);
}

void CQXCfgDlg::exportLayer() {
    const QXLayersItem::Ptr item = m_tree->selectedItem();
    if (!item)
        return;
    QFileDialog dialog(this, QStringLiteral("Export Layer"));
    dialog.setObjectName(QStringLiteral("exportLayerDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("layers"));
    dialog.setNameFilters({QStringLiteral("Layers files (*.layers)")});
    dialog.selectFile(fileNameOf(item->displayName(), "Layer") + QStringLiteral(".layers"));
    if (runFileDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    exportItemTo(item, pathOf(dialog.selectedFiles().front()));
}

bool CQXCfgDlg::exportItemTo(const QXLayersItem::Ptr& item, const fs::path& file) {
    QXPropertyNode scratch(u"import_item_prefs");
    item->saveTo(scratch);
    std::string error;
    if (scratch.children().empty() || !m_main.profile().exportItem(*scratch.children().front(), file, &error)) {
        tellFailure(QStringLiteral("\"%1\" was not exported").arg(qs(item->displayName())), error);
        return false;
    }
    return true;
}

void CQXCfgDlg::exportLayerImage() {
    const QXLayer::Ptr layer = m_tree->selectedItem().dynamicCast<QXLayer>();
    if (!layer)
        return;
    QFileDialog dialog(this, QStringLiteral("Export Layer Image"));
    dialog.setObjectName(QStringLiteral("exportLayerImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.setNameFilters({QStringLiteral("PNG Image (*.png)")});
    dialog.selectFile(fileNameOf(layer->displayName(), "Layer") + QStringLiteral(".png"));
    if (runFileDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    exportLayerImageTo(layer, pathOf(dialog.selectedFiles().front()));
}

bool CQXCfgDlg::exportLayerImageTo(const QXLayer::Ptr& layer, const fs::path& file) {
    std::string error;
    if (!QXLayoutExport::saveLayerImage(*layer, file, &error)) {
        tellFailure(QStringLiteral("The picture of \"%1\" was not written").arg(qs(layer->displayName())), error);
        return false;
    }
    return true;
}

void CQXCfgDlg::exportLayout() {
    QFileDialog dialog(this, QStringLiteral("Select destination folder for dumping"));
    dialog.setObjectName(QStringLiteral("exportLayoutDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (runFileDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    exportLayoutTo(pathOf(dialog.selectedFiles().front()));
}

bool CQXCfgDlg::exportLayoutTo(const fs::path& folder) {
    std::string error;
    if (!QXLayoutExport::dumpToFolder(m_main.tree(), folder, &error)) {
        tellFailure(QStringLiteral("The keyboard's files were not written"), error);
        return false;
    }
    return true;
}

void CQXCfgDlg::importLayer() {
    QFileDialog dialog(this, QStringLiteral("Import Layer"));
    dialog.setObjectName(QStringLiteral("importLayerDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("layers"));
    dialog.setNameFilters({QStringLiteral("Layers files (*.layers *.tqlz)")});
    if (runFileDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    importFrom(pathOf(dialog.selectedFiles().front()));
}

bool CQXCfgDlg::importFrom(const fs::path& file) {
    std::string error;
    const QXLayersItem::Ptr item = m_main.importLayers(file, &error);
    if (!item) {
        tellFailure(QStringLiteral("%1 was not imported").arg(QString::fromStdString(file.filename().string())),
                    error);
        return false;
    }
    m_tree->rebuild();
    m_tree->selectItem(item);
    return true;
}

void CQXCfgDlg::importLayerFromImage() {
    QFileDialog dialog(this, QStringLiteral("Import Layer from Image"));
    dialog.setObjectName(QStringLiteral("importLayerFromImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Images (*.jpeg *.jpg *.gif *.png *.bmp *.tif *.tiff)")});
    if (runFileDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    importLayerImageFrom(pathOf(dialog.selectedFiles().front()));
}

bool CQXCfgDlg::importLayerImageFrom(const fs::path& file) {
    std::string error;
    QXLayer::Ptr layer = QXLayoutExport::layerFromImage(file, fromUtf8(file.stem().string()), &error);
    if (!layer || !m_main.addToUserLayers(layer, &error)) {
        tellFailure(QStringLiteral("%1 was not imported").arg(QString::fromStdString(file.filename().string())),
                    error);
        return false;
    }
    m_tree->rebuild();
    m_tree->selectItem(layer);
    return true;
}

void CQXCfgDlg::showUpdates() {
    m_main.showUpdates();
}

void CQXCfgDlg::showProperties() {
    QXDeviceKeyboardSettings settings(m_main.deviceController());
    CQXKeyboardPropertiesDlg dialog(settings, this);
    dialog.exec();
}

void CQXCfgDlg::openAbout() {
    if (!m_openUrl(QString::fromLatin1(QXTrayIcon::kProductPage)))
        tellFailure(QStringLiteral("The web page was not opened"), "no web browser answered");
}

void CQXCfgDlg::openForum() {
    if (!m_openUrl(QString::fromLatin1(QXTrayIcon::kForumPage)))
        tellFailure(QStringLiteral("The web page was not opened"), "no web browser answered");
}

void CQXCfgDlg::tellFailure(const QString& what, const std::string& reason) {
    QXLog::warning(QXLog::kEditor, what.toStdString() + ": " + reason);
    // Not modal to the program: the message waits for the user without stopping the
    // keyboard or the tray.
    auto* box = new QMessageBox(QMessageBox::Warning, kCaption, what + QLatin1Char('.'), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("failureMessage"));
    box->setInformativeText(QString::fromStdString(reason));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
