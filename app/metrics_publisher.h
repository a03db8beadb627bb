// Publishes the receiver's metrics (metrics/exposition.h): every second to the
// HTTP endpoint, every five seconds and at the end to the metrics file.
//
// Where to: KEST_METRICS_FILE, else the setting Settings/MetricsFile; and
// KEST_METRICS_ADDR (HOST:PORT), else Settings/MetricsAddress. Only loopback
// addresses are served unless KEST_METRICS_REMOTE=1.
#pragma once

#include "metrics/exposition.h"
#include "metrics/http_server.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSettings;

class MetricsPublisher : public QObject {
    Q_OBJECT
public:
    static constexpr int kPublishMs = 1000;
    static constexpr int kWriteEvery = 5; // publications per file write

    struct Config {
        QString file;
        QString address;
        bool allowRemote = false;
    };
    // The environment over the settings.
    static Config configFrom(const QSettings& settings);

    // `fill` completes a snapshot whose receiver and card labels are set.
    MetricsPublisher(QString receiver, QString card, std::function<void(MetricsSnapshot&)> fill,
                     QObject* parent = nullptr);
    ~MetricsPublisher() override;

    // Starts what the configuration asks for; false with *problem when the
    // address is refused or cannot be listened on (the file is still written).
    bool start(const Config& config, QString* problem);
    bool active() const { return !file_.isEmpty() || server_ != nullptr; }
    // The port of the HTTP endpoint, 0 without one.
    quint16 port() const;

public slots:
    // One publication (and a file write when its turn has come).
    void publish();
    // The last publication and file write; nothing is published after it.
    void finish();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::string snapshotText();
    void writeFile(const std::string& text);

    std::string receiver_;
    std::string card_;
    std::function<void(MetricsSnapshot&)> fill_;
    QString file_;
    std::unique_ptr<MetricsServer> server_;
    int timerId_ = 0;
    int publications_ = 0;
    bool finished_ = false;
    QString lastWriteError_;
};
