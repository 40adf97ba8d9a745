#pragma once
// What may be loaded, and that the file streamed is the file announced.
//
// A label file is a regular file the program may read, small enough for its
// length to be announced. Load takes its facts once (which file, how long,
// when last written); every later step compares the file with them, so the
// device is never told one file and given another.

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <QtGlobal>

struct LabelFileFacts {
    QString path;       // as shown
    QByteArray native;  // as the system spells it, when the name is no valid text
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;  // modification time, nanoseconds since the epoch
    qint64 changedNs = 0;   // status change time: unlike the modification time, no program can put it back
    QByteArray sha256;      // of the content as Load read it, in hexadecimal

    QByteArray nativePath() const { return native.isEmpty() ? QFile::encodeName(path) : native; }
    // The length as announced to the device (checked to fit when taken).
    qint32 length() const { return static_cast<qint32>(size); }
    bool sameAs(const LabelFileFacts& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// The facts of the file at `path`, its SHA-256 among them, or the numbered
// error that refuses it:
// 53 not there, 75 a folder or not a regular file (a FIFO, a device, a
// system file), 70 not readable, 6 too long to announce. Never blocks: the
// type is looked at before the file is opened, and it is opened without
// waiting for a writer.
// `native` is the name's bytes where they are no valid text (file names are
// bytes); empty, the name is `path` encoded.
LabelFileFacts checkLabelFile(const QString& path, QByteArray native = {});

// 75 when the file at `facts.path` is no longer the one Load checked; nothing
// of it went out yet.
void requireUnchangedSinceLoad(const LabelFileFacts& facts);

// The announced file, open for the stream. Each byte is read just before its
// frame; the file is never held whole.
class LabelFileReader {
public:
    // 75 when the file there now is not the announced one.
    explicit LabelFileReader(const LabelFileFacts& announced);
    ~LabelFileReader();
    LabelFileReader(const LabelFileReader&) = delete;
    LabelFileReader& operator=(const LabelFileReader&) = delete;

    // The next byte. 75 when the file changed since it was announced or ends
    // before the announced length; `sent` says how far the stream got.
    unsigned char next(qint64 sent);
    // 75 when the file changed since it was announced.
    void requireUnchanged(qint64 sent) const;
    // 75 when the bytes read so far are not the bytes Load hashed; for the
    // whole file, after its last byte.
    void requireSameBytes(qint64 sent);
    // The SHA-256 of the bytes read so far, in hexadecimal.
    QByteArray sha256() const;

private:
    [[noreturn]] void changed(qint64 sent) const;

    LabelFileFacts announced_;
    int fd_ = -1;
    QCryptographicHash read_{QCryptographicHash::Sha256};
};
