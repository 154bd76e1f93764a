#include "support/cli_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veresk::testing {

namespace {

void Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void StopByPid(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    if (!p.waitForFinished(5000)) {
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        p.waitForFinished(5000);
    }
}

}  // namespace

void SetKnownReadings(sim::Simulator& device) {
    device.WithDevice([](sim::Device& d) {
        auto& s = d.State();
        s.doseRate = 0.25;
        s.dose = 12.5;
        s.temperature = 21.5;
        s.batteryMv = 3900;
    });
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool WaitForListener(int port, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = Loopback(port);
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) return true;
        Pause(50);
    }
    return false;
}

QProcessEnvironment CliEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    return env;
}

CliResult RunCli(const QStringList& args, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(CliEnvironment());
    p.start(QStringLiteral(VERESK_CLI), args);
    CliResult r;
    if (!p.waitForStarted(10000)) return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// ---------------------------------------------------------------- background CLI

CliProcess::CliProcess(const QStringList& args) {
    process_.setProcessEnvironment(CliEnvironment());
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(VERESK_CLI), args);
    process_.waitForStarted(10000);
}

CliProcess::~CliProcess() { StopByPid(process_); }

QString CliProcess::Err() {
    err_ += QString::fromUtf8(process_.readAllStandardError());
    return err_;
}

bool CliProcess::WaitForErr(const QString& text, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        process_.waitForReadyRead(100);
        if (Err().contains(text)) return true;
        if (!Running()) return Err().contains(text);
    }
    return false;
}

int CliProcess::Terminate(int timeoutMs) {
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(timeoutMs)) return -1;
    Err();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

void CliProcess::Kill() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    process_.waitForFinished(5000);
}

// ---------------------------------------------------------------- broker

Broker::Broker() : port_(FreeLoopbackPort()) {}
Broker::~Broker() { Stop(); }

bool Broker::Start() {
    const QString conf = dir_.path() + "/mosquitto.conf";
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(port_).toUtf8());
    f.close();
    process_.setWorkingDirectory(dir_.path());
    process_.start("/usr/sbin/mosquitto", {"-c", conf});
    return process_.waitForStarted(5000) && WaitForListener(port_, 10000);
}

void Broker::Stop() { StopByPid(process_); }

// ---------------------------------------------------------------- node_exporter

NodeExporter::NodeExporter(const QString& folder) : folder_(folder) {}
NodeExporter::~NodeExporter() { StopByPid(process_); }

bool NodeExporter::Start() {
    port_ = FreeLoopbackPort();
    process_.start("/usr/bin/prometheus-node-exporter",
                   {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_), "--collector.disable-defaults",
                    "--collector.textfile", "--collector.textfile.directory=" + folder_});
    return process_.waitForStarted(5000) && WaitForListener(port_, 10000);
}

QString NodeExporter::Scrape() {
    QProcess curl;
    curl.start("curl", {"-sS", "--max-time", "5", QStringLiteral("http://127.0.0.1:%1/metrics").arg(port_)});
    if (!curl.waitForFinished(10000) || curl.exitCode() != 0) return {};
    return QString::fromUtf8(curl.readAllStandardOutput());
}

// ---------------------------------------------------------------- subscriber

Subscriber::Subscriber(int brokerPort) : port_(brokerPort) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client_, &Subscriber::OnMessage);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
}

bool Subscriber::Subscribe(const QString& filter) {
    if (mosquitto_connect(client_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS) return false;
    if (mosquitto_subscribe(client_, nullptr, filter.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS) return false;
    return mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
}

void Subscriber::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard<std::mutex> lock(s->mu_);
    s->messages_.push_back({QString::fromUtf8(m->topic),
                            QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain});
}

std::vector<Subscriber::Message> Subscriber::Messages() {
    std::lock_guard<std::mutex> lock(mu_);
    return messages_;
}

Subscriber::Message Subscriber::WaitFor(const std::function<bool(const Message&)>& match, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    do {
        for (const Message& m : Messages())
            if (match(m)) return m;
        Pause(50);
    } while (t.elapsed() < timeoutMs);
    return {};
}

Subscriber::Message Subscriber::WaitFor(const QString& topic, const QByteArray& payload, int timeoutMs) {
    return WaitFor([&](const Message& m) { return m.topic == topic && m.payload == payload; }, timeoutMs);
}

}  // namespace veresk::testing
