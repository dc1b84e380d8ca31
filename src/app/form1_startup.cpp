// Opening and closing the window, the work log's own controls, and the
// handlers that only edit text boxes.
#include "app/form1.h"
#include "link/serial_port_service.h"
#include "synthesis/gbk_text.h"
#include "tools/continuous_play.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <algorithm>

namespace qav::app {

namespace {
constexpr const char* kInitialTextFile = "初始默认文本.txt";
constexpr const char* kCrashResultFile = "死机测试文本-测试结果.txt";
constexpr const char* kLogFile = "LOG.txt";
constexpr const char* kFolderUnwritable = "无法在工作文件夹中保存文件：";
constexpr const char* kLogKeptIn = "工作记录暂存在";
constexpr const char* kLogOnlyInMemory = "工作记录只保存在内存中。";
constexpr const char* kJournalKeptIn = "工作记录保存在";
constexpr const char* kAddedAtNextStart = "中，下次在此文件夹启动时将添加到LOG.txt。";
constexpr const char* kKeptThere = "中。";
constexpr const char* kChunkLimitNotice =
    "字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测试！"
    "目前F320最多仅能缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，"
    "大于帧与帧之间的最短间隔时间8ms，不可测试！";
constexpr const char* kSettings9600 = "9600,N,8,1";
constexpr int kGbkIndex = 1;
constexpr int kBaud9600Index = 1;
constexpr int kPwmOutputIndex = 1;

// The initial text, read as GBK bytes; an absent file is created empty. Only
// a plain file is opened: a pipe of that name would hold start-up until
// something writes to it. Nothing when there is no text to show.
std::optional<QString> readInitialText() {
    QFile file(QString::fromUtf8(kInitialTextFile));
    if (!file.exists()) {
        file.open(QIODevice::WriteOnly);
        return std::nullopt;
    }
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QString text = synthesis::fromGbk(bytes);
    // A file that ends inside a double-byte character: the decoder keeps that
    // last byte for input that never comes. Show it as the other bytes that
    // are not GBK are shown.
    if (synthesis::wholeGbkPrefix(bytes) < bytes.size())
        text += QChar::ReplacementCharacter;
    return text;
}
} // namespace

void Form1::Form_Load() {
    // The logs of earlier runs that ended without closing go into LOG.txt
    // first, each as its own block; then this run's journal starts beside it.
    // A folder where nothing can be kept is said once; the log then lives in
    // the temporary folder.
    const QString folder = QDir::currentPath();
    worklog::Journal::recoverJournals(folder, QDir(folder).filePath(QString::fromUtf8(kLogFile)));
    connect(&workLog(), &worklog::WorkLog::storageProblem, this,
            [this](const QString& text) { showMessage(text); });
    if (const auto error = workLog().openJournal(folder)) {
        const bool elsewhere = !workLog().openJournal(QDir::tempPath());
        showMessage(QString::fromUtf8(kFolderUnwritable) + QDir::toNativeSeparators(folder) +
                    QLatin1Char('\n') + *error + QLatin1Char('\n') +
                    (elsewhere ? QString::fromUtf8(kLogKeptIn) +
                                     QDir::toNativeSeparators(workLog().journalPath())
                               : QString::fromUtf8(kLogOnlyInMemory)));
    }

    // 1.-2. The initial text; the crash-test result file stays open, emptied,
    // for the whole run.
    if (const auto text = readInitialText())
        text3_->setText(*text);
    session_->openCrashResultFile(QString::fromUtf8(kCrashResultFile));

    // 3.-5. The link as chosen by the option buttons.
    session::ConsoleState& s = state();
    s.chunkLimitNotice = QString::fromUtf8(kChunkLimitNotice);
    if (Option3->isChecked())
        session_->chooseSerialLink();
    if (Option4->isChecked())
        session_->chooseUsbLink();

    // 6.-8.
    session_->setHexPrefixShown(false);
    s.continueSynthesis = false;
    Check2->setChecked(true);
    Check3->setChecked(true);
    s.sliderTagsEnabled = true;

    // 9. Encoding GBK.
    Combo5->setCurrentIndex(kGbkIndex);
    Combo5_Click();

    // 10. Serial line defaults.
    Combo2->setCurrentIndex(kBaud9600Index);
    Combo2_Click();
    serialPort().setSettings(QString::fromLatin1(kSettings9600));

    // 11. Lists; COM1 is opened by its port selection.
    Combo3->setCurrentIndex(kPwmOutputIndex);
    Combo1->setCurrentIndex(0);
    const bool opened = session_->selectPort(0);
    Combo6->setCurrentIndex(0);
    Combo7->setCurrentIndex(0);

    // 12.
    s.lastFrameIndex = 0;

    // 13. A last try at the chosen port. The port selection above has already
    // said so when it failed; one message is enough.
    if (!serialPort().portOpen()) {
        serialPort().setCommPort(s.serialPortNumber);
        if (!serialPort().open() && opened)
            showMessage(QString::fromUtf8(session::ConsoleSession::kPortMessage));
    }
}

bool Form1::Form_Unload() {
    if (serialPort().portOpen())
        serialPort().close();
    exportError_.clear();
    if (const auto error = workLog().exportTo(QString::fromUtf8(kLogFile))) {
        // The journal stays: say where, and whether the next start finds it.
        exportError_ = *error;
        const QFileInfo journal(workLog().journalPath());
        if (!workLog().journalPath().isEmpty()) {
            const bool here = journal.absolutePath() == QDir::current().absolutePath();
            exportError_ += QLatin1Char('\n') + QString::fromUtf8(kJournalKeptIn) +
                            (here ? journal.fileName() + QString::fromUtf8(kAddedAtNextStart)
                                  : QDir::toNativeSeparators(journal.filePath()) +
                                        QString::fromUtf8(kKeptThere));
        }
        return false;
    }
    workLog().removeJournal();
    return true;
}

void Form1::Command15_Click() {
    text3_->setText(QString());
}

void Form1::Text2_Change() {
    const QString text = Text2->toPlainText();
    const bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (digitsOnly)
        return;
    showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
    Text2->setPlainText(QString());
}

void Form1::Check5_Click() {
    session_->setHexPrefixShown(Check5->isChecked());
}

void Form1::Command2_Click() {
    workLog().clear();
}

} // namespace qav::app
