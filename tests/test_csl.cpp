#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
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

namespace {

const QString Section = QStringLiteral("TavroLogin");

class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProfileDefaults();
        SetAppDefaults();
    }

    QString dataFolder() const { return home.commonAppData() + QStringLiteral("/Tavro Login 2/"); }
    QString profileFolder() const { return dataFolder() + QStringLiteral("config/"); }
    QString appFile() const { return dataFolder() + QStringLiteral("tavrologin.ini"); }

    void writeProfile(const QString &name, const QString &server, const QStringList &more = {},
                      const QString &sub = QString())
    {
        const QString folder = profileFolder() + sub;
        QDir().mkpath(folder);
        QFile f(folder + name + QStringLiteral(".ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringList lines{QStringLiteral("[TavroLogin]"), QStringLiteral("Server=") + server};
        f.write((lines + more).join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    }

    void writeAppSettings(const QString &defaultProfile)
    {
        QDir().mkpath(dataFolder());
        QFile f(appFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[TavroLogin]\r\nVersion=1.0.0\r\nDefault Profile=%1\r\n").arg(defaultProfile).toUtf8());
    }

    QString profileKey(const QString &name, const QString &key) const
    {
        return platform::GetPrivateProfileString(Section, key, QStringLiteral("<none>"),
                                                 profileFolder() + name + QStringLiteral(".ini"));
    }
    QString appKey(const QString &key) const
    {
        return platform::GetPrivateProfileString(Section, key, QStringLiteral("<none>"), appFile());
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

    // Three profiles, "Office" the start-up one.
    void threeProfiles()
    {
        writeProfile(QStringLiteral("Office"), QStringLiteral("OFFICESRV"),
                     {QStringLiteral("Logon Script=LOGON.BAT"), QStringLiteral("Auto Logoff Time=15")});
        writeProfile(QStringLiteral("Lab"), QStringLiteral("LABSRV"));
        writeProfile(QStringLiteral("Home"), QStringLiteral("HOMESRV"));
        writeAppSettings(QStringLiteral("Office.ini"));
    }

    std::unique_ptr<TFormConfigure> makeForm()
    {
        auto form = std::make_unique<TFormConfigure>();
        form->OnException = [this] {
            try {
                throw;
            } catch (const Exception &e) {
                errors << e.message();
            }
        };
        return form;
    }

    std::unique_ptr<TFormConfigure> shownForm()
    {
        auto form = makeForm();
        form->show();
        return form;
    }

    static QStringList entries(const TFormConfigure &form)
    {
        QStringList out;
        for (int i = 0; i < form.ListViewCombo->topLevelItemCount(); ++i)
            out << form.ListViewCombo->topLevelItem(i)->text(0);
        return out;
    }
    static QStringList markers(const TFormConfigure &form)
    {
        QStringList out;
        for (int i = 0; i < form.ListViewCombo->topLevelItemCount(); ++i)
            out << EntrySubItems(form.ListViewCombo->topLevelItem(i)).join(u',');
        return out;
    }
    static QStringList choices(const TFormConfigure &form)
    {
        QStringList out;
        for (int i = 0; i < form.ConfigProfiles->count(); ++i)
            out << form.ConfigProfiles->itemText(i);
        return out;
    }
    static QTreeWidgetItem *entry(const TFormConfigure &form, const QString &caption)
    {
        const auto found = form.ListViewCombo->findItems(caption, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    static void clickEntry(TFormConfigure &form, const QString &caption)
    {
        QTreeWidgetItem *item = entry(form, caption);
        ASSERT_NE(item, nullptr) << caption.toStdString();
        QTest::mouseClick(form.ListViewCombo->viewport(), Qt::LeftButton, {},
                          form.ListViewCombo->visualItemRect(item).center());
    }
    static void setSpinText(TFormConfigure &form, const QString &text)
    {
        auto *edit = form.SpinEdit->findChild<QLineEdit *>();
        edit->selectAll();
        edit->setText(text);
    }
    static bool updateMode(const TFormConfigure &form)
    {
        return form.ButtonAdd->text() == QStringLiteral("&Update") && form.ButtonAdd->font().bold()
               && form.ProfileText->isReadOnly();
    }
    static bool addMode(const TFormConfigure &form)
    {
        return form.ButtonAdd->text() == QStringLiteral("&Add") && !form.ButtonAdd->font().bold();
    }

    TempHome home;
    QStringList errors;
};

} // namespace

TEST(ProfileNames, NamesThatCannotBeFilesInTheProfileFolderAreRefused)
{
    for (const char *bad : {"../evil", "..", "a..b", "sub/name", "sub\\name", "C:name", "a*b", "a?b", "a\"b",
                            "a<b", "a>b", "a|b", "tab\there", "line\nbreak", ".hidden", "CON", "nul", "com1.x"}) {
        const QString problem = ProfileNameProblem(QString::fromUtf8(bad));
        EXPECT_FALSE(problem.isEmpty()) << bad;
        EXPECT_TRUE(problem.contains(QString::fromUtf8(bad))) << problem.toStdString();
    }
    for (const char *good : {"Office", "Tavro-Net Default", "Lab 2 (old)", "a.b", "Café", "console"})
        EXPECT_EQ(ProfileNameProblem(QString::fromUtf8(good)), QString()) << good;
    EXPECT_FALSE(ProfileNameProblem(QString(300, u'x')).isEmpty());
}

TEST_F(ConfigWindow, LayoutFollowsTheWindowDescription)
{
    writeProfile(QStringLiteral("Office"), QStringLiteral("SRV"));
    writeAppSettings(QStringLiteral("Office.ini"));
    auto form = makeForm();
    EXPECT_EQ(form->objectName(), QStringLiteral("FormConfigure"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tavro Login v") + GetExeVersion());
    EXPECT_EQ(form->size(), QSize(567, 314));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);

    const struct {
        const char *name;
        const char *cls;
        QRect rect;
    } controls[] = {
        {"PageControl1", "QTabWidget", {8, 8, 553, 241}},
        {"ListViewCombo", "QTreeWidget", {3, 3, 307, 155}},
        {"ProfileText", "QLineEdit", {320, 19, 214, 21}},
        {"ServerText", "QLineEdit", {320, 66, 214, 21}},
        {"RemoteText", "QLineEdit", {320, 111, 214, 21}},
        {"LogonScriptRadioGroup", "QGroupBox", {320, 138, 214, 66}},
        {"ButtonAdd", "QPushButton", {3, 164, 100, 25}},
        {"ButtonRemove", "QPushButton", {109, 164, 100, 25}},
        {"GroupBox2", "QGroupBox", {0, 0, 542, 215}},
        {"MemoRemoteMessage", "QPlainTextEdit", {16, 47, 513, 58}},
        {"CheckBoxAutoLogoff", "QCheckBox", {16, 102, 242, 37}},
        {"SpinEdit", "TSpinEdit", {258, 111, 43, 22}},
        {"GroupBox1", "QGroupBox", {8, 256, 314, 53}},
        {"ConfigProfiles", "QComboBox", {7, 20, 298, 21}},
        {"ButtonSave", "QPushButton", {442, 274, 117, 26}},
    };
    for (const auto &c : controls) {
        auto *w = form->findChild<QWidget *>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_TRUE(w->inherits(c.cls)) << c.name;
        EXPECT_EQ(w->geometry(), c.rect) << c.name;
    }
    // Widened only as far as a wider face than the classic one needs.
    const QRect remote = form->CheckBoxRemoteMessage->geometry();
    EXPECT_EQ(remote.topLeft(), QPoint(16, 24));
    EXPECT_EQ(remote.height(), 17);
    EXPECT_GE(remote.width(), 349);
    EXPECT_LE(remote.right(), form->MemoRemoteMessage->geometry().right());
    EXPECT_EQ(form->Label2->pos(), QPoint(307, 113));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("minutes."));
    EXPECT_NE(form->findChild<QObject *>(QStringLiteral("FindFile")), nullptr);

    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);

    // One column, fixed, not clickable; whole rows, one at a time, not editable, draggable.
    QTreeWidget *list = form->ListViewCombo;
    EXPECT_EQ(list->columnCount(), 1);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Profiles"));
    EXPECT_EQ(list->columnWidth(0), 295);
    EXPECT_FALSE(list->header()->sectionsClickable());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(list->dragEnabled());
    EXPECT_FALSE(form->ConfigProfiles->isEditable());

    // Hints on exactly four controls.
    QStringList hinted;
    for (QWidget *w : form->findChildren<QWidget *>())
        if (!w->toolTip().isEmpty())
            hinted << w->objectName();
    hinted.sort();
    EXPECT_EQ(hinted, (QStringList{QStringLiteral("CheckBoxAutoLogoff"), QStringLiteral("CheckBoxRemoteMessage"),
                                   QStringLiteral("LogonScriptRadioGroup"), QStringLiteral("RemoteText")}));
    EXPECT_TRUE(form->RemoteText->toolTip().startsWith(
        QStringLiteral("Pass your anthentication details to another remote server, e.g. ")));

    // The General page at creation.
    EXPECT_FALSE(form->MemoRemoteMessage->isEnabled());
    EXPECT_FALSE(form->SpinEdit->isEnabled());
    EXPECT_EQ(form->MemoRemoteMessage->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form->SpinEdit->minimum(), 5);
    EXPECT_EQ(form->SpinEdit->maximum(), 180);
    EXPECT_EQ(form->SpinEdit->singleStep(), 5);
    EXPECT_EQ(form->SpinEdit->value(), 5);
    EXPECT_EQ(form->SpinEdit->findChild<QLineEdit *>()->maxLength(), 3);
}

TEST_F(ConfigWindow, CreationListsTheFolderAndLoadsTheStartUpProfile)
{
    threeProfiles();
    writeProfile(QStringLiteral("Lab2"), QStringLiteral("OLDSRV"), {}, QStringLiteral("old/"));
    auto form = makeForm();
    QStringList listed = entries(*form);
    EXPECT_EQ(listed, choices(*form)); // the same names in the same order
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("Home"), QStringLiteral("Lab"), QStringLiteral("Lab2"),
                                   QStringLiteral("Office")}));
    EXPECT_EQ(entries(*form).last(), QStringLiteral("Lab2")); // a folder's files before its subfolders
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("OFFICESRV"));
    EXPECT_TRUE(addMode(*form));
    EXPECT_TRUE(form->LogonScriptHta->isChecked());
    EXPECT_TRUE(form->ServerText->text().isEmpty());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ConfigWindow, ShowingSelectsAndLoadsTheStartUpProfileAndMarksIt)
{
    threeProfiles();
    auto form = shownForm();
    EXPECT_EQ(form->ConfigProfiles->currentText(), QStringLiteral("Office"));
    QTreeWidgetItem *office = entry(*form, QStringLiteral("Office"));
    EXPECT_TRUE(office->isSelected());
    EXPECT_EQ(form->ListViewCombo->currentItem(), office);
    EXPECT_EQ(form->ProfileText->text(), QStringLiteral("Office"));
    EXPECT_EQ(form->ServerText->text(), QStringLiteral("OFFICESRV"));
    EXPECT_TRUE(form->LogonScriptBatch->isChecked());
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_TRUE(form->SpinEdit->isEnabled());
    EXPECT_EQ(form->SpinEdit->value(), 15);
    EXPECT_TRUE(updateMode(*form));
    EXPECT_FALSE(form->ProfileText->isEnabled());
    EXPECT_EQ(EntrySubItems(office), QStringList{QStringLiteral("Yes")});
    EXPECT_EQ(form->ListViewCombo->columnCount(), 1); // the marker is never displayed
    form->hide();

    // The drop-down and the selection ignore letter case; the marker needs the exact name
    // and stays where it was.
    AppSettings.AppDefaultProfile = QStringLiteral("HOME.ini");
    form->show();
    EXPECT_EQ(form->ConfigProfiles->currentText(), QStringLiteral("Home"));
    EXPECT_TRUE(entry(*form, QStringLiteral("Home"))->isSelected());
    EXPECT_EQ(form->ServerText->text(), QStringLiteral("HOMESRV"));
    EXPECT_EQ(EntrySubItems(entry(*form, QStringLiteral("Home"))), QStringList());
    EXPECT_EQ(EntrySubItems(office), QStringList{QStringLiteral("Yes")});
    form->hide();

    // A start-up profile that is not listed: nothing chosen, nothing selected.
    form->ResetProfileEditor();
    AppSettings.AppDefaultProfile = QStringLiteral("Gone.ini");
    form->show();
    EXPECT_EQ(form->ConfigProfiles->currentIndex(), -1);
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty());
    EXPECT_FALSE(form->ProfileText->isEnabled());
}

TEST_F(ConfigWindow, TheSelectHandlerRunsForEveryEntryGainingOrLosingTheSelection)
{
    threeProfiles();
    writeProfile(QStringLiteral("Lab2"), QStringLiteral("OLDSRV"), {}, QStringLiteral("old/"));
    auto form = shownForm();
    // An entry whose file lies in a subfolder loads nothing.
    form->ResetProfileEditor();
    form->ListViewCombo->setCurrentItem(entry(*form, QStringLiteral("Lab2")));
    EXPECT_TRUE(form->ServerText->text().isEmpty());
    EXPECT_TRUE(addMode(*form));
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("OFFICESRV"));

    // Programmatic selection loads the profile before the call returns.
    form->ListViewCombo->setCurrentItem(entry(*form, QStringLiteral("Lab")));
    EXPECT_EQ(form->ServerText->text(), QStringLiteral("LABSRV"));
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("LABSRV"));

    // Losing the selection reloads the application settings from their file too.
    AppSettings.AppDefaultProfile = QStringLiteral("Changed in memory.ini");
    form->ListViewCombo->clearSelection();
    EXPECT_EQ(AppSettings.AppDefaultProfile, QStringLiteral("Office.ini"));

    // A user's click does the same.
    clickEntry(*form, QStringLiteral("Home"));
    EXPECT_EQ(form->ServerText->text(), QStringLiteral("HOMESRV"));
    EXPECT_EQ(form->ProfileText->text(), QStringLiteral("Home"));
    EXPECT_TRUE(updateMode(*form));
}

TEST_F(ConfigWindow, AddingWritesTheProfileAndMakesTheFirstEntryTheStartUpProfile)
{
    threeProfiles();
    auto form = shownForm();
    form->ResetProfileEditor(); // add mode, nothing selected
    QTest::keyClicks(form->ProfileText, QStringLiteral("New Site"));
    QTest::keyClicks(form->ServerText, QStringLiteral("NEWSRV"));
    QTest::keyClicks(form->RemoteText, QStringLiteral("SECOND"));
    form->CheckBoxRemoteMessage->setChecked(true);
    form->MemoRemoteMessage->setPlainText(QStringLiteral("Hello"));
    ModalBoxCloser closer;
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    EXPECT_EQ(closer.count(), 0);

    const QString n = QStringLiteral("New Site");
    EXPECT_EQ(profileKey(n, QStringLiteral("Server")), QStringLiteral("NEWSRV"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Remote Server")), QStringLiteral("SECOND"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Logon Script")), QStringLiteral("LOGON.HTA"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Net Logon Share")), QStringLiteral("NETLOGON_V2"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Wallpaper")), GetAppFolder() + QStringLiteral("classicbg.bmp"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Auto Logoff Time")), QStringLiteral("0"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Enable Remote Message")), QStringLiteral("1"));
    EXPECT_EQ(profileKey(n, QStringLiteral("Remote Message")), QStringLiteral("Hello"));

    EXPECT_EQ(entries(*form).last(), n);
    EXPECT_EQ(choices(*form).last(), n);
    const QString first = entries(*form).first();
    EXPECT_EQ(EntrySubItems(form->ListViewCombo->topLevelItem(0)).value(0), QStringLiteral("Yes"));
    EXPECT_EQ(AppSettings.AppDefaultProfile, first + QStringLiteral(".ini"));
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), QStringLiteral("Office.ini")); // memory only
    EXPECT_TRUE(addMode(*form));
    EXPECT_TRUE(form->ProfileText->text().isEmpty());
    EXPECT_TRUE(form->ProfileText->isEnabled());
    EXPECT_FALSE(form->ProfileText->isReadOnly());

    // Closing straight away stores it.
    form->close();
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), first + QStringLiteral(".ini"));
}

TEST_F(ConfigWindow, UpdatingRewritesTheSelectedProfileOnly)
{
    threeProfiles();
    writeProfile(QStringLiteral("Lab"), QStringLiteral("LABSRV"),
                 {QStringLiteral("Logon Script=logon.bat"), QStringLiteral("Wallpaper=/elsewhere.bmp"),
                  QStringLiteral("Net Logon Share=OTHER"), QStringLiteral("Auto Logoff Time=200")});
    auto form = shownForm();
    clickEntry(*form, QStringLiteral("Lab"));
    ASSERT_TRUE(updateMode(*form));
    EXPECT_TRUE(form->LogonScriptHta->isChecked()); // only exactly LOGON.BAT is the first item
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_EQ(form->SpinEdit->value(), 180);
    form->ServerText->setText(QStringLiteral("LABSRV2"));
    const QStringList before = entries(*form);
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);

    const QString lab = QStringLiteral("Lab");
    EXPECT_EQ(profileKey(lab, QStringLiteral("Server")), QStringLiteral("LABSRV2"));
    EXPECT_EQ(profileKey(lab, QStringLiteral("Logon Script")), QStringLiteral("LOGON.HTA"));
    EXPECT_EQ(profileKey(lab, QStringLiteral("Auto Logoff Time")), QStringLiteral("180"));
    EXPECT_EQ(profileKey(lab, QStringLiteral("Net Logon Share")), QStringLiteral("NETLOGON_V2"));
    EXPECT_EQ(profileKey(lab, QStringLiteral("Wallpaper")), GetAppFolder() + QStringLiteral("classicbg.bmp"));
    EXPECT_EQ(entries(*form), before);
    EXPECT_EQ(choices(*form).size(), before.size());
    EXPECT_TRUE(addMode(*form));
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty());

    // Unticked, "0" is stored whatever the box shows.
    clickEntry(*form, lab);
    form->CheckBoxAutoLogoff->setChecked(false);
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
    EXPECT_EQ(profileKey(lab, QStringLiteral("Auto Logoff Time")), QStringLiteral("0"));
    clickEntry(*form, lab);
    EXPECT_FALSE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_EQ(form->SpinEdit->value(), 5);
}

TEST_F(ConfigWindow, InputIsCheckedBeforeAnythingIsWritten)
{
    threeProfiles();
    const struct {
        const char *name;
        const char *server;
        const char *message; // the start of the message
    } rows[] = {
        {"", "SRV", "You must specify a profile name."},
        {"Fresh", "", "You must specify a server name."},
        {"../evil", "SRV", "The profile name \"../evil\" cannot be used"},
        {"..", "SRV", "The profile name \"..\" cannot be used"},
        {"sub/evil", "SRV", "The profile name \"sub/evil\" cannot be used"},
        {"a\\b", "SRV", "The profile name \"a\\b\" cannot be used"},
        {"what?", "SRV", "The profile name \"what?\" cannot be used"},
        {".hidden", "SRV", "The profile name \".hidden\" cannot be used"},
        {"Lab", "SRV", "A profile named \"Lab\" already exists."},
        {"OFFICE", "SRV", "A profile named \"OFFICE\" already exists."},
    };
    auto form = shownForm();
    const QStringList filesBefore = allFiles();
    const QString labBefore = profileKey(QStringLiteral("Lab"), QStringLiteral("Server"));
    for (const auto &row : rows) {
        form->ResetProfileEditor();
        form->ProfileText->setText(QString::fromUtf8(row.name));
        form->ServerText->setText(QString::fromUtf8(row.server));
        ModalBoxCloser closer;
        QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);
        ASSERT_EQ(closer.count(), 1) << row.name;
        EXPECT_TRUE(closer.boxes()[0].text.startsWith(QString::fromUtf8(row.message)))
            << closer.boxes()[0].text.toStdString();
        EXPECT_EQ(closer.boxes()[0].title, QGuiApplication::applicationDisplayName());
        // Nothing written, the editor keeps its contents, no entry added.
        EXPECT_EQ(allFiles(), filesBefore) << row.name;
        EXPECT_EQ(form->ProfileText->text(), QString::fromUtf8(row.name));
        EXPECT_EQ(form->ServerText->text(), QString::fromUtf8(row.server));
        EXPECT_EQ(entries(*form).size(), 3);
        EXPECT_EQ(choices(*form).size(), 3);
    }
    EXPECT_EQ(profileKey(QStringLiteral("Lab"), QStringLiteral("Server")), labBefore);
    EXPECT_TRUE(QDir(home.path()).entryList({QStringLiteral("evil*")}).isEmpty());

    // The empty-name check enables the name box even after a showing disabled it.
    clickEntry(*form, QStringLiteral("Lab"));
    form->SelectDefaultConfiguration(QStringLiteral("Office"));
    ASSERT_FALSE(form->ProfileText->isEnabled());
    form->ProfileText->setReadOnly(false);
    form->ProfileText->clear();
    ModalBoxCloser closer;
    form->ButtonAddClick();
    EXPECT_TRUE(form->ProfileText->isEnabled());
}

TEST_F(ConfigWindow, RemovingDeletesTheFileAndMovesTheStartUpProfile)
{
    threeProfiles();
    auto form = shownForm();
    const QStringList order = entries(*form);

    // No entry selected: nothing happens.
    form->ResetProfileEditor();
    {
        ModalBoxCloser closer;
        QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
        EXPECT_EQ(closer.count(), 0);
        EXPECT_EQ(entries(*form), order);
    }

    // A profile that is not the start-up one.
    clickEntry(*form, QStringLiteral("Lab"));
    QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
    EXPECT_FALSE(entries(*form).contains(QStringLiteral("Lab")));
    EXPECT_FALSE(choices(*form).contains(QStringLiteral("Lab")));
    EXPECT_FALSE(QFile::exists(profileFolder() + QStringLiteral("Lab.ini")));
    EXPECT_TRUE(addMode(*form));
    EXPECT_TRUE(form->ListViewCombo->selectedItems().isEmpty()); // no neighbour selected in its place
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), QStringLiteral("Office.ini"));

    // The start-up profile: the first remaining entry takes over, written at once.
    clickEntry(*form, QStringLiteral("Office"));
    QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
    ASSERT_EQ(entries(*form).size(), 1);
    const QString left = entries(*form).first();
    EXPECT_EQ(AppSettings.AppDefaultProfile, left + QStringLiteral(".ini"));
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), left + QStringLiteral(".ini"));
    EXPECT_EQ(form->ConfigProfiles->currentText(), left);
    EXPECT_EQ(choices(*form), QStringList{left});

    // The last entry stays.
    clickEntry(*form, left);
    ModalBoxCloser closer;
    QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].text, QStringLiteral("You cannot remove the last configuration file from Tavro Login"));
    EXPECT_EQ(entries(*form), QStringList{left});
    EXPECT_TRUE(QFile::exists(profileFolder() + left + QStringLiteral(".ini")));
}

TEST_F(ConfigWindow, AFileThatCannotBeDeletedIsReportedAndStaysOnDisk)
{
    threeProfiles();
    auto form = shownForm();
    form->DeleteProfileFile = [](const QString &) { return false; };
    clickEntry(*form, QStringLiteral("Home"));
    ModalBoxCloser closer;
    QTest::mouseClick(form->ButtonRemove, Qt::LeftButton);
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].text, QStringLiteral("Failed to delete configuration file."));
    EXPECT_FALSE(entries(*form).contains(QStringLiteral("Home")));
    EXPECT_FALSE(choices(*form).contains(QStringLiteral("Home")));
    EXPECT_TRUE(QFile::exists(profileFolder() + QStringLiteral("Home.ini")));
}

TEST_F(ConfigWindow, OnlyTheUsersChoiceOfTheStartUpProfileIsStored)
{
    threeProfiles();
    auto form = shownForm();
    const QStringList markersBefore = markers(*form);
    const int office = form->ConfigProfiles->currentIndex();
    // The program's own change does not store anything.
    form->ConfigProfiles->setCurrentIndex((office + 1) % 3);
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), QStringLiteral("Office.ini"));
    form->ConfigProfiles->setCurrentIndex(office);
    // The user's does, at once.
    form->ConfigProfiles->setFocus();
    QTest::keyClick(form->ConfigProfiles, office == 2 ? Qt::Key_Up : Qt::Key_Down);
    const QString chosen = form->ConfigProfiles->currentText();
    ASSERT_NE(chosen, QStringLiteral("Office"));
    EXPECT_EQ(AppSettings.AppDefaultProfile, chosen + QStringLiteral(".ini"));
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), chosen + QStringLiteral(".ini"));
    EXPECT_EQ(markers(*form), markersBefore);
}

TEST_F(ConfigWindow, CheckBoxesSwitchTheirControlsOnEveryRealChange)
{
    threeProfiles();
    writeProfile(QStringLiteral("Lab"), QStringLiteral("LABSRV"),
                 {QStringLiteral("Enable Remote Message=1"), QStringLiteral("Remote Message=Hi"),
                  QStringLiteral("Auto Logoff Time=30")});
    auto form = shownForm();
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    // Loading a profile changes the boxes from the program.
    form->ListViewCombo->setCurrentItem(entry(*form, QStringLiteral("Lab")));
    EXPECT_TRUE(form->MemoRemoteMessage->isEnabled());
    EXPECT_TRUE(form->SpinEdit->isEnabled());
    // Setting the same state again runs nothing.
    form->SpinEdit->setEnabled(false);
    form->CheckBoxAutoLogoff->setChecked(true);
    EXPECT_FALSE(form->SpinEdit->isEnabled());
    // The user's click.
    QTest::mouseClick(form->CheckBoxAutoLogoff, Qt::LeftButton, {}, QPoint(6, form->CheckBoxAutoLogoff->height() / 2));
    EXPECT_FALSE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_FALSE(form->SpinEdit->isEnabled());
    form->ResetProfileEditor();
    EXPECT_FALSE(form->MemoRemoteMessage->isEnabled());
    EXPECT_TRUE(form->MemoRemoteMessage->toPlainText().isEmpty());
}

TEST_F(ConfigWindow, SpinBoxKeepsItsBounds)
{
    writeProfile(QStringLiteral("Office"), QStringLiteral("SRV"));
    writeAppSettings(QStringLiteral("Office.ini"));
    auto form = shownForm();
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    form->CheckBoxAutoLogoff->setChecked(true);
    TSpinEdit *spin = form->SpinEdit;

    const struct {
        const char *text;
        int value;
    } typed[] = {{"200", 180}, {"2", 5}, {"0", 5}, {"", 5}, {"abc", 5}, {"-7", 5}, {"7", 7}, {"180", 180}, {"999", 180}};
    for (const auto &row : typed) {
        setSpinText(*form, QString::fromUtf8(row.text));
        EXPECT_EQ(spin->Value(), row.value) << row.text;
        // Leaving the box settles the text too.
        spin->setFocus();
        form->ServerText->setFocus();
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(spin, &out);
        EXPECT_EQ(spin->value(), row.value) << row.text;
        EXPECT_EQ(spin->text(), QString::number(row.value)) << row.text;
    }
    // Set values are pulled into range; values between the steps stay and step from there.
    const struct {
        int set, value;
    } set[] = {{0, 5}, {-3, 5}, {181, 180}, {1000, 180}, {7, 7}, {95, 95}};
    for (const auto &row : set) {
        spin->setValue(row.set);
        EXPECT_EQ(spin->value(), row.value) << row.set;
    }
    spin->setValue(7);
    spin->stepUp();
    EXPECT_EQ(spin->value(), 12);
    spin->setValue(178);
    spin->stepUp();
    EXPECT_EQ(spin->value(), 180);

    // Typing takes digits only, three at most.
    setSpinText(*form, QString());
    spin->setFocus();
    QTest::keyClicks(spin, QStringLiteral("1x2y34"));
    EXPECT_EQ(spin->text(), QStringLiteral("123"));
    EXPECT_EQ(spin->Value(), 123);

    // What is saved is the settled value.
    form->ProfileText->setText(QStringLiteral("Office"));
    form->ServerText->setText(QStringLiteral("SRV"));
    setSpinText(*form, QStringLiteral("abc"));
    form->CollectProfileFromEditor();
    EXPECT_EQ(ProfileSettings.ProfileAutoLogoffTime, QStringLiteral("5"));
}

TEST_F(ConfigWindow, AutoLogoffTimeThatIsNoIntegerStopsLoadingWithAnError)
{
    threeProfiles();
    writeProfile(QStringLiteral("Lab"), QStringLiteral("LABSRV"),
                 {QStringLiteral("Auto Logoff Time=ten"), QStringLiteral("Enable Remote Message=1"),
                  QStringLiteral("Remote Message=Hi")});
    auto form = shownForm();
    form->ResetProfileEditor();
    errors.clear();
    form->ListViewCombo->setCurrentItem(entry(*form, QStringLiteral("Lab")));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("'ten' is not a valid integer value"));
    EXPECT_EQ(form->ServerText->text(), QStringLiteral("LABSRV")); // steps before the conversion ran
    EXPECT_TRUE(form->CheckBoxAutoLogoff->isChecked());
    EXPECT_FALSE(form->CheckBoxRemoteMessage->isChecked()); // the rest did not
    EXPECT_TRUE(addMode(*form));
    EXPECT_TRUE(form->ListViewCombo->currentItem()->isSelected()); // the causing call completed
}

TEST_F(ConfigWindow, RemoteMessageLineBreaksSurviveTheStore)
{
    threeProfiles();
    auto form = shownForm();
    const QString message = QStringLiteral("You are working remotely.\nSave often.\n\n  Indented = line\\n");
    clickEntry(*form, QStringLiteral("Home"));
    form->CheckBoxRemoteMessage->setChecked(true);
    form->MemoRemoteMessage->setPlainText(message);
    QTest::mouseClick(form->ButtonAdd, Qt::LeftButton);

    // One line in the file, and the keys after it intact.
    QFile f(profileFolder() + QStringLiteral("Home.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    int messageLines = 0;
    for (const QByteArray &line : lines)
        messageLines += line.startsWith("Remote Message=");
    EXPECT_EQ(messageLines, 1);
    EXPECT_EQ(profileKey(QStringLiteral("Home"), QStringLiteral("Net Logon Share")), QStringLiteral("NETLOGON_V2"));

    clickEntry(*form, QStringLiteral("Home"));
    EXPECT_EQ(form->MemoRemoteMessage->toPlainText(), message);
    ReadProfile(QStringLiteral("Home.ini"));
    EXPECT_EQ(ProfileSettings.ProfileRemoteMessage, message);
}

TEST_F(ConfigWindow, DroppingMovesEntriesWithTheirMarker)
{
    threeProfiles();
    auto form = shownForm();
    QTreeWidget *list = form->ListViewCombo;
    // A known order and marker to start from.
    list->clear();
    for (const char *name : {"A", "B", "C", "D"})
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromLatin1(name)}));
    SetEntrySubItems(list->topLevelItem(0), {QStringLiteral("Yes")});
    auto centre = [&](const char *name) { return list->visualItemRect(entry(*form, QString::fromLatin1(name))).center(); };
    auto drop = [&](const char *dragged, QPoint at, QObject *source) {
        form->ResetProfileEditor();
        list->setCurrentItem(entry(*form, QString::fromLatin1(dragged)));
        form->ListViewComboDragDrop(list, source, at.x(), at.y());
    };

    drop("A", centre("C"), list);
    EXPECT_EQ(entries(*form), (QStringList{QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("C"),
                                           QStringLiteral("D")}));
    EXPECT_EQ(markers(*form), (QStringList{QString(), QStringLiteral("Yes"), QString(), QString()}));
    EXPECT_TRUE(list->selectedItems().isEmpty());

    drop("B", QPoint(5, list->viewport()->height() - 2), list); // below the last entry
    EXPECT_EQ(entries(*form), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D"),
                                           QStringLiteral("B")}));

    drop("C", centre("C"), list); // onto itself
    EXPECT_EQ(entries(*form), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D"),
                                           QStringLiteral("B")}));

    drop("D", centre("A"), form.get()); // not dragged from the list
    EXPECT_EQ(entries(*form), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D"),
                                           QStringLiteral("B")}));

    // An entry dragged to the top is the one that adding makes the start-up profile.
    drop("B", centre("A"), list);
    form->ResetProfileEditor();
    form->ProfileText->setText(QStringLiteral("E"));
    form->ServerText->setText(QStringLiteral("ESRV"));
    form->ButtonAddClick();
    EXPECT_EQ(AppSettings.AppDefaultProfile, QStringLiteral("B.ini"));
}

TEST_F(ConfigWindow, ClosingStoresTheSettingsAndReturnsToTheStartUpProfile)
{
    threeProfiles();
    auto form = shownForm();
    clickEntry(*form, QStringLiteral("Lab"));
    ASSERT_EQ(ProfileSettings.ProfileServer, QStringLiteral("LABSRV"));
    QString defaultAtClose;
    QString serverAtClose;
    form->OnClose = [&] {
        defaultAtClose = appKey(QStringLiteral("Default Profile"));
        serverAtClose = ProfileSettings.ProfileServer;
    };
    AppSettings.AppDefaultProfile = QStringLiteral("Home.ini");
    QTest::mouseClick(form->ButtonSave, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(defaultAtClose, QStringLiteral("Home.ini")); // written before the login window refreshes
    EXPECT_EQ(serverAtClose, QStringLiteral("LABSRV"));    // and the start-up profile is loaded after it
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("HOMESRV"));
    EXPECT_EQ(appKey(QStringLiteral("Version")), GetFileVersionString(GetAppFolder() + QStringLiteral("tavrologin")));

    // Shown again: the list, its order and markers carry over.
    const QStringList order = entries(*form);
    writeProfile(QStringLiteral("Later"), QStringLiteral("LATERSRV"));
    form->show();
    EXPECT_EQ(entries(*form), order);
    EXPECT_EQ(form->ConfigProfiles->currentText(), QStringLiteral("Home"));
    // The title bar's close box closes the same way.
    int closes = 0;
    form->OnClose = [&] { ++closes; };
    form->reject();
    EXPECT_EQ(closes, 1);
}

TEST_F(ConfigWindow, ClosingRefreshesTheLoginWindow)
{
    threeProfiles();
    TLoginSystemFacts facts;
    facts.Administrator = [] { return true; };
    facts.RemoteSession = [] { return false; };
    facts.OSVersionInfo = [] {
        TOSVersionInfo info;
        info.OSMajorNumber = 10;
        return info;
    };
    facts.InstanceControl = false;
    TTavroNetLoginForm login(facts);
    TFormConfigure configure(&login);
    ConnectConfigureWindow(login, configure);
    login.show();
    ASSERT_EQ(login.Profiles->count(), 3);

    // Inside the modal window: a new profile, another one selected, then closed.
    ModalBoxCloser closer;
    closer.onBox = [&](QWidget *box) {
        if (box != &configure)
            return;
        configure.ResetProfileEditor();
        configure.ProfileText->setText(QStringLiteral("Branch"));
        configure.ServerText->setText(QStringLiteral("BRANCHSRV"));
        configure.ButtonAddClick();
        clickEntry(configure, QStringLiteral("Lab"));
        configure.ConfigProfiles->setCurrentIndex(configure.ConfigProfiles->findText(QStringLiteral("Home")));
        AppSettings.AppDefaultProfile = QStringLiteral("Home.ini");
    };
    login.ConfigurePanelClick();
    ASSERT_EQ(closer.count(), 1);
    EXPECT_EQ(closer.boxes()[0].objectName, QStringLiteral("FormConfigure"));
    EXPECT_FALSE(configure.isVisible());

    QStringList listed;
    for (int i = 0; i < login.Profiles->count(); ++i)
        listed << login.Profiles->itemText(i);
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("Branch"), QStringLiteral("Home"), QStringLiteral("Lab"),
                                   QStringLiteral("Office")}));
    EXPECT_EQ(login.Profiles->currentText(), QStringLiteral("Home"));
    EXPECT_EQ(ProfileSettings.ProfileServer, QStringLiteral("HOMESRV"));
    EXPECT_EQ(appKey(QStringLiteral("Default Profile")), QStringLiteral("Home.ini"));
}

TEST_F(ConfigWindow, OnlyAnAdministratorReachesTheWindow)
{
    threeProfiles();
    TLoginSystemFacts facts;
    facts.Administrator = [] { return false; };
    facts.RemoteSession = [] { return false; };
    facts.InstanceControl = false;
    TTavroNetLoginForm login(facts);
    TFormConfigure configure(&login);
    ConnectConfigureWindow(login, configure);
    ModalBoxCloser closer;
    login.ConfigurePanelClick();
    QTest::qWait(30);
    EXPECT_EQ(closer.count(), 0);
    EXPECT_FALSE(configure.isVisible());
    EXPECT_EQ(login.MessagesLabel->text(),
              QStringLiteral("\n\rYou need to be an Administrator to modify the session details."));
}

TEST_F(ConfigWindow, TheConfigSwitchOpensTheWindowOnceAtTheFirstShow)
{
    threeProfiles();
    const struct {
        const char *arg;
        bool admin;
        int opened;
        bool refused;
    } rows[] = {
        {"/config", true, 1, false},  {"-CONFIG", true, 1, false}, {"/Config", true, 1, false},
        {"/configure", true, 0, false}, {"config", true, 0, false}, {"--config", true, 0, false},
        {"", true, 0, false},          {"/config", false, 0, true},
    };
    for (const auto &row : rows) {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TAVRO_TEST_ADMIN"), row.admin ? QStringLiteral("1") : QStringLiteral("0"));
        helper.setProcessEnvironment(env);
        QStringList args;
        if (*row.arg)
            args << QString::fromUtf8(row.arg);
        helper.start(QStringLiteral(TAVRO_TEST_HELPERS_DIR "/configswitch"), args);
        ASSERT_TRUE(helper.waitForFinished(30000)) << row.arg;
        const QString out = QString::fromUtf8(helper.readAllStandardOutput());
        EXPECT_TRUE(out.contains(QStringLiteral("opened %1\n").arg(row.opened))) << row.arg << " " << out.toStdString();
        EXPECT_EQ(out.contains(QStringLiteral("You need to be an Administrator to modify the session details.")),
                  row.refused)
            << row.arg << " " << out.toStdString();
    }
}
