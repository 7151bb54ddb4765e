#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/configlink.h"
#include "app/login.h"
#include "config/csl.h"
#include "config/inifile.h"
#include "config/spinedit.h"
#include "platform/errors.h"
#include "platform/privateprofile.h"
#include "tests/fixtures/ModalBoxes.h"
#include "tests/fixtures/TempEnv.h"
#include "utility/utility.h"

using namespace Qt::StringLiterals;

namespace {

// "A,B,C" -> {"A", "B", "C"}; empty parts stay.
QStringList L(const char *commaList) { return QString::fromUtf8(commaList).split(u','); }

QStringList texts(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

TLoginSystemFacts adminFacts()
{
    TLoginSystemFacts facts;
    facts.Administrator = [] { return true; };
    facts.RemoteSession = [] { return false; };
    facts.InstanceControl = false;
    return facts;
}

// Three profiles to start from, "Office" the start-up one.
class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProfileDefaults();
        SetAppDefaults();
        writeProfile(u"Office"_s, u"OFFICESRV"_s, {u"Logon Script=LOGON.BAT"_s, u"Auto Logoff Time=15"_s});
        writeProfile(u"Lab"_s, u"LABSRV"_s);
        writeProfile(u"Home"_s, u"HOMESRV"_s);
        writeIni(appFile(), {u"Version=1.0.0"_s, u"Default Profile=Office.ini"_s});
    }

    QString dataFolder() const { return home.commonAppData() + u"/Tavro Login 2/"_s; }
    QString profileFolder() const { return dataFolder() + u"config/"_s; }
    QString appFile() const { return dataFolder() + u"tavrologin.ini"_s; }

    static void writeIni(const QString &path, const QStringList &lines)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((QStringList{u"[TavroLogin]"_s} + lines).join(u"\r\n"_s).toUtf8() + "\r\n");
    }
    void writeProfile(const QString &name, const QString &server, const QStringList &more = {},
                      const QString &sub = {})
    {
        writeIni(profileFolder() + sub + name + u".ini"_s, QStringList{u"Server="_s + server} + more);
    }
    static QString key(const QString &file, const QString &key)
    {
        return platform::GetPrivateProfileString(u"TavroLogin"_s, key, u"<none>"_s, file);
    }
    QString profileKey(const QString &name, const QString &k) const { return key(profileFolder() + name + u".ini"_s, k); }
    QString appKey(const QString &k) const { return key(appFile(), k); }
    void expectKeys(const QString &name, std::initializer_list<std::pair<QString, QString>> keys) const
    {
        for (const auto &[key, value] : keys)
            EXPECT_EQ(profileKey(name, key), value) << key.toStdString();
    }
    // Every file under the common data folder, relative to it.
    QStringList allFiles() const
    {
        QStringList out;
        QDirIterator it(home.commonAppData(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(home.commonAppData()).relativeFilePath(it.next());
        out.sort();
        return out;
    }

    void open(bool show = true)
    {
        form = std::make_unique<TFormConfigure>();
        form->OnException = [this] { try { throw; } catch (const Exception &e) { errors << e.message(); } };
        if (show)
            form->show();
    }
    // The list's captions (or markers) in order.
    QStringList entries(bool marks = false) const
    {
        QStringList out;
        for (int i = 0; i < form->ListViewCombo->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = form->ListViewCombo->topLevelItem(i);
            out << (marks ? EntrySubItems(item).join(u',') : item->text(0));
        }
        return out;
    }
    QStringList choices() const { return texts(form->ConfigProfiles); }
    QTreeWidgetItem *entry(const QString &caption) const
    {
        const auto found = form->ListViewCombo->findItems(caption, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    void select(const QString &caption) { form->ListViewCombo->setCurrentItem(entry(caption)); }
    void click(const QString &caption)
    {
        QTreeWidgetItem *item = entry(caption);
        ASSERT_NE(item, nullptr) << caption.toStdString();
        QTest::mouseClick(form->ListViewCombo->viewport(), Qt::LeftButton, {},
                          form->ListViewCombo->visualItemRect(item).center());
    }
    void setSpinText(const QString &text) { form->SpinEdit->findChild<QLineEdit *>()->setText(text); }
    // "name|server" as the editor shows them.
    QString editor() const { return form->ProfileText->text() + u'|' + form->ServerText->text(); }
    // The editor's mode as its button and name box show it.
    QString mode() const
    {
        const bool bold = form->ButtonAdd->font().bold(), readOnly = form->ProfileText->isReadOnly();
        return form->ButtonAdd->text() + (bold ? u" bold"_s : u""_s) + (readOnly ? u" read-only"_s : u""_s);
    }

    TempHome home;
    QStringList errors;
    std::unique_ptr<TFormConfigure> form;
};

} // namespace

TEST(ProfileNames, NamesThatCannotBeFilesInTheProfileFolderAreRefused)
{
    for (const char *bad : {"../evil", "..", "a..b", "sub/name", "sub\\name", "C:name", "a*b", "a?b", "a\"b",
                            "a<b", "a>b", "a|b", "tab\there", "line\nbreak", ".hidden", "CON", "nul", "com1.x"}) {
        const QString problem = ProfileNameProblem(QString::fromUtf8(bad));
        EXPECT_TRUE(problem.contains(QString::fromUtf8(bad))) << bad << ": " << problem.toStdString();
    }
    for (const char *good : {"Office", "Tavro-Net Default", "Lab 2 (old)", "a.b", "Café", "console"})
        EXPECT_EQ(ProfileNameProblem(QString::fromUtf8(good)), QString()) << good;
    EXPECT_FALSE(ProfileNameProblem(QString(300, u'x')).isEmpty());
}

TEST_F(ConfigWindow, LayoutSpotChecks)
{
    open(false);
    EXPECT_EQ(form->windowTitle(), u"Tavro Login v"_s + GetExeVersion());
    EXPECT_EQ(form->minimumSize(), QSize(567, 314));
    EXPECT_EQ(form->maximumSize(), QSize(567, 314));
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form->SpinEdit->geometry(), QRect(258, 111, 43, 22));
    // Widened only as far as a wider face than the classic one needs.
    EXPECT_GE(form->CheckBoxRemoteMessage->width(), 349);
    EXPECT_LE(form->CheckBoxRemoteMessage->geometry().right(), form->MemoRemoteMessage->geometry().right());
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_TRUE(form->RemoteText->toolTip().startsWith(u"Pass your anthentication details to another remote"_s));
    EXPECT_FALSE(form->MemoRemoteMessage->isEnabled() || form->SpinEdit->isEnabled());
    // One column: the marker never shows.
    EXPECT_EQ(form->ListViewCombo->columnCount(), 1);
    EXPECT_EQ(form->ListViewCombo->headerItem()->text(0), u"Profiles"_s);
    EXPECT_TRUE(form->ListViewCombo->dragEnabled());
}

TEST_F(ConfigWindow, CreationListsTheFolderShowingSelectsAndMarksTheStartUpProfile)
{
    writeProfile(u"Lab2"_s, u"OLDSRV"_s, {}, u"old/"_s);
    open(false);
    QStringList listed = entries();
    EXPECT_EQ(listed, choices());        // the same names in the same order
    EXPECT_EQ(listed.last(), u"Lab2"_s); // a folder's files before its subfolders
    listed.sort();
    EXPECT_EQ(listed, L("Home,Lab,Lab2,Office"));
    EXPECT_EQ(ProfileSettings.ProfileServer, u"OFFICESRV"_s);
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_EQ(editor(), u"|"_s);
    EXPECT_TRUE(form->LogonScriptHta->isChecked());
    form->show();
    QTreeWidgetItem *office = entry(u"Office"_s);
    EXPECT_EQ(form->ConfigProfiles->currentText(), u"Office"_s);
    EXPECT_TRUE(office->isSelected());
    EXPECT_EQ(form->ListViewCombo->currentItem(), office);
    EXPECT_EQ(editor(), u"Office|OFFICESRV"_s);
    EXPECT_TRUE(form->LogonScriptBatch->isChecked());
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked() && form->SpinEdit->isEnabled());
    EXPECT_EQ(form->SpinEdit->value(), 15);
    EXPECT_EQ(mode(), u"&Update bold read-only"_s);
    EXPECT_FALSE(form->ProfileText->isEnabled());
    EXPECT_EQ(EntrySubItems(office), QStringList{u"Yes"_s});
    // An entry whose file lies in a subfolder loads nothing.
    form->ResetProfileEditor();
    select(u"Lab2"_s);
    EXPECT_EQ(editor(), u"|"_s);
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"OFFICESRV"_s);
    form->hide();
    // The drop-down and the selection ignore letter case; the marker needs the exact name and stays.
    AppSettings.AppDefaultProfile = u"HOME.ini"_s;
    form->show();
    EXPECT_EQ(form->ConfigProfiles->currentText(), u"Home"_s);
    EXPECT_TRUE(entry(u"Home"_s)->isSelected());
    EXPECT_EQ(editor(), u"Home|HOMESRV"_s);
    EXPECT_EQ(EntrySubItems(entry(u"Home"_s)), QStringList());
    EXPECT_EQ(EntrySubItems(office), QStringList{u"Yes"_s});
    form->hide();
    // A start-up profile that is not listed: nothing chosen, nothing selected.
    form->ResetProfileEditor();
    AppSettings.AppDefaultProfile = u"Gone.ini"_s;
    form->show();
    EXPECT_EQ(form->ConfigProfiles->currentIndex(), -1);
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty());
    EXPECT_FALSE(form->ProfileText->isEnabled());
    EXPECT_TRUE(errors.isEmpty());
    // The select handler also runs for an entry losing the selection: it reloads the application settings.
    select(u"Lab"_s);
    AppSettings.AppDefaultProfile = u"Changed in memory.ini"_s;
    form->ListViewCombo->clearSelection();
    EXPECT_EQ(AppSettings.AppDefaultProfile, u"Office.ini"_s);
}

TEST_F(ConfigWindow, AddingWritesTheProfileAndMakesTheFirstEntryTheStartUpProfile)
{
    open();
    form->ResetProfileEditor(); // add mode, nothing selected
    QTest::keyClicks(form->ProfileText, u"New Site"_s);
    QTest::keyClicks(form->ServerText, u"NEWSRV"_s);
    QTest::keyClicks(form->RemoteText, u"SECOND"_s);
    form->CheckBoxRemoteMessage->setChecked(true);
    form->MemoRemoteMessage->setPlainText(u"Hello"_s);
    ModalBoxCloser closer;
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    EXPECT_EQ(closer.count(), 0);
    const QString n = u"New Site"_s;
    expectKeys(n, {{u"Server"_s, u"NEWSRV"_s}, {u"Remote Server"_s, u"SECOND"_s},
                   {u"Logon Script"_s, u"LOGON.HTA"_s}, {u"Net Logon Share"_s, u"NETLOGON_V2"_s},
                   {u"Wallpaper"_s, GetAppFolder() + u"classicbg.bmp"_s}, {u"Auto Logoff Time"_s, u"0"_s},
                   {u"Enable Remote Message"_s, u"1"_s}, {u"Remote Message"_s, u"Hello"_s}});
    EXPECT_EQ(entries().last(), n);
    EXPECT_EQ(choices().last(), n);
    const QString first = entries().first() + u".ini"_s;
    EXPECT_EQ(entries(true).first(), u"Yes"_s);
    EXPECT_EQ(AppSettings.AppDefaultProfile, first);
    EXPECT_EQ(appKey(u"Default Profile"_s), u"Office.ini"_s); // memory only
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_EQ(editor(), u"|"_s);
    EXPECT_TRUE(form->ProfileText->isEnabled() && !form->ProfileText->isReadOnly());
    // Closing straight away stores it.
    form->close();
    EXPECT_EQ(appKey(u"Default Profile"_s), first);
}

TEST_F(ConfigWindow, UpdatingRewritesTheSelectedProfileOnly)
{
    const QString lab = u"Lab"_s;
    writeProfile(lab, u"LABSRV"_s, {u"Logon Script=logon.bat"_s, u"Wallpaper=/elsewhere.bmp"_s,
                                    u"Net Logon Share=OTHER"_s, u"Auto Logoff Time=200"_s});
    open();
    click(lab);
    ASSERT_EQ(mode(), u"&Update bold read-only"_s);
    EXPECT_TRUE(form->LogonScriptHta->isChecked()); // only exactly LOGON.BAT is the first item
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_EQ(form->SpinEdit->value(), 180);
    form->ServerText->setText(u"LABSRV2"_s);
    const QStringList before = entries();
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    expectKeys(lab, {{u"Server"_s, u"LABSRV2"_s}, {u"Logon Script"_s, u"LOGON.HTA"_s},
                     {u"Auto Logoff Time"_s, u"180"_s}, {u"Net Logon Share"_s, u"NETLOGON_V2"_s},
                     {u"Wallpaper"_s, GetAppFolder() + u"classicbg.bmp"_s}});
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(choices().size(), before.size());
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty());
    // Unticked, "0" is stored whatever the box shows.
    click(lab);
    form->CheckBoxAutoLogoff->setChecked(false);
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    EXPECT_EQ(profileKey(lab, u"Auto Logoff Time"_s), u"0"_s);
    click(lab);
    EXPECT_FALSE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_EQ(form->SpinEdit->value(), 5);
}

TEST_F(ConfigWindow, InputIsCheckedBeforeAnythingIsWritten)
{
    const char *rows[][3] = {
        // name, server, the start of the message
        {"", "SRV", "You must specify a profile name."},
        {"Fresh", "", "You must specify a server name."},
        {"../evil", "SRV", "The profile name \"../evil\" cannot be used"},
        {"sub/evil", "SRV", "The profile name \"sub/evil\" cannot be used"},
        {"what?", "SRV", "The profile name \"what?\" cannot be used"},
        {"Lab", "SRV", "A profile named \"Lab\" already exists."},
        {"OFFICE", "SRV", "A profile named \"OFFICE\" already exists."},
    };
    open();
    const QStringList filesBefore = allFiles();
    for (const auto &[name, server, message] : rows) {
        form->ResetProfileEditor();
        form->ProfileText->setText(QString::fromUtf8(name));
        form->ServerText->setText(QString::fromUtf8(server));
        ModalBoxCloser closer;
        QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
        ASSERT_EQ(closer.count(), 1) << name;
        EXPECT_TRUE(closer.boxes()[0].text.startsWith(QString::fromUtf8(message))) << closer.texts()[0].toStdString();
        EXPECT_EQ(closer.boxes()[0].title, ApplicationTitle);
        // Nothing written, the editor keeps its contents, no entry added.
        EXPECT_EQ(allFiles(), filesBefore) << name;
        EXPECT_EQ(editor(), QString::fromUtf8(name) + u'|' + QString::fromUtf8(server));
        EXPECT_EQ(entries().size() + choices().size(), 6);
    }
    EXPECT_EQ(profileKey(u"Lab"_s, u"Server"_s), u"LABSRV"_s);
    // The empty-name check enables the name box even after a showing disabled it.
    click(u"Lab"_s);
    form->SelectDefaultConfiguration(u"Office"_s);
    ASSERT_FALSE(form->ProfileText->isEnabled());
    form->ProfileText->setReadOnly(false);
    form->ProfileText->clear();
    ModalBoxCloser closer;
    form->ButtonAddClick();
    EXPECT_TRUE(form->ProfileText->isEnabled());
}

TEST_F(ConfigWindow, RemovingDeletesTheFileMovesTheStartUpProfileAndKeepsTheLastEntry)
{
    writeProfile(u"Extra"_s, u"EXTRASRV"_s);
    writeIni(profileFolder() + u"Upper.INI"_s, {u"Server=UPPERSRV"_s});
    open();
    auto remove = [&](const QString &caption) { // the boxes it shows
        if (!caption.isEmpty())
            click(caption);
        ModalBoxCloser closer;
        QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
        return closer.texts();
    };
    auto gone = [&](const QString &name) { return !entries().contains(name) && !choices().contains(name); };
    // No entry selected: nothing happens.
    const QStringList order = entries();
    form->ResetProfileEditor();
    EXPECT_EQ(remove({}), QStringList());
    EXPECT_EQ(entries(), order);
    // A file that cannot be deleted is reported; the entry goes, the file stays.
    const auto deleteFile = form->DeleteProfileFile;
    form->DeleteProfileFile = [](const QString &) { return false; };
    EXPECT_EQ(remove(u"Home"_s), QStringList{u"Failed to delete configuration file."_s});
    EXPECT_TRUE(gone(u"Home"_s));
    EXPECT_TRUE(QFile::exists(profileFolder() + u"Home.ini"_s));
    form->DeleteProfileFile = deleteFile;
    // A profile that is not the start-up one.
    EXPECT_EQ(remove(u"Lab"_s), QStringList());
    EXPECT_TRUE(gone(u"Lab"_s));
    EXPECT_FALSE(QFile::exists(profileFolder() + u"Lab.ini"_s));
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty()); // no neighbour selected in its place
    EXPECT_EQ(appKey(u"Default Profile"_s), u"Office.ini"_s);
    // A file listed though its ".INI" is in capitals is the one loaded and deleted.
    click(u"Upper"_s);
    EXPECT_EQ(editor(), u"Upper|UPPERSRV"_s);
    EXPECT_EQ(remove({}), QStringList());
    EXPECT_FALSE(QFile::exists(profileFolder() + u"Upper.INI"_s));
    // The start-up profile: the remaining entry takes over, written at once.
    remove(u"Office"_s);
    ASSERT_EQ(entries(), QStringList{u"Extra"_s});
    EXPECT_EQ(choices(), QStringList{u"Extra"_s});
    EXPECT_EQ(form->ConfigProfiles->currentText(), u"Extra"_s);
    EXPECT_EQ(AppSettings.AppDefaultProfile, u"Extra.ini"_s);
    EXPECT_EQ(appKey(u"Default Profile"_s), u"Extra.ini"_s);
    // The last entry stays.
    EXPECT_EQ(remove(u"Extra"_s), QStringList{u"You cannot remove the last configuration file from Tavro Login"_s});
    EXPECT_EQ(entries(), QStringList{u"Extra"_s});
    EXPECT_TRUE(QFile::exists(profileFolder() + u"Extra.ini"_s));
}

TEST_F(ConfigWindow, OnlyTheUsersChoiceOfTheStartUpProfileIsStored)
{
    open();
    const QStringList markers = entries(true);
    const int office = form->ConfigProfiles->currentIndex();
    // The program's own change does not store anything.
    form->ConfigProfiles->setCurrentIndex((office + 1) % 3);
    EXPECT_EQ(appKey(u"Default Profile"_s), u"Office.ini"_s);
    form->ConfigProfiles->setCurrentIndex(office);
    // The user's does, at once.
    form->ConfigProfiles->setFocus();
    QTest::keyClick(form->ConfigProfiles, office == 2 ? Qt::Key_Up : Qt::Key_Down);
    const QString chosen = form->ConfigProfiles->currentText() + u".ini"_s;
    ASSERT_NE(chosen, u"Office.ini"_s);
    EXPECT_EQ(AppSettings.AppDefaultProfile, chosen);
    EXPECT_EQ(appKey(u"Default Profile"_s), chosen);
    EXPECT_EQ(entries(true), markers);
}

TEST_F(ConfigWindow, CheckBoxesSwitchTheirControlsOnEveryRealChange)
{
    writeProfile(u"Lab"_s, u"LABSRV"_s,
                 {u"Enable Remote Message=1"_s, u"Remote Message=Hi"_s, u"Auto Logoff Time=30"_s});
    open();
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    select(u"Lab"_s); // the boxes changed from the program
    EXPECT_TRUE(form->MemoRemoteMessage->isEnabled() && form->SpinEdit->isEnabled());
    // Setting the same state again runs nothing.
    form->SpinEdit->setEnabled(false);
    form->CheckBoxAutoLogoff->setChecked(true);
    EXPECT_FALSE(form->SpinEdit->isEnabled());
    // The user's click.
    QTest::mouseClick(form->CheckBoxAutoLogoff, Qt::LeftButton, {}, QPoint(6, form->CheckBoxAutoLogoff->height() / 2));
    EXPECT_FALSE(form->CheckBoxAutoLogoff->isChecked() || form->SpinEdit->isEnabled());
    form->ResetProfileEditor();
    EXPECT_FALSE(form->MemoRemoteMessage->isEnabled());
    EXPECT_TRUE(form->MemoRemoteMessage->toPlainText().isEmpty());
}

TEST_F(ConfigWindow, SpinBoxKeepsItsBounds)
{
    open();
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    form->CheckBoxAutoLogoff->setChecked(true);
    TSpinEdit *spin = form->SpinEdit;
    // Typed text: what is not a number counts as 5; leaving the box settles the text too.
    const std::pair<const char *, int> typed[] = {{"200", 180}, {"2", 5},   {"0", 5},     {"", 5},     {"abc", 5},
                                                  {"-7", 5},    {"7", 7},   {"180", 180}, {"999", 180}};
    for (const auto &[text, value] : typed) {
        setSpinText(QString::fromUtf8(text));
        EXPECT_EQ(spin->Value(), value) << text;
        spin->setFocus();
        form->ServerText->setFocus();
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(spin, &out);
        EXPECT_EQ(spin->text(), QString::number(value)) << text;
    }
    // Set values are pulled into range; values between the steps stay and step from there.
    for (const auto &[set, value, stepped] : {std::tuple{0, 5, 10}, {-3, 5, 10}, {181, 180, 180}, {1000, 180, 180},
                                              {7, 7, 12}, {95, 95, 100}, {178, 178, 180}}) {
        spin->setValue(set);
        EXPECT_EQ(spin->value(), value) << set;
        spin->stepUp();
        EXPECT_EQ(spin->value(), stepped) << set;
    }
    // Typing takes digits only, three at most.
    setSpinText(QString());
    spin->setFocus();
    QTest::keyClicks(spin, u"1x2y34"_s);
    EXPECT_EQ(spin->text(), u"123"_s);
    // What is saved is the settled value.
    form->ProfileText->setText(u"Office"_s);
    form->ServerText->setText(u"SRV"_s);
    setSpinText(u"abc"_s);
    form->CollectProfileFromEditor();
    EXPECT_EQ(ProfileSettings.ProfileAutoLogoffTime, u"5"_s);
}

TEST_F(ConfigWindow, AutoLogoffTimeThatIsNoIntegerStopsLoadingWithAnError)
{
    writeProfile(u"Lab"_s, u"LABSRV"_s,
                 {u"Auto Logoff Time=ten"_s, u"Enable Remote Message=1"_s, u"Remote Message=Hi"_s});
    open();
    form->ResetProfileEditor();
    errors.clear();
    select(u"Lab"_s);
    EXPECT_EQ(errors, QStringList{u"'ten' is not a valid integer value"_s});
    EXPECT_EQ(form->ServerText->text(), u"LABSRV"_s); // steps before the conversion ran
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_FALSE(form->CheckBoxRemoteMessage->isChecked()); // the rest did not
    EXPECT_EQ(mode(), u"&Add"_s);
    EXPECT_TRUE(form->ListViewCombo->currentItem()->isSelected()); // the causing call completed
}

TEST_F(ConfigWindow, RemoteMessageLineBreaksSurviveTheStore)
{
    open();
    const QString message = u"You are working remotely.\nSave often.\n\n  Indented = line\\n"_s;
    click(u"Home"_s);
    form->CheckBoxRemoteMessage->setChecked(true);
    form->MemoRemoteMessage->setPlainText(message);
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    // The message keeps to its line and the keys after it stay intact.
    QFile f(profileFolder() + u"Home.ini"_s);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_FALSE(content.contains("\nSave often") || content.contains("\n  Indented")) << content.toStdString();
    EXPECT_EQ(profileKey(u"Home"_s, u"Net Logon Share"_s), u"NETLOGON_V2"_s);
    click(u"Home"_s);
    EXPECT_EQ(form->MemoRemoteMessage->toPlainText(), message);
    ReadProfile(u"Home.ini"_s);
    EXPECT_EQ(ProfileSettings.ProfileRemoteMessage, message);
}

TEST_F(ConfigWindow, DroppingMovesEntriesWithTheirMarker)
{
    open();
    QTreeWidget *list = form->ListViewCombo;
    // A known order and marker to start from.
    list->clear();
    for (const QString &name : L("A,B,C,D"))
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{name}));
    SetEntrySubItems(list->topLevelItem(0), {u"Yes"_s});
    auto centre = [&](const char *name) { return list->visualItemRect(entry(QString::fromLatin1(name))).center(); };
    auto drop = [&](const char *dragged, QPoint at, QObject *source) {
        form->ResetProfileEditor();
        select(QString::fromLatin1(dragged));
        form->ListViewComboDragDrop(list, source, at.x(), at.y());
    };
    drop("A", centre("C"), list);
    EXPECT_EQ(entries(), L("B,A,C,D"));
    EXPECT_EQ(entries(true), L(",Yes,,"));
    EXPECT_TRUE(list->selectedItems().isEmpty());
    drop("B", QPoint(5, list->viewport()->height() - 2), list); // below the last entry
    EXPECT_EQ(entries(), L("A,C,D,B"));
    drop("C", centre("C"), list);       // onto itself
    drop("D", centre("A"), form.get()); // not dragged from the list
    EXPECT_EQ(entries(), L("A,C,D,B"));
    // An entry dragged to the top is the one that adding makes the start-up profile.
    drop("B", centre("A"), list);
    form->ResetProfileEditor();
    form->ProfileText->setText(u"E"_s);
    form->ServerText->setText(u"ESRV"_s);
    form->ButtonAddClick();
    EXPECT_EQ(AppSettings.AppDefaultProfile, u"B.ini"_s);
}

TEST_F(ConfigWindow, ClosingStoresTheSettingsAndReturnsToTheStartUpProfile)
{
    open();
    click(u"Lab"_s);
    ASSERT_EQ(ProfileSettings.ProfileServer, u"LABSRV"_s);
    QString defaultAtClose, serverAtClose;
    form->OnClose = [&] {
        defaultAtClose = appKey(u"Default Profile"_s);
        serverAtClose = ProfileSettings.ProfileServer;
    };
    AppSettings.AppDefaultProfile = u"Home.ini"_s;
    QTest::mouseClick(form->ButtonSave, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(defaultAtClose, u"Home.ini"_s); // written before the login window refreshes
    EXPECT_EQ(serverAtClose, u"LABSRV"_s);    // and the start-up profile is loaded after it
    EXPECT_EQ(ProfileSettings.ProfileServer, u"HOMESRV"_s);
    EXPECT_EQ(appKey(u"Version"_s), GetFileVersionString(GetAppFolder() + u"tavrologin"_s));
    // Shown again: the list, its order and markers carry over.
    const QStringList order = entries();
    writeProfile(u"Later"_s, u"LATERSRV"_s);
    form->show();
    EXPECT_EQ(entries(), order);
    EXPECT_EQ(form->ConfigProfiles->currentText(), u"Home"_s);
    // The title bar's close box closes the same way.
    int closes = 0;
    form->OnClose = [&] { ++closes; };
    form->reject();
    EXPECT_EQ(closes, 1);

    // A settings file that cannot be written is reported, but only after the login
    // window is back on the start-up profile: it must not log on with the one
    // selected here.
    form->show();
    click(u"Lab"_s);
    ASSERT_EQ(ProfileSettings.ProfileServer, u"LABSRV"_s);
    ASSERT_TRUE(QFile::remove(appFile()));
    ASSERT_TRUE(QDir().mkpath(appFile())); // root may write anywhere, but not over a folder
    form->reject();
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"HOMESRV"_s);
    EXPECT_EQ(errors, QStringList{u"Unable to write to "_s + QDir::toNativeSeparators(appFile())});
}

TEST_F(ConfigWindow, ClosingRefreshesTheLoginWindow)
{
    TTavroNetLoginForm login(adminFacts());
    TFormConfigure configure(&login);
    ConnectConfigureWindow(login, configure);
    login.show();
    ASSERT_EQ(login.Profiles->count(), 3);
    // Inside the modal window: a new profile, another one selected, then closed.
    ModalBoxCloser closer;
    closer.onBox = [&](QWidget *box) {
        if (box != &configure)
            return;
        configure.move(0, 0); // dragged to a corner by the administrator
        configure.ResetProfileEditor();
        configure.ProfileText->setText(u"Branch"_s);
        configure.ServerText->setText(u"BRANCHSRV"_s);
        configure.ButtonAddClick();
        configure.ListViewCombo->setCurrentItem(configure.ListViewCombo->findItems(u"Lab"_s, Qt::MatchExactly)[0]);
        configure.ConfigProfiles->setCurrentIndex(configure.ConfigProfiles->findText(u"Home"_s));
        AppSettings.AppDefaultProfile = u"Home.ini"_s;
    };
    login.ConfigurePanelClick();
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].objectName, u"FormConfigure"_s);
    EXPECT_FALSE(configure.isVisible());
    QStringList listed = texts(login.Profiles);
    listed.sort();
    EXPECT_EQ(listed, L("Branch,Home,Lab,Office"));
    EXPECT_EQ(login.Profiles->currentText(), u"Home"_s);
    EXPECT_EQ(ProfileSettings.ProfileServer, u"HOMESRV"_s);
    EXPECT_EQ(appKey(u"Default Profile"_s), u"Home.ini"_s);
}

// An error box belongs to the window it interrupts; one without an owner is stacked
// beneath the always-on-top login window and this modal one, hidden while it blocks them.
TEST_F(ConfigWindow, ErrorBoxesShowOverTheWindowTheyInterrupt)
{
    TTavroNetLoginForm login(adminFacts());
    TFormConfigure configure(&login);
    ConnectConfigureWindow(login, configure);
    login.show();
    QDir().mkpath(profileFolder() + u"Branch.ini"_s); // root may write anywhere, but not over a folder
    QWidget *errorOwner = nullptr;
    QPoint errorCentre;
    QStringList errorTexts;
    ModalBoxCloser closer;
    closer.onBox = [&](QWidget *) {
        // A timer does not fire inside its own handler: the error box needs a closer of its own.
        ModalBoxCloser inner;
        inner.onBox = [&](QWidget *box) {
            errorOwner = box->parentWidget();
            errorCentre = box->frameGeometry().center();
        };
        configure.move(0, 0); // dragged to a corner by the administrator
        configure.ResetProfileEditor();
        configure.ProfileText->setText(u"Branch"_s);
        configure.ServerText->setText(u"BRANCHSRV"_s);
        QTest::mouseClick(configure.ButtonAdd, Qt::LeftButton);
        errorTexts = inner.texts();
    };
    login.ConfigurePanelClick();
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(errorTexts, QStringList{u"Unable to write to "_s + QDir::toNativeSeparators(profileFolder() + u"Branch.ini"_s)});
    EXPECT_EQ(errorOwner, &configure);
    // Owned, but still centred on the screen rather than over its owner.
    const QPoint screenCentre = login.screen()->availableGeometry().center();
    EXPECT_LE((errorCentre - screenCentre).manhattanLength(), 4) /* the frame */ << errorCentre.x() << "," << errorCentre.y();
}

// The program reads what the window's creation reads at start and builds the window at
// its first showing: the list is the folder as it was at start, not at that showing.
TEST_F(ConfigWindow, TheProgramsWindowListsTheFolderAsAtStartThoughBuiltWhenFirstShown)
{
    TTavroNetLoginForm login(adminFacts());
    const QString startProfile = ProfileSettings.ProfileServer;
    ConnectConfigureWindowLater(login);
    EXPECT_EQ(login.FormConfigure, nullptr);
    EXPECT_EQ(login.findChild<TFormConfigure *>(), nullptr);
    EXPECT_EQ(ProfileSettings.ProfileServer, startProfile);
    login.show();
    writeProfile(u"Later"_s, u"LATERSRV"_s);

    QStringList listed, choices;
    QString title;
    ModalBoxCloser closer;
    closer.onBox = [&](QWidget *box) {
        auto *configure = qobject_cast<TFormConfigure *>(box);
        if (!configure)
            return;
        title = configure->windowTitle();
        for (int i = 0; i < configure->ListViewCombo->topLevelItemCount(); ++i)
            listed << configure->ListViewCombo->topLevelItem(i)->text(0);
        choices = texts(configure->ConfigProfiles);
    };
    login.ConfigurePanelClick();
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].objectName, u"FormConfigure"_s);
    EXPECT_EQ(title, u"Tavro Login v"_s + GetExeVersion());
    listed.sort();
    choices.sort();
    EXPECT_EQ(listed, L("Home,Lab,Office"));
    EXPECT_EQ(choices, listed);
    // One window for the run: the second showing finds the first one's.
    QDialog *const built = login.FormConfigure;
    ASSERT_NE(built, nullptr);
    login.ConfigurePanelClick();
    EXPECT_EQ(closer.count(), 2);
    EXPECT_EQ(login.FormConfigure, built);
    EXPECT_EQ(login.findChildren<TFormConfigure *>().size(), 1);
}

TEST_F(ConfigWindow, TheConfigSwitchOpensTheWindowOnceAtTheFirstShow)
{
    // argument, administrator, times the window opened
    const std::tuple<const char *, bool, int> rows[] = {
        {"/config", true, 1}, {"-CONFIG", true, 1},  {"/Config", true, 1}, {"/configure", true, 0},
        {"config", true, 0},  {"--config", true, 0}, {"", true, 0},        {"/config", false, 0}};
    for (const auto &[arg, admin, opened] : rows) {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"TAVRO_TEST_ADMIN"_s, admin ? u"1"_s : u"0"_s);
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/configswitch"),
                     *arg ? QStringList{QString::fromUtf8(arg)} : QStringList());
        ASSERT_TRUE(helper.waitForFinished(30000)) << arg;
        const QString out = QString::fromUtf8(helper.readAllStandardOutput()).remove(u'\r');
        EXPECT_TRUE(out.contains(u"opened %1\n"_s.arg(opened))) << arg << " " << out.toStdString();
        // Only the user who is no administrator is refused.
        EXPECT_EQ(out.contains(u"You need to be an Administrator to modify the session details."_s), !admin)
            << arg << " " << out.toStdString();
    }
}
