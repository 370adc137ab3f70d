#include "UIPlatform/Network.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <memory>

#include "UIPlatform/PlistVariant.h"

namespace velmora::ui {

namespace {

Network::RequestWatcher& Watcher() {
    static Network::RequestWatcher watcher;
    return watcher;
}

QNetworkAccessManager& Manager() {
    // One per thread: a manager answers only on the thread it was made in.
    static thread_local QNetworkAccessManager* manager = new QNetworkAccessManager;
    return *manager;
}

void Request(const QString& address, int timeoutMs, QObject* context,
             std::function<void(const FetchResult&)> done) {
    QPointer<QObject> guard(context);
    auto finish = [guard, done](const FetchResult& result) {
        if (guard && done)
            done(result);
    };
    if (!context)
        return;
    if (!Network::IsUsableAddress(address)) {
        QTimer::singleShot(0, context, [finish] { finish(FetchResult{}); });
        return;
    }
    QNetworkRequest request{QUrl(address)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(timeoutMs);
    if (const auto& watcher = Watcher())
        watcher(request.url());
    QNetworkReply* reply = Manager().get(request);
    // The transfer time-out only counts silence; this one bounds the whole.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(timeoutMs);
    auto tooBig = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, tooBig](qint64 received, qint64 total) {
                         if (received > Network::kMaxBody || total > Network::kMaxBody) {
                             *tooBig = true;
                             reply->abort();
                         }
                     });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, finish, tooBig] {
        FetchResult result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!*tooBig && reply->error() == QNetworkReply::NoError && result.status >= 200 &&
            result.status < 300) {
            result.body = reply->readAll();
            result.ok = result.body.size() <= Network::kMaxBody;
        }
        reply->deleteLater();
        finish(result);
    });
}

}  // namespace

void Network::SetRequestWatcher(RequestWatcher watcher) {
    Watcher() = std::move(watcher);
}

bool Network::IsUsableAddress(const QString& address) {
    if (address.trimmed().isEmpty())
        return false;
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == "http" || url.scheme() == "https") &&
           !url.host().isEmpty();
}

void Network::Probe(const QString& url, int timeoutMs, QObject* context,
                    std::function<void(bool)> done) {
    Request(url, timeoutMs, context,
            [done = std::move(done)](const FetchResult& r) { done(r.status > 0); });
}

void Network::Fetch(const QString& url, int timeoutMs, QObject* context,
                    std::function<void(const FetchResult&)> done) {
    Request(url, timeoutMs, context, std::move(done));
}

void Network::FetchPlist(const QString& url, int timeoutMs, QObject* context,
                         std::function<void(const QVariant&)> done) {
    Request(url, timeoutMs, context, [done = std::move(done)](const FetchResult& r) {
        done(r.ok ? ParsePlistBytes(r.body) : QVariant());
    });
}

}  // namespace velmora::ui
