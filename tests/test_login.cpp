#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <utility>

#include "app/login.h"
#include "app/panellabel.h"
#include "app/statuslabel.h"
#include "config/inifile.h"
#include "platform/errors.h"
#include "platform/sysinfo.h"
#include "tests/fixtures/ModalBoxes.h"
#include "tests/fixtures/SambaServer.h"
#include "tests/fixtures/TempEnv.h"

using namespace Qt::StringLiterals;

// Readable failure output for texts.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

namespace {

const QString LFCR = u"\n\r"_s;
const QString NotSpecified = LFCR + u"Username or password not specified."_s;
constexpr auto CtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
using Texts = std::initializer_list<std::pair<const char *, const char *>>;

// The machine as the window sees it, through its seams.
struct FakeMachine {
    bool admin = true, remote = false, tray = true, idleKnown = true;
    int major = 10;
    quint32 idle = 0;
    QStringList report;

    TLoginSystemFacts facts()
    {
        TLoginSystemFacts f;
        f.OSVersionInfo = [this] {
            TOSVersionInfo info;
            info.OSMajorNumber = major;
            return info;
        };
        f.Administrator = [this] { return admin; };
        f.RemoteSession = [this] { return remote; };
        f.IdleMilliseconds = [this] { return idle; };
        f.IdleTimeKnown = [this] { return idleKnown; };
        f.NetworkAdaptersReport = [this](QStringList &lines) { lines = report; };
        f.SystemTrayAvailable = [this] { return tray; };
        f.InstanceControl = false;
        return f;
    }
};

void WriteFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// Every control's state on one line, so each step of a flow checks all of them.
std::string Controls(const TTavroNetLoginForm &f)
{
    std::string s;
    for (const auto &[name, on] : std::initializer_list<std::pair<const char *, bool>>{
             {"user", f.UsernameEdit->isEnabled()}, {"password", f.PasswordEdit->isEnabled()}, {"profiles", f.Profiles->isEnabled()},
             {"login", f.LoginPanel->isEnabled()}, {"configure", f.ConfigurePanel->isEnabled()}, {"window", f.isVisible()},
             {"tray", f.TrayIcon->isVisible()}, {"idle", f.SystemIdleTimer->isActive()}, {"message", f.MessageTimer->isActive()},
             {"on", f.LoggedOn}})
        (s += name) += on ? "+ " : "- ";
    return s + f.LoginLabel->text().toStdString();
}

// Puts the window in its logged-on look as a successful login leaves it.
void LookLoggedOn(TTavroNetLoginForm &form, const QString &user)
{
    form.UsernameEdit->setText(user);
    form.PasswordEdit->setText(u"secret"_s);
    form.LoggedOn = true;
    form.LoggedOnUser = ExtractUserName(user);
    for (QWidget *w : std::initializer_list<QWidget *>{form.UsernameEdit, form.PasswordEdit, form.Profiles, form.ConfigurePanel})
        w->setEnabled(false);
    form.LoginLabel->setText(u"&Log Off"_s);
    form.SystemIdleTimer->start();
    form.MinimizeToSystemTray();
}

// The text lines a rendering shows (bands of rows with dark pixels), numbered in line
// steps from the first one: what a person reads, whatever string the widget holds.
// A band of a row or two is an underscore below its line, not a line. widths gets the
// width of each line's ink.
QList<int> InkLines(const QImage &image, int step, int *firstRow = nullptr, QList<int> *widths = nullptr)
{
    QList<int> lines;
    int first = -1, start = -1, left = image.width(), right = -1;
    for (int y = 0; y <= image.height(); ++y) {
        int inkLeft = image.width(), inkRight = -1;
        for (int x = 0; y < image.height() && x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                inkLeft = std::min(inkLeft, x);
                inkRight = x;
            }
        }
        const bool ink = inkRight >= 0;
        if (ink && start < 0)
            start = y;
        if (ink) {
            left = std::min(left, inkLeft), right = std::max(right, inkRight);
            continue;
        }
        if (start >= 0 && y - start > 2) {
            if (first < 0)
                first = start;
            const int line = (start - first + step / 2) / step;
            if (lines.isEmpty() || lines.last() != line) {
                lines << line;
                if (widths)
                    *widths << 0;
            }
            if (widths)
                widths->last() = std::max(widths->last(), right - left + 1);
        }
        start = -1, left = image.width(), right = -1;
    }
    if (firstRow)
        *firstRow = first;
    return lines;
}

// The lines of a message box's text as drawn in its label.
QList<int> DrawnBoxLines(QWidget *box)
{
    auto *label = box->findChild<QLabel *>(u"qt_msgbox_label"_s);
    if (!label)
        return {};
    return InkLines(box->grab(QRect(label->mapTo(box, QPoint()), label->size())).toImage(),
                    label->fontMetrics().lineSpacing());
}

// The login window's status area as drawn on its white panel.
QImage StatusArea(TTavroNetLoginForm &form)
{
    QWidget *label = form.MessagesLabel;
    return label->parentWidget()->grab(label->geometry()).toImage();
}

// The indices of a text's lines that hold something.
QList<int> Filled(const QStringList &lines)
{
    QList<int> out;
    for (int i = 0; i < lines.size(); ++i)
        if (!lines[i].isEmpty())
            out << i;
    return out;
}

void WriteIni(const QString &path, const QStringList &lines)
{
    WriteFile(path, ("[TavroLogin]\r\n"_L1 + lines.join("\r\n"_L1) + "\r\n"_L1).toUtf8());
}

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    static void reset() { SetProfileDefaults(), SetAppDefaults(); }

    QString dataFolder() const { return home.commonAppData() + u"/Tavro Login 2/"_s; }
    void writeProfile(const QString &file, const QStringList &lines) { WriteIni(dataFolder() + u"config/"_s + file, lines); }
    // A profile that is also the start-up one.
    void startWith(const QString &file, const QStringList &lines)
    {
        WriteIni(dataFolder() + u"tavrologin.ini"_s, {u"Version=2.1.0"_s, u"Default Profile="_s + file});
        writeProfile(file, lines);
    }

    std::unique_ptr<TTavroNetLoginForm> makeForm()
    {
        auto form = std::make_unique<TTavroNetLoginForm>(machine.facts());
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

TEST(LoginHelpers, AutoLogoffPeriodNeverWraps)
{
    constexpr qint32 max = std::numeric_limits<qint32>::max(), min = std::numeric_limits<qint32>::min();
    const struct { const char *minutes; qint32 ms; } rows[] = {
        {"15", 900000}, {"0", 0}, {"1", 60000}, {"-1", -60000}, {"35791", 2147460000},
        {"35792", max}, {"2147483647", max}, {"-35792", min}, {"-2147483648", min}};
    for (const auto &row : rows)
        EXPECT_EQ(AutoLogoffPeriod(QString::fromUtf8(row.minutes)), row.ms) << row.minutes;
    for (const char *bad : {"abc", "", "15.5", "99999999999", "1 5"})
        EXPECT_THROW(AutoLogoffPeriod(QString::fromUtf8(bad)), Exception) << bad;
}

TEST_F(LoginWindow, FirstStartCreatesSettingsAndWaitsForTheUser)
{
    auto form = shownForm();
    EXPECT_EQ(form->objectName(), u"TavroNetLoginForm"_s);
    for (const char *name : {"MessagePanel", "MessageImage", "MessagesLabel", "LabelUsername", "UsernameEdit", "LabelPassword",
                             "PasswordEdit", "LabelProfile", "Profiles", "LoginPanel", "LoginImage", "LoginLabel", "ConfigurePanel",
                             "ConfigureImage", "ConfigureLabel", "AppExec", "TavroMenu", "MessageTimer", "SystemIdleTimer",
                             "FindFile", "TrayIcon", "ApplicationEvents", "LogOffMenu", "N2", "ExitMenu"})
        EXPECT_NE(form->findChild<QObject *>(QString::fromUtf8(name)), nullptr) << name;
    // Spot checks of the layout: fixed size, no maximise box, pictures, captions.
    EXPECT_EQ(form->size(), QSize(348, 176));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->windowFlags() & (Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
              Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form->ConfigurePanel->geometry(), QRect(244, 141, 99, 30));
    EXPECT_EQ(form->MessageImage->pixmap().size(), QSize(64, 64));
    EXPECT_EQ(form->LoginImage->pixmap().size(), QSize(32, 32));
    for (const auto &[name, text] : Texts{{"LabelUsername", "Username"}, {"LabelPassword", "Password"}, {"LabelProfile", "Profile"},
                                          {"LoginLabel", "&Login"}, {"ConfigureLabel", "C&onfigure..."}})
        EXPECT_EQ(form->findChild<QLabel *>(QString::fromUtf8(name))->text(), QString::fromUtf8(text));
    EXPECT_EQ(form->PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(form->Profiles->isEditable());

    EXPECT_TRUE(QFile::exists(dataFolder() + u"tavrologin.ini"_s));
    EXPECT_TRUE(QFile::exists(dataFolder() + u"config/Tavro-Net Default.ini"_s));
    ASSERT_EQ(form->Profiles->count(), 1);
    EXPECT_EQ(form->Profiles->currentText(), u"Tavro-Net Default"_s);

    const QString title = u"Tavro Login v"_s + GetExeVersion();
    EXPECT_EQ(form->windowTitle(), title);
    EXPECT_EQ(form->Banner(), LFCR + title + TTavroNetLoginForm::BannerFooter);
    EXPECT_EQ(TTavroNetLoginForm::BannerFooter.count(LFCR), 2);
    EXPECT_TRUE(TTavroNetLoginForm::BannerFooter.startsWith(LFCR));
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle- message- on- &Login");
    EXPECT_TRUE(form->ConfigurePanel->isVisible());
    EXPECT_EQ(form->AutoLogoffMs, 0);
    EXPECT_EQ(form->MessageTimer->interval(), 7000);
    EXPECT_EQ(form->SystemIdleTimer->interval(), 1000);
    EXPECT_EQ(form->TrayIcon->toolTip(), u"Tavro Login"_s);
    EXPECT_EQ(form->TrayIcon->contextMenu(), form->TavroMenu);
    QStringList menu;
    for (QAction *action : form->TavroMenu->actions())
        menu << (action->isSeparator() ? u"(separator)"_s : action->text());
    EXPECT_EQ(menu, (QStringList{u"Log Off"_s, u"(separator)"_s, u"E&xit"_s}));
    EXPECT_EQ(form->TavroMenu->defaultAction(), form->LogOffMenu);
    // The separator is drawn as a line alone: no dark text beside it, as beside the items.
    const auto darkPixels = [&](QAction *action) {
        const QImage row = form->TavroMenu->grab(form->TavroMenu->actionGeometry(action)).toImage();
        int dark = 0;
        for (int y = 0; y < row.height(); ++y)
            for (int x = 0; x < row.width(); ++x)
                dark += qGray(row.pixel(x, y)) < 128;
        return dark;
    };
    form->TavroMenu->adjustSize();
    EXPECT_EQ(darkPixels(form->TavroMenu->actions().at(1)), 0);
    EXPECT_GT(darkPixels(form->ExitMenu), 0);

    // Tab cycles through the three boxes only: the panels take no focus.
    EXPECT_EQ(form->focusWidget(), form->UsernameEdit);
    for (QWidget *next : std::initializer_list<QWidget *>{form->PasswordEdit, form->Profiles, form->UsernameEdit}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(LoginWindow, ProfilesAreListedInFinderOrderAndPickedOnes)
{
    startWith(u"Office.ini"_s, {u"Server=OFFICESRV"_s, u"Auto Logoff Time=15"_s});
    writeProfile(u"Lab.ini"_s, {u"Server=LABSRV"_s, u"Auto Logoff Time=5"_s});
    writeProfile(u"old/Lab2.ini"_s, {u"Server=LAB2SRV"_s});
    auto form = makeForm();
    // The start-up profile's item is found whatever the letter case of the setting.
    AppSettings.AppDefaultProfile = u"OFFICE.ini"_s;
    form->show();

    QStringList items;
    for (int i = 0; i < form->Profiles->count(); ++i)
        items << form->Profiles->itemText(i);
    items.sort();
    EXPECT_EQ(items, (QStringList{u"Lab"_s, u"Lab2"_s, u"Office"_s}));
    EXPECT_EQ(form->Profiles->itemText(2), u"Lab2"_s); // a folder's files before its subfolders
    EXPECT_EQ(form->Profiles->currentText(), u"Office"_s);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"OFFICESRV"_s);
    EXPECT_EQ(form->AutoLogoffMs, 900000);

    // A user's pick loads the profile; the period stays that of the start.
    const int lab = form->Profiles->findText(u"Lab"_s);
    form->Profiles->setCurrentIndex(lab);
    emit form->Profiles->activated(lab);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"LABSRV"_s);
    EXPECT_EQ(form->AutoLogoffMs, 900000);

    // Coming back shows the start-up profile again without reloading it.
    form->hide();
    form->show();
    EXPECT_EQ(form->Profiles->currentText(), u"Office"_s);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"LABSRV"_s);
}

TEST_F(LoginWindow, StartupProfileMissingFromTheListSelectsNothing)
{
    startWith(u"Gone.ini"_s, {});
    writeProfile(u"Office.ini"_s, {u"Server=OFFICESRV"_s});
    auto form = makeForm();
    // Gone once read: the start-up profile is not in the list.
    QFile::remove(dataFolder() + u"config/Gone.ini"_s);
    form->show();
    EXPECT_EQ(form->Profiles->count(), 1);
    EXPECT_EQ(form->Profiles->currentIndex(), -1);
}

TEST_F(LoginWindow, CreationShowsTheRemoteMessageOrAnErrorThatCutsCreationShort)
{
    const QString bmp = home.path() + u"/bad.bmp"_s;
    WriteFile(bmp, "not a bitmap");
    const QString remote = u"You are working remotely"_s;
    const struct { QString wallpaper; const char *minutes, *enable; bool remote; QString box; qint32 ms; bool captionSet; } rows[] = {
        {{}, "15", "1", true, remote, 900000, true},
        {{}, "15", "yes", true, {}, 900000, true},
        {{}, "15", "1", false, {}, 900000, true},
        {{}, "15", "0", true, {}, 900000, true},
        // An error, and no remote message after it.
        {{}, "abc", "1", true, u"'abc' is not a valid integer value"_s, 0, true},
        {bmp, "15", "1", true, u"Bitmap image is not valid"_s, 0, false},
    };
    for (const auto &row : rows) {
        reset();
        startWith(u"P.ini"_s, {u"Wallpaper="_s + row.wallpaper, u"Auto Logoff Time="_s + QString::fromUtf8(row.minutes),
                               u"Enable Remote Message="_s + QString::fromUtf8(row.enable), u"Remote Message="_s + remote});
        machine.remote = row.remote;
        ModalBoxCloser closer;
        auto form = makeForm();
        const std::string where = std::string(row.minutes) + ' ' + row.enable + ' ' + (row.remote ? "remote" : "local");
        EXPECT_EQ(closer.texts(), row.box.isEmpty() ? QStringList{} : QStringList{row.box}) << where;
        for (const auto &box : closer.boxes())
            EXPECT_EQ(box.title, u"Tavro Login"_s);
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(form->AutoLogoffMs, row.ms) << where;
        EXPECT_EQ(form->MessagesLabel->text(), row.captionSet ? form->Banner() : u"Login to Tavro-Net"_s) << where;
        EXPECT_EQ(form->windowTitle(), row.captionSet ? u"Tavro Login v"_s + GetExeVersion() : u"Tavro Login"_s) << where;
    }
}

TEST_F(LoginWindow, StoreErrorsDuringCreationReachTheErrorBox)
{
    // A file where the data folder belongs: the settings cannot be written.
    const QString data = home.commonAppData() + u"/Tavro Login 2"_s;
    WriteFile(data, {});
    ModalBoxCloser closer;
    auto form = makeForm();
    EXPECT_EQ(closer.texts(), QStringList{u"Unable to write to "_s + data + u"/tavrologin.ini"_s});
    EXPECT_TRUE(form->ConfigurePanel->isVisibleTo(form.get()));
    EXPECT_EQ(form->windowTitle(), u"Tavro Login"_s);
    form->show(); // still usable
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle- message- on- &Login");
}

TEST_F(LoginWindow, OldSystemIsRefusedAndTheWindowCloses)
{
    machine.major = platform::MinimumSupportedMajor() - 1;
    ModalBoxCloser closer;
    auto form = shownForm();
    EXPECT_EQ(closer.texts(), QStringList{u"This operating system is not supported by Tavro Login."_s});
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed == 1; }, 2000)) << closed;
    EXPECT_FALSE(form->isVisible());
}

TEST_F(LoginWindow, StatusMessagesFallBackToTheBannerAfterTheFirstOfABurst)
{
    auto form = shownForm();
    QElapsedTimer clock;
    clock.start();
    form->ShowStatusMessage(u"one"_s);
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + u"one"_s);
    EXPECT_TRUE(form->MessageTimer->isActive());
    const int first = form->MessageTimer->remainingTime();
    QTest::qWait(60);
    form->ShowStatusMessage(u"two"_s);
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + u"two"_s);
    EXPECT_LE(form->MessageTimer->remainingTime(), first - 50); // not restarted by the second
    // Drawn below one blank line, on one line.
    int top = -1;
    const int step = form->MessagesLabel->fontMetrics().lineSpacing();
    EXPECT_EQ(InkLines(StatusArea(*form), step, &top), QList<int>{0});
    EXPECT_EQ(top / step, 1);

    // The timer itself brings the banner back: title and two footer lines under a blank one.
    (void)QTest::qWaitFor([&] { return form->MessagesLabel->text() == form->Banner(); }, 7000 + 2000);
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());
    EXPECT_GE(clock.elapsed(), 6600); // a coarse timer: within 5 %
    EXPECT_FALSE(form->MessageTimer->isActive());
    EXPECT_EQ(InkLines(StatusArea(*form), step, &top), (QList<int>{0, 1, 2}));
    EXPECT_EQ(top / step, 1);
}

TEST_F(LoginWindow, StatusLinesBreakOncePerLineBreakAndNeverInsideAServerPath)
{
    auto form = shownForm();
    auto *label = static_cast<TStatusLabel *>(form->MessagesLabel);
    const QString path = u"\\\\127.0.0.1:1\\NETLOGON_V2"_s;
    const int width = label->contentsRect().width();
    ASSERT_LE(label->fontMetrics().horizontalAdvance(path), width);
    form->ShowStatusMessage(u"Failed to connect to network share: "_s + path);
    const QStringList lines = label->DrawnLines();
    EXPECT_EQ(lines.first(), QString()); // one blank line for the leading LF CR
    EXPECT_TRUE(lines.contains(path)) << lines.join(u'|').toStdString();
    // Painted as laid out: every line, the path whole on one of them.
    int top = -1;
    const int step = label->fontMetrics().lineSpacing();
    QList<int> filled = Filled(lines), widths;
    for (int &line : filled)
        line -= 1;
    EXPECT_EQ(InkLines(StatusArea(*form), step, &top, &widths), filled);
    EXPECT_EQ(top / step, 1);
    for (qsizetype i = 0; i < std::min(widths.size(), filled.size()); ++i)
        EXPECT_NEAR(widths[i], label->fontMetrics().horizontalAdvance(lines[filled[i] + 1]), 3) << i;
    EXPECT_EQ(WrapStatusText(form->Banner(), label->fontMetrics(), width).size(), 4);
    // A path wider than the line breaks before a backslash, never between the leading ones.
    const QStringList wide = WrapStatusText(u"\\\\server\\"_s + QString(60, u'x') + u"\\share"_s, label->fontMetrics(), width);
    ASSERT_GE(wide.size(), 2);
    EXPECT_TRUE(wide[0].startsWith(u"\\\\s"_s));
    for (const QString &line : wide)
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), width) << line.toStdString();
    EXPECT_EQ(form->PasswordEdit->echoMode(), QLineEdit::Password);
    form->PasswordEdit->setText(u"pa$$"_s);
    EXPECT_EQ(form->PasswordEdit->displayText(), u"****"_s);
}

TEST_F(LoginWindow, EnterMovesToThePasswordAndEmptyBoxesStopTheAttempt)
{
    auto form = shownForm();
    form->UsernameEdit->setText(u"jdoe"_s);
    QTest::keyClick(form->UsernameEdit, Qt::Key_Return);
    EXPECT_EQ(form->focusWidget(), form->PasswordEdit);
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner()); // no login attempt

    for (const auto &[user, password] : Texts{{"", ""}, {"jdoe", ""}, {"", "secret"}}) {
        form->UsernameEdit->setText(QString::fromUtf8(user));
        form->PasswordEdit->setText(QString::fromUtf8(password));
        form->PasswordEdit->setFocus();
        EXPECT_FALSE(form->ProcessLogin());
        EXPECT_EQ(form->MessagesLabel->text(), NotSpecified);
        EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle- message+ on- &Login");
        EXPECT_EQ(form->focusWidget(), form->UsernameEdit);
    }
    // Only the user name box is looked at as typed: "@domain" alone passes the check.
    form->UsernameEdit->setText(u"@corp"_s);
    form->PasswordEdit->setText(u"x"_s);
    EXPECT_TRUE(form->CheckCredentials());
}

TEST_F(LoginWindow, PanelsLookPressedOnlyUnderTheLeftButtonAndConfigureNeedsAnAdministrator)
{
    machine.admin = false;
    auto form = shownForm();
    EXPECT_FALSE(form->ConfigurePanel->isVisible());
    form->ConfigurePanel->show(); // reachable by mouse only for the test

    for (QWidget *part : std::initializer_list<QWidget *>{form->LoginPanel, form->LoginImage, form->LoginLabel}) {
        QTest::mousePress(part, Qt::RightButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Raised);
        QTest::mouseRelease(part, Qt::RightButton);
        QTest::mousePress(part, Qt::LeftButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Sunken) << part->objectName().toStdString();
        EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Raised);
        QTest::mouseRelease(part, Qt::LeftButton);
        EXPECT_EQ(form->LoginPanel->frameShadow(), QFrame::Raised);
        EXPECT_EQ(form->MessagesLabel->text(), NotSpecified); // the click is a login attempt
        form->MessageTimerTimer();
    }

    QTest::mousePress(form->ConfigureLabel, Qt::LeftButton);
    EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Sunken);
    QTest::mouseRelease(form->ConfigureLabel, Qt::LeftButton);
    EXPECT_EQ(form->ConfigurePanel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + u"You need to be an Administrator to modify the session details."_s);

    // An administrator gets the configuration window, modally.
    machine.admin = true;
    QDialog configure(form.get());
    configure.setObjectName(u"FormConfigure"_s);
    form->FormConfigure = &configure;
    ModalBoxCloser closer;
    QTest::mouseClick(form->ConfigureImage, Qt::LeftButton);
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].objectName, u"FormConfigure"_s);
}

TEST_F(LoginWindow, MinimiseGoesToTheTrayTheIconBringsItBackAndExitEndsTheProgram)
{
    auto form = shownForm();
    form->setWindowState(Qt::WindowMinimized); // the minimise box
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->TrayIcon->isVisible(); }, 2000));
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window- tray+ idle- message- on- &Login");
    EXPECT_EQ(form->TrayIcon->toolTip(), u"Tavro Login"_s);

    form->TrayIconClick();
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle- message- on- &Login");
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(form->focusWidget(), form->UsernameEdit);

    // The menu's "Log Off" while logged off is a login attempt with the boxes' contents.
    form->ApplicationEventsMinimize();
    form->LogOffMenu->trigger();
    EXPECT_EQ(form->MessagesLabel->text(), NotSpecified);
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window- tray+ idle- message+ on- &Login");

    // Exit drops the session and stops everything.
    form->LoggedOn = true;
    form->SystemIdleTimer->start();
    form->ExitMenu->trigger();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window- tray- idle- message- on- &Login");
}

TEST_F(LoginWindow, WithoutANotificationAreaTheWindowIsMinimisedNotHidden)
{
    machine.tray = false;
    auto form = shownForm();
    LookLoggedOn(*form, u"jdoe"_s);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    // Restored from the task bar it comes back as from the icon.
    form->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->TrayIcon->isVisible(); }, 2000));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginWindow, DiagnosticsKeyShowsTheComputerAndTheFirstAdapter)
{
    const QStringList adapter = {u"Description: eth0 adapter"_s, u"Adapter Name: eth0"_s, u"MAC Address: 00-11-22-33-44-55"_s,
                                 u"IP Address: 10.0.0.5"_s,      u"Subnet Mask: 255.255.255.0"_s, u"Gateway: 10.0.0.1"_s,
                                 u"DHCP Enabled: No"_s,          u"Have WINS: No"_s};
    const QString name = u"Computer Name: "_s + GetLocalComputerName() + LFCR + LFCR;
    const QString full = name + adapter[0] + LFCR + LFCR + adapter[2] + LFCR + LFCR + adapter[3] + LFCR + adapter[4] + LFCR +
                         adapter[5] + LFCR;
    // As the box draws it: one line break per LF CR, blank lines only where LF CR doubles.
    const QStringList drawn = {u"Computer Name: "_s + GetLocalComputerName(), {}, adapter[0], {}, adapter[2], {},
                               adapter[3], adapter[4], adapter[5], {}};
    machine.report = adapter;
    auto form = shownForm();
    const struct { Qt::KeyboardModifiers mods; Qt::Key key; bool shown; } keys[] = {
        {CtrlShift, Qt::Key_Z, true}, {CtrlShift | Qt::AltModifier, Qt::Key_Z, false},
        {Qt::ControlModifier, Qt::Key_Z, false}, {CtrlShift, Qt::Key_X, false}};
    for (const auto &row : keys) {
        ModalBoxCloser closer;
        QList<int> lines;
        closer.onBox = [&](QWidget *box) { lines = DrawnBoxLines(box); };
        QTest::keyClick(form->UsernameEdit, row.key, row.mods);
        EXPECT_EQ(closer.texts(), row.shown ? QStringList{drawn.join(u'\n')} : QStringList{}) << row.key;
        EXPECT_EQ(lines, row.shown ? Filled(drawn) : QList<int>{}) << row.key;
    }

    // With the boxes disabled (logged on) the window itself sees the key, once;
    // a short report shows what there is instead of failing.
    for (QWidget *w : std::initializer_list<QWidget *>{form->UsernameEdit, form->PasswordEdit, form->Profiles})
        w->setEnabled(false);
    const QString none = u"No network adapters found."_s;
    const struct { QStringList report; QString text; } reports[] = {{adapter, full}, {{none}, name + none + LFCR}, {{}, name}};
    for (const auto &row : reports) {
        machine.report = row.report;
        ModalBoxCloser closer;
        QTest::keyClick(form.get(), Qt::Key_Z, CtrlShift);
        EXPECT_EQ(closer.texts(), QStringList{DrawnText(row.text)});
    }
}

TEST_F(LoginWindow, IdleLogoffAfterThePeriodWithANotice)
{
    startWith(u"A.ini"_s, {u"Server=SRV"_s, u"Auto Logoff Time=15"_s});
    writeProfile(u"B.ini"_s, {u"Server=SRV"_s, u"Auto Logoff Time=5"_s});
    auto form = shownForm();
    ASSERT_EQ(form->AutoLogoffMs, 900000);
    LookLoggedOn(*form, u"jdoe@corp"_s);
    EXPECT_EQ(form->TrayIcon->toolTip(), u"SRV: Logged in as jdoe"_s);
    ReadProfile(u"B.ini"_s); // the user works on another profile: the notice quotes it
    const std::string before = Controls(*form);
    const QString status = form->MessagesLabel->text();

    // Never without a period (none of them wraps into one), nor when logged off, nor at exactly the period.
    constexpr quint32 longest = std::numeric_limits<quint32>::max();
    const struct { qint32 period; bool loggedOn; quint32 idle; } nothing[] = {
        {0, true, longest}, {-60000, true, longest}, {std::numeric_limits<qint32>::min(), true, longest},
        {60000, false, 3600000}, {900000, true, 900000}};
    for (const auto &row : nothing) {
        form->AutoLogoffMs = row.period;
        form->LoggedOn = row.loggedOn;
        machine.idle = row.idle;
        form->SystemIdleTimerTimer();
        EXPECT_EQ(std::exchange(form->LoggedOn, true), row.loggedOn) << row.period;
        EXPECT_EQ(Controls(*form), before) << row.period;
        EXPECT_EQ(form->MessagesLabel->text(), status);
        EXPECT_EQ(form->UsernameEdit->text(), u"jdoe@corp"_s);
    }

    machine.idle = 900001;
    const QString time = QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
    form->SystemIdleTimerTimer();
    // It stays in the tray; the user finds the notice when bringing it back.
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure- window- tray+ idle- message- on- &Login");
    const QString prefix = LFCR + u"jdoe has been automatically logged out after 5 minute(s) of inactivity."_s + LFCR +
                           u"Logout time: "_s;
    const QString text = form->MessagesLabel->text();
    EXPECT_TRUE(text.startsWith(prefix)) << text.toStdString();
    EXPECT_TRUE(text.mid(prefix.size()).startsWith(time.left(3)));
    EXPECT_TRUE(text.endsWith(u" on "_s + QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
    EXPECT_TRUE(form->UsernameEdit->text().isEmpty());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_EQ(form->TrayIcon->toolTip(), u"SRV: Logged in as jdoe"_s);
    form->TrayIconClick();
    EXPECT_TRUE(form->MessagesLabel->text().startsWith(prefix));
}

TEST_F(LoginWindow, RestoreWhileLoggedOnShowsWhoIsConnectedAndIdleLogoffRestoresAMinimisedWindow)
{
    startWith(u"A.ini"_s, {u"Server=SRV"_s, u"Auto Logoff Time=1"_s});
    auto form = shownForm();
    LookLoggedOn(*form, u"jdoe@corp.example"_s);
    form->TrayIconClick();
    const QString text = form->MessagesLabel->text();
    EXPECT_TRUE(text.startsWith(LFCR + u"Currently connected to SRV as jdoe"_s + LFCR + u"Logged in at: "_s)) << text.toStdString();
    EXPECT_TRUE(text.endsWith(u" on "_s + QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
    EXPECT_EQ(Controls(*form), "user- password- profiles- login+ configure- window+ tray- idle+ message- on+ &Log Off");

    // Minimised by its box, the idle log-off brings the window back.
    form->ApplicationEventsMinimize();
    EXPECT_FALSE(form->isVisible());
    machine.idle = 60001;
    form->SystemIdleTimerTimer();
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure- window+ tray- idle- message- on- &Login");
}

// --- against a real file server ----------------------------------------------

// The scripts write what they see of the user name variable into files the test reads.
class LoginSession : public LoginWindow {
protected:
    // Starts the server with LOGON.BAT and LOGOFF.BAT recording into logon.txt and logoff.txt.
    void startServer(const QString &password = QLatin1String(SambaServer::DefaultPassword), int pauseMs = 0)
    {
        QString error;
        ASSERT_TRUE(samba.start(&error, QLatin1String(SambaServer::DefaultUser), password)) << error.toStdString();
        out = home.path() + u"/out/"_s;
        QDir().mkpath(out);
        ASSERT_TRUE(put(u"LOGON.BAT"_s, recorder(u"logon.txt"_s, pauseMs)));
        ASSERT_TRUE(put(u"LOGOFF.BAT"_s, recorder(u"logoff.txt"_s, pauseMs)));
    }

    bool put(const QString &file, const QByteArray &content) { return samba.putFile(u"NETLOGON_V2"_s, file, content); }

    // A script that appends the variable's value to a file, after an optional pause.
    QByteArray recorder(const QString &file, int pauseMs = 0) const
    {
        QString body = pauseMs ? u"sleep %1\n"_s.arg(pauseMs / 1000.0) : QString();
        body += u"printf '%s\\n' \"${TAVROLOGIN_USERNAME-unset}\" >> '%1'\n"_s.arg(out + file);
        return body.toUtf8();
    }

    void useProfile(const QStringList &extra = {}, const QString &script = u"LOGON.BAT"_s)
    {
        startWith(u"Demo.ini"_s,
                  QStringList{u"Server="_s + samba.server(), u"Logon Script="_s + script, u"Net Logon Share=NETLOGON_V2"_s} + extra);
    }

    QStringList lines(const QString &file) const
    {
        QFile f(out + file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList{};
    }

    void typeAndLogin(TTavroNetLoginForm &form, const QString &password = QLatin1String(SambaServer::DefaultPassword),
                      const QString &user = u"tavrotest"_s)
    {
        form.UsernameEdit->setText(user);
        form.PasswordEdit->setText(password);
        QTest::mouseClick(form.LoginLabel, Qt::LeftButton);
    }

    QString localTemp() const { return home.dataHome() + u"/Temp/"_s; }

    SambaServer samba;
    QString out;
    ScopedEnv env{"TAVROLOGIN_USERNAME", QByteArray()};
};

// A second Enter or Log Off while a script runs would start a second attempt inside the first.
TEST_F(LoginSession, LoginAndLogoffRunTheScriptsOnceWithTheUserName)
{
    ASSERT_NO_FATAL_FAILURE(startServer(QLatin1String(SambaServer::DefaultPassword), 700));
    useProfile();
    ASSERT_TRUE(put(u"LOGOFF.VBS"_s, "' no host for this here\n"));
    qunsetenv("TAVROLOGIN_USERNAME");
    // A stale local copy from an earlier log-off is replaced.
    WriteFile(localTemp() + u"LOGOFF.BAT"_s, "echo stale\n");
    auto form = shownForm();
    form->UsernameEdit->setText(u"tavrotest@corp"_s);
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
    const int duringLogin = std::exchange(pokes, 0);
    EXPECT_GE(duringLogin, 2);
    EXPECT_EQ(lines(u"logon.txt"_s), QStringList{u"tavrotest"_s});
    EXPECT_EQ(form->LoggedOnUser, u"tavrotest"_s);
    EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));
    EXPECT_EQ(Controls(*form), "user- password- profiles- login+ configure- window- tray+ idle+ message- on+ &Log Off");
    EXPECT_EQ(form->UsernameEdit->text(), u"tavrotest@corp"_s);
    EXPECT_EQ(form->MessagesLabel->text(), LFCR + u"Please wait, logging in..."_s);
    const QString tooltip = samba.server() + u": Logged in as tavrotest"_s;
    EXPECT_EQ(form->TrayIcon->toolTip(), tooltip);

    // "Log Off" from the tray menu.
    form->LogOffMenu->trigger();
    EXPECT_GE(pokes, 2);
    poke.stop();
    EXPECT_EQ(lines(u"logoff.txt"_s), QStringList{u"tavrotest"_s});
    EXPECT_EQ(lines(u"logon.txt"_s).size(), 1);
    QFile local(localTemp() + u"LOGOFF.BAT"_s);
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.readAll(), recorder(u"logoff.txt"_s, 700));
    EXPECT_TRUE(QFile::exists(localTemp() + u"LOGOFF.VBS"_s));
    EXPECT_FALSE(qEnvironmentVariableIsSet("TAVROLOGIN_USERNAME"));
    // The idle timer ticks on without effect.
    EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle+ message- on- &Login");
    EXPECT_TRUE(form->UsernameEdit->text().isEmpty());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_EQ(form->MessagesLabel->text(), form->Banner());

    // The tooltip keeps the last login's text.
    form->ApplicationEventsMinimize();
    EXPECT_EQ(form->TrayIcon->toolTip(), tooltip);
}

TEST_F(LoginSession, PasswordsReachTheServerExactlyAsTypedAndFailuresKeepTheBoxes)
{
    // A real account whose password holds two dollar signs.
    ASSERT_NO_FATAL_FAILURE(startServer(u"pa$$word"_s));
    useProfile({}, u"NOPE.BAT"_s);
    const QString share = samba.unc(u"NETLOGON_V2"_s);
    const struct { const char *typed; bool connects; } rows[] = {{"pa$$word", true}, {"pa\\$\\$word", false}, {"wrong", false}};
    auto form = shownForm();
    for (const auto &row : rows) {
        qunsetenv("TAVROLOGIN_USERNAME");
        typeAndLogin(*form, QString::fromUtf8(row.typed), u"tavrotest@corp"_s);
        // Connected, the missing script is the failure; the variable is set by then and stays.
        EXPECT_EQ(form->MessagesLabel->text(),
                  LFCR + (row.connects ? u"Logon script does not exist on the network share: "_s + share + u"\\NOPE.BAT"_s
                                       : u"Failed to connect to network share: "_s + share))
            << row.typed;
        EXPECT_EQ(qEnvironmentVariableIsSet("TAVROLOGIN_USERNAME"), row.connects) << row.typed;
        EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure+ window+ tray- idle- message+ on- &Login");
        EXPECT_EQ(form->UsernameEdit->text(), u"tavrotest@corp"_s);
        EXPECT_EQ(form->PasswordEdit->text(), QString::fromUtf8(row.typed));
    }
}

// A desktop that reports no idle time (a Wayland compositor without an idle service):
// a profile's automatic log-off cannot happen, and the window says so once.
TEST_F(LoginSession, NoIdleSourceIsSaidOnceWhenTheProfileLogsOffByItself)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    machine.idleKnown = false;
    const QString said = LFCR + u"Automatic log-off is not available: this desktop does not report idle time."_s;
    for (const char *minutes : {"0", "1", "1"}) {
        reset();
        useProfile({u"Auto Logoff Time="_s + QLatin1String(minutes)});
        auto form = shownForm();
        typeAndLogin(*form);
        ASSERT_TRUE(form->LoggedOn);
        EXPECT_EQ(form->MessagesLabel->text() == said, QByteArray(minutes) == "1") << minutes;
        form->LogOffMenu->trigger();
        // Said once per window: the next logon of the same window stays quiet.
        typeAndLogin(*form);
        ASSERT_TRUE(form->LoggedOn);
        EXPECT_NE(form->MessagesLabel->text(), said);
        form->LogOffMenu->trigger();
    }
}

TEST_F(LoginSession, SecondaryServerThenIdleLogoffThenExit)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    const struct { QString remote, status; } rows[] = {
        {samba.server(), u"Successfully authenticated."_s},
        {samba.server() + u'\\', u"Successfully authenticated."_s},
        {u"127.0.0.1:1"_s, u"Failed to authenticate to 127.0.0.1:1"_s},
    };
    for (const auto &row : rows) {
        reset();
        useProfile({u"Remote Server="_s + row.remote, u"Auto Logoff Time=1"_s});
        auto form = shownForm();
        typeAndLogin(*form);
        EXPECT_EQ(form->MessagesLabel->text(), LFCR + row.status) << row.remote.toStdString();
        EXPECT_EQ(Controls(*form), "user- password- profiles- login+ configure- window- tray+ idle+ message+ on+ &Log Off");

        // Idle past the period (the status has long gone): no logoff script, the variable stays.
        form->MessageTimerTimer();
        machine.idle = 60001;
        form->SystemIdleTimerTimer();
        machine.idle = 0;
        EXPECT_EQ(Controls(*form), "user+ password+ profiles+ login+ configure- window- tray+ idle- message- on- &Login");
        EXPECT_TRUE(lines(u"logoff.txt"_s).isEmpty());
        EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));

        // Log on again and leave by Exit: no logoff script either.
        form->TrayIconClick();
        typeAndLogin(*form);
        ASSERT_TRUE(form->LoggedOn);
        form->ExitMenu->trigger();
        EXPECT_EQ(std::exchange(closed, 0), 1);
        EXPECT_EQ(Controls(*form), "user- password- profiles- login+ configure- window- tray- idle- message- on- &Log Off");
        EXPECT_TRUE(lines(u"logoff.txt"_s).isEmpty());
        EXPECT_EQ(qgetenv("TAVROLOGIN_USERNAME"), QByteArray("tavrotest"));
    }
    EXPECT_EQ(lines(u"logon.txt"_s).size(), 6);
}

// --- the program ------------------------------------------------------------

TEST(LoginProgram, SecondCopyEndsAtOnceAndTheFirstRunsOn)
{
    TempHome home;
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    const QString program = QStringLiteral(TAVRO_BINARY_DIR "/app/tavrologin");
    ASSERT_TRUE(QFile::exists(program));
    QProcess first, second, again;
    for (QProcess *p : {&first, &second})
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    // The settings file is written once the guard has counted the first copy.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(home.commonAppData() + u"/Tavro Login 2/tavrologin.ini"_s); }, 10000));
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(first.state(), QProcess::Running);
    // The session's end closes the first copy in order.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(5000));
    for (QProcess *p : {&first, &second}) {
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }

    // With the first copy gone a new start runs as the first again.
    again.start(program, {});
    ASSERT_TRUE(again.waitForStarted(5000));
    EXPECT_FALSE(again.waitForFinished(1500));
    EXPECT_EQ(again.state(), QProcess::Running);
    again.kill();
    again.waitForFinished(5000);
}

// Samba's client library and GIO come with the first network call, the screen saver
// extension and libwayland-client with the first idle query: the window, a second copy,
// the information switches and a `net use` listing load none of them, nor a network
// library (the local sockets are plain ones) or an image plugin (the pictures are PNG and BMP).
TEST(LoginProgram, StartUpLoadsNoSambaGioNetworkOrImagePlugins)
{
    TempHome home;
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    // A runtime folder of its own: the guard of another test's copy must not make this one surplus.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform.set("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString program = QStringLiteral(TAVRO_BINARY_DIR "/app/tavrologin");
    const auto network = [](const QByteArray &text) {
        QStringList found;
        for (const QByteArray &line : text.split('\n')) {
            for (const char *late : {"libsmbclient", "/samba/", "libgio-2.0", "libQt6Network", "libgssapi_krb5",
                                     "libXss", "libwayland-client", "/imageformats/", "libjpeg"})
                if (line.contains(late))
                    found << QString::fromUtf8(line.trimmed());
        }
        found.removeDuplicates();
        return found.join(u'\n');
    };
    const auto mapped = [&](qint64 pid) {
        QFile maps(u"/proc/%1/maps"_s.arg(pid));
        return maps.open(QIODevice::ReadOnly) ? network(maps.readAll()) : u"unreadable"_s;
    };
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(home.commonAppData() + u"/Tavro Login 2/tavrologin.ini"_s); }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(mapped(first.processId()), QString());

    // The loader names every library a short-lived copy maps, also those it opens late.
    const QList<QStringList> runs = {{}, {u"--help"_s}, {u"--version"_s}, {u"net"_s, u"use"_s}};
    for (const QStringList &args : runs) {
        QProcess copy;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"LD_DEBUG"_s, u"files"_s);
        copy.setProcessEnvironment(env);
        copy.start(program, args);
        ASSERT_TRUE(copy.waitForFinished(10000)) << qPrintable(args.join(u' '));
        const QByteArray loaded = copy.readAllStandardError();
        EXPECT_TRUE(loaded.contains("file=libQt6Core")) << qPrintable(args.join(u' '));
        EXPECT_EQ(network(loaded), QString()) << qPrintable(args.join(u' '));
    }
    // Answering the listing did not load them into the running copy either.
    EXPECT_EQ(mapped(first.processId()), QString());
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(5000);
}

} // namespace
