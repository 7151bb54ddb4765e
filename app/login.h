#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "utility/utility.h"

class QAction;
class QComboBox;
class QDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QSystemTrayIcon;
class QTimer;
class TAppExec;
class TFindFile;
class TPanelLabel;
class TadpInstanceControl;
class TNetUseServer;
struct TSearchRec;

namespace Ui {
class TTavroNetLoginForm;
}

bool DesktopHasSystemTray();

// What the window asks the machine about itself. Each is one seam, so tests can
// supply facts this machine cannot produce (an old system, a remote session, ...).
struct TLoginSystemFacts {
    std::function<TOSVersionInfo()> OSVersionInfo = GetOSVersionInfo;
    std::function<bool()> Administrator = IsAdministrator;
    std::function<bool()> RemoteSession = IsRemoteSession;
    std::function<quint32()> IdleMilliseconds = GetIdleMilliseconds;
    std::function<bool()> IdleTimeKnown = IdleTimeAvailable;
    std::function<void(QStringList &)> NetworkAdaptersReport = GetNetworkAdaptersReport;
    // Without a notification area the window is minimised instead of hidden, so it can come back.
    std::function<bool()> SystemTrayAvailable = DesktopHasSystemTray;
    // The single-instance guard; tests running side by side switch it off.
    bool InstanceControl = true;
};

// Minutes of "Auto Logoff Time" as milliseconds, saturated at the 32-bit limits;
// throws Exception for text that is no integer.
qint32 AutoLogoffPeriod(const QString &minutes);

class TTavroNetLoginForm : public QWidget {
    Q_OBJECT
public:
    explicit TTavroNetLoginForm(TLoginSystemFacts facts = {}, QWidget *parent = nullptr);
    ~TTavroNetLoginForm() override;

    static const QString LFCR;
    static const QString BannerFooter;
    QString Banner() const;

    // Session state, read and written on the window thread only.
    bool LoggedOn = false;
    QString LoggedOnUser;
    qint32 AutoLogoffMs = 0;
    TOSVersionInfo OSInfo;
    bool ConfigSwitchHandled = false;
    QPixmap bmpBackground;

    // Controls and components; each keeps its object name for lookup by name.
    QFrame *MessagePanel = nullptr;
    QLabel *MessageImage = nullptr;
    QLabel *MessagesLabel = nullptr;
    QLineEdit *UsernameEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QComboBox *Profiles = nullptr;
    QFrame *LoginPanel = nullptr;
    QLabel *LoginImage = nullptr;
    TPanelLabel *LoginLabel = nullptr;
    QFrame *ConfigurePanel = nullptr;
    QLabel *ConfigureImage = nullptr;
    TPanelLabel *ConfigureLabel = nullptr;
    TAppExec *AppExec = nullptr;
    QMenu *TavroMenu = nullptr;
    QAction *LogOffMenu = nullptr;
    QAction *N2 = nullptr;
    QAction *ExitMenu = nullptr;
    QTimer *MessageTimer = nullptr;
    QTimer *SystemIdleTimer = nullptr;
    TadpInstanceControl *adpInstanceControl = nullptr;
    // Logon scripts' `tavrologin net use` requests.
    TNetUseServer *NetUseServer = nullptr;
    TFindFile *FindFile = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;
    QObject *ApplicationEvents = nullptr;

    // The configuration window, shown modally from the Configure panel; built by
    // BuildFormConfigure at its first showing when it is not there yet.
    QDialog *FormConfigure = nullptr;
    std::function<QDialog *()> BuildFormConfigure;
    // Called when the window has closed: the program ends.
    std::function<void()> OnClose;

    void ShowStatusMessage(const QString &Text);
    void ShowAllProfiles();
    // Refills the profile list and selects the start-up profile.
    void ListProfiles();
    void ApplyTheme();

    bool ProcessLogin();
    bool CheckCredentials() const;
    bool ConnectToTavroNet();
    void RemoteConnect();
    void DisconnectAllShares();
    void MinimizeToSystemTray();
    void Logoff();
    void ResetLoginWindow();

    // Handlers, public so that tests and tools can drive them directly.
    void FormShow();
    void FindFileFound(QObject *Sender, const QString &Folder, const TSearchRec &FileInfo);
    void ProfilesChange();
    void MessageTimerTimer();
    void SystemIdleTimerTimer();
    void LoginButtonClick();
    void ConfigurePanelClick();
    void UsernameEditKeyPress(QKeyEvent *Key);
    void PasswordEditKeyPress(QKeyEvent *Key);
    void FormKeyDown(QKeyEvent *Key);
    void TrayIconClick();
    void ExitMenuClick();
    void ApplicationEventsMinimize();
    void ApplicationEventsRestore();
    bool LoginRunning() const { return FLoginRunning; }
    bool LogoffRunning() const { return FLogoffRunning; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // What the last DisconnectAllShares could not drop, one line per drive.
    QString FDriveFailures;
    // Said once a run: this desktop gives no idle time, so no automatic log-off happens.
    bool FNoIdleSourceSaid = false;
    void FormCreate();
    void FormClose();
    void PanelMouse(QObject *watched, QMouseEvent *event);
    void ClearMinimized();
    void RestoreApplicationIfMinimized();
    void BringToFront();
    void FocusUsername();
    void HideToTray();
    void EnableBoxes();
    void ShowDriveFailures();
    void ForgetSession();
    bool FetchLogoffScript(const QString &remote, const QString &local);
    void RunLogoffScript(const QString &commandLine, bool messageFirst);
    // Runs a handler; an escaping error goes to the standard error box.
    void Guarded(const std::function<void()> &handler);

    std::unique_ptr<Ui::TTavroNetLoginForm> ui;
    TLoginSystemFacts FFacts;
    bool FLoginRunning = false;
    bool FLogoffRunning = false;
    bool FAppMinimized = false;
    bool FChangingState = false;
    QObject *FPressedOn = nullptr;
};
