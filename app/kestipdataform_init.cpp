// Bring-up and teardown of the main window's own parts: validators, tray
// icon and menu, LED meter bands, lock indicator and default MAC label.
#include "app/kestipdataform.h"

#include "app/embeddedimagefactory.h"
#include "app/trayicon.h"
#include "monitor/ledmeter.h"

#include <QIntValidator>
#include <QMenu>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

void setPattern(QLineEdit* edit, const char* pattern)
{
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(pattern)), edit));
}

void setRange(QLineEdit* edit, int bottom, int top)
{
    edit->setValidator(new QIntValidator(bottom, top, edit));
}

} // namespace

void addLedMeterBands(LedMeter& level, LedMeter& quality, int modelId)
{
    if (modelId == 3 || modelId == 4 || modelId == 5) {
        level.addBand(20, Qt::red);
        level.addBand(20, Qt::yellow);
        level.addBand(60, Qt::green);
        quality.addBand(40, Qt::red);
        quality.addBand(20, Qt::yellow);
        quality.addBand(40, Qt::green);
    } else {
        level.addBand(16, Qt::red);
        level.addBand(84, Qt::green);
        quality.addBand(10, Qt::red);
        quality.addBand(10, Qt::yellow);
        quality.addBand(80, Qt::green);
    }
}

QString defaultMacText(const quint8 mac[6])
{
    return QString::asprintf("%.2X:%.2X:%.2X:%.2X:%.2X:%.2X\n", mac[0], mac[1], mac[2], mac[3],
                             mac[4], mac[5]);
}

void KestIpDataForm::initForm()
{
    lnbPowerOn = true;
    tuningBusy = true;

    setPattern(lineEditFreq, KestPatterns::Decimal5);
    setPattern(lineEditSmbRate, KestPatterns::Decimal5);
    setPattern(lineEditPidValue, KestPatterns::Decimal5);
    for (QLineEdit* edit : {lineEditMAC0, lineEditMAC1, lineEditMAC2, lineEditMAC3, lineEditMAC4,
                            lineEditMAC5, RAW0, RAW1, RAW2, RAW3, RAW4, RAW5})
        setPattern(edit, KestPatterns::Hex2);
    for (QLineEdit* edit : {lineEditIP0, lineEditIP1, lineEditIP2, lineEditIP3})
        setRange(edit, 0, 255);
    setRange(lineEditGoto, 0, 99);

    // The two entries are the same in every language.
    trayMenu = new QMenu;
    trayMenu->addAction(QStringLiteral("Show Normal"), this, &QWidget::showNormal);
    trayMenu->addSeparator();
    trayMenu->addAction(QStringLiteral("&Quit"), this, &QDialog::accept);
    trayIcon = new TrayIcon(EmbeddedImageFactory::defaultFactory().pixmap("nolocksmall.png"),
                            QStringLiteral("Kest Ip Data\nNo Locked"), trayMenu, this);
    connect(trayIcon, &TrayIcon::clicked, this, &QWidget::showNormal);
    trayIcon->show();

    addLedMeterBands(*ledMeterAGC, *ledMeterSNR, modelId);
    setIndStatus(0);
    showDefaultMac();
}

void KestIpDataForm::showDefaultMac()
{
    textLabelDefaultMAC->setText(defaultMacText(defaultMac));
}

void KestIpDataForm::shutdownForm()
{
    if (shutDown)
        return;
    shutDown = true;
    if (statusTimerId != 0) {
        killTimer(statusTimerId);
        statusTimerId = 0;
    }
    if (trayIcon) {
        trayIcon->hide();
        delete trayIcon;
        trayIcon = nullptr;
    }
    delete trayMenu;
    trayMenu = nullptr;
}

bool KestIpDataForm::eventFilter(QObject* watched, QEvent* event)
{
    return QDialog::eventFilter(watched, event);
}
