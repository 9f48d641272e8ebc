#pragma once

#include "controls/CTesDialog.h"
#include "model/QXLayersItem.h"

#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

class CQXConditionsView;
class CQXKeyProps;
class CQXLayersTreeCtrl;
class CQXLayersView;
class QAction;
class QFileDialog;
class QMenu;
class QMenuBar;
class QToolBar;
class QXEditorConditionChoices;
class QXMainController;
class QXXkbLayoutSource;

// The editor: the layer tree on the left, the keyboard view at the top right, the
// conditions and the key properties under it, the tool bar above and a Help menu. Made
// when the user first asks for it, destroyed when closed; the program goes on in the
// notification area. Its size and place are remembered for the next opening.
//
// Laid out in dialog units of its font (a quarter of the average character width, an
// eighth of the line height), from a 690 x 322 template; the keyboard view takes what the
// window grows, the key properties what it widens. GUI thread only.
class CQXCfgDlg : public CTesDialog {
    Q_OBJECT
public:
    // Tool-bar commands, also their actions' object names; the Help menu's are 16 and 32.
    enum Command {
        kNewLayer = 816,
        kNewGroup = 817,
        kDelete = 818,
        kPaint = 819,
        kExport = 820,
        kImport = 821,
        kUpdates = 822,
        kProperties = 823,
        kAbout = 16,
        kForum = 32
    };

    explicit CQXCfgDlg(QXMainController& main, QWidget* parent = nullptr);
    ~CQXCfgDlg() override;

    CQXLayersTreeCtrl* tree() const { return m_tree; }
    CQXLayersView* keyboardView() const { return m_keyboard; }
    CQXConditionsView* conditionsView() const { return m_conditions; }
    CQXKeyProps* keyProps() const { return m_keyProps; }
    QToolBar* toolBar() const { return m_toolBar; }
    QMenu* exportMenu() const { return m_exportMenu; }
    QMenu* importMenu() const { return m_importMenu; }
    QMenu* helpMenu() const { return m_helpMenu; }
    // The tool-bar or menu action with this command identifier.
    QAction* action(int command) const;
    QAction* exportLayerAction() const { return m_exportLayer; }
    QAction* exportLayerImageAction() const { return m_exportImage; }
    QAction* exportLayoutAction() const { return m_exportLayout; }
    QAction* importLayerAction() const { return m_importLayer; }
    QAction* importLayerFromImageAction() const { return m_importImage; }

    // How a file dialog is run: exec() unless replaced (tests look at the dialog, choose a
    // file and accept it).
    void setFileDialogRunner(std::function<int(QFileDialog&)> runner) { m_runFileDialog = std::move(runner); }
    // How the two web pages of the Help menu are opened: the desktop's browser unless replaced.
    void setUrlOpener(std::function<bool(const QString&)> opener) { m_openUrl = std::move(opener); }

    // The commands, as the tool bar and the menus run them.
    void newLayer();
    void newGroup();
    void deleteItem();
    void paintLayer();
    void exportLayer();
    void exportLayerImage();
    void exportLayout();
    void importLayer();
    void importLayerFromImage();
    void showUpdates();
    void showProperties();
    void openAbout();
    void openForum();

    // What the commands do once the file is chosen; false after telling the user why.
    bool exportItemTo(const QXLayersItem::Ptr& item, const std::filesystem::path& file);
    bool importFrom(const std::filesystem::path& file);
    bool exportLayerImageTo(const QXLayer::Ptr& layer, const std::filesystem::path& file);
    bool importLayerImageFrom(const std::filesystem::path& file);
    bool exportLayoutTo(const std::filesystem::path& folder);

    // Brings Delete, Paint and the export entries up to date with the tree's selection.
    void updateCommands();

protected:
    void OnInit() override;
    int OnInitDialog() override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    QRect dialogUnits(int x, int y, int width, int height) const;
    void buildToolBar();
    void buildMenus();
    void layOut();
    int runFileDialog(QFileDialog& dialog);
    void tellFailure(const QString& what, const std::string& reason);
    void saveGeometrySetting();

    QXMainController& m_main;
    std::unique_ptr<QXXkbLayoutSource> m_layouts;
    std::unique_ptr<QXEditorConditionChoices> m_choices;
    QMenuBar* m_menuBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    CQXLayersTreeCtrl* m_tree = nullptr;
    CQXLayersView* m_keyboard = nullptr;
    CQXConditionsView* m_conditions = nullptr;
    CQXKeyProps* m_keyProps = nullptr;
    QMenu* m_exportMenu = nullptr;
    QMenu* m_importMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_exportLayer = nullptr;
    QAction* m_exportImage = nullptr;
    QAction* m_exportLayout = nullptr;
    QAction* m_importLayer = nullptr;
    QAction* m_importImage = nullptr;
    std::function<int(QFileDialog&)> m_runFileDialog;
    std::function<bool(const QString&)> m_openUrl;
    bool m_placed = false;
};
