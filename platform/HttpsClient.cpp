#include "platform/HttpsClient.h"

#include <QFile>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

struct Sink {
    QByteArray body;
    qsizetype maxBytes = 0;
    bool full = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    const qsizetype room = sink->maxBytes - sink->body.size();
    if (static_cast<qsizetype>(n) <= room) {
        sink->body.append(data, static_cast<qsizetype>(n));
        if (sink->body.size() < sink->maxBytes)
            return n;
        // Exactly full: stop here rather than wait for more of a body we would not read.
    } else {
        sink->body.append(data, room);
    }
    sink->full = true;
    return CURL_WRITEFUNC_ERROR;
}

int AbortWhenCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

// Where libcurl looks for the system's certificates when told nothing else.
QString DefaultCaFile() {
    Easy easy(curl_easy_init());
    char* path = nullptr;
    if (easy && curl_easy_getinfo(easy.get(), CURLINFO_CAINFO, &path) == CURLE_OK && path)
        return QString::fromLocal8Bit(path);
    return QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
}

bool IsHttpsUrl(const QByteArray& url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.constData(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return false;
    const bool https = qstricmp(scheme, "https") == 0;
    curl_free(scheme);
    return https;
}

} // namespace

CurlHttpsClient::CurlHttpsClient(QString extraCaFile, int connectTimeoutMs, int totalTimeoutMs,
                                 QString systemCaFile)
    : extraCaFile_(std::move(extraCaFile)), connectTimeoutMs_(connectTimeoutMs),
      totalTimeoutMs_(totalTimeoutMs), systemCaFile_(std::move(systemCaFile)) {
    GlobalInit();
    if (extraCaFile_.isEmpty())
        return;
    // libcurl takes one CA file, and naming ours would drop the system's bundle. So the bundle
    // given from memory holds both: the system's certificates, then the extra ones. The system's
    // hashed certificate folder (CAPATH) stays at libcurl's default and is consulted as well.
    QFile extra(extraCaFile_);
    if (!extra.open(QIODevice::ReadOnly)) {
        caError_ = QStringLiteral("cannot read the CA file %1").arg(extraCaFile_);
        return;
    }
    QFile system(systemCaFile_.isEmpty() ? DefaultCaFile() : systemCaFile_);
    if (system.open(QIODevice::ReadOnly))
        caBundle_ = system.readAll() + '\n';
    caBundle_ += extra.readAll() + '\n';
}

HttpsResponse CurlHttpsClient::get(const QString& url, int maxBytes) {
    HttpsResponse r;
    if (cancelled_) {
        r.outcome = HttpsResponse::Outcome::Exception;
        r.error = QStringLiteral("cancelled");
        return r;
    }
    const QByteArray u = url.toUtf8();
    if (!IsHttpsUrl(u)) {
        r.outcome = HttpsResponse::Outcome::NoResponse;
        r.error = QStringLiteral("not a usable https address: %1").arg(url);
        return r;
    }
    if (!caError_.isEmpty()) {
        // Trusting less than we were asked to would only turn into a certificate failure later.
        r.outcome = HttpsResponse::Outcome::Exception;
        r.error = caError_;
        return r;
    }
    Easy easy(curl_easy_init());
    if (!easy) {
        r.outcome = HttpsResponse::Outcome::Exception;
        r.error = QStringLiteral("cannot start a transfer");
        return r;
    }
    CURL* c = easy.get();
    Sink sink;
    sink.maxBytes = qMax(0, maxBytes);
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(c, CURLOPT_URL, u.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Orvane Softphone");
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundle_.isEmpty()) {
        curl_blob blob{const_cast<char*>(caBundle_.constData()), static_cast<size_t>(caBundle_.size()),
                       CURL_BLOB_COPY};
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    }
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs_));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(totalTimeoutMs_));
    // No signals: the time-outs must not rely on SIGALRM in a program with other threads.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    // Checked while the transfer runs, so that a program on its way out does not wait for it.
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &AbortWhenCancelled);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &cancelled_);

    const CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && sink.full)) {
        r.outcome = HttpsResponse::Outcome::Ok;
        r.status = status;
        r.body = sink.body;
        return r;
    }
    r.outcome = (rc == CURLE_URL_MALFORMAT || rc == CURLE_UNSUPPORTED_PROTOCOL)
                    ? HttpsResponse::Outcome::NoResponse
                    : HttpsResponse::Outcome::Exception;
    r.status = status;
    r.error = QString::fromLocal8Bit(errorText[0] ? errorText : curl_easy_strerror(rc));
    return r;
}
