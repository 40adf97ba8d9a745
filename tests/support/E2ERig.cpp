#include "E2ERig.h"

#include "link/Clock.h"
#include "link/PortDirectory.h"
#include "window/StatusBar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>
#include <algorithm>

BoxCloser::BoxCloser()
{
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &BoxCloser::poll);
    timer_.start();
}

void BoxCloser::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == current_)
        return;
    current_ = box;
    seen.push_back({box->text(), box->icon(), box->windowTitle(), frameCount ? frameCount() : -1, -1});
    const size_t index = seen.size() - 1;
    QTimer::singleShot(holdMs, box, [this, box, index] {
        seen[index].framesAtClose = frameCount ? frameCount() : -1;
        seen[index].closedAt = SteadyClock().now();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->accept();
    });
}

bool E2ERig::start(const QStringList& emulatorArgs, const std::function<void(Seams&)>& adjust)
{
    if (!emulator.start(emulatorArgs))
        return false;
    usePort(emulator.ptyPath());
    boxes.frameCount = [this] { return int(emulator.readFrames().size()); };
    Seams seams = Seams::production();
    if (adjust)
        adjust(seams);
    form = std::make_unique<Form1>(seams);
    form->Form_Load();
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
}

void E2ERig::usePort(const QString& ptyPath)
{
    qputenv(PortDirectory::kEnvironmentVariable, ptyPath.toLocal8Bit());
}

void E2ERig::clickPanel(int n)
{
    QTest::mouseClick(form->StatusBar1, Qt::LeftButton, {}, form->StatusBar1->panelRect(n).center());
}

void E2ERig::clickLoad()
{
    QTest::mouseClick(form->Command1, Qt::LeftButton);
}

QString E2ERig::panel(int n) const
{
    return form->StatusBar1->Panels(n)->Text();
}

QString E2ERig::tip(int n) const
{
    return form->StatusBar1->Panels(n)->ToolTipText();
}

QStringList E2ERig::payloads() const
{
    QStringList out;
    for (const QJsonObject& frame : emulator.readFrames())
        out << frame.value(QStringLiteral("payload")).toString();
    return out;
}

QString E2ERig::writeFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = QDir(emulator.workDir()).filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

namespace {
class RecordingLine final : public SerialLine {
public:
    RecordingLine(std::unique_ptr<SerialLine> line, std::shared_ptr<WriteTimes> times)
        : line_(std::move(line)), times_(std::move(times))
    {
    }
    void write(const QByteArray& bytes) override
    {
        times_->at.push_back(SteadyClock().now());
        line_->write(bytes);
    }
    QByteArray readAvailable() override { return line_->readAvailable(); }
    void drain(double maxSeconds) override { line_->drain(maxSeconds); }
    void drain(double maxSeconds, const WaitServe& between) override { line_->drain(maxSeconds, between); }
    qint64 outputQueued() override { return line_->outputQueued(); }

private:
    std::unique_ptr<SerialLine> line_;
    std::shared_ptr<WriteTimes> times_;
};
}  // namespace

int WriteTimes::after(double t) const
{
    return int(std::count_if(at.begin(), at.end(), [t](double w) { return w > t; }));
}

LineOpener recordingWrites(LineOpener open, std::shared_ptr<WriteTimes> times)
{
    return [open, times](short port, const LineSettings& settings) -> std::unique_ptr<SerialLine> {
        return std::make_unique<RecordingLine>(open(port, settings), times);
    };
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

bool holdsOpen(const QString& path)
{
    const QString wanted = QFileInfo(path).absoluteFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == wanted)
            return true;
    return false;
}
