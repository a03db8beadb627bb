#include "app/embeddedimagefactory.h"
#include "app/kestipdataform.h"
#include "app/trayicon.h"
#include "monitor/ledmeter.h"
#include "monitor/mainratesource.h"
#include "monitor/rateplot.h"
#include "monitor/testform.h"

#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QTreeWidget>

#include <initializer_list>
#include <string>

namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication("app_form_tests"));

template <typename T = QObject>
T* child(const QObject& form, const char* name)
{
    return form.findChild<T*>(QString::fromLatin1(name));
}

// The text a widget shows: caption, title, label or button text.
QString shownText(QObject* object)
{
    for (const char* property : {"title", "text"}) {
        const QVariant value = object->property(property);
        if (value.isValid())
            return value.toString();
    }
    return QString();
}

QStringList comboItems(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

TEST(FormWidgets, EveryNamedObjectHasItsType)
{
    KestIpDataForm form(nullptr, "KestIpData");
    const char* const table[][2] = {
        {"KestIpDataFormLayout", "QGridLayout"}, {"pixmapLogo", "QLabel"},
        {"groupProviders", "QGroupBox"}, {"comboBoxProviders", "QComboBox"},
        {"buttonNew", "QPushButton"}, {"buttonEdit", "QPushButton"},
        {"buttonRemove", "QPushButton"}, {"tabWidgetMain", "QTabWidget"},
        {"groupBoxTunerStatus", "QGroupBox"}, {"groupBoxSNR", "QGroupBox"},
        {"ledMeterSNR", "LedMeter"}, {"textLabelSNR", "QLabel"}, {"textLabel4_4_2", "QLabel"},
        {"textLabel1_3_3_2", "QLabel"}, {"groupBoxAGC", "QGroupBox"}, {"ledMeterAGC", "LedMeter"},
        {"textLabelAGC", "QLabel"}, {"textLabel37", "QLabel"}, {"textLabel24", "QLabel"},
        {"groupBoxTunerSetting", "QGroupBox"}, {"lineEditFreq", "QLineEdit"},
        {"lineEditSmbRate", "QLineEdit"}, {"comboBoxPolarisation", "QComboBox"},
        {"comboBoxModulation", "QComboBox"}, {"comboBoxFEC", "QComboBox"},
        {"textLabelFreq", "QLabel"}, {"textLabelSmbRate", "QLabel"}, {"textLabelType", "QLabel"},
        {"textLabelPolarization", "QLabel"}, {"textLabelFEC", "QLabel"},
        {"pixmapLabelStatus", "QLabel"}, {"textLabelStatus", "QLabel"}, {"line2", "QFrame"},
        {"checkBoxStartAndHide", "QCheckBox"}, {"buttonSet", "QPushButton"},
        {"groupBoxLNB", "QGroupBox"}, {"lnbTypeComboBox", "QComboBox"},
        {"lineEditLOF1", "QLineEdit"}, {"lineEditLOF2", "QLineEdit"},
        {"lineEditSwitch", "QLineEdit"}, {"lnbTypeLabel", "QLabel"}, {"textLabel1_2_2", "QLabel"},
        {"textLabel3_2", "QLabel"}, {"textLabel2_3", "QLabel"}, {"textLabel4_2", "QLabel"},
        {"textLabel4_2_2", "QLabel"}, {"textLabel4_2_3", "QLabel"}, {"line3", "QFrame"},
        {"framePower", "QFrame"}, {"buttonPower", "QPushButton"},
        {"groupBoxDiSEqC1_2", "QGroupBox"}, {"spinBoxTXCountMotor", "QSpinBox"},
        {"lineEditGoto", "QLineEdit"}, {"textLabelCount_2", "QLabel"},
        {"textLabelGOTOPosition", "QLabel"}, {"groupBoxDiSEqC1_0", "QGroupBox"},
        {"comboBoxDiSEqC10", "QComboBox"}, {"spinBoxTXCount", "QSpinBox"},
        {"spinBoxGap", "QSpinBox"}, {"textLabelDiSEqCSwitch", "QLabel"},
        {"textLabelCount", "QLabel"}, {"textLabelGap", "QLabel"}, {"textLabelms", "QLabel"},
        {"groupBoxRAW", "QGroupBox"}, {"textLabel3", "QLabel"},
        {"buttonGroupFilter", "QButtonGroup"}, {"radioButtonDefaultAddr", "QRadioButton"},
        {"radioButtonMACAddr", "QRadioButton"}, {"radioButtonIPAddr", "QRadioButton"},
        {"textLabelDefaultMAC", "QLabel"}, {"groupBoxStatus", "QGroupBox"},
        {"statusPlot", "QwtPlot"}, {"framePackedReceived", "QFrame"},
        {"textLabelPacketReceived", "QLabel"}, {"labelReceived", "QLabel"},
        {"textLabelMb", "QLabel"}, {"groupBoxSelectedPIDs", "QGroupBox"},
        {"listSelectedPids", "QListWidget"}, {"buttonRemovePid", "QPushButton"},
        {"groupBoxActivePIDs", "QGroupBox"}, {"listActivePids", "QTreeWidget"},
        {"groupBoxAddPIDs", "QGroupBox"}, {"lineEditPidValue", "QLineEdit"},
        {"checkBoxHex", "QCheckBox"}, {"buttonAddPid", "QPushButton"},
        {"textLabelPIDValue", "QLabel"},
    };
    for (const auto& entry : table) {
        QObject* object = child(form, entry[0]);
        ASSERT_NE(object, nullptr) << entry[0];
        EXPECT_TRUE(object->inherits(entry[1])) << entry[0] << " is a "
                                                << object->metaObject()->className();
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(child<QLineEdit>(form, qPrintable(QString("RAW%1").arg(i))), nullptr);
        EXPECT_NE(child<QLineEdit>(form, qPrintable(QString("lineEditMAC%1").arg(i))), nullptr);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(child<QLineEdit>(form, qPrintable(QString("lineEditIP%1").arg(i))), nullptr);

    const QStringList pages = {"pageTuner", "pageLNB", "pageDiseqc", "pageFilter", "pagePids"};
    ASSERT_EQ(form.tabWidgetMain->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        EXPECT_EQ(form.tabWidgetMain->widget(i)->objectName(), pages[i]);

    EXPECT_EQ(KestIpDataForm().objectName(), "KestIpDataForm");
    EXPECT_EQ(form.objectName(), "KestIpData");
}

TEST(FormWidgets, TextsAndItems)
{
    KestIpDataForm form;
    EXPECT_EQ(form.windowTitle(), "Kest IP Data");
    const char* const table[][2] = {
        {"groupProviders", "Provider"}, {"buttonNew", "New"}, {"buttonEdit", "Update"},
        {"buttonRemove", "Remove"}, {"groupBoxTunerStatus", "Tuner status"},
        {"groupBoxSNR", "Quality %"}, {"groupBoxAGC", "Level %"},
        {"textLabel4_4_2", "<p align=\"left\">0</p>"}, {"textLabel37", "<p align=\"left\">0</p>"},
        {"textLabelSNR", "<p align=\"center\">0</p>"}, {"textLabelAGC", "<p align=\"center\">0</p>"},
        {"textLabel1_3_3_2", "<p align=\"right\">100</p>"},
        {"textLabel24", "<p align=\"right\">100</p>"}, {"groupBoxTunerSetting", "Tuner setting"},
        {"textLabelFreq", "Freqency (MHz):"}, {"textLabelSmbRate", "Symbol rate (kS/s):"},
        {"textLabelType", "Mode:"}, {"textLabelPolarization", "Polarisation:"},
        {"textLabelFEC", "FEC:"}, {"lineEditFreq", ""}, {"lineEditSmbRate", ""},
        {"textLabelStatus", "STATUS:"}, {"checkBoxStartAndHide", "Start and hide"},
        {"buttonSet", "Set"}, {"groupBoxLNB", "LNB"}, {"lnbTypeLabel", "Type:"},
        {"textLabel3_2", "LOF 2:"}, {"textLabel1_2_2", "LOF 1:"}, {"textLabel2_3", "Switch:"},
        {"lineEditLOF2", "10600"}, {"lineEditSwitch", "11700"}, {"lineEditLOF1", "9750"},
        {"textLabel4_2_2", "MHz"}, {"textLabel4_2_3", "MHz"}, {"textLabel4_2", "MHz"},
        {"buttonPower", "Power"}, {"groupBoxDiSEqC1_2", "DiSEqC 1.2"},
        {"textLabelCount_2", "Repeat count:"}, {"textLabelGOTOPosition", "GOTO position:"},
        {"groupBoxDiSEqC1_0", "DiSEqC 1.0"}, {"textLabelDiSEqCSwitch", "DiSEqC switch:"},
        {"textLabelCount", "Repeat count:"}, {"textLabelms", "ms"}, {"textLabelGap", "Gap time:"},
        {"groupBoxRAW", "Raw command"}, {"textLabel3", "Data:"},
        {"radioButtonIPAddr", "IP address:"}, {"radioButtonMACAddr", "MAC address:"},
        {"radioButtonDefaultAddr", "Default MAC address"}, {"groupBoxStatus", "Status"},
        {"textLabelPacketReceived", "Received:"}, {"labelReceived", "0.00"},
        {"textLabelMb", "Mb"}, {"groupBoxSelectedPIDs", "Selected PIDs"},
        {"buttonRemovePid", "Remove"}, {"groupBoxActivePIDs", "Active PIDs"},
        {"groupBoxAddPIDs", "Add PID"}, {"textLabelPIDValue", "PID value:"},
        {"checkBoxHex", "Hex"}, {"buttonAddPid", "Add"},
    };
    for (const auto& entry : table) {
        QObject* object = child(form, entry[0]);
        ASSERT_NE(object, nullptr) << entry[0];
        EXPECT_EQ(shownText(object), QString::fromUtf8(entry[1])) << entry[0];
    }
    // The group box around the filter's radio buttons carries the group's title.
    EXPECT_EQ(form.radioButtonDefaultAddr->parentWidget()->property("title").toString(),
              "MPE filter");

    const QStringList tabs = {"Tuner", "LNB", "DiSEqC", "MPE filter", "PID filter"};
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(form.tabWidgetMain->tabText(i), tabs[i]);

    EXPECT_EQ(comboItems(form.comboBoxProviders), QStringList{""});
    EXPECT_EQ(comboItems(form.comboBoxPolarisation), (QStringList{"H (+18)", "V (+13)"}));
    EXPECT_EQ(comboItems(form.comboBoxFEC), (QStringList{"Auto", "1/2", "2/3", "3/4", "3/5",
                                                         "4/5", "5/6", "5/11", "8/9", "9/10"}));
    EXPECT_EQ(comboItems(form.comboBoxModulation), (QStringList{"Auto", "DVB-S", "DVB-S2"}));
    EXPECT_EQ(comboItems(form.lnbTypeComboBox),
              (QStringList{"UNIVERSAL", "C-BAND", "KU-CIRCULAR", "CUSTOM"}));
    EXPECT_EQ(comboItems(form.comboBoxDiSEqC10),
              (QStringList{"Pos:A, Opt:A (LNB1)", "Pos:A, Opt:B (LNB2)", "Pos:B, Opt:A (LNB3)",
                           "Pos:B, Opt:B (LNB4)"}));
    for (QComboBox* combo : form.findChildren<QComboBox*>())
        EXPECT_FALSE(combo->isEditable()) << qPrintable(combo->objectName());

    EXPECT_EQ(form.lnbTypeComboBox->toolTip(), "LNB type");
    EXPECT_EQ(form.framePower->toolTip(), "Power status");
    EXPECT_EQ(form.buttonPower->toolTip(), "Power on/off");
    EXPECT_TRUE(form.buttonPower->isCheckable());
    ASSERT_EQ(form.listActivePids->columnCount(), 2);
    EXPECT_EQ(form.listActivePids->headerItem()->text(0), "PID");
    EXPECT_EQ(form.listActivePids->headerItem()->text(1), "Status");
    EXPECT_TRUE(form.listActivePids->allColumnsShowFocus());
    EXPECT_EQ(form.listSelectedPids->minimumHeight(), 80);
    EXPECT_GE(form.pixmapLabelStatus->minimumHeight(), 22);
    EXPECT_GE(form.framePower->minimumHeight(), 16);
    EXPECT_FALSE(form.isSizeGripEnabled());
    EXPECT_FALSE(form.windowIcon().isNull());
}

TEST(FormWidgets, InitialStateOfGroupsAndButtons)
{
    KestIpDataForm form;
    EXPECT_TRUE(form.groupBoxDiSEqC1_2->isCheckable());
    EXPECT_TRUE(form.groupBoxDiSEqC1_0->isCheckable());
    EXPECT_FALSE(form.groupBoxDiSEqC1_0->isChecked());
    EXPECT_TRUE(form.groupBoxRAW->isCheckable());
    EXPECT_FALSE(form.groupBoxRAW->isChecked());
    EXPECT_EQ(form.buttonGroupFilter->id(form.radioButtonDefaultAddr), 0);
    EXPECT_EQ(form.buttonGroupFilter->id(form.radioButtonMACAddr), 1);
    EXPECT_EQ(form.buttonGroupFilter->id(form.radioButtonIPAddr), 2);
    EXPECT_EQ(form.buttonGroupFilter->checkedId(), 0);
    form.radioButtonIPAddr->click();
    EXPECT_EQ(form.buttonGroupFilter->checkedId(), 2);
    EXPECT_EQ(form.textLabelDefaultMAC->text(), "00:00:00:00:00:00\n");
}

// Types `keys` into a fresh copy of the line edit's constraints.
QString typed(QLineEdit* edit, const QString& keys)
{
    edit->clear();
    QTest::keyClicks(edit, keys);
    return edit->text();
}

TEST(FormWidgets, LineEditsTakeOnlyWhatTheirFieldsHold)
{
    KestIpDataForm form;
    for (QLineEdit* edit : {form.lineEditFreq, form.lineEditSmbRate}) {
        EXPECT_EQ(typed(edit, "1a17x78"), "11778");
        EXPECT_TRUE(edit->hasAcceptableInput());
        EXPECT_EQ(typed(edit, "123456"), "12345") << "five digits at most";
        EXPECT_EQ(typed(edit, "2750"), "2750");
        EXPECT_FALSE(edit->hasAcceptableInput()) << "the pattern asks for five digits";
    }
    EXPECT_EQ(typed(form.lineEditPidValue, "8x1912"), "8191") << "four characters at most";
    EXPECT_EQ(typed(form.lineEditPidValue, "1f"), "1");

    form.groupBoxRAW->setChecked(true);   // an unchecked group takes no input
    for (QLineEdit* edit : form.findChildren<QLineEdit*>()) {
        const QString name = edit->objectName();
        if (!name.startsWith("lineEditMAC") && !name.startsWith("RAW"))
            continue;
        EXPECT_EQ(typed(edit, "fG"), "f") << qPrintable(name);
        EXPECT_EQ(typed(edit, "A9b"), "A9") << qPrintable(name);
        EXPECT_TRUE(edit->hasAcceptableInput()) << qPrintable(name);
        if (name.startsWith("lineEditMAC")) {
            EXPECT_EQ(edit->maxLength(), 2);
        }
    }
    for (QLineEdit* edit : {form.lineEditIP0, form.lineEditIP1, form.lineEditIP2, form.lineEditIP3}) {
        EXPECT_EQ(edit->maxLength(), 3);
        EXPECT_EQ(typed(edit, "255"), "255");
        EXPECT_TRUE(edit->hasAcceptableInput());
        EXPECT_EQ(typed(edit, "0"), "0");
        EXPECT_TRUE(edit->hasAcceptableInput());
        typed(edit, "256");
        EXPECT_FALSE(edit->hasAcceptableInput());
        EXPECT_EQ(typed(edit, "1-x"), "1");
    }
    EXPECT_EQ(typed(form.lineEditGoto, "995"), "99");
    EXPECT_TRUE(form.lineEditGoto->hasAcceptableInput());

    EXPECT_EQ(form.lineEditLOF1->validator(), nullptr);
    EXPECT_EQ(form.lineEditLOF2->validator(), nullptr);
    EXPECT_EQ(form.lineEditSwitch->validator(), nullptr);
    EXPECT_EQ(form.lineEditLOF2->maxLength(), 5);
    EXPECT_EQ(form.lineEditSwitch->maxLength(), 5);
    EXPECT_EQ(typed(form.lineEditLOF1, "5150x"), "5150x");

    EXPECT_EQ(form.spinBoxTXCountMotor->minimum(), 0);
    EXPECT_EQ(form.spinBoxTXCountMotor->maximum(), 10);
    EXPECT_EQ(form.spinBoxTXCount->minimum(), 0);
    EXPECT_EQ(form.spinBoxTXCount->maximum(), 20);
    EXPECT_EQ(form.spinBoxGap->minimum(), 50);
    EXPECT_EQ(form.spinBoxGap->maximum(), 300);
    EXPECT_EQ(form.spinBoxGap->singleStep(), 10);
}

TEST(FormWidgets, HexadecimalPidPattern)
{
    QLineEdit edit;
    edit.setMaxLength(4);
    edit.setValidator(new QRegularExpressionValidator(QRegularExpression(KestPatterns::Hex4), &edit));
    EXPECT_EQ(typed(&edit, "1fFaB"), "1fFa");
    EXPECT_TRUE(edit.hasAcceptableInput());
    EXPECT_EQ(typed(&edit, "g1"), "1");
}

TEST(FormWidgets, TabOrder)
{
    KestIpDataForm form;
    QStringList expected = {"comboBoxProviders", "buttonNew", "buttonEdit", "buttonRemove",
                            "tabWidgetMain", "lineEditFreq", "lineEditSmbRate",
                            "comboBoxPolarisation", "comboBoxModulation", "comboBoxFEC",
                            "buttonSet", "lnbTypeComboBox", "lineEditLOF1", "lineEditSwitch",
                            "lineEditLOF2", "buttonPower", "comboBoxDiSEqC10",
                            "radioButtonDefaultAddr"};
    for (int i = 0; i < 6; ++i)
        expected << QString("lineEditMAC%1").arg(i);
    for (int i = 0; i < 4; ++i)
        expected << QString("lineEditIP%1").arg(i);
    expected << "lineEditPidValue" << "checkBoxHex" << "buttonAddPid" << "buttonRemovePid"
             << "listSelectedPids" << "listActivePids";

    QStringList chain;
    QWidget* start = form.comboBoxProviders;
    QWidget* widget = start;
    do {
        if (expected.contains(widget->objectName()))
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != start && chain.size() < 2 * expected.size());
    EXPECT_EQ(chain, expected);
}

// The images of the lock indicator, told apart by their cache keys: every
// load makes a new pixmap.
struct IndicatorImages {
    qint64 window;
    qint64 tray;
};

IndicatorImages images(const KestIpDataForm& form)
{
    return {form.pixmapLabelStatus->pixmap(Qt::ReturnByValue).cacheKey(), form.tray()->icon().cacheKey()};
}

QImage shownImage(const QPixmap& pixmap)
{
    return pixmap.toImage();
}

QImage embeddedImage(const char* name)
{
    return QPixmap::fromImage(EmbeddedImageFactory::defaultFactory().data(name)).toImage();
}

TEST(FormIndicator, SameStateReloadsNothingAndEachChangeLoadsBothImages)
{
    KestIpDataForm form;
    ASSERT_NE(form.tray(), nullptr);
    EXPECT_EQ(form.indicator(), 0);
    EXPECT_EQ(shownImage(form.pixmapLabelStatus->pixmap(Qt::ReturnByValue)), embeddedImage("nolock2.png"));
    EXPECT_EQ(shownImage(form.tray()->icon()), embeddedImage("nolocksmall.png"));

    IndicatorImages before = images(form);
    form.setIndStatus(0);
    EXPECT_EQ(images(form).window, before.window);
    EXPECT_EQ(images(form).tray, before.tray);

    int windowChanges = 0;
    int trayChanges = 0;
    for (int status : {1, 2, 2}) {
        form.setIndStatus(status);
        const IndicatorImages now = images(form);
        windowChanges += now.window != before.window;
        trayChanges += now.tray != before.tray;
        before = now;
    }
    EXPECT_EQ(windowChanges, 2);
    EXPECT_EQ(trayChanges, 2);
    EXPECT_EQ(shownImage(form.pixmapLabelStatus->pixmap(Qt::ReturnByValue)), embeddedImage("activ2.png"));
    EXPECT_EQ(shownImage(form.tray()->icon()), embeddedImage("activsmall.png"));

    form.setIndStatus(1);
    EXPECT_EQ(shownImage(form.pixmapLabelStatus->pixmap(Qt::ReturnByValue)), embeddedImage("lock2.png"));
    EXPECT_EQ(shownImage(form.tray()->icon()), embeddedImage("locksmall.png"));

    // An unknown state is kept but shows nothing new; leaving it reloads.
    before = images(form);
    form.setIndStatus(7);
    EXPECT_EQ(form.indicator(), 7);
    EXPECT_EQ(images(form).window, before.window);
    form.setIndStatus(1);
    EXPECT_NE(images(form).window, before.window);
}

struct BandSet {
    QVector<int> percents;
    QVector<QColor> colours;
};

BandSet bandsOf(const LedMeter& meter)
{
    BandSet set;
    for (const LedMeter::Band& band : meter.bands()) {
        set.percents << band.percent;
        set.colours << band.colour;
    }
    return set;
}

TEST(FormMeters, BandsFollowTheModel)
{
    const QColor red(Qt::red), yellow(Qt::yellow), green(Qt::green);
    for (int model = 0; model <= 7; ++model) {
        LedMeter level, quality;
        addLedMeterBands(level, quality, model);
        const BandSet l = bandsOf(level), q = bandsOf(quality);
        if (model >= 3 && model <= 5) {
            EXPECT_EQ(l.percents, (QVector<int>{20, 20, 60})) << model;
            EXPECT_EQ(l.colours, (QVector<QColor>{red, yellow, green})) << model;
            EXPECT_EQ(q.percents, (QVector<int>{40, 20, 40})) << model;
        } else {
            EXPECT_EQ(l.percents, (QVector<int>{16, 84})) << model;
            EXPECT_EQ(l.colours, (QVector<QColor>{red, green})) << model;
            EXPECT_FALSE(l.colours.contains(yellow)) << model;
            EXPECT_EQ(q.percents, (QVector<int>{10, 10, 80})) << model;
        }
        EXPECT_EQ(q.colours, (QVector<QColor>{red, yellow, green})) << model;
    }

    KestIpDataForm form;   // no card detected: the plain bands
    EXPECT_EQ(bandsOf(*form.ledMeterAGC).percents, (QVector<int>{16, 84}));
    EXPECT_EQ(bandsOf(*form.ledMeterSNR).percents, (QVector<int>{10, 10, 80}));
    EXPECT_EQ(form.ledMeterAGC->range(), 100);
    EXPECT_EQ(form.ledMeterAGC->lineWidth(), 2);
    EXPECT_EQ(form.ledMeterSNR->value(), 0);
}

TEST(FormMeters, DefaultMacIsUpperCaseHexWithALineFeed)
{
    const quint8 mac[6] = {0x00, 0x1a, 0xB0, 0x03, 0xe0, 0xff};
    EXPECT_EQ(defaultMacText(mac), "00:1A:B0:03:E0:FF\n");
}

// Push buttons get a style's minimum width whatever their text; the provider
// buttons take only what their texts need, and the combo box the rest of the row.
TEST(FormLayout, ProviderComboBoxTakesTheRoomItsRowHas)
{
    KestIpDataForm form;
    form.resize(439, 592);
    form.show();
    form.layout()->activate();
    QWidget* row = form.groupProviders;
    row->layout()->activate();
    int buttons = 0;
    for (QPushButton* button : {form.buttonNew, form.buttonEdit, form.buttonRemove}) {
        const std::string name = button->objectName().toStdString();
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_GE(button->width(), text) << name;
        EXPECT_LE(button->width(), text + 24) << name;
        buttons += button->width();
    }
    const QRect inside = row->contentsRect().marginsRemoved(row->layout()->contentsMargins());
    EXPECT_EQ(form.comboBoxProviders->width() + buttons + 3 * row->layout()->spacing(), inside.width());
}

class KeyForm : public KestIpDataForm {
public:
    int statisticsRequests = 0;

protected:
    void openStatistics() override { ++statisticsRequests; }
};

void press(QWidget& widget, int key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&widget, &event);
}

TEST(FormKeys, ControlTOpensStatisticsAndEscapeStillCloses)
{
    KeyForm form;
    form.show();
    press(form, Qt::Key_T, Qt::ShiftModifier | Qt::ControlModifier);
    press(form, Qt::Key_T, Qt::NoModifier);
    press(form, Qt::Key_T, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(form.statisticsRequests, 0);
    press(form, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(form.statisticsRequests, 1);
    EXPECT_TRUE(form.isVisible());
    press(form, Qt::Key_Escape, Qt::NoModifier);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

// Typed as a person types: the key goes to whichever widget has the focus. A
// focused combo box keeps Ctrl+T for its own keyboard search, and the provider
// combo box has the focus right after start-up.
TEST(FormKeys, ControlTOpensStatisticsWhicheverWidgetHasTheFocus)
{
    KeyForm form;
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (QWidget* widget : std::initializer_list<QWidget*>{form.comboBoxProviders, form.comboBoxPolarisation,
                                                            form.lnbTypeComboBox, form.lineEditFreq}) {
        SCOPED_TRACE(widget->objectName().toStdString());
        for (QWidget* page = widget->parentWidget(); page != nullptr; page = page->parentWidget())
            if (form.tabWidgetMain->indexOf(page) >= 0)
                form.tabWidgetMain->setCurrentWidget(page);
        widget->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), widget);
        form.statisticsRequests = 0;
        QTest::keyClick(widget, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(form.statisticsRequests, 0);
        QTest::keyClick(widget, Qt::Key_T, Qt::ControlModifier);
        EXPECT_EQ(form.statisticsRequests, 1);
    }
}

TEST(FormWiring, SlotsInOrderAndEveryWidgetSignalConnected)
{
    const QMetaObject& meta = KestIpDataForm::staticMetaObject;
    QStringList slotNames;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() == QMetaMethod::Slot)
            slotNames << QString::fromLatin1(meta.method(i).methodSignature());
    EXPECT_EQ(slotNames, (QStringList{
        "setIndStatus(int)", "buttonSet_clicked()", "lnbTypeComboBox_activated(int)",
        "buttonPower_toggled(bool)", "framePowerSetOn(bool)", "buttonAddPid_clicked()",
        "checkBoxHex_stateChanged(int)", "buttonRemovePid_clicked()",
        "radioButtonDefaultAddr_clicked()", "radioButtonMACAddr_clicked()",
        "radioButtonIPAddr_clicked()", "buttonNew_clicked()", "buttonEdit_clicked()",
        "buttonRemove_clicked()", "comboBoxProviders_activated(int)", "languageChange()",
        "keyPressEvent(QKeyEvent*)", "timerEvent(QTimerEvent*)"}));

    // disconnect() reports whether the connection was there.
    KestIpDataForm form;
    using F = KestIpDataForm;
    EXPECT_TRUE(QObject::disconnect(form.buttonSet, &QPushButton::clicked, &form, &F::buttonSet_clicked));
    EXPECT_TRUE(QObject::disconnect(form.lnbTypeComboBox, QOverload<int>::of(&QComboBox::activated),
                                    &form, &F::lnbTypeComboBox_activated));
    EXPECT_TRUE(QObject::disconnect(form.buttonPower, &QPushButton::toggled, &form, &F::buttonPower_toggled));
    EXPECT_TRUE(QObject::disconnect(form.buttonAddPid, &QPushButton::clicked, &form, &F::buttonAddPid_clicked));
    EXPECT_TRUE(QObject::disconnect(form.checkBoxHex, &QCheckBox::stateChanged, &form,
                                    &F::checkBoxHex_stateChanged));
    EXPECT_TRUE(QObject::disconnect(form.buttonRemovePid, &QPushButton::clicked, &form,
                                    &F::buttonRemovePid_clicked));
    EXPECT_TRUE(QObject::disconnect(form.radioButtonDefaultAddr, &QRadioButton::clicked, &form,
                                    &F::radioButtonDefaultAddr_clicked));
    EXPECT_TRUE(QObject::disconnect(form.radioButtonMACAddr, &QRadioButton::clicked, &form,
                                    &F::radioButtonMACAddr_clicked));
    EXPECT_TRUE(QObject::disconnect(form.radioButtonIPAddr, &QRadioButton::clicked, &form,
                                    &F::radioButtonIPAddr_clicked));
    EXPECT_TRUE(QObject::disconnect(form.buttonNew, &QPushButton::clicked, &form, &F::buttonNew_clicked));
    EXPECT_TRUE(QObject::disconnect(form.buttonEdit, &QPushButton::clicked, &form, &F::buttonEdit_clicked));
    EXPECT_TRUE(QObject::disconnect(form.buttonRemove, &QPushButton::clicked, &form, &F::buttonRemove_clicked));
    EXPECT_TRUE(QObject::disconnect(form.comboBoxProviders, QOverload<int>::of(&QComboBox::activated),
                                    &form, &F::comboBoxProviders_activated));
}

TEST(FormTranslation, RussianReplacesTheCaptions)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load("KestIPData_ru_RU", QString(KEST_BIN_DIR) + "/Translations"))
        << "the .qm next to the program";
    EXPECT_EQ(russian.translate("KestIpDataForm", "Provider"), QString::fromUtf8("Провайдер"));
    QApplication::installTranslator(&russian);
    {
        KestIpDataForm form;
        EXPECT_EQ(form.groupProviders->title(), QString::fromUtf8("Провайдер"));
        EXPECT_EQ(form.buttonSet->text(), QString::fromUtf8("Применить"));
        EXPECT_EQ(form.comboBoxModulation->itemText(0), QString::fromUtf8("Авто"));
        EXPECT_EQ(form.groupBoxTunerSetting->title(), QString::fromUtf8("Настройка тюнера"));
    }
    QApplication::removeTranslator(&russian);
    KestIpDataForm english;
    EXPECT_EQ(english.groupProviders->title(), "Provider");
}

// The statistics window in Russian: no caption of it is left in English (numbers and
// the word PID aside).
TEST(FormTranslation, StatisticsWindowIsRussianThroughout)
{
    struct NoRates : MainRateSource {
        RateHistory history;
        const RateHistory& adapterRateHistory() const override { return history; }
    } rates;
    QTranslator russian;
    ASSERT_TRUE(russian.load("KestIPData_ru", QString(KEST_BIN_DIR) + "/Translations"));
    QApplication::installTranslator(&russian);
    TestForm form(nullptr, rates);
    QStringList texts = {form.windowTitle()};
    for (const QLabel* label : form.findChildren<QLabel*>())
        texts << label->text() << label->toolTip();
    for (const QGroupBox* box : form.findChildren<QGroupBox*>())
        texts << box->title();
    for (const QAbstractButton* button : form.findChildren<QAbstractButton*>())
        texts << button->text();
    for (const QTabWidget* tabs : form.findChildren<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
    for (const QTreeWidget* tree : form.findChildren<QTreeWidget*>())
        for (int i = 0; i < tree->columnCount(); ++i)
            texts << tree->headerItem()->text(i);
    QApplication::removeTranslator(&russian);
    const QRegularExpression english("[A-Za-z]{2,}");
    for (const QString& text : texts)
        if (text != "PID")
            EXPECT_FALSE(english.match(QString(text)
                                           .remove("PID")
                                           .remove("DSM-CC")
                                           .remove("CRC")
                                           .remove("LLC/SNAP")
                                           .remove("MPE")
                                           .remove("BB")
                                           .remove("GSE")
                                           .remove("ULE"))
                             .hasMatch())
                << "left in English: " << text.toStdString();
}

// At the desktop's usual 9 point sans font (the offscreen platform's own
// default is 12 points) the whole layout fits the default window size.
TEST(FormLayout, DefaultSizeHoldsTheLayoutInBothLanguages)
{
    const QFont platformFont = QApplication::font();
    QApplication::setFont(QFont("DejaVu Sans", 9));
    QTranslator russian;
    ASSERT_TRUE(russian.load("KestIPData_ru", QString(KEST_BIN_DIR) + "/Translations"));
    for (bool translated : {false, true}) {
        if (translated)
            QApplication::installTranslator(&russian);
        KestIpDataForm form;
        const QSize minimum = form.minimumSizeHint();
        EXPECT_LE(minimum.width(), 439) << (translated ? "ru" : "en");
        EXPECT_LE(minimum.height(), 592) << (translated ? "ru" : "en");
        EXPECT_GE(form.width(), 377);
        EXPECT_GE(form.height(), 488);
    }
    QApplication::removeTranslator(&russian);
    QApplication::setFont(platformFont);
}

} // namespace
