#pragma once
// Label files handed over by the desktop: a file dropped anywhere on the
// window, or a path pasted into the file box, lands in the box as its plain
// path. A drop of several files or of a folder is refused, and the box's
// tooltip says why. What the operator types is not touched.

#include <QObject>
#include <QPointer>
#include <functional>

class QLineEdit;
class QMimeData;
class QWidget;

class FileHandOver final : public QObject {
public:
    // `mayChange` says whether the box may be changed now (not while an upload reads it).
    FileHandOver(QWidget* window, QLineEdit* box, std::function<bool()> mayChange);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The path a drop brings, or empty (the refusal, if any, is shown).
    QString pathOf(const QMimeData& data, bool showRefusal);
    bool takeDrop(QObject* watched, QEvent* event);
    // Pastes from the clipboard (or the selection) as a path; false when the
    // box's own paste should run.
    bool paste(bool selection);
    void showRefusal(const QString& why);

    QPointer<QWidget> window_;
    // The box by a plain guard: while it is destroyed it is no QLineEdit any more.
    QPointer<QObject> boxGuard_;
    QLineEdit* box_ = nullptr;
    std::function<bool()> mayChange_;
};
