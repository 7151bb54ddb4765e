#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TFindFile;
class TSpinEdit;
struct TSearchRec;

namespace Ui {
class TFormConfigure;
}

// Why a profile name cannot become a file name in the profile folder; empty when it can.
QString ProfileNameProblem(const QString &name);

// The list entries' hidden sub-items; the first one "Yes" marks the start-up profile.
QStringList EntrySubItems(const QTreeWidgetItem *item);
void SetEntrySubItems(QTreeWidgetItem *item, const QStringList &subItems);

// What creating the configuration window reads, apart from the window: the application
// settings and the start-up profile are loaded, and the profile folder is listed. A
// program that builds the window only when it is first shown reads this at start.
struct TConfigureReading {
    QStringList profiles;     // the names found, in the finder's order
    std::exception_ptr error; // what ended the reading early, if anything
};
TConfigureReading ReadForConfigureWindow();

// The configuration window: an administrator edits the server profiles here and picks
// the start-up profile. Created hidden once, shown modally any number of times.
class TFormConfigure : public QDialog {
    Q_OBJECT
public:
    explicit TFormConfigure(QWidget *parent = nullptr);
    // A window whose creation's reading was done ahead: it lists what that found.
    TFormConfigure(const TConfigureReading &reading, QWidget *parent);
    ~TFormConfigure() override;

    // Controls and components; each keeps its object name for lookup by name.
    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QWidget *TabSheet2 = nullptr;
    QTreeWidget *ListViewCombo = nullptr;
    QLineEdit *ProfileText = nullptr;
    QLineEdit *ServerText = nullptr;
    QLineEdit *RemoteText = nullptr;
    QGroupBox *LogonScriptRadioGroup = nullptr;
    QRadioButton *LogonScriptBatch = nullptr;
    QRadioButton *LogonScriptHta = nullptr;
    QPushButton *ButtonAdd = nullptr;
    QPushButton *ButtonRemove = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QCheckBox *CheckBoxRemoteMessage = nullptr;
    QPlainTextEdit *MemoRemoteMessage = nullptr;
    QCheckBox *CheckBoxAutoLogoff = nullptr;
    TSpinEdit *SpinEdit = nullptr;
    QLabel *Label2 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QComboBox *ConfigProfiles = nullptr;
    QPushButton *ButtonSave = nullptr;
    TFindFile *FindFile = nullptr;

    // Runs inside FormClose after the application settings are written and before the
    // start-up profile is loaded again: the login window shows itself, refills its
    // profile list, selects the start-up profile and focuses its user-name box.
    std::function<void()> OnClose;
    // Shows an error that escaped a handler; called inside the catch block. The
    // program puts its standard error box here.
    std::function<void()> OnException;
    // Deletes a profile file; a test puts a failing one here.
    std::function<bool(const QString &)> DeleteProfileFile;

    // Index of the chosen logon-script item: 0 batch file, 1 script page, -1 none.
    int LogonScriptItemIndex() const;
    void setLogonScriptItemIndex(int index);

    void ShowAllProfiles();
    void SelectDefaultConfiguration(const QString &ConfigName);

    // Handlers, public so that tests and tools can drive them directly.
    void FormShow();
    void FormClose();
    void ButtonSaveClick();
    void ButtonAddClick();
    void ButtonRemoveClick();
    void ListViewComboSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void ListViewComboDragOver(QObject *Sender, QObject *Source, int X, int Y, bool &Accept);
    // X, Y in the list's viewport coordinates.
    void ListViewComboDragDrop(QObject *Sender, QObject *Source, int X, int Y);
    void FindFileFound(QObject *Sender, const QString &Folder, TSearchRec &FileInfo);
    void CheckBoxAutoLogoffClick();
    void CheckBoxRemoteMessageClick();
    void ConfigProfilesChange();

    void ResetProfileEditor();
    void CollectProfileFromEditor();
    void ShowProfileInEditor();

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Build();
    // Reads the settings, the start-up profile and the profile folder, unless that was
    // done AHEAD of the window.
    void FormCreate(const TConfigureReading *ahead);
    void AddListedProfile(const QString &name);
    void SetEditorMode(bool update);
    void ShowMessage(const QString &text);
    void PaintWrappedCheckBox(QCheckBox *box);
    void DeleteEntry(QTreeWidgetItem *item);
    QTreeWidgetItem *EntryNamed(const QString &caption) const;
    // Runs a handler from the toolkit; an escaping error goes to OnException.
    void Guarded(const std::function<void()> &handler);
    void SelectionChanged(const QList<QTreeWidgetItem *> &selected, const QList<QTreeWidgetItem *> &deselected);

    std::unique_ptr<Ui::TFormConfigure> ui;
    int FDeleting = 0; // >0 while entries are taken out of the list
};
