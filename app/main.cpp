// KestIpData: one instance per user; the main window, its tray icon and the
// receiver behind them.
#include "app/kestipdataform.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "drivers/linuxdvb/dvb_register.h"
#include "drivers/satnic/satnic.h"
#include "drivers/simcard/sim_register.h"
#include "app/kestipdataform_geometry.h"
#include "app/metrics_publisher.h"
#include "app/qtsingleapplication.h"
#include "app/settings_store.h"
#include "app/trayicon.h"
#include "monitor/testform.h"
#include "platform/instance/instance_name.h"
#include "platform/qt/messagebox.h"
#include "platform/win32/debug.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTextCodec>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>


namespace {

// Title bar with close and minimise buttons, kept above other windows.
constexpr Qt::WindowFlags MainWindowFlags = Qt::Dialog | Qt::WindowTitleHint
    | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
    | Qt::WindowStaysOnTopHint;

// SIGTERM and SIGINT arrive through a pipe so that the window is closed from
// the event loop, as the tray menu's Quit does.
int signalPipe[2] = {-1, -1};
bool endRequested = false;
QPointer<KestIpDataForm> mainForm;

void onTerminate(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
}

// Installed before the window exists: a signal that comes early waits in the
// pipe until the event loop runs.
void catchTerminationSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// Watched from before the window exists. Quitting leaves every event loop,
// the main one and those of open message boxes alike (a box opened later
// returns at once), so the program ends even while a box waits for an answer;
// main then takes the receiver down as usual.
void quitOnSignals(QObject* owner)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        endRequested = true;
        if (mainForm)
            mainForm->accept();
        QCoreApplication::quit();
    });
}

// The statistics window as Ctrl+T shows it: `base`.png, and its error rows
// ("CAPTION VALUE") and PID rows ("PID COUNT PERCENT STATUS") in `base`.txt.
void saveStatistics(KestIpDataForm* form, const QString& base)
{
    TestForm statistics(form, *form);
    statistics.tick();
    statistics.grab().save(base + QStringLiteral(".png"));
    QString text;
    const auto* rows = qobject_cast<QGridLayout*>(statistics.groupDSMCCdecoder->layout());
    for (int row = 0; rows && row < rows->rowCount(); ++row) {
        QLayoutItem* caption = rows->itemAtPosition(row, 0);
        QLayoutItem* value = rows->itemAtPosition(row, 1);
        const auto* captionLabel = caption ? qobject_cast<QLabel*>(caption->widget()) : nullptr;
        const auto* valueLabel = value ? qobject_cast<QLabel*>(value->widget()) : nullptr;
        if (captionLabel && valueLabel)
            text += captionLabel->text() + ' ' + valueLabel->text() + '\n';
    }
    for (int i = 0; i < statistics.listActivePids->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = statistics.listActivePids->topLevelItem(i);
        text += QStringLiteral("PID %1 %2 %3 %4\n").arg(item->text(0), item->text(1), item->text(2), item->text(3));
    }
    QFile file(base + QStringLiteral(".txt"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
}

// KEST_SCREENSHOT_DIR: save each tab page of the shown window as
// DIR/<locale>-<n>-<page>.png and the tray icon's tooltip as DIR/<locale>-tooltip.txt,
// the statistics window as DIR/<locale>-statistics.png and .txt,
// then quit (used by scripts/screenshot and the process tests). KEST_SCREENSHOT_AFTER:
// seconds to run first (default 0.3), so that the pictures can show data flowing.
void saveScreenshotsLater(KestIpDataForm* form)
{
    const QString dir = QString::fromLocal8Bit(qgetenv("KEST_SCREENSHOT_DIR"));
    if (dir.isEmpty())
        return;
    bool valid = false;
    const double after = qEnvironmentVariable("KEST_SCREENSHOT_AFTER").toDouble(&valid);
    const int delayMs = valid && after >= 0 && after <= 3600 ? static_cast<int>(after * 1000) : 300;
    QTimer::singleShot(delayMs, form, [form, dir] {
        QDir().mkpath(dir);
        const QString locale = QLocale::system().name();
        for (int i = 0; i < form->tabWidgetMain->count(); ++i) {
            form->tabWidgetMain->setCurrentIndex(i);
            const QString name = QStringLiteral("%1/%2-%3-%4.png").arg(dir, locale)
                .arg(i + 1).arg(form->tabWidgetMain->widget(i)->objectName());
            form->grab().save(name);
        }
        QFile tooltip(QStringLiteral("%1/%2-tooltip.txt").arg(dir, locale));
        if (tooltip.open(QIODevice::WriteOnly | QIODevice::Truncate))
            tooltip.write(form->tray()->toolTip().toUtf8());
        saveStatistics(form, QStringLiteral("%1/%2-statistics").arg(dir, locale));
        form->accept();
    });
}

// Translations/KestIPData_<locale> from the working directory, else from the
// data folder of the installed program.
bool loadTranslation(QTranslator& translator)
{
    const QString file = QStringLiteral("Translations/KestIPData_") + QLocale::system().name();
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" KEST_DATA_FROM_BIN));
    for (const QString& dir : {QStringLiteral("."), installed}) {
        if (translator.load(file, dir)) {
            const QByteArray line = "KestIpData: translation " + QFile::encodeName(translator.filePath()) + '\n';
            OutputDebugStringA(line.constData());
            return true;
        }
    }
    return false;
}

// The card is KEST_CARD, else the instance's setting Settings/Card; the label
// of its metrics says which ("auto": the first Linux DVB card found).
QString chooseCard(const QSettings& settings)
{
    if (qEnvironmentVariableIsEmpty("KEST_CARD")) {
        const QString card = settings.value(QStringLiteral("Settings/Card")).toString().trimmed();
        if (!card.isEmpty())
            qputenv("KEST_CARD", card.toLocal8Bit());
    }
    const QString card = qEnvironmentVariable("KEST_CARD");
    return card.isEmpty() ? QStringLiteral("auto") : card;
}

// The metrics of this copy, when a file or an address is configured.
void publishMetrics(QObject* owner, KestIpDataForm* form, const QSettings& settings, const QString& card,
                    double startTime)
{
    const MetricsPublisher::Config config = MetricsPublisher::configFrom(settings);
    QPointer<KestIpDataForm> watched(form);
    auto* publisher = new MetricsPublisher(
        QString::fromStdString(instance::current()), card,
        [watched, startTime](MetricsSnapshot& s) {
            s.hasReceiver = true;
            s.version = KEST_VERSION;
            s.startTimeSeconds = startTime;
            if (watched) {
                const ReceiverStatus status = watched->receiverStatus();
                s.model = status.model.toStdString();
                s.locked = status.locked;
                s.signalLevel = status.strength / 100.0;
                s.signalQuality = status.quality / 100.0;
                s.frequencyHertz = uint64_t(qMax(status.frequency, 0)) * 1000000u;
                s.symbolRateBaud = uint64_t(qMax(status.symbolRate, 0)) * 1000u;
                s.vertical = status.vertical;
            }
            s.adapterOpen = decoderState().adapterHandle != nullptr;
            const satnic::Statistics adapter = satnic::statistics();
            s.deliveredFrames = adapter.frames;
            s.deliveredBytes = adapter.bytes;
            s.lostFrames = adapter.framesLost;
            readDecoderCounters(decoderState(), s);
        },
        owner);
    QString problem;
    if (!publisher->start(config, &problem))
        std::fprintf(stderr, "KestIpData: %s\n", qPrintable(problem));
    if (publisher->port() != 0)
        std::fprintf(stderr, "KestIpData: metrics on port %u\n", unsigned(publisher->port()));
    // The last figures are written while the counters still hold them.
    QObject::connect(form, &KestIpDataForm::receiverStopping, publisher, &MetricsPublisher::finish);
}

} // namespace

// The stand-ins for the card and the adapter driver, as the environment says.
static void installDrivers()
{
    std::string error;
    // A TAP interface that is not there yet is waited for: the receiver runs for months.
    satnic::installFromEnvironment(&error, satnic::InstallFor::FramesWhenTheInterfaceExists);
    if (!error.empty())
        std::fprintf(stderr, "KestIpData: %s\n", error.c_str());
    error.clear();
    if (!simcard::installFromEnvironment(&error))
        std::fprintf(stderr, "KestIpData: %s\n", error.c_str());
    // An adapter that cannot route the whole multiplex filters the PIDs being decoded.
    linuxdvb::setPidSource([](uint16_t* pids, size_t capacity) {
        DecoderChange change;
        size_t count = 0;
        for (int slot = 1; slot < kSlotCount && count < capacity; ++slot)
            if (decoderState().sectionSlots[slot].pid >= 0)
                pids[count++] = static_cast<uint16_t>(decoderState().sectionSlots[slot].pid);
        // A card in baseband-frame mode delivers its frames on one of these.
        for (uint16_t pid : {uint16_t(0x010E), uint16_t(0x0118)})
            if (count < capacity)
                pids[count++] = pid;
        return count;
    });
    error.clear();
    if (!linuxdvb::installFromEnvironment(&error))
        std::fprintf(stderr, "KestIpData: %s", error.c_str());
}

int main(int argc, char** argv)
{
    const double startTime = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    std::string name, problem;
    if (!instance::fromCommandLine(argc, argv, std::getenv("KEST_INSTANCE"), &name, &problem)) {
        std::fprintf(stderr, "KestIpData: %s\n", problem.c_str());
        return 2;
    }
    instance::setCurrent(name);
    QtSingleApplication app(QString::fromStdString(instance::applicationId(name)), argc, argv,
                            QString::fromStdString(name));
    // The listener is taken atomically: a copy started at the same moment
    // loses it and ends like any later one. Whoever finds the listener may
    // also signal this copy.
    const bool running = app.sendMessage(QStringLiteral("Are you there?"), 5000);
    if (!running)
        catchTerminationSignals();
    if (running || !app.startListening(true)) {
        if (!running && !app.listeningError().isEmpty()) {
            platform::qt::installMessageBoxHandler();
            platform::qt::messageBox(nullptr, QMessageBox::Critical, QStringLiteral("Fatal error"),
                                     QStringLiteral("Window messages cannot be received: %1.")
                                         .arg(app.listeningError()));
            return -1;
        }
        qWarning("Kest-IPData is already running");
        return 0;
    }
    platform::qt::installMessageBoxHandler();
    quitOnSignals(&app);
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));

    // Qt 5 reads C strings and tr() sources as UTF-8; of the three codecs
    // only the locale codec can still be chosen.
    if (QTextCodec* cp1251 = QTextCodec::codecForName("CP1251"))
        QTextCodec::setCodecForLocale(cp1251);

    QTranslator translator;
    if (loadTranslation(translator))
        app.installTranslator(&translator);
    // Qt's own texts (the standard buttons of the question boxes) in the same language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);
    // Before anything reads the settings (the geometry below), in the user's language.
    SettingsStore::setAsideUnreadableStores();
    SettingsStore::warnIfStoresCannotBeSaved();

    QSplashScreen* splash = nullptr;
    if (QFile::exists(QStringLiteral("splash.png"))) {
        splash = new QSplashScreen(QPixmap(QStringLiteral("splash.png")));
        splash->setAttribute(Qt::WA_DeleteOnClose);
        splash->show();
    }

    // The file the settings store writes at shutdown.
    QSettings settings(SettingsStore::settingsPath(), QSettings::IniFormat);
    QScreen* screen = QGuiApplication::primaryScreen();
    const SavedGeometry saved = readSavedGeometry(settings, screen->geometry());
    const WindowPlacement placement = placeMainWindow(screen->virtualGeometry(), saved);

    const QString card = chooseCard(settings);
    installDrivers();
    KestIpDataForm::enableReceiver(true);
    auto* form = new KestIpDataForm(nullptr, "KestIpData", false, MainWindowFlags);
    mainForm = form;
    publishMetrics(&app, form, settings, card, startTime);
    // A second start brings this window to the front.
    app.setMainWidget(form);
    showPlaced(*form, placement);

    if (splash)
        splash->finish(form);
    QApplication::restoreOverrideCursor();

    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    saveScreenshotsLater(form);
    const int result = endRequested ? 0 : app.exec();

    delete form; // saves the settings
    return result != 0 ? result : SettingsStore::saveFailed() ? 1 : 0;
}
