#include "config/csl.h"

#include "ui_csl.h"

#include <QComboBox>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QScreen>
#include <QScopeGuard>
#include <QShowEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTreeWidget>

#include "components/FindFile.h"
#include "config/inifile.h"
#include "config/spinedit.h"
#include "platform/dialogfont.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/programname.h"
#include "utility/utility.h"

namespace {

const QString AddCaption = QStringLiteral("&Add");
const QString UpdateCaption = QStringLiteral("&Update");
const QString DefaultMarker = QStringLiteral("Yes");
const QString IniExt = QStringLiteral(".ini");
const QString IniMask = QStringLiteral("*.ini");
constexpr int SubItemsRole = Qt::UserRole + 1;

// A profile file name less its last four characters (".ini").
QString ProfileName(const QString &fileName)
{
    return fileName.left(qMax(0, fileName.size() - 4));
}

// A decimal integer and nothing else, as the stored minutes must be.
int StrictToInt(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || text.isEmpty() || text.at(0).isSpace() || text.back().isSpace())
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

// Every profile file the folder holds, to the finder's OnFound in its order.
void ListProfileFolder(TFindFile &finder)
{
    finder.setLocation(GetProfileFolder());
    finder.setFilename(IniMask);
    finder.Execute();
}

void FocusIfShowing(QWidget *widget)
{
    // A disabled control or one on the page that is not showing cannot take the focus.
    if (widget->isVisible() && widget->isEnabled())
        widget->setFocus();
}

} // namespace

QString ProfileNameProblem(const QString &name)
{
    const QString intro = QStringLiteral("The profile name \"%1\" cannot be used: ").arg(name);
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    for (const QChar c : name) {
        if (c.unicode() < 32 || c.unicode() == 127 || forbidden.contains(c))
            return intro + QStringLiteral("it must not contain \\ / : * ? \" < > | or control characters.");
    }
    if (name.contains(QLatin1String("..")))
        return intro + QStringLiteral("it must not contain \"..\".");
    // The profile lists skip names that start with a dot, so such a profile would vanish.
    if (name.startsWith(u'.'))
        return intro + QStringLiteral("it must not start with a dot.");
    static const QStringList devices = {
        QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL"),
        QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
        QStringLiteral("COM5"), QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
        QStringLiteral("LPT4"), QStringLiteral("LPT5"), QStringLiteral("LPT6"), QStringLiteral("LPT7"),
        QStringLiteral("LPT8"), QStringLiteral("LPT9")};
    if (devices.contains(name.section(u'.', 0, 0).trimmed(), Qt::CaseInsensitive))
        return intro + QStringLiteral("it is reserved for a device.");
    if (QFile::encodeName(name + IniExt).size() > 255)
        return intro + QStringLiteral("it is too long for a file name.");
    return {};
}

QStringList EntrySubItems(const QTreeWidgetItem *item)
{
    return item->data(0, SubItemsRole).toStringList();
}

void SetEntrySubItems(QTreeWidgetItem *item, const QStringList &subItems)
{
    item->setData(0, SubItemsRole, subItems);
}

TConfigureReading ReadForConfigureWindow()
{
    TConfigureReading reading;
    try {
        LoadAppSettings();
        ReadProfile(AppSettings.AppDefaultProfile);
        TFindFile finder;
        finder.OnFound = [&reading](QObject *, const QString &, TSearchRec &FileInfo) {
            reading.profiles << ProfileName(FileInfo.Name);
        };
        ListProfileFolder(finder);
    } catch (...) {
        reading.error = std::current_exception();
    }
    return reading;
}

TFormConfigure::TFormConfigure(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFormConfigure>())
{
    Build();
    Guarded([this] { FormCreate(nullptr); });
}

TFormConfigure::TFormConfigure(const TConfigureReading &reading, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFormConfigure>())
{
    Build();
    Guarded([this, &reading] { FormCreate(&reading); });
}

void TFormConfigure::Build()
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(567, 314);
    setFont(platform::DialogFont());

    PageControl1 = ui->PageControl1;
    TabSheet1 = ui->TabSheet1;
    TabSheet2 = ui->TabSheet2;
    ListViewCombo = ui->ListViewCombo;
    ProfileText = ui->ProfileText;
    ServerText = ui->ServerText;
    RemoteText = ui->RemoteText;
    LogonScriptRadioGroup = ui->LogonScriptRadioGroup;
    LogonScriptBatch = ui->LogonScriptBatch;
    LogonScriptHta = ui->LogonScriptHta;
    ButtonAdd = ui->ButtonAdd;
    ButtonRemove = ui->ButtonRemove;
    GroupBox2 = ui->GroupBox2;
    // "Filling General": the page is smaller than 542 x 215 in most styles, and a box
    // taller than its page loses its bottom border.
    auto *fill = new QVBoxLayout(TabSheet2);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(GroupBox2);
    CheckBoxRemoteMessage = ui->CheckBoxRemoteMessage;
    MemoRemoteMessage = ui->MemoRemoteMessage;
    CheckBoxAutoLogoff = ui->CheckBoxAutoLogoff;
    SpinEdit = ui->SpinEdit;
    Label2 = ui->Label2;
    GroupBox1 = ui->GroupBox1;
    ConfigProfiles = ui->ConfigProfiles;
    ButtonSave = ui->ButtonSave;

    SpinEdit->findChild<QLineEdit *>()->setMaxLength(3);
    // A face wider than the classic one must not cut the option texts: the first box
    // has room to its right, the second is two lines high and wraps.
    if (CheckBoxRemoteMessage->sizeHint().width() > CheckBoxRemoteMessage->width())
        CheckBoxRemoteMessage->resize(qMin(CheckBoxRemoteMessage->sizeHint().width(), MemoRemoteMessage->width()),
                                      CheckBoxRemoteMessage->height());
    CheckBoxAutoLogoff->installEventFilter(this);
    ListViewCombo->header()->setSectionsClickable(false);
    ListViewCombo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListViewCombo->header()->setSectionResizeMode(QHeaderView::Fixed);
    ListViewCombo->header()->resizeSection(0, 295);
    // Drops are handled here (the entry moves with its hidden marker); the viewport
    // receives them.
    ListViewCombo->viewport()->setAcceptDrops(true);
    ListViewCombo->viewport()->installEventFilter(this);

    FindFile = new TFindFile(this);
    FindFile->setObjectName(QStringLiteral("FindFile"));
    FindFile->OnFound = [this](QObject *Sender, const QString &Folder, TSearchRec &FileInfo) {
        FindFileFound(Sender, Folder, FileInfo);
    };

    DeleteProfileFile = platform::DeleteFile;
    OnException = [this] {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle,
                        ExceptionMessage(std::current_exception()), QMessageBox::Ok, this);
        box.exec();
    };

    connect(ButtonSave, &QPushButton::clicked, this, [this] { Guarded([this] { ButtonSaveClick(); }); });
    connect(ButtonAdd, &QPushButton::clicked, this, [this] { Guarded([this] { ButtonAddClick(); }); });
    connect(ButtonRemove, &QPushButton::clicked, this, [this] { Guarded([this] { ButtonRemoveClick(); }); });
    // toggled: runs for the user's clicks and for every real change the program makes.
    connect(CheckBoxAutoLogoff, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBoxAutoLogoffClick(); }); });
    connect(CheckBoxRemoteMessage, &QCheckBox::toggled, this,
            [this] { Guarded([this] { CheckBoxRemoteMessageClick(); }); });
    // activated: the user's choice only, never a change made by the program.
    connect(ConfigProfiles, &QComboBox::activated, this, [this] { Guarded([this] { ConfigProfilesChange(); }); });
    connect(ListViewCombo->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                auto entries = [this](const QItemSelection &selection) {
                    QList<QTreeWidgetItem *> items;
                    for (const QModelIndex &index : selection.indexes())
                        if (index.column() == 0)
                            items.append(ListViewCombo->topLevelItem(index.row()));
                    return items;
                };
                SelectionChanged(entries(selected), entries(deselected));
            });
}

TFormConfigure::~TFormConfigure() = default;

void TFormConfigure::Guarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (...) {
        if (OnException)
            OnException();
    }
}

void TFormConfigure::SelectionChanged(const QList<QTreeWidgetItem *> &selected,
                                      const QList<QTreeWidgetItem *> &deselected)
{
    // An entry taken out of the list does not count as losing the selection.
    if (FDeleting > 0)
        return;
    // One call per entry, the one losing the selection first, each while the causing
    // call is still running; an error ends that entry's call only.
    for (QTreeWidgetItem *item : deselected)
        if (item)
            Guarded([&] { ListViewComboSelectItem(ListViewCombo, item, false); });
    for (QTreeWidgetItem *item : selected)
        if (item)
            Guarded([&] { ListViewComboSelectItem(ListViewCombo, item, true); });
}

int TFormConfigure::LogonScriptItemIndex() const
{
    if (LogonScriptBatch->isChecked())
        return 0;
    if (LogonScriptHta->isChecked())
        return 1;
    return -1;
}

void TFormConfigure::setLogonScriptItemIndex(int index)
{
    (index == 0 ? LogonScriptBatch : LogonScriptHta)->setChecked(true);
}

void TFormConfigure::SetEditorMode(bool update)
{
    ButtonAdd->setText(update ? UpdateCaption : AddCaption);
    QFont font = ButtonAdd->font();
    font.setBold(update);
    ButtonAdd->setFont(font);
}

void TFormConfigure::ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, this);
    box.exec();
}

QTreeWidgetItem *TFormConfigure::EntryNamed(const QString &caption) const
{
    for (int i = 0; i < ListViewCombo->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = ListViewCombo->topLevelItem(i);
        if (item->text(0).compare(caption, Qt::CaseInsensitive) == 0)
            return item;
    }
    return nullptr;
}

void TFormConfigure::DeleteEntry(QTreeWidgetItem *item)
{
    ++FDeleting;
    const auto restore = qScopeGuard([this] { --FDeleting; });
    // Without a current entry the view does not pick a neighbour to select in its place.
    if (ListViewCombo->currentItem() == item)
        ListViewCombo->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    delete item;
}

void TFormConfigure::FormCreate(const TConfigureReading *ahead)
{
    setWindowTitle(QStringLiteral("Tavro Login v") + GetExeVersion());
    ResetProfileEditor();
    if (ahead) {
        for (const QString &name : ahead->profiles)
            AddListedProfile(name);
        return;
    }
    LoadAppSettings();
    ReadProfile(AppSettings.AppDefaultProfile);
    ShowAllProfiles();
}

void TFormConfigure::ShowAllProfiles()
{
    ListProfileFolder(*FindFile);
}

void TFormConfigure::FindFileFound(QObject *Sender, const QString &Folder, TSearchRec &FileInfo)
{
    Q_UNUSED(Sender);
    Q_UNUSED(Folder);
    AddListedProfile(ProfileName(FileInfo.Name));
}

void TFormConfigure::AddListedProfile(const QString &name)
{
    ListViewCombo->addTopLevelItem(new QTreeWidgetItem(QStringList{name}));
    ConfigProfiles->addItem(name);
}

void TFormConfigure::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Guarded([this] { FormShow(); });
}

void TFormConfigure::FormShow()
{
    const QString name = ProfileName(AppSettings.AppDefaultProfile);
    ConfigProfiles->setCurrentIndex(ConfigProfiles->findText(name, Qt::MatchFixedString));
    FocusIfShowing(ProfileText);
    for (int i = 0; i < ListViewCombo->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = ListViewCombo->topLevelItem(i);
        if (item->text(0) + IniExt == AppSettings.AppDefaultProfile)
            SetEntrySubItems(item, {DefaultMarker});
    }
    SelectDefaultConfiguration(name);
}

void TFormConfigure::SelectDefaultConfiguration(const QString &ConfigName)
{
    if (QTreeWidgetItem *item = EntryNamed(ConfigName)) {
        // Selecting runs the select handler, which loads the profile.
        ListViewCombo->setCurrentItem(item);
        item->setSelected(true);
        FocusIfShowing(ListViewCombo);
    }
    ProfileText->setEnabled(false);
}

void TFormConfigure::ListViewComboSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected)
{
    Q_UNUSED(Sender);
    Q_UNUSED(Selected);
    const QString file = Item->text(0) + IniExt;
    if (!platform::FileExists(ProfileFilePath(file)))
        return;
    LoadAppSettings();
    ReadProfile(file);
    ShowProfileInEditor();
    ProfileText->setText(Item->text(0));
    SetEditorMode(true);
    ProfileText->setReadOnly(true);
}

void TFormConfigure::ShowProfileInEditor()
{
    ServerText->setText(ProfileSettings.ProfileServer);
    RemoteText->setText(ProfileSettings.ProfileRemoteServer);
    setLogonScriptItemIndex(ProfileSettings.ProfileLogonScript == QLatin1String("LOGON.BAT") ? 0 : 1);
    CheckBoxAutoLogoff->setChecked(ProfileSettings.ProfileAutoLogoffTime != QLatin1String("0"));
    const int minutes = StrictToInt(ProfileSettings.ProfileAutoLogoffTime);
    SpinEdit->setValue(minutes == 0 ? 5 : minutes); // the box applies its bounds
    CheckBoxRemoteMessage->setChecked(ProfileSettings.ProfileEnableRemoteMessage == QLatin1String("1"));
    MemoRemoteMessage->setPlainText(ProfileSettings.ProfileRemoteMessage);
}

void TFormConfigure::CollectProfileFromEditor()
{
    ProfileSettings.ProfileServer = ServerText->text();
    ProfileSettings.ProfileRemoteServer = RemoteText->text();
    ProfileSettings.ProfileLogonScript =
        LogonScriptItemIndex() == 0 ? QStringLiteral("LOGON.BAT") : QStringLiteral("LOGON.HTA");
    ProfileSettings.ProfileNetLogonShare = QStringLiteral("NETLOGON_V2");
    const QList<QTreeWidgetItem *> selected = ListViewCombo->selectedItems();
    if (!selected.isEmpty()) {
        const QStringList subItems = EntrySubItems(selected.first());
        if (!subItems.isEmpty() && subItems.first() == DefaultMarker)
            AppSettings.AppDefaultProfile = ProfileText->text() + IniExt;
    }
    ProfileSettings.ProfileWallpaper = GetAppFolder() + QStringLiteral("classicbg.bmp");
    ProfileSettings.ProfileAutoLogoffTime =
        CheckBoxAutoLogoff->isChecked() ? QString::number(SpinEdit->Value()) : QStringLiteral("0");
    ProfileSettings.ProfileEnableRemoteMessage =
        CheckBoxRemoteMessage->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    // Line breaks included: the store keeps the value on one line and gives it back whole.
    ProfileSettings.ProfileRemoteMessage = MemoRemoteMessage->toPlainText();
}

void TFormConfigure::ResetProfileEditor()
{
    // The entry losing the selection is loaded by the select handler; the steps below
    // clear the editor again.
    ListViewCombo->clearSelection();
    ListViewCombo->viewport()->update();
    ServerText->clear();
    RemoteText->clear();
    setLogonScriptItemIndex(1);
    ProfileText->clear();
    SetEditorMode(false);
    CheckBoxAutoLogoff->setChecked(false);
    SpinEdit->setValue(5);
    if (isVisible()) {
        ProfileText->setEnabled(true);
        FocusIfShowing(ProfileText);
        ProfileText->setReadOnly(false);
    }
    MemoRemoteMessage->clear();
    CheckBoxRemoteMessage->setChecked(false);
}

void TFormConfigure::ButtonAddClick()
{
    const QString name = ProfileText->text();
    if (name.isEmpty()) {
        ProfileText->setEnabled(true);
        FocusIfShowing(ProfileText);
        ShowMessage(QStringLiteral("You must specify a profile name."));
        return;
    }
    // The name becomes a file name in the profile folder: nothing may lead out of it.
    const QString problem = ProfileNameProblem(name);
    if (!problem.isEmpty()) {
        FocusIfShowing(ProfileText);
        ShowMessage(problem);
        return;
    }
    const bool adding = ButtonAdd->text() == AddCaption;
    // Adding an existing name would overwrite that profile and list it twice.
    if (adding && EntryNamed(name)) {
        FocusIfShowing(ProfileText);
        ShowMessage(QStringLiteral("A profile named \"%1\" already exists. Select it in the list to change it.")
                        .arg(name));
        return;
    }
    if (ServerText->text().isEmpty()) {
        FocusIfShowing(ServerText);
        ShowMessage(QStringLiteral("You must specify a server name."));
        return;
    }
    CollectProfileFromEditor();
    WriteProfile(name + IniExt);
    if (adding) {
        ConfigProfiles->addItem(name);
        const bool noneSelected = ListViewCombo->selectedItems().isEmpty();
        ListViewCombo->addTopLevelItem(new QTreeWidgetItem(QStringList{name}));
        if (noneSelected) {
            QTreeWidgetItem *first = ListViewCombo->topLevelItem(0);
            SetEntrySubItems(first, EntrySubItems(first) << DefaultMarker);
            // In memory only: the file gets it when the window closes.
            AppSettings.AppDefaultProfile = first->text(0) + IniExt;
            ListViewCombo->viewport()->update();
        }
    }
    ResetProfileEditor();
}

void TFormConfigure::ButtonRemoveClick()
{
    if (ListViewCombo->topLevelItemCount() == 1) {
        ShowMessage(QStringLiteral("You cannot remove the last configuration file from Tavro Login"));
        return;
    }
    const QList<QTreeWidgetItem *> selected = ListViewCombo->selectedItems();
    if (selected.isEmpty())
        return;
    const QString caption = selected.first()->text(0);
    const bool wasDefault = ConfigProfiles->currentText() == caption;
    const int index = ConfigProfiles->findText(caption, Qt::MatchFixedString);
    const QString file = caption + IniExt;

    DeleteEntry(selected.first());
    ResetProfileEditor();

    const QString path = ProfileFilePath(file);
    if (platform::FileExists(path) && !DeleteProfileFile(path)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Failed to delete configuration file."), QMessageBox::Ok, this);
        box.exec();
    }
    if (index >= 0)
        ConfigProfiles->removeItem(index);

    if (wasDefault && ListViewCombo->topLevelItemCount() > 0) {
        const QString first = ListViewCombo->topLevelItem(0)->text(0);
        AppSettings.AppDefaultProfile = first + IniExt;
        ListViewCombo->viewport()->update();
        // The box names the new start-up profile (a choice made by the program, so
        // ConfigProfilesChange does not run).
        ConfigProfiles->setCurrentIndex(ConfigProfiles->findText(first, Qt::MatchFixedString));
        WriteAppSettings();
    }
}

void TFormConfigure::ConfigProfilesChange()
{
    AppSettings.AppDefaultProfile = ConfigProfiles->currentText() + IniExt;
    WriteAppSettings();
}

void TFormConfigure::CheckBoxAutoLogoffClick()
{
    SpinEdit->setEnabled(CheckBoxAutoLogoff->isChecked());
}

void TFormConfigure::CheckBoxRemoteMessageClick()
{
    MemoRemoteMessage->setEnabled(CheckBoxRemoteMessage->isChecked());
    if (CheckBoxRemoteMessage->isChecked())
        FocusIfShowing(MemoRemoteMessage);
}

void TFormConfigure::ListViewComboDragOver(QObject *Sender, QObject *Source, int X, int Y, bool &Accept)
{
    Q_UNUSED(Sender);
    Q_UNUSED(Source);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    Accept = true;
}

void TFormConfigure::ListViewComboDragDrop(QObject *Sender, QObject *Source, int X, int Y)
{
    Q_UNUSED(Sender);
    if (Source != ListViewCombo)
        return;
    QTreeWidgetItem *target = ListViewCombo->itemAt(X, Y);
    QList<QTreeWidgetItem *> dragged;
    for (int i = 0; i < ListViewCombo->topLevelItemCount(); ++i)
        if (ListViewCombo->topLevelItem(i)->isSelected())
            dragged.append(ListViewCombo->topLevelItem(i));
    for (QTreeWidgetItem *item : dragged) {
        // The copy carries the hidden marker with it and is not selected.
        auto *copy = new QTreeWidgetItem(QStringList{item->text(0)});
        SetEntrySubItems(copy, EntrySubItems(item));
        if (target)
            ListViewCombo->insertTopLevelItem(ListViewCombo->indexOfTopLevelItem(target), copy);
        else
            ListViewCombo->addTopLevelItem(copy);
        DeleteEntry(item);
    }
}

bool TFormConfigure::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == CheckBoxAutoLogoff && event->type() == QEvent::Paint
        && CheckBoxAutoLogoff->sizeHint().width() > CheckBoxAutoLogoff->width()) {
        PaintWrappedCheckBox(CheckBoxAutoLogoff);
        return true;
    }
    if (watched != ListViewCombo->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const QPoint pos = drag->position().toPoint();
        bool accept = false;
        ListViewComboDragOver(ListViewCombo, drag->source(), pos.x(), pos.y(), accept);
        if (accept) {
            drag->setDropAction(Qt::MoveAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QPoint pos = drop->position().toPoint();
        Guarded([&] { ListViewComboDragDrop(ListViewCombo, drop->source(), pos.x(), pos.y()); });
        // The entries have moved already: a move action would make the source view
        // remove the dragged rows a second time.
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void TFormConfigure::PaintWrappedCheckBox(QCheckBox *box)
{
    QStylePainter painter(box);
    QStyleOptionButton option;
    option.initFrom(box);
    option.state |= box->isChecked() ? QStyle::State_On : QStyle::State_Off;
    if (box->isDown())
        option.state |= QStyle::State_Sunken;
    QStyleOptionButton indicator = option;
    indicator.rect = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
    option.text = box->text();
    const QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    painter.drawItemText(contents, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                         box->palette(), box->isEnabled(), box->text(), QPalette::WindowText);
    if (box->hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(box);
        focus.rect = painter.boundingRect(contents, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, box->text());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void TFormConfigure::ButtonSaveClick()
{
    close();
}

void TFormConfigure::done(int result)
{
    const bool wasShowing = isVisible();
    QDialog::done(result);
    if (wasShowing)
        Guarded([this] { FormClose(); });
}

void TFormConfigure::FormClose()
{
    AppSettings.AppVersion = GetFileVersionString(GetAppFolder() + platform::ProgramFileName);
    // A failed write is reported once the login window is back on the start-up profile:
    // left on the one last selected here, it would log on to a server it does not show.
    std::exception_ptr writeError;
    try {
        WriteAppSettings();
    } catch (...) {
        writeError = std::current_exception();
    }
    if (OnClose)
        OnClose();
    // The login window goes on with the start-up profile, whatever was loaded here.
    ReadProfile(AppSettings.AppDefaultProfile);
    if (writeError)
        std::rethrow_exception(writeError);
}
