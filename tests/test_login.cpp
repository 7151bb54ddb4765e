#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>

#include "app/login.h"
#include "app/panellabel.h"
#include "config/inifile.h"
#include "platform/errors.h"
#include "tests/fixtures/ModalBoxes.h"
#include "tests/fixtures/SambaServer.h"
#include "tests/fixtures/TempEnv.h"

// Readable failure output for texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString LFCR = QStringLiteral("\n\r");

struct FakeMachine {
    bool admin = true;
    bool remote = false;
    int major = 10;
    quint32 idle = 0;
    QStringList report;
    bool tray = true;
};

TLoginSystemFacts FactsOf(FakeMachine &m)
{
    TLoginSystemFacts f;
    f.OSVersionInfo = [&m] {
        TOSVersionInfo info;
        info.OSMajorNumber = m.major;
        return info;
    };
    f.Administrator = [&m] { return m.admin; };
    f.RemoteSession = [&m] { return m.remote; };
    f.IdleMilliseconds = [&m] { return m.idle; };
    f.NetworkAdaptersReport = [&m](QStringList &lines) { lines = m.report; };
    f.SystemTrayAvailable = [&m] { return m.tray; };
    f.InstanceControl = false;
    return f;
}

void LookLoggedOn(TTavroNetLoginForm &form, const QString &user);

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProfileDefaults();
        SetAppDefaults();
    }

    QString profileFolder() const { return home.commonAppData() + QStringLiteral("/Tavro Login 2/config/"); }

    void writeProfile(const QString &file, const QStringList &lines, const QString &sub = QString())
    {
        const QString folder = profileFolder() + sub;
        QDir().mkpath(folder);
        QFile f(folder + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[TavroLogin]\r\n%1\r\n").arg(lines.join(QStringLiteral("\r\n"))).toUtf8());
    }

    void writeAppSettings(const QString &defaultProfile)
    {
        const QString folder = home.commonAppData() + QStringLiteral("/Tavro Login 2/");
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("tavrologin.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[TavroLogin]\r\nVersion=2.1.0\r\nDefault Profile=%1\r\n").arg(defaultProfile).toUtf8());
    }

    std::unique_ptr<TTavroNetLoginForm> makeForm()
    {
        auto form = std::make_unique<TTavroNetLoginForm>(FactsOf(machine));
        form->OnClose = [this] { ++closed; };
        return form;
    }

    // The window as a user sees it once it is up.
    std::unique_ptr<TTavroNetLoginForm> shownForm()
    {
        auto form = makeForm();
        form->show();
        QApplication::setActiveWindow(form.get());
        return form;
    }

    TempHome home;
    FakeMachine machine;
    int closed = 0;
};

TEST(LoginHelpers, PasswordDollarsAreEscapedAndNothingElse)
{
    const struct {
        const char *typed, *sent;
    } rows[] = {
        {"secret", "secret"}, {"pa$$word", "pa\\$\\$word"}, {"$", "\\$"}, {"a\\b", "a\\b"}, {"\\$x$", "\\\\$x\\$"}, {"", ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(PrepareLogonPassword(QString::fromUtf8(row.typed)), QString::fromUtf8(row.sent)) << row.typed;
}

TEST(LoginHelpers, AutoLogoffPeriodNeverWraps)
{
    constexpr qint32 max = std::numeric_limits<qint32>::max();
    constexpr qint32 min = std::numeric_limits<qint32>::min();
    const struct {
        const char *minutes;
        qint32 ms;
    } rows[] = {
        {"15", 900000}, {"0", 0}, {"1", 60000}, {"-1", -60000}, {"35791", 2147460000},
        {"35792", max}, {"2147483647", max}, {"-35792", min}, {"-2147483648", min},
    };
    for (const auto &row : rows)
        EXPECT_EQ(AutoLogoffPeriod(QString::fromUtf8(row.minutes)), row.ms) << row.minutes;
    for (const char *bad : {"abc", "", "15.5", "99999999999", "1 5"})
        EXPECT_THROW(AutoLogoffPeriod(QString::fromUtf8(bad)), Exception) << bad;
}

TEST_F(LoginWindow, ControlsSitWhereTheLayoutPutsThem)
{
    auto form = makeForm();
    EXPECT_EQ(form->objectName(), QStringLiteral("TavroNetLoginForm"));
    EXPECT_EQ(form->size(), QSize(348, 176));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    const auto flags = form->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form->font().pixelSize(), 11);

    const struct {
        const char *name;
        QRect geometry; // width 0: the label sizes itself to its text
    } rows[] = {
        {"MessagePanel", {1, 0, 342, 60}},    {"MessageImage", {4, 0, 70, 62}},    {"MessagesLabel", {80, 0, 212, 57}},
        {"LabelUsername", {8, 69, 0, 0}},     {"UsernameEdit", {62, 66, 281, 21}}, {"LabelPassword", {10, 94, 0, 0}},
        {"PasswordEdit", {62, 90, 281, 21}},  {"LabelProfile", {27, 118, 0, 0}},   {"Profiles", {62, 114, 281, 21}},
        {"LoginPanel", {6, 141, 99, 30}},     {"LoginImage", {2, 0, 32, 32}},      {"LoginLabel", {40, 8, 0, 0}},
        {"ConfigurePanel", {244, 141, 99, 30}}, {"ConfigureImage", {0, 0, 32, 32}}, {"ConfigureLabel", {40, 8, 0, 0}},
    };
    for (const auto &row : rows) {
        auto *w = form->findChild<QWidget *>(QString::fromUtf8(row.name));
        ASSERT_NE(w, nullptr) << row.name;
        if (row.geometry.width() == 0)
            EXPECT_EQ(w->pos(), row.geometry.topLeft()) << row.name;
        else
            EXPECT_EQ(w->geometry(), row.geometry) << row.name;
    }
    EXPECT_EQ(form->MessageImage->parentWidget(), form->MessagePanel);
    EXPECT_EQ(form->LoginLabel->parentWidget(), form->LoginPanel);
    EXPECT_EQ(form->ConfigureImage->parentWidget(), form->ConfigurePanel);
    EXPECT_EQ(form->MessageImage->pixmap().size(), QSize(64, 64));
    EXPECT_EQ(form->LoginImage->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(form->ConfigureImage->pixmap().size(), QSize(32, 32));

    EXPECT_EQ(form->findChild<QLabel *>("LabelUsername")->text(), QStringLiteral("Username"));
    EXPECT_EQ(form->findChild<QLabel *>("LabelPassword")->text(), QStringLiteral("Password"));
    EXPECT_EQ(form->findChild<QLabel *>("LabelProfile")->text(), QStringLiteral("Profile"));
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
    EXPECT_EQ(form->ConfigureLabel->text(), QStringLiteral("C&onfigure..."));
    EXPECT_EQ(form->PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(form->Profiles->isEditable());
    EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Raised);
    for (QWidget *panel : {form->MessagePanel, form->LoginPanel, form->ConfigurePanel})
        EXPECT_EQ(panel->focusPolicy(), Qt::NoFocus) << panel->objectName().toStdString();


    // Components.
    for (const char *name : {"AppExec", "TavroMenu", "MessageTimer", "SystemIdleTimer", "FindFile", "TrayIcon",
                             "ApplicationEvents", "LogOffMenu", "N2", "ExitMenu"})
        EXPECT_NE(form->findChild<QObject *>(QString::fromUtf8(name)), nullptr) << name;
    EXPECT_EQ(form->MessageTimer->interval(), 7000);
    EXPECT_FALSE(form->MessageTimer->isActive());
    EXPECT_EQ(form->SystemIdleTimer->interval(), 1000);
    EXPECT_FALSE(form->SystemIdleTimer->isActive());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("Tavro Login"));
    EXPECT_EQ(form->TrayIcon->contextMenu(), form->TavroMenu);
    const auto actions = form->TavroMenu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Log Off"));
    EXPECT_EQ(form->TavroMenu->defaultAction(), actions[0]);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("E&xit"));
}

TEST_F(LoginWindow, TabCyclesThroughTheThreeBoxesOnly)
{
    auto form = shownForm();
    form->UsernameEdit->setFocus();
    for (QWidget *next : {static_cast<QWidget *>(form->PasswordEdit), static_cast<QWidget *>(form->Profiles),
                          static_cast<QWidget *>(form->UsernameEdit)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(LoginWindow, FirstStartCreatesSettingsAndSelectsTheDefaultProfile)
{
    auto form = shownForm();
    EXPECT_TRUE(QFile::exists(home.commonAppData() + QStringLiteral("/Tavro Login 2/tavrologin.ini")));
    EXPECT_TRUE(QFile::exists(profileFolder() + QStringLiteral("Tavro-Net Default.ini")));
    ASSERT_EQ(form->Profiles->count(), 1);
    EXPECT_EQ(form->Profiles->currentText(), QStringLiteral("Tavro-Net Default"));

    const QString version = GetExeVersion();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tavro Login v") + version);
    EXPECT_EQ(form->Banner(), LFCR + QStringLiteral("Tavro Login v") + version + TTavroNetLoginForm::BannerFooter);
    EXPECT_EQ(TTavroNetLoginForm::BannerFooter.count(LFCR), 2);
    EXPECT_TRUE(TTavroNetLoginForm::BannerFooter.startsWith(LFCR));
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
    EXPECT_TRUE(form->ConfigurePanel->isVisible());
    EXPECT_EQ(form->AutoLogoffMs, 0);
    EXPECT_EQ(form->focusWidget(), form->UsernameEdit);
}

TEST_F(LoginWindow, ProfilesAreListedInFinderOrderAndPickedOnes)
{
    writeAppSettings(QStringLiteral("Office.ini"));
    writeProfile(QStringLiteral("Office.ini"), {QStringLiteral("Server=OFFICESRV"), QStringLiteral("Auto Logoff Time=15")});
    writeProfile(QStringLiteral("Lab.ini"), {QStringLiteral("Server=LABSRV"), QStringLiteral("Auto Logoff Time=5")});
    writeProfile(QStringLiteral("Lab2.ini"), {QStringLiteral("Server=LAB2SRV")}, QStringLiteral("old/"));
    auto form = makeForm();
    // The start-up profile's item is found whatever the letter case of the setting.
    AppSettings.AppDefaultProfile = QStringLiteral("OFFICE.ini");
    form->show();

    QStringList items;
    for (int i = 0; i < form->Profiles->count(); ++i)
        items << form->Profiles->itemText(i);
    EXPECT_EQ(items.size(), 3);
    EXPECT_TRUE(items.contains(QStringLiteral("Office")) && items.contains(QStringLiteral("Lab")) &&
                items.contains(QStringLiteral("Lab2")));
    EXPECT_EQ(items.last(), QStringLiteral("Lab2")); // a folder's files before its subfolders
    EXPECT_EQ(form->Profiles->currentText(), QStringLiteral("Office"));
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("OFFICESRV"));
    EXPECT_EQ(form->AutoLogoffMs, 900000);

    // A user's pick loads the profile; the period stays that of the start.
    const int lab = form->Profiles->findText(QStringLiteral("Lab"));
    form->Profiles->setCurrentIndex(lab);
    emit form->Profiles->activated(lab);
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("LABSRV"));
    EXPECT_EQ(form->AutoLogoffMs, 900000);

    // Coming back shows the start-up profile again without reloading it.
    form->hide();
    form->show();
    EXPECT_EQ(form->Profiles->currentText(), QStringLiteral("Office"));
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("LABSRV"));
}

TEST_F(LoginWindow, StartupProfileMissingFromTheListSelectsNothing)
{
    writeAppSettings(QStringLiteral("Gone.ini"));
    writeProfile(QStringLiteral("Office.ini"), {QStringLiteral("Server=OFFICESRV")});
    auto form = makeForm();
    // Reading the start-up profile created it; remove it to leave it unlisted.
    QFile::remove(profileFolder() + QStringLiteral("Gone.ini"));
    form->show();
    EXPECT_EQ(form->Profiles->count(), 1);
    EXPECT_EQ(form->Profiles->currentIndex(), -1);
}

TEST_F(LoginWindow, CreationErrorsAreShownAndCutCreationShort)
{
    const struct {
        const char *wallpaper, *minutes;
        const char *error;
        bool captionSet;
    } rows[] = {
        {"", "abc", "'abc' is not a valid integer value", true},
        {"bad.bmp", "15", "Bitmap image is not valid", false},
    };
    for (const auto &row : rows) {
        SetProfileDefaults();
        SetAppDefaults();
        const QString bmp = home.path() + QStringLiteral("/bad.bmp");
        QFile f(bmp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a bitmap");
        f.close();
        writeAppSettings(QStringLiteral("P.ini"));
        writeProfile(QStringLiteral("P.ini"),
                     {QStringLiteral("Wallpaper=%1").arg(*row.wallpaper ? bmp : QString()),
                      QStringLiteral("Auto Logoff Time=%1").arg(QString::fromUtf8(row.minutes)),
                      QStringLiteral("Enable Remote Message=1"), QStringLiteral("Remote Message=Hello")});
        machine.remote = true;
        ModalBoxCloser closer;
        auto form = makeForm();
        ASSERT_EQ(closer.count(), 1) << row.error; // the error, and no remote message after it
        EXPECT_EQ(closer.boxes()[0].text, QString::fromUtf8(row.error));
        EXPECT_EQ(closer.boxes()[0].title, QStringLiteral("Tavro Login"));
        EXPECT_EQ(form->AutoLogoffMs, 0);
        if (row.captionSet) {
            EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
        } else {
            EXPECT_EQ(form->windowTitle(), QStringLiteral("Tavro Login"));
            EXPECT_EQ(form->MessagesLabel->text(), QStringLiteral("Login to Tavro-Net"));
        }
    }
}

TEST_F(LoginWindow, RemoteMessageOnlyInARemoteSessionWithTheSwitchOn)
{
    const struct {
        const char *enable;
        bool remote;
        bool shown;
    } rows[] = {{"1", true, true}, {"yes", true, false}, {"1", false, false}, {"0", true, false}};
    for (const auto &row : rows) {
        writeAppSettings(QStringLiteral("R.ini"));
        writeProfile(QStringLiteral("R.ini"), {QStringLiteral("Enable Remote Message=%1").arg(QString::fromUtf8(row.enable)),
                                                QStringLiteral("Remote Message=You are working remotely")});
        machine.remote = row.remote;
        ModalBoxCloser closer;
        auto form = makeForm();
        EXPECT_FALSE(form->isVisible());
        ASSERT_EQ(closer.count(), row.shown ? 1 : 0) << row.enable << row.remote;
        if (row.shown) {
            EXPECT_EQ(closer.boxes()[0].text, QStringLiteral("You are working remotely"));
        }
    }
}

TEST_F(LoginWindow, OldSystemIsRefusedAndTheWindowCloses)
{
    machine.major = 5;
    ModalBoxCloser closer;
    auto form = shownForm();
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].text, QStringLiteral("This operating system is not supported by Tavro Login."));
    QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 2000);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(LoginWindow, StatusMessagesFallBackToTheBannerAfterTheFirstOfABurst)
{
    auto form = shownForm();
    form->ShowStatusMessage(QStringLiteral("one"));
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("one"));
    EXPECT_TRUE(form->MessageTimer->isActive());
    const int first = form->MessageTimer->remainingTime();
    QTest::qWait(60);
    form->ShowStatusMessage(QStringLiteral("two"));
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("two"));
    // Not restarted by the second message.
    EXPECT_LE(form->MessageTimer->remainingTime(), first - 50);
    form->MessageTimerTimer();
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
    EXPECT_FALSE(form->MessageTimer->isActive());
}

TEST_F(LoginWindow, EmptyBoxesStopTheAttempt)
{
    const struct {
        const char *user, *password;
    } rows[] = {{"", ""}, {"jdoe", ""}, {"", "secret"}};
    auto form = shownForm();
    for (const auto &row : rows) {
        form->UsernameEdit->setText(QString::fromUtf8(row.user));
        form->PasswordEdit->setText(QString::fromUtf8(row.password));
        form->PasswordEdit->setFocus();
        EXPECT_FALSE(form->ProcessLogin());
        EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("Username or password not specified."));
        EXPECT_TRUE(form->LoginPanel->isEnabled());
        EXPECT_TRUE(form->ConfigurePanel->isEnabled());
        EXPECT_EQ(form->focusWidget(), form->UsernameEdit);
        EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
    }
    // Only the user name box is looked at as typed: "@domain" alone passes the check.
    form->UsernameEdit->setText(QStringLiteral("@corp"));
    form->PasswordEdit->setText(QStringLiteral("x"));
    EXPECT_TRUE(form->CheckCredentials());
}

TEST_F(LoginWindow, FailedLogonKeepsTheBoxesAndEnablesThePanels)
{
    writeAppSettings(QStringLiteral("Dead.ini"));
    // Nothing listens on port 1 of the loopback address.
    writeProfile(QStringLiteral("Dead.ini"), {QStringLiteral("Server=127.0.0.1:1"), QStringLiteral("Net Logon Share=NETLOGON_V2"),
                                               QStringLiteral("Logon Script=LOGON.BAT")});
    auto form = shownForm();
    form->UsernameEdit->setText(QStringLiteral("jdoe@corp"));
    form->PasswordEdit->setText(QStringLiteral("secret"));
    QTest::keyClick(form->PasswordEdit, Qt::Key_Return);
    EXPECT_FALSE(form->LoggedOn);
    EXPECT_EQ(form->MessagesLabel->text(),
              LFCR + QStringLiteral("Failed to connect to network share: \\\\127.0.0.1:1\\NETLOGON_V2"));
    EXPECT_TRUE(form->MessageTimer->isActive());
    EXPECT_EQ(form->UsernameEdit->text(), QStringLiteral("jdoe@corp"));
    EXPECT_EQ(form->PasswordEdit->text(), QStringLiteral("secret"));
    for (QWidget *w : {static_cast<QWidget *>(form->UsernameEdit), static_cast<QWidget *>(form->PasswordEdit),
                       static_cast<QWidget *>(form->Profiles), static_cast<QWidget *>(form->LoginPanel),
                       static_cast<QWidget *>(form->ConfigurePanel)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_FALSE(form->SystemIdleTimer->isActive());
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("TAVROLOGIN_USERNAME"));
}

TEST_F(LoginWindow, EnterInTheUserNameMovesOnToThePassword)
{
    auto form = shownForm();
    form->UsernameEdit->setFocus();
    form->UsernameEdit->setText(QStringLiteral("jdoe"));
    QTest::keyClick(form->UsernameEdit, Qt::Key_Return);
    EXPECT_EQ(form->focusWidget(), form->PasswordEdit);
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner()); // no login attempt
}

TEST_F(LoginWindow, PanelsLookPressedOnlyUnderTheLeftButton)
{
    machine.admin = false;
    auto form = shownForm();
    EXPECT_FALSE(form->ConfigurePanel->isVisible());
    form->ConfigurePanel->show(); // reachable by mouse only for the test

    for (QWidget *part : {static_cast<QWidget *>(form->LoginPanel), static_cast<QWidget *>(form->LoginImage),
                          static_cast<QWidget *>(form->LoginLabel)}) {
        QTest::mousePress(part, Qt::RightButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Raised);
        QTest::mouseRelease(part, Qt::RightButton);
        QTest::mousePress(part, Qt::LeftButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Sunken) << part->objectName().toStdString();
        EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Raised);
        QTest::mouseRelease(part, Qt::LeftButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Raised);
        // The click is a login attempt with empty boxes.
        EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("Username or password not specified."));
        form->MessageTimerTimer();
    }

    QTest::mousePress(form->ConfigureLabel, Qt::LeftButton);
    EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Sunken);
    QTest::mouseRelease(form->ConfigureLabel, Qt::LeftButton);
    EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(form->MessagesLabel->text(),
              LFCR + QStringLiteral("You need to be an Administrator to modify the session details."));
}

TEST_F(LoginWindow, ConfigurePanelOpensTheConfigurationWindowModally)
{
    auto form = shownForm();
    QDialog configure(form.get());
    configure.setObjectName(QStringLiteral("FormConfigure"));
    form->FormConfigure = &configure;
    ModalBoxCloser closer;
    QTest::mouseClick(form->ConfigureImage, Qt::LeftButton);
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].objectName, QStringLiteral("FormConfigure"));
}

TEST_F(LoginWindow, MinimiseGoesToTheTrayAndTheIconBringsItBack)
{
    auto form = shownForm();
    form->setWindowState(Qt::WindowMinimized); // the minimise box
    QTRY_VERIFY_WITH_TIMEOUT(form->TrayIcon->isVisible(), 2000);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("Tavro Login"));

    form->TrayIconClick();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(form->focusWidget(), form->UsernameEdit);

    // The menu's "Log Off" while logged off is a login attempt with the boxes' contents.
    form->ApplicationEventsMinimize();
    form->LogOffMenu->trigger();
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("Username or password not specified."));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(LoginWindow, WithoutANotificationAreaTheWindowIsMinimisedNotHidden)
{
    machine.tray = false;
    auto form = shownForm();
    LookLoggedOn(*form, QStringLiteral("jdoe"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    // Restored from the task bar it comes back as from the icon.
    form->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY_WITH_TIMEOUT(!form->TrayIcon->isVisible(), 2000);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginWindow, ExitDropsTheSessionAndEndsTheProgram)
{
    auto form = shownForm();
    form->LoggedOn = true;
    form->SystemIdleTimer->start();
    form->ShowStatusMessage(QStringLiteral("x"));
    form->ApplicationEventsMinimize();
    form->ExitMenu->trigger();
    EXPECT_FALSE(form->LoggedOn);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(form->SystemIdleTimer->isActive());
    EXPECT_FALSE(form->MessageTimer->isActive());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
}

TEST_F(LoginWindow, DiagnosticsKeyShowsTheComputerAndTheFirstAdapter)
{
    machine.report = {QStringLiteral("Description: eth0 adapter"), QStringLiteral("Adapter Name: eth0"),
                      QStringLiteral("MAC Address: 00-11-22-33-44-55"), QStringLiteral("IP Address: 10.0.0.5"),
                      QStringLiteral("Subnet Mask: 255.255.255.0"), QStringLiteral("Gateway: 10.0.0.1"),
                      QStringLiteral("DHCP Enabled: No"), QStringLiteral("DHCP Server: "),
                      QStringLiteral("Have WINS: No"), QStringLiteral("Primary WINS: "), QStringLiteral("Secondary WINS: ")};
    auto form = shownForm();
    const QString name = QStringLiteral("Computer Name: ") + GetLocalComputerName();
    const struct {
        Qt::KeyboardModifiers mods;
        Qt::Key key;
        bool shown;
    } rows[] = {
        {Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z, true},
        {Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, Qt::Key_Z, false},
        {Qt::ControlModifier, Qt::Key_Z, false},
        {Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_X, false},
    };
    for (const auto &row : rows) {
        ModalBoxCloser closer;
        QTest::keyClick(form->UsernameEdit, row.key, row.mods);
        ASSERT_EQ(closer.count(), row.shown ? 1 : 0);
        if (row.shown) {
            EXPECT_EQ(closer.boxes()[0].text,
                      name + LFCR + LFCR + QStringLiteral("Description: eth0 adapter") + LFCR + LFCR +
                          QStringLiteral("MAC Address: 00-11-22-33-44-55") + LFCR + LFCR +
                          QStringLiteral("IP Address: 10.0.0.5") + LFCR + QStringLiteral("Subnet Mask: 255.255.255.0") +
                          LFCR + QStringLiteral("Gateway: 10.0.0.1") + LFCR);
        }
    }

    // With the boxes disabled (logged on) the window itself sees the key, once.
    form->UsernameEdit->setEnabled(false);
    form->PasswordEdit->setEnabled(false);
    form->Profiles->setEnabled(false);
    {
        ModalBoxCloser closer;
        QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(closer.count(), 1);
    }

    // A short report (no adapter) shows what there is instead of failing.
    machine.report = {QStringLiteral("No network adapters found.")};
    ModalBoxCloser closer;
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].text, name + LFCR + LFCR + QStringLiteral("No network adapters found.") + LFCR);
    machine.report.clear();
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(closer.count(), 2);
    EXPECT_EQ(closer.boxes()[1].text, name + LFCR + LFCR);
}

// Puts the window in its logged-on look as a successful login leaves it.
void LookLoggedOn(TTavroNetLoginForm &form, const QString &user)
{
    form.UsernameEdit->setText(user);
    form.PasswordEdit->setText(QStringLiteral("secret"));
    form.LoggedOn = true;
    form.LoggedOnUser = ExtractUserName(user);
    form.UsernameEdit->setEnabled(false);
    form.PasswordEdit->setEnabled(false);
    form.Profiles->setEnabled(false);
    form.LoginLabel->setText(QStringLiteral("&Log Off"));
    form.ConfigurePanel->setEnabled(false);
    form.SystemIdleTimer->start();
    form.MinimizeToSystemTray();
}

TEST_F(LoginWindow, IdleLogoffAfterThePeriodWithANotice)
{
    writeAppSettings(QStringLiteral("A.ini"));
    writeProfile(QStringLiteral("A.ini"), {QStringLiteral("Server=SRV"), QStringLiteral("Auto Logoff Time=15")});
    writeProfile(QStringLiteral("B.ini"), {QStringLiteral("Server=SRV"), QStringLiteral("Auto Logoff Time=5")});
    auto form = shownForm();
    ASSERT_EQ(form->AutoLogoffMs, 900000);
    LookLoggedOn(*form, QStringLiteral("jdoe@corp"));
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("SRV: Logged in as jdoe"));
    ReadProfile(QStringLiteral("B.ini")); // the user works on another profile: the notice quotes it
    const QString before = form->MessagesLabel->text();

    machine.idle = 900000; // exactly the period: not yet
    form->SystemIdleTimerTimer();
    EXPECT_TRUE(form->LoggedOn);
    EXPECT_EQ(form->MessagesLabel->text(), before);

    machine.idle = 900001;
    const QString time = QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
    form->SystemIdleTimerTimer();
    EXPECT_FALSE(form->LoggedOn);
    EXPECT_FALSE(form->SystemIdleTimer->isActive());
    const QString prefix = LFCR + QStringLiteral("jdoe has been automatically logged out after 5 minute(s) of inactivity.") +
                           LFCR + QStringLiteral("Logout time: ");
    const QString text = form->MessagesLabel->text();
    EXPECT_TRUE(text.startsWith(prefix)) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" on ") +
                              QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
    EXPECT_TRUE(text.mid(prefix.size()).startsWith(time.left(3)));
    EXPECT_FALSE(form->MessageTimer->isActive());
    for (QWidget *w : {static_cast<QWidget *>(form->UsernameEdit), static_cast<QWidget *>(form->PasswordEdit),
                       static_cast<QWidget *>(form->Profiles)})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(form->UsernameEdit->text().isEmpty());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
    EXPECT_FALSE(form->ConfigurePanel->isEnabled());
    // It stays in the tray; the user finds the notice when bringing it back.
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("SRV: Logged in as jdoe"));
    form->TrayIconClick();
    EXPECT_TRUE(form->MessagesLabel->text().startsWith(prefix));
}

TEST_F(LoginWindow, IdleLogoffNeverWithoutAPeriodOrWhenLoggedOff)
{
    const struct {
        qint32 period;
        bool loggedOn;
        quint32 idle;
    } rows[] = {
        {0, true, std::numeric_limits<quint32>::max()},
        {-60000, true, std::numeric_limits<quint32>::max()},
        {std::numeric_limits<qint32>::min(), true, std::numeric_limits<quint32>::max()},
        {60000, false, 3600000},
    };
    auto form = shownForm();
    for (const auto &row : rows) {
        LookLoggedOn(*form, QStringLiteral("jdoe"));
        form->LoggedOn = row.loggedOn;
        form->AutoLogoffMs = row.period;
        machine.idle = row.idle;
        form->SystemIdleTimerTimer();
        EXPECT_EQ(form->LoggedOn, row.loggedOn);
        EXPECT_TRUE(form->SystemIdleTimer->isActive());
        EXPECT_EQ(form->UsernameEdit->text(), QStringLiteral("jdoe"));
    }
}

TEST_F(LoginWindow, IdleLogoffRestoresAWindowMinimisedByItsBox)
{
    writeAppSettings(QStringLiteral("A.ini"));
    writeProfile(QStringLiteral("A.ini"), {QStringLiteral("Server=SRV"), QStringLiteral("Auto Logoff Time=1")});
    auto form = shownForm();
    LookLoggedOn(*form, QStringLiteral("jdoe"));
    form->TrayIconClick();
    form->ApplicationEventsMinimize();
    EXPECT_FALSE(form->isVisible());
    machine.idle = 60001;
    form->SystemIdleTimerTimer();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_FALSE(form->LoggedOn);
}

TEST_F(LoginWindow, RestoreWhileLoggedOnShowsWhoIsConnected)
{
    writeAppSettings(QStringLiteral("A.ini"));
    writeProfile(QStringLiteral("A.ini"), {QStringLiteral("Server=SRV")});
    auto form = shownForm();
    LookLoggedOn(*form, QStringLiteral("jdoe@corp.example"));
    const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    form->TrayIconClick();
    const QString text = form->MessagesLabel->text();
    EXPECT_TRUE(text.startsWith(LFCR + QStringLiteral("Currently connected to SRV as jdoe") + LFCR +
                                QStringLiteral("Logged in at: ")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" on ") + date));
    EXPECT_FALSE(form->MessageTimer->isActive());
}

// --- against a real file server ----------------------------------------------

// The scripts write what they see of the user name variable into files the test reads.
class LoginSession : public LoginWindow {
protected:
    void startServer(const QString &password = QLatin1String(SambaServer::DefaultPassword))
    {
        QString error;
        ASSERT_TRUE(samba.start(&error, QLatin1String(SambaServer::DefaultUser), password)) << error.toStdString();
        out = home.path() + QStringLiteral("/out/");
        QDir().mkpath(out);
    }

    // A script that appends the variable's value to a file, after an optional pause.
    QByteArray recorder(const QString &file, int pauseMs = 0) const
    {
        QString body;
        if (pauseMs)
            body += QStringLiteral("sleep %1\n").arg(pauseMs / 1000.0);
        body += QStringLiteral("printf '%s\\n' \"${TAVROLOGIN_USERNAME-unset}\" >> '%1'\n").arg(out + file);
        return body.toUtf8();
    }

    void useProfile(const QStringList &extra = {}, const QString &script = QStringLiteral("LOGON.BAT"))
    {
        writeAppSettings(QStringLiteral("Demo.ini"));
        writeProfile(QStringLiteral("Demo.ini"), QStringList{QStringLiteral("Server=") + samba.server(),
                                                             QStringLiteral("Logon Script=") + script,
                                                             QStringLiteral("Net Logon Share=NETLOGON_V2")} +
                                                     extra);
    }

    QStringList lines(const QString &file) const
    {
        QFile f(out + file);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void typeAndLogin(TTavroNetLoginForm &form, const QString &user, const QString &password)
    {
        form.UsernameEdit->setText(user);
        form.PasswordEdit->setText(password);
        QTest::mouseClick(form.LoginLabel, Qt::LeftButton);
    }

    QString localTemp() const { return home.dataHome() + QStringLiteral("/Temp/"); }

    SambaServer samba;
    QString out;
    ScopedEnv env{"TAVROLOGIN_USERNAME", QByteArray()};
};

TEST_F(LoginSession, LoginAndManualLogoffRunTheScriptsWithTheUserName)
{
    startServer();
    useProfile();
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGON.BAT"), recorder(QStringLiteral("logon.txt"))));
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGOFF.BAT"), recorder(QStringLiteral("logoff.txt"))));
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGOFF.VBS"), "' no host for this here\n"));
    qunsetenv("TAVROLOGIN_USERNAME");
    // A stale local copy from an earlier log-off is replaced.
    QDir().mkpath(localTemp());
    QFile stale(localTemp() + QStringLiteral("LOGOFF.BAT"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("echo stale\n");
    stale.close();

    auto form = shownForm();
    typeAndLogin(*form, QStringLiteral("tavrotest@corp"), QLatin1String(SambaServer::DefaultPassword));

    EXPECT_EQ(lines(QStringLiteral("logon.txt")), QStringList{QStringLiteral("tavrotest")});
    EXPECT_TRUE(form->LoggedOn);
    EXPECT_EQ(form->LoggedOnUser, QStringLiteral("tavrotest"));
    EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));
    EXPECT_FALSE(form->UsernameEdit->isEnabled());
    EXPECT_FALSE(form->PasswordEdit->isEnabled());
    EXPECT_FALSE(form->Profiles->isEnabled());
    EXPECT_EQ(form->UsernameEdit->text(), QStringLiteral("tavrotest@corp"));
    EXPECT_TRUE(form->LoginPanel->isEnabled());
    EXPECT_FALSE(form->ConfigurePanel->isEnabled());
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Log Off"));
    EXPECT_TRUE(form->SystemIdleTimer->isActive());
    EXPECT_FALSE(form->MessageTimer->isActive());
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + QStringLiteral("Please wait, logging in..."));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->TrayIcon->isVisible());
    EXPECT_EQ(form->TrayIcon->toolTip(), samba.server() + QStringLiteral(": Logged in as tavrotest"));

    // "Log Off" from the tray menu.
    form->LogOffMenu->trigger();
    EXPECT_EQ(lines(QStringLiteral("logoff.txt")), QStringList{QStringLiteral("tavrotest")});
    QFile local(localTemp() + QStringLiteral("LOGOFF.BAT"));
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.readAll(), recorder(QStringLiteral("logoff.txt")));
    EXPECT_TRUE(QFile::exists(localTemp() + QStringLiteral("LOGOFF.VBS")));
    EXPECT_FALSE(qEnvironmentVariableIsSet("TAVROLOGIN_USERNAME"));
    EXPECT_FALSE(form->LoggedOn);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->TrayIcon->isVisible());
    for (QWidget *w : {static_cast<QWidget *>(form->UsernameEdit), static_cast<QWidget *>(form->PasswordEdit),
                       static_cast<QWidget *>(form->Profiles), static_cast<QWidget *>(form->LoginPanel),
                       static_cast<QWidget *>(form->ConfigurePanel)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form->UsernameEdit->text().isEmpty());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
    EXPECT_TRUE(form->SystemIdleTimer->isActive()); // ticks on without effect

    // The tooltip keeps the last login's text.
    form->ApplicationEventsMinimize();
    EXPECT_EQ(form->TrayIcon->toolTip(), samba.server() + QStringLiteral(": Logged in as tavrotest"));
}

TEST_F(LoginSession, SecondEnterOrLogOffClickWhileAScriptRunsIsIgnored)
{
    startServer();
    useProfile();
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGON.BAT"), recorder(QStringLiteral("logon.txt"), 700)));
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGOFF.BAT"), recorder(QStringLiteral("logoff.txt"), 700)));
    auto form = shownForm();
    form->UsernameEdit->setText(QStringLiteral("tavrotest"));
    form->PasswordEdit->setText(QLatin1String(SambaServer::DefaultPassword));

    int pokes = 0;
    QTimer poke;
    poke.setInterval(100);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        ++pokes;
        if (form->LoginRunning())
            QTest::keyClick(form->PasswordEdit, Qt::Key_Return);
        if (form->LogoffRunning()) {
            QTest::mouseClick(form->LoginLabel, Qt::LeftButton);
            form->LogOffMenu->trigger();
        }
    });
    poke.start();
    QTest::keyClick(form->PasswordEdit, Qt::Key_Return);
    const int duringLogin = pokes;
    EXPECT_GE(duringLogin, 2);
    EXPECT_TRUE(form->LoggedOn);
    EXPECT_EQ(lines(QStringLiteral("logon.txt")).size(), 1);

    form->LoginButtonClick();
    EXPECT_GE(pokes - duringLogin, 2);
    poke.stop();
    EXPECT_EQ(lines(QStringLiteral("logoff.txt")), QStringList{QStringLiteral("tavrotest")});
    EXPECT_EQ(lines(QStringLiteral("logon.txt")).size(), 1);
    EXPECT_FALSE(form->LoggedOn);
    EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Login"));
}

TEST_F(LoginSession, PasswordsReachTheServerWithDollarsEscaped)
{
    // The account's real password holds the escaped form.
    startServer(QStringLiteral("pa\\$\\$word"));
    useProfile({}, QStringLiteral("NOPE.BAT"));
    const struct {
        const char *typed;
        bool connects;
    } rows[] = {{"pa$$word", true}, {"pa\\$\\$word", false}, {"wrong", false}};
    auto form = shownForm();
    for (const auto &row : rows) {
        qunsetenv("TAVROLOGIN_USERNAME");
        typeAndLogin(*form, QStringLiteral("tavrotest"), QString::fromUtf8(row.typed));
        EXPECT_FALSE(form->LoggedOn);
        // Connected, the missing script is the failure; the variable is set by then and stays.
        const QString share = samba.unc(QStringLiteral("NETLOGON_V2"));
        EXPECT_EQ(form->MessagesLabel->text(),
                  LFCR + (row.connects ? QStringLiteral("Logon script does not exist on the network share: ") + share +
                                             QStringLiteral("\\NOPE.BAT")
                                       : QStringLiteral("Failed to connect to network share: ") + share))
            << row.typed;
        EXPECT_EQ(qEnvironmentVariableIsSet("TAVROLOGIN_USERNAME"), row.connects) << row.typed;
        EXPECT_TRUE(form->LoginPanel->isEnabled());
        EXPECT_TRUE(form->ConfigurePanel->isEnabled());
        EXPECT_TRUE(form->PasswordEdit->isEnabled());
        EXPECT_EQ(form->PasswordEdit->text(), QString::fromUtf8(row.typed));
    }
}

TEST_F(LoginSession, SecondaryServerThenIdleLogoffThenExit)
{
    startServer();
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGON.BAT"), recorder(QStringLiteral("logon.txt"))));
    ASSERT_TRUE(samba.putFile(QStringLiteral("NETLOGON_V2"), QStringLiteral("LOGOFF.BAT"), recorder(QStringLiteral("logoff.txt"))));
    const struct {
        QString remote;
        QString status;
    } rows[] = {
        {samba.server(), QStringLiteral("Successfully authenticated.")},
        {samba.server() + QLatin1Char('\\'), QStringLiteral("Successfully authenticated.")},
        {QStringLiteral("127.0.0.1:1"), QStringLiteral("Failed to authenticate to 127.0.0.1:1")},
    };
    for (const auto &row : rows) {
        SetProfileDefaults();
        SetAppDefaults();
        useProfile({QStringLiteral("Remote Server=") + row.remote, QStringLiteral("Auto Logoff Time=1")});
        auto form = shownForm();
        typeAndLogin(*form, QStringLiteral("tavrotest"), QLatin1String(SambaServer::DefaultPassword));
        EXPECT_TRUE(form->LoggedOn) << row.remote.toStdString();
        EXPECT_EQ(form->MessagesLabel->text(), LFCR + row.status);
        EXPECT_FALSE(form->isVisible());

        // Idle past the period: no logoff script, the variable stays.
        machine.idle = 60001;
        form->SystemIdleTimerTimer();
        machine.idle = 0;
        EXPECT_FALSE(form->LoggedOn);
        EXPECT_TRUE(lines(QStringLiteral("logoff.txt")).isEmpty());
        EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));
        EXPECT_FALSE(form->isVisible());

        // Log on again and leave by Exit: no logoff script either.
        form->TrayIconClick();
        typeAndLogin(*form, QStringLiteral("tavrotest"), QLatin1String(SambaServer::DefaultPassword));
        ASSERT_TRUE(form->LoggedOn);
        form->ExitMenu->trigger();
        EXPECT_EQ(closed, 1);
        closed = 0;
        EXPECT_FALSE(form->LoggedOn);
        EXPECT_TRUE(lines(QStringLiteral("logoff.txt")).isEmpty());
        EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));
        EXPECT_EQ(form->LoginLabel->text(), QStringLiteral("&Log Off"));
    }
    EXPECT_EQ(lines(QStringLiteral("logon.txt")).size(), 6);
}

// --- the program ------------------------------------------------------------

TEST(LoginProgram, SecondCopyEndsAtOnceAndTheFirstRunsOn)
{
    TempHome home;
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    const QString program = QStringLiteral(TAVRO_BINARY_DIR "/app/tavrologin");
    ASSERT_TRUE(QFile::exists(program));
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    // The settings file is written once the guard has counted the first copy.
    const QString ini = home.commonAppData() + QStringLiteral("/Tavro Login 2/tavrologin.ini");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 10000);
    QTest::qWait(200);

    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(5000);

    // With the first copy gone a new start runs as the first again.
    QProcess again;
    again.start(program, {});
    ASSERT_TRUE(again.waitForStarted(5000));
    EXPECT_FALSE(again.waitForFinished(1500));
    EXPECT_EQ(again.state(), QProcess::Running);
    again.kill();
    again.waitForFinished(5000);
}

} // namespace
