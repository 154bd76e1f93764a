#include "cli/mqtt.h"

#include <mosquitto.h>

#include "cli/texts.h"

namespace veresk::cli {

namespace {
constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;
constexpr int kRetrySeconds = 2;  // between first connection attempts

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};
}  // namespace

MqttPublisher::MqttPublisher(const Broker& broker, const QString& prefix, Reporter report)
    : broker_(broker), prefix_(prefix), topics_(TopicsOf(prefix)), report_(std::move(report)) {}

MqttPublisher::~MqttPublisher() {
    if (client_ != nullptr) {
        if (looping_) mosquitto_loop_stop(client_, true);
        mosquitto_destroy(client_);
    }
}

bool MqttPublisher::Start(QString* error) {
    static LibraryInit init;
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) {
        *error = QStringLiteral("cannot create a client");
        return false;
    }
    const QByteArray will = topics_.state.toUtf8();
    int rc = mosquitto_will_set(client_, will.constData(), static_cast<int>(kOffline.size()), kOffline.constData(), kQos, true);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_reconnect_delay_set(client_, 1, 10, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
    TryConnect();
    return true;
}

void MqttPublisher::TryConnect() {
    const int rc = mosquitto_connect_async(client_, broker_.host.toUtf8().constData(), broker_.port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) {
        looping_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
        if (looping_) return;
    }
    nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::seconds(kRetrySeconds);
    std::lock_guard<std::mutex> lock(mu_);
    if (complained_) return;
    complained_ = true;
    report_(T(txt::MqttProblem).arg(broker_.host, QString::fromUtf8(mosquitto_strerror(rc))));
}

void MqttPublisher::Service() {
    if (client_ != nullptr && !looping_ && std::chrono::steady_clock::now() >= nextAttempt_) TryConnect();
}

void MqttPublisher::Publish(const QString& topic, const QByteArray& payload) {
    const QByteArray t = topic.toUtf8();
    mosquitto_publish(client_, nullptr, t.constData(), static_cast<int>(payload.size()), payload.constData(), kQos, true);
}

void MqttPublisher::OnConnect(struct mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc != 0) {
        p->report_(T(txt::MqttProblem).arg(p->broker_.host, QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    std::lock_guard<std::mutex> lock(p->mu_);
    p->connected_ = true;
    p->complained_ = false;
    for (const MqttMessage& m : DiscoveryConfigs(p->prefix_)) p->Publish(m.topic, m.payload);
    p->Publish(p->topics_.state, p->linkUp_ ? kOnline : kOffline);
    if (!p->lastReading_.isEmpty()) p->Publish(p->topics_.reading, p->lastReading_);
}

void MqttPublisher::OnDisconnect(struct mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->mu_);
    p->connected_ = false;
    if (rc != 0 && !p->complained_) {  // 0: we asked for it
        p->complained_ = true;
        p->report_(T(txt::MqttProblem).arg(p->broker_.host, QString::fromUtf8(mosquitto_strerror(rc))));
    }
}

void MqttPublisher::PublishReading(const QByteArray& json) {
    std::lock_guard<std::mutex> lock(mu_);
    lastReading_ = json;
    if (connected_) Publish(topics_.reading, json);
}

void MqttPublisher::PublishState(bool linkUp) {
    std::lock_guard<std::mutex> lock(mu_);
    if (linkUp == linkUp_) return;  // retained: a change is enough (a reconnection sends it again)
    linkUp_ = linkUp;
    if (connected_) Publish(topics_.state, linkUp ? kOnline : kOffline);
}

void MqttPublisher::Stop() {
    if (client_ == nullptr) return;
    if (!looping_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        linkUp_ = false;
        if (connected_) Publish(topics_.state, kOffline);
    }
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    client_ = nullptr;
}

}  // namespace veresk::cli
