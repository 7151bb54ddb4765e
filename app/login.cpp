#include "app/login.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <limits>

#include "app/application.h"
#include "app/panellabel.h"
#include "app/pictures.h"
#include "app/screensnap.h"
#include "app/statuslabel.h"
#include "app/sessionlog.h"
#include "components/Appexec.h"
#include "components/FindFile.h"
#include "components/adpInstanceControl.h"
#include "app/netuseserver.h"
#include "platform/netprovider.h"
#include "config/inifile.h"
#include "platform/dialogfont.h"
#include "platform/errors.h"
#include "platform/messageloop.h"
#include "platform/paths.h"
#include "platform/sysinfo.h"
#include "service/TavroNetService.h"
#include "ui_login.h"

namespace {

const QString UserNameVariable = QStringLiteral("TAVROLOGIN_USERNAME");
const QString LoginCaption = QStringLiteral("&Login");
const QString LogOffCaption = QStringLiteral("&Log Off");
constexpr int TrayTipLimit = 127;

// Server paths are UNC on every system, so their separator is always "\".
QString AddBackslash(const QString &s)
{
    return s.endsWith(QLatin1Char('\\')) ? s : s + QLatin1Char('\\');
}

QString LongTimeNow()
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

QString ShortDateToday()
{
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

bool IsEnter(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// Turns the window's own state changes into the application's minimise and
// restore events; changes the window makes itself are not the user's.
class TApplicationEvents : public QObject {
public:
    TApplicationEvents(QWidget *form, const bool &internal) : QObject(form), FInternal(internal)
    {
        setObjectName(QStringLiteral("ApplicationEvents"));
        form->installEventFilter(this);
    }
    std::function<void()> OnMinimize;
    std::function<void()> OnRestore;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::WindowStateChange || FInternal)
            return false;
        auto *form = static_cast<QWidget *>(watched);
        const auto old = static_cast<QWindowStateChangeEvent *>(event)->oldState();
        const bool wasMin = old & Qt::WindowMinimized;
        const bool isMin = form->windowState() & Qt::WindowMinimized;
        if (!form->isVisible())
            return false;
        // Deferred: the window system is still inside its state change.
        if (isMin && !wasMin && OnMinimize)
            QMetaObject::invokeMethod(this, [this] { OnMinimize(); }, Qt::QueuedConnection);
        else if (wasMin && !isMin && OnRestore)
            QMetaObject::invokeMethod(this, [this] { OnRestore(); }, Qt::QueuedConnection);
        return false;
    }

private:
    const bool &FInternal;
};

// The password box shows "*" for each character, whatever the style's own choice.
class TPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

const QString TTavroNetLoginForm::LFCR = QStringLiteral("\n\r");
const QString TTavroNetLoginForm::BannerFooter =
    TTavroNetLoginForm::LFCR + QStringLiteral("Network logon for Tavro-Net") + TTavroNetLoginForm::LFCR +
    QStringLiteral("Type your name and password");

bool DesktopHasSystemTray()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

qint32 AutoLogoffPeriod(const QString &minutes)
{
    bool ok = false;
    const qint64 value = minutes.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(minutes));
    // 64-bit product, saturated: a long period must not wrap into a short or negative one.
    const qint64 ms = value * 60000;
    if (ms > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (ms < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(ms);
}

TTavroNetLoginForm::TTavroNetLoginForm(TLoginSystemFacts facts, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TTavroNetLoginForm>()), FFacts(std::move(facts))
{
    // The pictures live in this static library: make sure they are registered.
    Q_INIT_RESOURCE(resources);
    // Before the controls exist, so that they are measured in this face only.
    setFont(platform::DialogFont());
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(348, 176);

    MessagePanel = ui->MessagePanel;
    MessageImage = ui->MessageImage;
    MessagesLabel = ui->MessagesLabel;
    UsernameEdit = ui->UsernameEdit;
    PasswordEdit = ui->PasswordEdit;
    Profiles = ui->Profiles;
    LoginPanel = ui->LoginPanel;
    LoginImage = ui->LoginImage;
    LoginLabel = ui->LoginLabel;
    ConfigurePanel = ui->ConfigurePanel;
    ConfigureImage = ui->ConfigureImage;
    ConfigureLabel = ui->ConfigureLabel;
    MessageImage->setPixmap(ReadPicture(QStringLiteral(":/app/logo.png"), "png"));
    LoginImage->setPixmap(ReadPicture(QStringLiteral(":/app/login.png"), "png"));
    ConfigureImage->setPixmap(ReadPicture(QStringLiteral(":/app/configure.png"), "png"));
    auto *passwordStyle = new TPasswordStyle;
    passwordStyle->setParent(PasswordEdit);
    PasswordEdit->setStyle(passwordStyle);
    new TScreenSnap(this);

    // Opaque white status panel; black captions on whatever lies behind them.
    QPalette white = MessagePanel->palette();
    white.setColor(QPalette::Window, Qt::white);
    MessagePanel->setPalette(white);
    for (QLabel *label : {ui->LabelUsername, ui->LabelPassword, ui->LabelProfile, MessagesLabel,
                          static_cast<QLabel *>(LoginLabel), static_cast<QLabel *>(ConfigureLabel)}) {
        QPalette black = label->palette();
        black.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(black);
        if (label != MessagesLabel)
            label->adjustSize();
    }

    // Keyboard preview: the window sees keys before the focused box.
    for (QWidget *box : {static_cast<QWidget *>(UsernameEdit), static_cast<QWidget *>(PasswordEdit),
                         static_cast<QWidget *>(Profiles)})
        box->installEventFilter(this);
    for (QWidget *w : {static_cast<QWidget *>(LoginPanel), static_cast<QWidget *>(LoginImage),
                       static_cast<QWidget *>(LoginLabel), static_cast<QWidget *>(ConfigurePanel),
                       static_cast<QWidget *>(ConfigureImage), static_cast<QWidget *>(ConfigureLabel)})
        w->installEventFilter(this);
    connect(Profiles, &QComboBox::activated, this, [this] { Guarded([this] { ProfilesChange(); }); });

    // Components.
    AppExec = new TAppExec(this);
    AppExec->setObjectName(QStringLiteral("AppExec"));
    AppExec->setRedirectOutput(false);

    TavroMenu = new QMenu(this);
    TavroMenu->setObjectName(QStringLiteral("TavroMenu"));
    LogOffMenu = TavroMenu->addAction(ProgramIcon(QStringLiteral(":/app/logoff-menu.png")), QStringLiteral("Log Off"));
    LogOffMenu->setObjectName(QStringLiteral("LogOffMenu"));
    TavroMenu->setDefaultAction(LogOffMenu);
    N2 = TavroMenu->addSeparator();
    // No text: the style would draw it beside the line.
    N2->setObjectName(QStringLiteral("N2"));
    ExitMenu = TavroMenu->addAction(ProgramIcon(QStringLiteral(":/app/exit-menu.png")), QStringLiteral("E&xit"));
    ExitMenu->setObjectName(QStringLiteral("ExitMenu"));
    connect(LogOffMenu, &QAction::triggered, this, [this] { Guarded([this] { LoginButtonClick(); }); });
    connect(ExitMenu, &QAction::triggered, this, [this] { Guarded([this] { ExitMenuClick(); }); });

    MessageTimer = new QTimer(this);
    MessageTimer->setObjectName(QStringLiteral("MessageTimer"));
    MessageTimer->setInterval(7000);
    connect(MessageTimer, &QTimer::timeout, this, [this] { Guarded([this] { MessageTimerTimer(); }); });
    SystemIdleTimer = new QTimer(this);
    SystemIdleTimer->setObjectName(QStringLiteral("SystemIdleTimer"));
    SystemIdleTimer->setInterval(1000);
    connect(SystemIdleTimer, &QTimer::timeout, this, [this] { Guarded([this] { SystemIdleTimerTimer(); }); });

    FindFile = new TFindFile(this);
    FindFile->setObjectName(QStringLiteral("FindFile"));
    FindFile->setFilename(QStringLiteral("*.ini"));
    FindFile->OnFound = [this](QObject *Sender, const QString &Folder, TSearchRec &FileInfo) {
        FindFileFound(Sender, Folder, FileInfo);
    };

    TrayIcon = new QSystemTrayIcon(ProgramIcon(QStringLiteral(":/app/trayicon.png")), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setContextMenu(TavroMenu);
    TrayIcon->setToolTip(ApplicationTitle);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            Guarded([this] { TrayIconClick(); });
    });

    auto *events = new TApplicationEvents(this, FChangingState);
    events->OnMinimize = [this] { Guarded([this] { ApplicationEventsMinimize(); }); };
    events->OnRestore = [this] { Guarded([this] { ApplicationEventsRestore(); }); };
    ApplicationEvents = events;

    // The guard acts once the window's components are in place, before the window
    // is shown; a surplus copy asks the application to end.
    if (FFacts.InstanceControl) {
        adpInstanceControl = new TadpInstanceControl(this);
        adpInstanceControl->setObjectName(QStringLiteral("adpInstanceControl"));
        adpInstanceControl->setEnabled(true);
        adpInstanceControl->setMaxInstances(1);
        // The application was minimised to the tray by its minimise box: a second
        // copy's request brings it back as a restore would.
        connect(adpInstanceControl, &TadpInstanceControl::BroughtForward, this,
                [this] { Guarded([this] { RestoreApplicationIfMinimized(); }); });
        adpInstanceControl->Loaded();
    }
    // A surplus copy serves nothing: the running one answers the scripts.
    if (!platform::Terminated()) {
        NetUseServer = new TNetUseServer(this);
        NetUseServer->Log = [this](platform::LogPriority priority, const QString &message) {
            LogSessionEvent(priority, message, Profiles->currentText(), FLoginRunning ? ExtractUserName(UsernameEdit->text()) : LoggedOnUser);
        };
        if (!NetUseServer->Listen())
            LogSessionEvent(platform::LogWarning, QStringLiteral("Logon scripts cannot map drives: the net use socket is not available"), QString(), QString());
        // A desktop session that ended while someone was logged on took its mounts along
        // but left their links and bookmarks: the next person must not find them.
        platform::WithdrawStaleDrives();
    }

    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    FormCreate();
}

TTavroNetLoginForm::~TTavroNetLoginForm() = default;

QString TTavroNetLoginForm::Banner() const
{
    return LFCR + QStringLiteral("Tavro Login v") + GetExeVersion() + BannerFooter;
}


void TTavroNetLoginForm::Guarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (...) {
        HandleException();
    }
}

// An error ends the set-up early and is shown; the window is still used with what
// had been set by then.
void TTavroNetLoginForm::FormCreate()
{
    try {
        OSInfo = FFacts.OSVersionInfo();
        LoadAppSettings();
        ConfigurePanel->setVisible(FFacts.Administrator());
        ReadProfile(AppSettings.AppDefaultProfile);
        ApplyTheme();
        setWindowTitle(QStringLiteral("Tavro Login v") + GetExeVersion());
        MessagesLabel->setText(Banner());
        AutoLogoffMs = AutoLogoffPeriod(ProfileSettings.ProfileAutoLogoffTime);
        // A copy that the guard is ending shows nothing, not even this box.
        if (ProfileSettings.ProfileEnableRemoteMessage == QLatin1String("1") && FFacts.RemoteSession() &&
            !platform::Terminated()) {
            ShowMessageBox(QMessageBox::NoIcon, ProfileSettings.ProfileRemoteMessage, QStringLiteral("RemoteMessageBox"));
        }
    } catch (...) {
        HandleException();
    }
}

void TTavroNetLoginForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

void TTavroNetLoginForm::FormShow()
{
    TrayIcon->hide();
    ClearMinimized();
    BringToFront();
    RestoreApplicationIfMinimized();

    ListProfiles();

    // Windows before Vista (6) there; elsewhere the platform names its own minimum.
    if (OSInfo.OSMajorNumber < platform::MinimumSupportedMajor()) {
        ShowMessageBox(QMessageBox::NoIcon, QStringLiteral("This operating system is not supported by Tavro Login."),
                       QStringLiteral("UnsupportedSystemBox"));
        // Closed once this handler is done, so its remaining steps still run.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }

    if (UsernameEdit->isEnabled())
        UsernameEdit->setFocus();

    if (LoginLabel->text() == LogOffCaption) {
        ShowStatusMessage(QStringLiteral("Currently connected to ") + ProfileSettings.ProfileServer +
                          QStringLiteral(" as ") + ExtractUserName(UsernameEdit->text()) + LFCR +
                          QStringLiteral("Logged in at: ") + LongTimeNow() + QStringLiteral(" on ") +
                          ShortDateToday());
        MessageTimer->stop();
    }

    if (!ConfigSwitchHandled) {
        const QStringList args = QCoreApplication::arguments().mid(1);
        const bool wanted = std::any_of(args.begin(), args.end(), [](const QString &arg) {
            return arg.size() == 7 && (arg[0] == QLatin1Char('/') || arg[0] == QLatin1Char('-')) &&
                   arg.mid(1).compare(QLatin1String("config"), Qt::CaseInsensitive) == 0;
        });
        if (wanted) {
            ConfigSwitchHandled = true;
            // Opened once the login window is on screen, so the configuration window
            // comes up over it and not alone.
            QMetaObject::invokeMethod(this, [this] {
                QTimer limit;
                limit.setSingleShot(true);
                limit.start(2000);
                while (isVisible() && windowHandle() && !windowHandle()->isExposed() && limit.isActive())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                Guarded([this] { ConfigurePanelClick(); });
            }, Qt::QueuedConnection);
        }
    }
}

void TTavroNetLoginForm::ApplyTheme()
{
    bmpBackground = QPixmap();
    const QString path = ProfileSettings.ProfileWallpaper;
    if (platform::FileExists(path)) {
        const QPixmap picture = ReadPicture(path, "bmp");
        if (picture.isNull())
            throw Exception(QStringLiteral("Bitmap image is not valid"));
        bmpBackground = picture;
    }
}

void TTavroNetLoginForm::paintEvent(QPaintEvent *)
{
    if (bmpBackground.isNull())
        return;
    // Stretched to the outer size, so the client area shows it cut at bottom and right.
    QPainter painter(this);
    painter.drawPixmap(QRect(QPoint(0, 0), frameGeometry().size()), bmpBackground);
}

void TTavroNetLoginForm::ShowAllProfiles()
{
    FindFile->setLocation(GetProfileFolder());
    FindFile->Execute();
}

void TTavroNetLoginForm::ListProfiles()
{
    Profiles->clear();
    ShowAllProfiles();
    const QString &startup = AppSettings.AppDefaultProfile;
    // Chosen by the program: the change handler does not run.
    Profiles->setCurrentIndex(
        Profiles->findText(startup.left(qMax(0, startup.size() - 4)), Qt::MatchFixedString));
}

void TTavroNetLoginForm::FindFileFound(QObject *, const QString &, const TSearchRec &FileInfo)
{
    Profiles->addItem(FileInfo.Name.chopped(qMin(4, FileInfo.Name.size())));
}

void TTavroNetLoginForm::ProfilesChange()
{
    ReadProfile(Profiles->currentText() + QStringLiteral(".ini"));
}

void TTavroNetLoginForm::ShowStatusMessage(const QString &Text)
{
    MessagesLabel->setText(LFCR + Text);
    platform::ProcessMessages();
    // A running timer is not restarted: the banner returns 7 s after the first of a burst.
    if (!MessageTimer->isActive())
        MessageTimer->start();
}

void TTavroNetLoginForm::MessageTimerTimer()
{
    MessagesLabel->setText(Banner());
    MessageTimer->stop();
}

// --- login ------------------------------------------------------------------

bool TTavroNetLoginForm::CheckCredentials() const
{
    return !UsernameEdit->text().isEmpty() && !PasswordEdit->text().isEmpty();
}

bool TTavroNetLoginForm::ProcessLogin()
{
    // The waits below dispatch messages: a second attempt must not start inside this one.
    if (FLoginRunning)
        return LoggedOn;
    if (!CheckCredentials()) {
        ShowStatusMessage(QStringLiteral("Username or password not specified."));
        FocusUsername();
        return LoggedOn;
    }
    FLoginRunning = true;
    const auto running = qScopeGuard([this] { FLoginRunning = false; });

    LoggedOn = false;
    LoginPanel->setEnabled(false);
    ConfigurePanel->setEnabled(false);
    ShowStatusMessage(QStringLiteral("Please wait, logging in..."));
    LogSessionEvent(platform::LogInfo, QStringLiteral("Logon attempt"), Profiles->currentText(), ExtractUserName(UsernameEdit->text()));
    DisconnectAllShares();
    ShowDriveFailures();

    if (ConnectToTavroNet()) {
        MessageTimer->stop();
        LoggedOnUser = ExtractUserName(UsernameEdit->text());
        LoggedOn = true;
        UsernameEdit->setEnabled(false);
        PasswordEdit->setEnabled(false);
        Profiles->setEnabled(false);
        LoginPanel->setEnabled(true);
        LoginLabel->setText(LogOffCaption);
        LoginLabel->adjustSize();
        SystemIdleTimer->start();
        ConfigurePanel->setEnabled(false);
        RemoteConnect();
        if (AutoLogoffMs > 0 && !FNoIdleSourceSaid && !FFacts.IdleTimeKnown()) {
            FNoIdleSourceSaid = true;
            ShowStatusMessage(QStringLiteral("Automatic log-off is not available: this desktop does not report idle time."));
        }
    } else {
        LoginPanel->setEnabled(true);
        ConfigurePanel->setEnabled(true);
        FocusUsername();
    }
    return LoggedOn;
}

bool TTavroNetLoginForm::ConnectToTavroNet()
{
    // The password goes to the server exactly as typed: a "\" put before each "$" would make
    // every password holding a "$" fail.
    TTavroNetService service(ProfileSettings.ProfileServer, ProfileSettings.ProfileNetLogonShare,
                             ExtractUserName(UsernameEdit->text()), PasswordEdit->text());
    QString ErrorMessage;
    if (service.ConnectAndRunScript(ProfileSettings.ProfileLogonScript, ErrorMessage)) {
        lower();
        LogSessionEvent(platform::LogNotice, QStringLiteral("Logon succeeded"), Profiles->currentText(), ExtractUserName(UsernameEdit->text()));
        LoggedOn = true;
        return true;
    }
    LogSessionEvent(platform::LogWarning, QStringLiteral("Logon failed: ") + ErrorMessage, Profiles->currentText(), ExtractUserName(UsernameEdit->text()));
    ShowStatusMessage(ErrorMessage);
    return false;
}

void TTavroNetLoginForm::RemoteConnect()
{
    const QString server = ProfileSettings.ProfileRemoteServer;
    if (server.isEmpty())
        return;
    ShowStatusMessage(QStringLiteral("Authenticating to ") + server);
    const QString target = QStringLiteral("\\\\") + AddBackslash(server) + QStringLiteral("IPC$");
    TTavroNetService service(server, QStringLiteral("IPC$"), ExtractUserName(UsernameEdit->text()),
                             PasswordEdit->text());
    const bool authenticated = service.ConnectShare(QString(), target);
    LogSessionEvent(authenticated ? platform::LogInfo : platform::LogWarning, (authenticated ? QStringLiteral("Authenticated to ") : QStringLiteral("Failed to authenticate to ")) + server, Profiles->currentText(), LoggedOnUser);
    if (authenticated)
        ShowStatusMessage(QStringLiteral("Successfully authenticated."));
    else
        ShowStatusMessage(QStringLiteral("Failed to authenticate to ") + server);
}

void TTavroNetLoginForm::DisconnectAllShares()
{
    TTavroNetService service{QString(), QString(), QString(), QString()};
    const QStringList failures = service.DisconnectAllShares();
    // A drive left behind would serve the next person: say so.
    for (const QString &failure : failures)
        LogSessionEvent(platform::LogError, failure, Profiles->currentText(), LoggedOnUser);
    FDriveFailures = failures.join(LFCR);
}

void TTavroNetLoginForm::ShowDriveFailures()
{
    if (!FDriveFailures.isEmpty())
        ShowStatusMessage(FDriveFailures);
}

void TTavroNetLoginForm::ForgetSession()
{
    // The logged-off user's credentials must not serve the next person's net use.
    platform::CancelDevicelessConnections();
}

void TTavroNetLoginForm::HideToTray()
{
    FChangingState = true;
    if (FFacts.SystemTrayAvailable()) {
        hide();
        setWindowState(windowState() | Qt::WindowMinimized);
    } else {
        // Hidden with no icon to click, the window could never come back.
        showMinimized();
    }
    FChangingState = false;
    TrayIcon->show();
}

void TTavroNetLoginForm::MinimizeToSystemTray()
{
    HideToTray();
    TrayIcon->setToolTip((ProfileSettings.ProfileServer + QStringLiteral(": Logged in as ") + LoggedOnUser)
                             .left(TrayTipLimit));
}

void TTavroNetLoginForm::LoginButtonClick()
{
    if (LoggedOn) {
        // The launcher dispatches messages while a logoff script runs: no second log-off inside it.
        if (FLogoffRunning)
            return;
        LogSessionEvent(platform::LogNotice, QStringLiteral("Log-off by the user"), Profiles->currentText(), LoggedOnUser);
        Logoff();
        ResetLoginWindow();
        return;
    }
    if (ProcessLogin())
        MinimizeToSystemTray();
}

void TTavroNetLoginForm::UsernameEditKeyPress(QKeyEvent *)
{
    focusNextChild();
}

void TTavroNetLoginForm::PasswordEditKeyPress(QKeyEvent *)
{
    if (FLoginRunning)
        return;
    if (ProcessLogin())
        MinimizeToSystemTray();
}

// --- log-off ----------------------------------------------------------------

bool TTavroNetLoginForm::FetchLogoffScript(const QString &remote, const QString &local)
{
    try {
        // Opening the script answers whether it is there: no look at the server first.
        std::unique_ptr<QIODevice> in = OpenCopySource(remote, local);
        if (platform::FileExists(local))
            platform::DeleteFile(local);
        return CopyFileContents(*in, local);
    } catch (const std::exception &) {
        return false; // missing, or a copy that fails: the script is skipped without a word
    }
}

void TTavroNetLoginForm::RunLogoffScript(const QString &commandLine, bool messageFirst)
{
    AppExec->setWait(true);
    AppExec->setExeName(commandLine);
    try {
        if (messageFirst)
            ShowStatusMessage(QStringLiteral("Running login script."));
        AppExec->Execute();
        if (!messageFirst)
            ShowStatusMessage(QStringLiteral("Running login script."));
    } catch (...) {
        ShowStatusMessage(QStringLiteral("Failed to run login script."));
    }
}

void TTavroNetLoginForm::Logoff()
{
    FLogoffRunning = true;
    const auto running = qScopeGuard([this] { FLogoffRunning = false; });

    ConfigurePanel->setEnabled(true);
    const QString temp = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + platform::PathDelim + QStringLiteral("Temp");
    if (!platform::DirectoryExists(temp))
        platform::ForceDirectories(temp);
    const QString share = QStringLiteral("\\\\") + AddBackslash(ProfileSettings.ProfileServer) +
                          AddBackslash(ProfileSettings.ProfileNetLogonShare);

    const QString vbs = temp + platform::PathDelim + QStringLiteral("LOGOFF.VBS");
    if (FetchLogoffScript(share + QStringLiteral("LOGOFF.VBS"), vbs))
        RunLogoffScript(QStringLiteral("wscript.exe \"") + vbs + QLatin1Char('"'), true);

    const QString bat = temp + platform::PathDelim + QStringLiteral("LOGOFF.BAT");
    if (FetchLogoffScript(share + QStringLiteral("LOGOFF.BAT"), bat))
        RunLogoffScript(bat, false);

    DeletePersistentEnvironmentVariable(UserNameVariable, false);
    ForgetSession();
}

void TTavroNetLoginForm::EnableBoxes()
{
    UsernameEdit->setEnabled(true);
    PasswordEdit->setEnabled(true);
    Profiles->setEnabled(true);
    UsernameEdit->clear();
    PasswordEdit->clear();
}

void TTavroNetLoginForm::ResetLoginWindow()
{
    DisconnectAllShares();
    LoggedOn = false;
    EnableBoxes();
    ClearMinimized();
    show();
    FocusUsername();
    LoginLabel->setText(LoginCaption);
    LoginLabel->adjustSize();
    MessagesLabel->setText(Banner());
    ShowDriveFailures();
}

void TTavroNetLoginForm::SystemIdleTimerTimer()
{
    // The timer ticks on after a log-off: ask the system for the idle time only while it
    // matters. A zero or negative period means no automatic log-off.
    if (!LoggedOn || AutoLogoffMs <= 0 || FFacts.IdleMilliseconds() <= static_cast<quint32>(AutoLogoffMs))
        return;
    SystemIdleTimer->stop();
    LogSessionEvent(platform::LogNotice, QStringLiteral("Automatic log-off after ") + ProfileSettings.ProfileAutoLogoffTime + QStringLiteral(" idle minute(s)"), Profiles->currentText(), LoggedOnUser);
    RestoreApplicationIfMinimized();
    DisconnectAllShares();
    ForgetSession();
    LoggedOn = false;
    EnableBoxes();
    FocusUsername();
    LoginLabel->setText(LoginCaption);
    LoginLabel->adjustSize();
    MessagesLabel->setText(LFCR + LoggedOnUser + QStringLiteral(" has been automatically logged out after ") +
                           ProfileSettings.ProfileAutoLogoffTime + QStringLiteral(" minute(s) of inactivity.") +
                           LFCR + QStringLiteral("Logout time: ") + LongTimeNow() + QStringLiteral(" on ") +
                           ShortDateToday() + (FDriveFailures.isEmpty() ? QString() : LFCR + FDriveFailures));
}

void TTavroNetLoginForm::FocusUsername()
{
    // A hidden window takes no focus; FormShow focuses the box when it comes back.
    if (UsernameEdit->isEnabled() && isVisible())
        UsernameEdit->setFocus();
}

// --- configuration ----------------------------------------------------------

void TTavroNetLoginForm::ConfigurePanelClick()
{
    if (!FFacts.Administrator()) {
        ShowStatusMessage(QStringLiteral("You need to be an Administrator to modify the session details."));
        return;
    }
    if (!FormConfigure && BuildFormConfigure)
        FormConfigure = BuildFormConfigure();
    if (FormConfigure)
        FormConfigure->exec();
}

// --- tray, closing, diagnostics ---------------------------------------------

void TTavroNetLoginForm::BringToFront()
{
    raise();
    activateWindow();
}

// Our own state change must not count as the user minimising the window.
void TTavroNetLoginForm::ClearMinimized()
{
    FChangingState = true;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    FChangingState = false;
}

void TTavroNetLoginForm::RestoreApplicationIfMinimized()
{
    if (!FAppMinimized)
        return;
    FAppMinimized = false;
    ApplicationEventsRestore();
}

void TTavroNetLoginForm::ApplicationEventsMinimize()
{
    FAppMinimized = true;
    HideToTray();
}

void TTavroNetLoginForm::ApplicationEventsRestore()
{
    FAppMinimized = false;
    TrayIcon->hide();
    ClearMinimized();
    show();
    BringToFront();
}

void TTavroNetLoginForm::TrayIconClick()
{
    ApplicationEventsRestore();
}

void TTavroNetLoginForm::ExitMenuClick()
{
    LogSessionEvent(platform::LogNotice, LoggedOn ? QStringLiteral("Log-off by Exit") : QStringLiteral("Exit"), Profiles->currentText(), LoggedOnUser);
    DisconnectAllShares();
    ForgetSession();
    LoggedOn = false;
    close();
}

void TTavroNetLoginForm::closeEvent(QCloseEvent *event)
{
    // Closing is never refused.
    event->accept();
    FormClose();
}

void TTavroNetLoginForm::FormClose()
{
    SystemIdleTimer->stop();
    MessageTimer->stop();
    TrayIcon->hide();
    if (OnClose)
        OnClose();
}

void TTavroNetLoginForm::FormKeyDown(QKeyEvent *Key)
{
    const auto mods = Key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (Key->key() != Qt::Key_Z || mods != (Qt::ControlModifier | Qt::ShiftModifier))
        return;
    QStringList lines;
    FFacts.NetworkAdaptersReport(lines);
    QString text = QStringLiteral("Computer Name: ") + GetLocalComputerName() + LFCR + LFCR;
    if (lines.size() >= 6) {
        text += lines[0] + LFCR + LFCR + lines[2] + LFCR + LFCR + lines[3] + LFCR + lines[4] + LFCR + lines[5] + LFCR;
    } else {
        // No adapter, or the query failed: show what the report holds.
        for (const QString &line : lines)
            text += line + LFCR;
    }
    ShowMessageBox(QMessageBox::Information, text, QStringLiteral("DiagnosticsBox"));
}

void TTavroNetLoginForm::keyPressEvent(QKeyEvent *event)
{
    // Keys of the three boxes were seen already by the preview filter.
    QWidget *focus = focusWidget();
    if (focus != UsernameEdit && focus != PasswordEdit && focus != Profiles)
        Guarded([&] { FormKeyDown(event); });
    QWidget::keyPressEvent(event);
}

bool TTavroNetLoginForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        Guarded([&] { FormKeyDown(key); });
        if (watched == UsernameEdit && IsEnter(key)) {
            Guarded([&] { UsernameEditKeyPress(key); });
            return true; // swallowed: Enter only moves on to the password
        }
        if (watched == PasswordEdit && IsEnter(key))
            Guarded([&] { PasswordEditKeyPress(key); });
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
        event->type() == QEvent::MouseButtonDblClick) {
        if (watched == UsernameEdit || watched == PasswordEdit || watched == Profiles)
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (!widget->isEnabled())
            return false;
        PanelMouse(watched, static_cast<QMouseEvent *>(event));
        return true; // handled here, so the panel does not see its child's click again
    }
    return QWidget::eventFilter(watched, event);
}

void TTavroNetLoginForm::PanelMouse(QObject *watched, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool login = watched == LoginPanel || watched == LoginImage || watched == LoginLabel;
    QFrame *panel = login ? LoginPanel : ConfigurePanel;
    if (event->type() != QEvent::MouseButtonRelease) {
        panel->setFrameShadow(QFrame::Sunken);
        FPressedOn = watched;
        return;
    }
    panel->setFrameShadow(QFrame::Raised);
    const bool click = FPressedOn == watched &&
                       static_cast<QWidget *>(watched)->rect().contains(event->position().toPoint());
    FPressedOn = nullptr;
    if (!click)
        return;
    if (login)
        Guarded([this] { LoginButtonClick(); });
    else
        Guarded([this] { ConfigurePanelClick(); });
}
