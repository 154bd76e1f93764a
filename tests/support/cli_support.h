#pragma once
// Helpers for the tests of veresk-cli as a whole process: running it, a real Mosquitto
// broker and a real node_exporter on free loopback ports in scratch folders (stopped by
// their PIDs), and an MQTT subscriber over libmosquitto.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/simulator.h"

struct mosquitto;
struct mosquitto_message;

namespace veresk::testing {

// Readings the command tests look for: 0.25 uSv/h, 12.5 uSv, 21.5 degrees, 3900 mV.
void SetKnownReadings(sim::Simulator& device);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port (within timeoutMs).
bool WaitForListener(int port, int timeoutMs);

struct CliResult {
    int exitCode = -1;
    QString out, err;
};
// The process environment veresk-cli runs in: this process's (with the port-map
// sandbox's XDG_CONFIG_HOME), English messages.
QProcessEnvironment CliEnvironment();
// Runs veresk-cli to its end.
CliResult RunCli(const QStringList& args, int timeoutMs = 60000);

// veresk-cli running in the background (the log command).
class CliProcess {
public:
    explicit CliProcess(const QStringList& args);
    ~CliProcess();
    qint64 Pid() const { return process_.processId(); }
    // Waits until the accumulated stderr contains `text`.
    bool WaitForErr(const QString& text, int timeoutMs);
    QString Err();
    // SIGTERM and wait; returns the exit code (-1 when it did not end in time).
    int Terminate(int timeoutMs = 10000);
    void Kill();  // SIGKILL
    bool Running() const { return process_.state() != QProcess::NotRunning; }

private:
    QProcess process_;
    QString err_;
};

// A Mosquitto broker of our own: listener on a free loopback port (chosen at
// construction, kept across restarts), anonymous, no persistence, in a scratch folder.
class Broker {
public:
    Broker();
    ~Broker();
    bool Start();
    void Stop();
    int Port() const { return port_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};

// node_exporter with only the textfile collector, reading `folder`.
class NodeExporter {
public:
    explicit NodeExporter(const QString& folder);
    ~NodeExporter();
    bool Start();
    // The /metrics page (empty on failure), fetched with curl over loopback.
    QString Scrape();

private:
    QString folder_;
    QProcess process_;
    int port_ = 0;
};

// An MQTT subscriber that keeps every message it gets.
class Subscriber {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };
    explicit Subscriber(int brokerPort);
    ~Subscriber();
    // Connects and subscribes to `filter`; false when that fails within a few seconds.
    bool Subscribe(const QString& filter);
    std::vector<Message> Messages();
    // Waits until some message satisfies `match`; returns it (topic empty on timeout).
    Message WaitFor(const std::function<bool(const Message&)>& match, int timeoutMs);
    Message WaitFor(const QString& topic, const QByteArray& payload, int timeoutMs);

private:
    static void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m);
    int port_;
    struct mosquitto* client_ = nullptr;
    std::mutex mu_;
    std::vector<Message> messages_;
};

}  // namespace veresk::testing
