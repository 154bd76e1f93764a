#pragma once
// The log's MQTT side over libmosquitto: one connection with a last will of "offline"
// on <prefix>/state, kept up by libmosquitto's own network thread (it reconnects by
// itself after a broker restart).  Every (re)connection publishes the Home Assistant
// discovery configs, the link state and the last reading again, all retained, so a
// broker without persistence is filled in as soon as it is back.
#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>

#include "cli/formats.h"
#include "cli/options.h"

struct mosquitto;

namespace veresk::cli {

class MqttPublisher {
public:
    using Reporter = std::function<void(const QString&)>;  // called from the network thread too
    MqttPublisher(const Broker& broker, const QString& prefix, Reporter report);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Starts connecting in the background; false (with a message) only when the client
    // cannot be set up at all.
    bool Start(QString* error);
    // Called once a tick: until a first connection is under way (the broker may come
    // up after the station), tries again every few seconds.  After that libmosquitto's
    // network thread reconnects by itself.
    void Service();
    void PublishReading(const QByteArray& json);
    void PublishState(bool linkUp);  // only a change is sent
    // Publishes "offline" and disconnects cleanly (the will is not sent then).
    void Stop();

private:
    static void OnConnect(struct mosquitto*, void* self, int rc);
    static void OnDisconnect(struct mosquitto*, void* self, int rc);
    void Publish(const QString& topic, const QByteArray& payload);
    void TryConnect();

    Broker broker_;
    QString prefix_;
    MqttTopics topics_;
    Reporter report_;
    struct mosquitto* client_ = nullptr;
    std::mutex mu_;
    QByteArray lastReading_;
    bool linkUp_ = false;
    bool connected_ = false;
    bool complained_ = false;  // one message per outage of the broker
    bool looping_ = false;     // the network thread runs
    std::chrono::steady_clock::time_point nextAttempt_{};
};

}  // namespace veresk::cli
