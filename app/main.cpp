// Pelmora: one window, shown centred on the screen.

#include "CommandLine.h"
#include "Form1.h"
#include "VersionRecord.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>

int main(int argc, char* argv[])
{
    if (const std::optional<int> status = CommandLine::answer(argc, argv))
        return *status;
    QApplication app(argc, argv);
    VersionRecord::apply();

    Form1 form(Seams::production());
    if (const QScreen* screen = form.screen())
        form.setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(), screen->availableGeometry()));
    // The load event runs as the window is first shown.
    form.show();
    return QApplication::exec();
}
