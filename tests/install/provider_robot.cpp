// Preloaded into KestIpData by the install tests (LD_PRELOAD) where no one can
// click: plays the user who stores the current reception setup as a provider
// named KEST_ROBOT_PROVIDER, through the widgets' object names - "New" in the
// main window, then the name and OK in the dialog it opens.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

bool newClicked = false;
bool nameGiven = false;

// Clicked from the event loop, not from the timer: the dialog runs its own loop.
void clickLater(QPushButton* button)
{
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

void playUser()
{
    const QString provider = qEnvironmentVariable("KEST_ROBOT_PROVIDER");
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!nameGiven && window->objectName() == QLatin1String("New") && window->isVisible()) {
            auto* name = window->findChild<QLineEdit*>(QStringLiteral("lineEditProvName"));
            auto* ok = window->findChild<QPushButton*>(QStringLiteral("buttonOK"));
            if (name != nullptr && ok != nullptr) {
                name->setText(provider);
                clickLater(ok);
                nameGiven = true;
            }
        } else if (!newClicked && window->objectName() == QLatin1String("KestIpData") && window->isVisible()) {
            auto* button = window->findChild<QPushButton*>(QStringLiteral("buttonNew"));
            if (button != nullptr && button->isEnabled()) {
                clickLater(button);
                newClicked = true;
            }
        }
    }
}

void startPlaying()
{
    if (qEnvironmentVariableIsEmpty("KEST_ROBOT_PROVIDER"))
        return;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        playUser();
        if (nameGiven)
            timer->stop();
    });
    timer->start(100);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startPlaying)
