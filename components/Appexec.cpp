#include "components/Appexec.h"

#include "platform/messageloop.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

namespace {

struct ErrorText {
    quint32 code;
    const char *text[3]; // ltFrench, ltEnglish, ltItalian
};

// clang-format off
const ErrorText kErrorTexts[] = {
    {0, {"Système dépassé en capacité mémoire, exécutable corrompu, ou réallocations invalides",
         "System was out of memory, executable file was corrupt, or relocations were invalid",
         "Il sistema non dispone di memoria sufficiente, il file eseguibile e' danneggiato, od i riferimenti sono sbagliati"}},
    {2, {"Fichier non trouvé", "File was not found", "File non trovato"}},
    {3, {"Chemin non trouvé", "Path was not found", "Path non trovato"}},
    {5, {"Tentative de liaison dynamique à une tâche, ou erreur de partage, ou erreur de protection réseau",
         "Attempt was made to dynamically link to a task, or there was a sharing or network-protection error",
         "E' stato fatto un tentativo per collegarsi dinamicamente all'applicazione, o c'e' stato un errore di condivisione o di protezione della rete"}},
    {6, {"Librairie nécessitant des segments de données séparés pour chaque tâche",
         "Library required separate data segments for each task",
         "La libreria richiede segmenti di dati differenti per ogni copia dell'applicazione"}},
    {8, {"Mémoire insuffisante pour démarrer l'application",
         "There was insufficient memory to start the application",
         "Non c'e' abbastanza memoria per lanciare l'applicazione"}},
    {10, {"Version de Windows incorrecte", "Windows version was incorrect", "Versione errata di Windows"}},
    {11, {"Exécutable invalide, application non Windows, ou erreur dans l'image du fichier .EXE",
          "Executable file was invalid. Either it was not a Windows application or there was an error in the .EXE image",
          "File eseguibile invalido. Potrebbe non essere un'applicazione per Windows o c'e' un errore nell'immagine .EXE "}},
    {12, {"Application écrite pour un système d'exploitation différent",
          "Application was designed for a different operating system",
          "Applicazione destinata ad un sistema operativo differente"}},
    {13, {"Application écrite pour MS-DOS 4.0", "Application was designed for MS-DOS 4.0",
          "Applicazione per MS-DOS 4.0"}},
    {14, {"Type d'exécutable inconnu", "Type of executable file was unknown", "File eseguibile di tipo sconosciuto"}},
    {15, {"Tentative de chargement d'une application en mode réel (développée pour une version antérieure de Windows)",
          "Attempt was made to load a real-mode application (developed for an earlier version of Windows)",
          "E' stato fatto un tentativo per caricare l'applicazione di modalita' reale (sviluppata per le precedenti versioni di Windows)"}},
    {16, {"Tentative de chargement d'une seconde instance d'un exécutable contenant plusieurs segments de données non marqués en lecture seule",
          "Attempt to load second instance of an executable containing multiple data segments not marked read-only",
          "E' stato fatto un tentativo per caricare una seconda volta un eseguibile che contiene segmenti di dati multipli non marcati Sola Lettura"}},
    {19, {"Tentative de chargement d'un exécutable compressé. Le fichier doit être décompressé avant de pouvoir être chargé",
          "Attempt was made to load a compressed executable file. The file must be decompressed before it can be loaded",
          "E' stato fatto un tentativo per caricare un file eseguibile compresso. Il file deve essere decompresso prima di poter essere caricato"}},
    {20, {"Fichier Dynamic-link library (DLL) invalide. Une des DLLs requises pour exécuter cette application est corrompue",
          "Dynamic-link library (DLL) file was invalid. One of the DLLs required to run this application was corrupt",
          "La libreria DLL non e' valida. Una delle librerie DLL richieste dall'applicazione per poter girare e' danneggiata"}},
    {21, {"Application nécessitant des extensions 32-bit", "Application requires 32-bit extensions",
          "L'Applicazione richiede l'installazione delle estensioni a 32-Bit"}},
};
const char *const kNoError[3] = {"Pas d'erreur", "No error", "Nessun errore"};
// clang-format on

// One table for every launcher: the language last chosen on any of them.
TLangType g_tableLanguage = ltEnglish;

QString TableText(quint32 code)
{
    if (code >= 32 && code <= 2147483647u)
        return QString::fromUtf8(kNoError[g_tableLanguage]);
    for (const ErrorText &row : kErrorTexts)
        if (row.code == code)
            return QString::fromUtf8(row.text[g_tableLanguage]);
    return QString();
}

// A failed start never reads "No error" or nothing: the table's text where it has a
// row for a failure, else the platform's own.
QString StartFailureText(quint32 code)
{
    if (code < 32) {
        const QString text = TableText(code);
        if (!text.isEmpty())
            return text;
    }
    return platform::ErrorCodeText(code);
}

Qt::CursorShape CursorShape(TCursor cursor)
{
    switch (cursor) {
    case -1: return Qt::BlankCursor;
    case -3: return Qt::CrossCursor;
    case -4: return Qt::IBeamCursor;
    case -6: return Qt::SizeBDiagCursor;
    case -7: return Qt::SizeVerCursor;
    case -8: return Qt::SizeFDiagCursor;
    case -9: return Qt::SizeHorCursor;
    case -10: return Qt::UpArrowCursor;
    case -11:
    case -17: return Qt::WaitCursor;
    case -12: return Qt::DragMoveCursor;
    case -13:
    case -18: return Qt::ForbiddenCursor;
    case -14: return Qt::SplitHCursor;
    case -15: return Qt::SplitVCursor;
    case -16: return Qt::DragCopyCursor;
    case -19: return Qt::BusyCursor;
    case -20: return Qt::WhatsThisCursor;
    case -21: return Qt::PointingHandCursor;
    case -22: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

// The wait cursor for the length of a wait; the previous cursor comes back on every
// path, an exception included.
class WaitCursorScope {
public:
    explicit WaitCursorScope(TCursor cursor)
        : m_active(qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr)
    {
        if (m_active)
            QGuiApplication::setOverrideCursor(QCursor(CursorShape(cursor)));
    }
    ~WaitCursorScope()
    {
        if (m_active)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursorScope(const WaitCursorScope &) = delete;
    WaitCursorScope &operator=(const WaitCursorScope &) = delete;

private:
    bool m_active;
};

QString ChangeFileExt(const QString &name, const QString &ext)
{
    const qsizetype dot = platform::ExtractFileName(name).lastIndexOf(u'.');
    return (dot < 0 ? name : name.left(platform::ExtractFilePath(name).size() + dot)) + ext;
}

} // namespace

TAppExec::TAppExec(QObject *owner) : QObject(owner)
{
    setLangType(ltEnglish);
}

TAppExec::~TAppExec()
{
    if (phandle != 0)
        platform::CloseProcessHandle(phandle);
}

void TAppExec::setExePath(const QString &value)
{
    if (value == FExePath)
        return;
    FExePath = value;
    if (FExePath.size() > 3 && FExePath.endsWith(platform::PathDelim))
        FExePath.chop(1);
}

void TAppExec::setLangType(TLangType value)
{
    FLangType = value;
    g_tableLanguage = value;
}

void TAppExec::setWindowState(TWindowState value)
{
    if (value == FWindowState)
        return;
    FMode = value == wsMinimized ? 2 : value == wsMaximized ? 3 : 1;
    FWindowState = value;
}

void TAppExec::Clear()
{
    FErrNo = 32;
    FExeName.clear();
    FExePath.clear();
    FExeParams.clear();
    FOutput.clear();
}

QString TAppExec::GetCommandLine() const
{
    QString command = FExeName;
    for (const QString &param : FExeParams)
        command += u' ' + param;
    return command;
}

QString TAppExec::GetErrorString() const
{
    return TableText(FErrNo);
}

// The program part of the command: ExeName as it stands when it has an extension,
// else probed in ExePath for a program or a batch file of that name.
QString TAppExec::ProgramPart() const
{
    if (platform::ExtractFileName(FExeName).contains(u'.'))
        return FExeName;
    if (platform::FileExists(FExePath + FExeName + QStringLiteral(".exe")))
        return FExeName;
    if (platform::FileExists(FExePath + FExeName + QStringLiteral(".bat")))
        return FExeName + QStringLiteral(".bat");
    return FExeName;
}

void TAppExec::Execute()
{
    if (!FExePath.endsWith(platform::PathDelim))
        FExePath += platform::PathDelim;
    FOutput.clear();

    quint32 priorityClass = platform::NORMAL_PRIORITY_CLASS;
    switch (FPriorClass) {
    case pcHigh: priorityClass = platform::HIGH_PRIORITY_CLASS; break;
    case pcIdle: priorityClass = platform::IDLE_PRIORITY_CLASS; break;
    case pcNormal: priorityClass = platform::NORMAL_PRIORITY_CLASS; break;
    case pcRealtime: priorityClass = platform::REALTIME_PRIORITY_CLASS; break;
    }

    QString command = ProgramPart();
    for (const QString &param : FExeParams)
        command += u' ' + param;

    QString outName;
    QString batchName;
    if (FRedirectOutput) {
        const QString self = platform::ExtractFileName(platform::ExecutablePath());
        outName = ChangeFileExt(self, QStringLiteral(".out"));
        batchName = ChangeFileExt(self, QStringLiteral(".bat"));
        // Without the folder change the bare names would reach another folder: the
        // output would be lost and another file of the batch's name could run.
        const auto name = [this](const QString &file) {
            return FChangeDir ? file : u'"' + FExePath + file + u'"';
        };
        command += QStringLiteral(" > ") + name(outName);
        QFile batch(FExePath + batchName);
        if (batch.open(QIODevice::WriteOnly | QIODevice::Truncate))
            batch.write(command.toUtf8() + '\n');
        command = name(batchName);
    }

    // No fixed 260-character buffer: anything the system can start is started whole,
    // and a longer command is refused before anything changes.
    if (command.size() > platform::MaxCommandLineLength) {
        FErrNo = platform::ERROR_FILENAME_EXCED_RANGE;
        throw EAppExecWinExec(QStringLiteral("The command line is too long: %1 characters, at most %2 are allowed")
                                  .arg(command.size())
                                  .arg(platform::MaxCommandLineLength));
    }

    if (FChangeDir) {
        if (const quint32 code = platform::ChangeCurrentDirectory(FExePath))
            throw EAppExecChDir(QStringLiteral("Cannot change the current folder to \"%1\": %2")
                                    .arg(FExePath, platform::ErrorCodeText(code)));
    }

    platform::ProcessHandle handle = 0;
    if (const quint32 code =
            platform::StartProcess(command, QString(), FHide ? 0 : FMode, priorityClass, true, handle)) {
        FErrNo = code;
        throw EAppExecWinExec(StartFailureText(code));
    }
    FErrNo = 32;

    if (!FWait) {
        // Nobody looks at it again; the process is still reaped when it ends.
        platform::CloseProcessHandle(handle);
        // The program may not have read the batch file yet: the capture files stay.
        return;
    }

    {
        WaitCursorScope cursor(FWaitCursor);
        platform::ProcessMessages();
        const quint32 previous = phandle;
        phandle = quint32(handle);
        if (previous != 0 && previous != phandle && !FWaiting.contains(previous))
            platform::CloseProcessHandle(previous);
        FinishWait(phandle);
    }

    if (FRedirectOutput) {
        QFile out(FExePath + outName);
        if (out.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream stream(&out);
            while (!stream.atEnd())
                FOutput << stream.readLine();
            out.close();
            platform::DeleteFile(FExePath + outName);
        }
        platform::DeleteFile(FExePath + batchName);
    }
}

// Blocks (dispatching messages) until the program ends or the application terminates.
void TAppExec::FinishWait(quint32 handle)
{
    FWaiting.append(handle);
    platform::ProcessMessages();
    platform::WaitForProcessDispatching(handle);
    quint32 exitCode = platform::STILL_ACTIVE;
    const quint32 err = platform::QueryExitCode(handle, exitCode);
    FWaiting.removeOne(handle);
    // A run started by a handler during the wait took phandle over.
    if (handle != phandle && !FWaiting.contains(handle))
        platform::CloseProcessHandle(handle);
    if (err != 0) {
        FErrNo = err;
        throw EAppExecWinExec(StartFailureText(err));
    }
    FErrNo = exitCode;
}
