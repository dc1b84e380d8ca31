#pragma once
// The work log: every frame sent and every reply received, as text with
// CR LF line ends. The text is complete the moment an entry is appended;
// whatever shows it (the window's box) follows the appended() signal.

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <optional>

namespace qav::session {

class WorkLog : public QObject {
    Q_OBJECT
public:
    explicit WorkLog(QObject* parent = nullptr);

    // "0x" or empty: written before every byte of later entries.
    void setHexPrefix(const QString& prefix) { hexPrefix_ = prefix; }
    const QString& hexPrefix() const { return hexPrefix_; }

    // "发出一帧，字节数  N" CR LF "----> " and the bytes in hex, CR LF.
    void appendFrame(QByteArrayView frame);
    void append(const QString& text); // appended as it stands
    void clear();
    const QString& text() const { return text_; }

    // Appends "导出数据", the whole log and a line break to the file, in GBK.
    // Returns the reason when the file cannot be written.
    std::optional<QString> exportTo(const QString& path) const;

    static QString frameEntry(QByteArrayView frame, const QString& hexPrefix);

signals:
    void appended(const QString& text);
    void cleared();

private:
    QString text_;
    QString hexPrefix_;
};

} // namespace qav::session
