#include "app/kestipdataform.h"

#include "monitor/testform.h"

#include "app/embeddedimagefactory.h"
#include "app/trayicon.h"
#include "monitor/ledmeter.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>

namespace {

QPixmap embedded(const char* name)
{
    return EmbeddedImageFactory::defaultFactory().pixmap(QString::fromLatin1(name));
}

// Short code fields are as wide as their longest entry, not as the column.
void fitToDigits(QLineEdit* edit, int digits)
{
    const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
    const int text = edit->fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('D')));
    edit->setFixedWidth(text + 2 * frame + 10);
}

// No wider than its text needs (styles give push buttons a minimum width of
// their own): the provider buttons leave the rest of the row to the combo box.
void fitToText(QPushButton* button)
{
    const QStyle* style = button->style();
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
    button->setMaximumWidth(text + 2 * (margin + frame));
}

void setUpMeter(LedMeter* meter)
{
    meter->setBackground(Qt::black, embedded("bg_green.gif"));
    meter->setLineWidth(2);
    meter->setRange(100);
    meter->setValue(0);
}

} // namespace

KestIpDataForm::KestIpDataForm(QWidget* parent, const char* name, bool modal,
                               Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QString::fromLatin1(name ? name : "KestIpDataForm"));
    setModal(modal);
    setupUi(this);
    setSizeGripEnabled(false);
    setWindowIcon(embedded("KestIcoSmall.png"));

    pixmapLogo->setPixmap(embedded("iplogo2.png"));
    pixmapLabelStatus->setPixmap(embedded("nolock2.png"));
    setUpMeter(ledMeterSNR);
    setUpMeter(ledMeterAGC);

    for (QLineEdit* edit : {lineEditMAC0, lineEditMAC1, lineEditMAC2, lineEditMAC3, lineEditMAC4,
                            lineEditMAC5, RAW0, RAW1, RAW2, RAW3, RAW4, RAW5})
        fitToDigits(edit, 2);
    for (QLineEdit* edit : {lineEditIP0, lineEditIP1, lineEditIP2, lineEditIP3})
        fitToDigits(edit, 3);
    fitToDigits(lineEditPidValue, 5);

    // The PID column holds at most four digits; the status column takes the rest.
    listActivePids->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listActivePids->header()->setStretchLastSection(true);
    listActivePids->setColumnWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);

    languageChange();
    resize(QSize(377, 488).expandedTo(minimumSizeHint()));

    connect(buttonSet, &QPushButton::clicked, this, &KestIpDataForm::buttonSet_clicked);
    connect(lnbTypeComboBox, QOverload<int>::of(&QComboBox::activated), this,
            &KestIpDataForm::lnbTypeComboBox_activated);
    connect(buttonPower, &QPushButton::toggled, this, &KestIpDataForm::buttonPower_toggled);
    connect(buttonAddPid, &QPushButton::clicked, this, &KestIpDataForm::buttonAddPid_clicked);
    connect(checkBoxHex, &QCheckBox::stateChanged, this,
            &KestIpDataForm::checkBoxHex_stateChanged);
    connect(buttonRemovePid, &QPushButton::clicked, this,
            &KestIpDataForm::buttonRemovePid_clicked);
    connect(radioButtonDefaultAddr, &QRadioButton::clicked, this,
            &KestIpDataForm::radioButtonDefaultAddr_clicked);
    connect(radioButtonMACAddr, &QRadioButton::clicked, this,
            &KestIpDataForm::radioButtonMACAddr_clicked);
    connect(radioButtonIPAddr, &QRadioButton::clicked, this,
            &KestIpDataForm::radioButtonIPAddr_clicked);
    connect(buttonNew, &QPushButton::clicked, this, &KestIpDataForm::buttonNew_clicked);
    connect(buttonEdit, &QPushButton::clicked, this, &KestIpDataForm::buttonEdit_clicked);
    connect(buttonRemove, &QPushButton::clicked, this, &KestIpDataForm::buttonRemove_clicked);
    connect(comboBoxProviders, QOverload<int>::of(&QComboBox::activated), this,
            &KestIpDataForm::comboBoxProviders_activated);
    // The tab order is part of the .ui and set by setupUi.

    initForm();
}

KestIpDataForm::~KestIpDataForm()
{
    shutdownForm();
}

// The texts of the .ui (context "KestIpDataForm") plus the ones that are
// reset rather than translated.
void KestIpDataForm::languageChange()
{
    retranslateUi(this);
    for (QPushButton* button : {buttonNew, buttonEdit, buttonRemove})
        fitToText(button);
    comboBoxProviders->clear();
    comboBoxProviders->addItem(QString());
    lineEditFreq->clear();
    lineEditSmbRate->clear();
}

void KestIpDataForm::setIndStatus(int status)
{
    if (status == indicatorStatus)
        return;
    indicatorStatus = status;
    const char* window = nullptr;
    const char* tray = nullptr;
    switch (status) {
    case 0: window = "nolock2.png"; tray = "nolocksmall.png"; break;
    case 1: window = "lock2.png"; tray = "locksmall.png"; break;
    case 2: window = "activ2.png"; tray = "activsmall.png"; break;
    default: return;
    }
    pixmapLabelStatus->setPixmap(embedded(window));
    if (trayIcon)
        trayIcon->setIcon(embedded(tray));
}

void KestIpDataForm::keyPressEvent(QKeyEvent* event)
{
    if (TestForm::isOpenShortcut(*event))
        openStatistics();
    QDialog::keyPressEvent(event);
}
