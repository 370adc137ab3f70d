// The only network use of the program: asking whether the configured update
// host answers, and fetching its update description. Both are asynchronous
// with a time-out, and both do nothing (answering "no") when the configured
// address is empty, as it is in the shipped settings.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QUrl>
#include <QVariant>

#include <functional>

class QNetworkAccessManager;

namespace velmora::ui {

struct FetchResult {
    bool ok = false;  // a 2xx answer, complete, within the limits
    int status = 0;   // the HTTP status, 0 when none came
    QByteArray body;
};

class Network {
public:
    // The largest answer accepted; a larger one fails the fetch.
    static constexpr qint64 kMaxBody = 4 << 20;

    // Whether the host of `url` answers at all (any HTTP status) within
    // `timeoutMs`. `done` runs once, later, on the calling thread, unless
    // `context` is gone.
    static void Probe(const QString& url, int timeoutMs, QObject* context,
                      std::function<void(bool)> done);
    // The body at `url`.
    static void Fetch(const QString& url, int timeoutMs, QObject* context,
                      std::function<void(const FetchResult&)> done);
    // The property list at `url`; an invalid QVariant when the fetch failed
    // or the answer is no property list.
    static void FetchPlist(const QString& url, int timeoutMs, QObject* context,
                           std::function<void(const QVariant&)> done);

    // http and https addresses with a host; nothing else is ever asked.
    static bool IsUsableAddress(const QString& url);

    // Told of every request just before it goes out, on the requesting
    // thread; none when empty. Tests use it to prove which hosts were asked.
    using RequestWatcher = std::function<void(const QUrl&)>;
    static void SetRequestWatcher(RequestWatcher watcher);
};

}  // namespace velmora::ui
