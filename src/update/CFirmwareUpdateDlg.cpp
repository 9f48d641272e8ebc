#include "update/CFirmwareUpdateDlg.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kNotAvailable = QStringLiteral("[Data not avaliable]");

QLabel* valueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString orNotAvailable(const std::u16string& text) {
    return text.empty() ? kNotAvailable : QString::fromStdU16String(text);
}

} // namespace

CFirmwareUpdateDlg::CFirmwareUpdateDlg(QXFirmwareUpdateController& controller, QWidget* parent)
    : QDialog(parent), m_controller(controller) {
    setObjectName(QStringLiteral("CFirmwareUpdateDlg"));
    setWindowTitle(QStringLiteral("Firmware and Configurator Update"));
    setModal(true);

    auto* firmwarePage = new QWidget;
    auto* firmwareForm = new QFormLayout(firmwarePage);
    m_keyboardVersion = valueLabel("keyboardFirmwareVersion", firmwarePage);
    m_latestFirmware = valueLabel("latestFirmwareVersion", firmwarePage);
    m_listMode = new QCheckBox(QStringLiteral("Choose from all firmware versions"), firmwarePage);
    m_listMode->setObjectName(QStringLiteral("listMode"));
    m_versions = new QComboBox(firmwarePage);
    m_versions->setObjectName(QStringLiteral("firmwareVersions"));
    m_updateFirmware = new QPushButton(QStringLiteral("Update Firmware"), firmwarePage);
    m_updateFirmware->setObjectName(QStringLiteral("updateFirmware"));
    firmwareForm->addRow(QStringLiteral("Keyboard firmware version:"), m_keyboardVersion);
    firmwareForm->addRow(QStringLiteral("Latest firmware version:"), m_latestFirmware);
    firmwareForm->addRow(m_listMode);
    firmwareForm->addRow(m_versions);
    firmwareForm->addRow(m_updateFirmware);

    auto* programPage = new QWidget;
    auto* programForm = new QFormLayout(programPage);
    m_runningProgram = valueLabel("runningProgramVersion", programPage);
    m_latestProgram = valueLabel("latestProgramVersion", programPage);
    m_updateProgram = new QPushButton(QStringLiteral("Update Configurator"), programPage);
    m_updateProgram->setObjectName(QStringLiteral("updateProgram"));
    programForm->addRow(QStringLiteral("Configurator version:"), m_runningProgram);
    programForm->addRow(QStringLiteral("Latest Configurator version:"), m_latestProgram);
    programForm->addRow(m_updateProgram);

    m_progress = valueLabel("progress", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    m_controller.readKeyboardVersion();
    m_controller.fetchLists();

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->addTab(firmwarePage, QStringLiteral("Firmware Version"));
    m_tabs->addTab(programPage, QStringLiteral("Configurator Version"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_listMode, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(m_updateFirmware, &QPushButton::clicked, this, [this] { updateFirmware(); });
    connect(m_updateProgram, &QPushButton::clicked, this, [this] { updateProgram(); });

    QXDispatch::current().RegisterHandler(QXM_UPDATE_STATE, this, &CFirmwareUpdateDlg::refresh);
    refresh();
}

CFirmwareUpdateDlg::~CFirmwareUpdateDlg() {
    QXDispatch::current().UnregisterObject(this);
}

void CFirmwareUpdateDlg::refresh() {
    const QXFirmwareUpdateController& c = m_controller;
    m_progress->setText(c.downloadingUpdate() ? QStringLiteral("Downloaded: %1%").arg(c.progress())
                                              : QString());

    if (!c.keyboardFirmwareVersion().empty())
        m_keyboardVersion->setText(QString::fromStdU16String(c.keyboardFirmwareVersion()));
    else if (c.keyboardConnected())
        m_keyboardVersion->setText(QStringLiteral("[Can't retrive]"));
    else
        m_keyboardVersion->setText(QStringLiteral("[Device not connected]"));
    m_latestFirmware->setText(orNotAvailable(c.latestFirmwareVersion()));
    m_runningProgram->setText(QString::fromStdU16String(c.runningProgramVersion()));
    m_latestProgram->setText(orNotAvailable(c.latestProgramVersion()));

    const bool listMode = m_listMode->isChecked();
    m_versions->setVisible(listMode);
    if (c.firmwareList() != m_shownList) {
        m_shownList = c.firmwareList();
        m_versions->clear();
        for (const QXFirmwareUpdateController::FirmwareEntry& entry : m_shownList)
            m_versions->addItem(QString::fromStdU16String(entry.version));
        m_versions->setCurrentIndex(m_shownList.empty() ? -1 : 0);
    }

    m_updateFirmware->setEnabled(c.canUpdateFirmware(listMode));
    m_updateProgram->setEnabled(c.canUpdateProgram());
}

void CFirmwareUpdateDlg::updateFirmware() {
    const bool listMode = m_listMode->isChecked();
    const int entry = m_versions->currentIndex();
    if (listMode && entry < 0)
        return;
    m_controller.updateFirmware(listMode, listMode ? static_cast<size_t>(entry) : 0);
    refresh();
}

void CFirmwareUpdateDlg::updateProgram() {
    m_controller.updateProgram();
    refresh();
}
