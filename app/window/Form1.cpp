// Form1 built from its description (Form1.ui): the control arrays, the
// non-visual components, the logo control created by its class name, and the
// wiring of the window's own events.

#include "Form1.h"

#include "ui_Form1.h"
#include "link/QtSerialLine.h"
#include "window/BlockedCloseFilter.h"
#include "window/InputHoldback.h"
#include "window/CommonDialog.h"
#include "window/FileHandOver.h"
#include "window/SettingsComboAccessible.h"
#include "window/SlotArrowKeys.h"
#include "window/StatusBar.h"
#include "wire/LoadSequence.h"
#include "wire/StreamPacing.h"

#include "Create.h"

#include <QComboBox>
#include <QFont>
#include <chrono>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>
#include <QtGlobal>

static void initPictures()
{
    // The pictures live in a static library; without this the linker may drop them.
    Q_INIT_RESOURCE(pictures);
}

namespace {
const QString kLogoClassName = QStringLiteral("ZelkorLogo1.ZelkorLogo");

// The description names the fonts of the platform it comes from; here the
// metric-compatible faces stand in, so the captions fit their sizes.
void substituteFonts()
{
    static const bool done = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
        QFont::insertSubstitutions(QStringLiteral("Garamond"),
                                   {QStringLiteral("EB Garamond"), QStringLiteral("Liberation Serif"),
                                    QStringLiteral("Times New Roman"), QStringLiteral("DejaVu Serif")});
        return true;
    }();
    Q_UNUSED(done);
}

// The port list and the opener must serve the same numbers: what a caller
// left out is the system's.
Seams& withPorts(Seams& seams)
{
    if (!seams.ports)
        seams.ports = std::make_shared<PortBindings>();
    if (!seams.openLine)
        seams.openLine = qtSerialLineOpener(seams.ports);
    return seams;
}
}  // namespace

Form1::Form1(Seams seams, QWidget* parent)
    : QWidget(parent),
      MSComm1(withPorts(seams).openLine),
      seams_(std::move(seams)),
      ui_(std::make_unique<Ui::Form1>())
{
    initPictures();
    substituteFonts();
    ui_->setupUi(this);

    Frame1 = ui_->Frame1;
    Frame2 = ui_->Frame2;
    Command1 = ui_->Command1;
    Command2 = ui_->Command2;
    Command3 = ui_->Command3;
    Combo1 = ui_->Combo1;
    Combo2 = {ui_->Combo2_0, ui_->Combo2_1, ui_->Combo2_2, ui_->Combo2_3};
    Label2 = {ui_->Label2_0, ui_->Label2_1, ui_->Label2_2, ui_->Label2_3, ui_->Label2_4, ui_->Label2_5};
    Option1 = {ui_->Option1_0, ui_->Option1_1, ui_->Option1_2, ui_->Option1_3, ui_->Option1_4};
    Text1 = ui_->Text1;
    ProgressBar1 = ui_->ProgressBar1;
    StatusBar1 = ui_->StatusBar1;

    QIcon icon;
    icon.addFile(QStringLiteral(":/pictures/form32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/pictures/form16.xpm"), QSize(16, 16));
    setWindowIcon(icon);

    logoPlacement_ = {static_cast<float>(ui_->ZelkorLogo1->x() * 15), static_cast<float>(ui_->ZelkorLogo1->y() * 15)};
    frame1Placement_ = {static_cast<float>(Frame1->x() * 15), static_cast<float>(Frame1->y() * 15)};
    frame2Placement_ = {static_cast<float>(Frame2->x() * 15), static_cast<float>(Frame2->y() * 15)};
    createLogo();
    fitToStyle();

    CommonDialog1 = std::make_unique<CommonDialog>(this, seams_.dialogs, QStringLiteral("*.txt;*.ejf"),
                                                   QStringLiteral("Choose the label file to load"));

    // The release and stage rhythm every front end keeps.
    Timer1.setInterval(std::chrono::milliseconds(qRound(Wire::kWindowPolicy.releaseRetryWait * 1000)));
    Timer2.setInterval(std::chrono::milliseconds(qRound(Wire::kWindowPolicy.stageRetryWait * 1000)));
    Timer1.stop();
    Timer2.stop();

    wireDeviceEvents();
    blockedCloseFilter_ = BlockedCloseFilter::installFor(this);
    inputHoldback_ = std::make_unique<InputHoldback>();
    watchForStopRequests();
    connect(Command2, &QPushButton::clicked, this, [this] { runEvent([this] { Command2_Click(); }); });
    connect(Command3, &QPushButton::clicked, this, [this] { runEvent([this] { Command3_Click(); }); });

    for (QLabel* label : Label2)
        if (auto* list = qobject_cast<QComboBox*>(label->buddy()))
            labelSettingsList(list, label);
    setUpKeyboardHints();
    new SlotArrowKeys({Option1.begin(), Option1.end()}, this);
    // The box is left alone while an upload reads it ("Load" is hidden then).
    new FileHandOver(this, Text1, [this] { return !Command1->isHidden(); });
    // The bar says how long the stream still needs, spaced by the program's clock.
    ProgressBar1->setTimeLeftRule([](qint64 maximum, qint64 value) {
        return (value == 0 ? kStreamStartWait : 0.0) + streamSecondsLeft(maximum, value);
    });
    ProgressBar1->setClock([clock = seams_.clock] { return clock->now(); });
}

Form1::~Form1() = default;

void Form1::createLogo()
{
    QWidget* site = ui_->ZelkorLogo1;
    ZelkorLogo1 = site;
    try {
        QWidget* logo = component::createByClassName(kLogoClassName, this);
        logo->setObjectName(QStringLiteral("ZelkorLogo1"));
        logo->setAccessibleName(QStringLiteral("Zelkor"));
        logo->setAccessibleDescription(QStringLiteral("The maker's logo"));
        logo->move(site->pos());
        logo->resize(site->size());
        logo->stackUnder(site);
        logo->show();
        delete site;
        ui_->ZelkorLogo1 = logo;
        ZelkorLogo1 = logo;
    } catch (const std::exception& error) {
        // The window opens without the logo; the empty site says why.
        logoFailure_ = QString::fromLocal8Bit(error.what());
        qWarning("Pelmora: the logo control %s could not be created: %s", qPrintable(kLogoClassName),
                 qPrintable(logoFailure_));
        auto* why =
            new QLabel(QStringLiteral("The logo control %1 could not be created.").arg(kLogoClassName), site);
        why->setWordWrap(true);
        why->setToolTip(logoFailure_);
        why->setAlignment(Qt::AlignCenter);
        auto* layout = new QVBoxLayout(site);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->addWidget(why);
        site->setAutoFillBackground(true);
    }
}
