#include "app/metrics_publisher.h"

#include "metrics/textfile.h"

#include <QSettings>
#include <QTimerEvent>

#include <cstdio>

namespace {

QString environmentOr(const char* variable, const QSettings& settings, const char* key)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? settings.value(QLatin1String(key)).toString() : value;
}

} // namespace

MetricsPublisher::Config MetricsPublisher::configFrom(const QSettings& settings)
{
    Config config;
    config.file = environmentOr("KEST_METRICS_FILE", settings, "Settings/MetricsFile");
    config.address = environmentOr("KEST_METRICS_ADDR", settings, "Settings/MetricsAddress");
    config.allowRemote = qEnvironmentVariable("KEST_METRICS_REMOTE") == QLatin1String("1");
    return config;
}

MetricsPublisher::MetricsPublisher(QString receiver, QString card, std::function<void(MetricsSnapshot&)> fill,
                                   QObject* parent)
    : QObject(parent), receiver_(receiver.toStdString()), card_(card.toStdString()), fill_(std::move(fill))
{
}

MetricsPublisher::~MetricsPublisher() = default;

bool MetricsPublisher::start(const Config& config, QString* problem)
{
    file_ = config.file;
    bool ok = true;
    if (!config.address.isEmpty()) {
        ListenAddress address;
        std::string error;
        auto server = std::make_unique<MetricsServer>();
        if (!parseListenAddress(config.address.toStdString(), config.allowRemote, &address, &error)
            || !server->start(address, &error)) {
            if (problem)
                *problem = QStringLiteral("metrics address %1").arg(QString::fromStdString(error));
            ok = false;
        } else {
            server_ = std::move(server);
        }
    }
    if (active()) {
        publish();
        timerId_ = startTimer(kPublishMs);
    }
    return ok;
}

quint16 MetricsPublisher::port() const { return server_ ? server_->port() : 0; }

std::string MetricsPublisher::snapshotText()
{
    MetricsSnapshot snapshot;
    snapshot.receiver = receiver_;
    snapshot.card = card_;
    if (fill_)
        fill_(snapshot);
    return formatMetrics(snapshot);
}

void MetricsPublisher::writeFile(const std::string& text)
{
    std::string error;
    if (writeFileAtomically(file_.toStdString(), text, &error)) {
        lastWriteError_.clear();
        return;
    }
    // Told once per kind of failure, not every five seconds.
    const QString why = QString::fromStdString(error);
    if (why != lastWriteError_)
        std::fprintf(stderr, "KestIpData: %s\n", error.c_str());
    lastWriteError_ = why;
}

void MetricsPublisher::publish()
{
    if (finished_ || !active())
        return;
    std::string text = snapshotText();
    if (!file_.isEmpty() && publications_ % kWriteEvery == 0)
        writeFile(text);
    ++publications_;
    if (server_)
        server_->publish(std::move(text));
}

void MetricsPublisher::finish()
{
    if (finished_ || !active())
        return;
    std::string text = snapshotText();
    if (!file_.isEmpty())
        writeFile(text);
    if (server_)
        server_->publish(std::move(text));
    finished_ = true;
    if (timerId_ != 0)
        killTimer(timerId_);
    timerId_ = 0;
}

void MetricsPublisher::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timerId_)
        publish();
    else
        QObject::timerEvent(event);
}
