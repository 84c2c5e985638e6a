#include "util/gui/HtmlView.h"

#include "util/gui/WindowLook.h"

#include <QBuffer>
#include <QHash>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include <atomic>

namespace pelio::util {

namespace {

// The views' own documents are served under this scheme, so that a document of any size loads (the
// data: URL behind setHtml stops at 2 MB) and the view can tell its own loads from the page's.
const QByteArray kDocumentScheme = QByteArrayLiteral("pelio-html");
constexpr int kDefaultTimeLimitMs = 30000;

// Custom schemes must be registered before the browser engine starts, that is before the
// application object exists; a static initialiser of this file runs early enough.
void RegisterDocumentScheme() {
    QWebEngineUrlScheme scheme(kDocumentScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}
Q_CONSTRUCTOR_FUNCTION(RegisterDocumentScheme)

class DocumentStore : public QWebEngineUrlSchemeHandler {
  public:
    QString Add(const QString& html) {
        const QString key = QString::number(++m_next);
        // The byte-order mark fixes the encoding whatever the document's own meta tags say.
        m_documents.insert(key, QByteArrayLiteral("\xEF\xBB\xBF") + html.toUtf8());
        return key;
    }
    void Remove(const QString& key) { m_documents.remove(key); }

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        auto it = m_documents.constFind(job->requestUrl().path());
        if (it == m_documents.constEnd()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(*it);
        buffer->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/html"), buffer);
    }

  private:
    QHash<QString, QByteArray> m_documents;
    quint64 m_next = 0;
};

DocumentStore& Documents() {
    static DocumentStore* store = [] {
        auto* s = new DocumentStore;
        QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
        s->setParent(profile);
        profile->installUrlSchemeHandler(kDocumentScheme, s);
        return s;
    }();
    return *store;
}

HtmlView::NavigationKind KindOf(int type) {
    switch (static_cast<QWebEnginePage::NavigationType>(type)) {
        case QWebEnginePage::NavigationTypeLinkClicked:
            return HtmlView::NavigationKind::Link;
        case QWebEnginePage::NavigationTypeTyped:
            return HtmlView::NavigationKind::Typed;
        case QWebEnginePage::NavigationTypeFormSubmitted:
            return HtmlView::NavigationKind::Form;
        case QWebEnginePage::NavigationTypeBackForward:
            return HtmlView::NavigationKind::BackForward;
        case QWebEnginePage::NavigationTypeReload:
            return HtmlView::NavigationKind::Reload;
        case QWebEnginePage::NavigationTypeRedirect:
            return HtmlView::NavigationKind::Redirect;
        default:
            return HtmlView::NavigationKind::Other;
    }
}

}  // namespace

// The view's page: hands every navigation and new-window request to the view.
class HtmlView::Page : public QWebEnginePage {
  public:
    Page(HtmlView* view) : QWebEnginePage(view), m_view(view) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        return m_view->DecideNavigation(url, type, isMainFrame);
    }
    QWebEnginePage* createWindow(WebWindowType type) override;

  private:
    HtmlView* m_view;
};

// What a new-window request gets: a page that reports the address it was sent to and loads nothing.
class HtmlView::PopupPage : public QWebEnginePage {
  public:
    PopupPage(HtmlView* view) : QWebEnginePage(view), m_view(view) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (isMainFrame && !m_reported) {
            m_reported = true;
            if (m_view) m_view->DecideNewWindow(url);
            deleteLater();
        }
        return false;
    }

  private:
    QPointer<HtmlView> m_view;
    bool m_reported = false;
};

QWebEnginePage* HtmlView::Page::createWindow(WebWindowType) {
    return new PopupPage(m_view);
}

// Stops the resources a document asks for unless the owner allowed them; the navigations themselves
// are decided by the hook.
class HtmlView::Interceptor : public QWebEngineUrlRequestInterceptor {
  public:
    std::atomic<bool> allowed{false};

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (allowed.load()) return;
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) return;
        const QString scheme = info.requestUrl().scheme();
        if (scheme == QLatin1String(kDocumentScheme) || scheme == QLatin1String("data")) return;
        info.block(true);
    }
};

HtmlView::HtmlView(QWidget* parent)
    : QWebEngineView(parent), m_page(new Page(this)), m_interceptor(std::make_unique<Interceptor>()) {
    Documents();
    QWebEngineSettings* settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    // Faces a page names that this system lacks ("굴림" and other Windows faces) fall back to the
    // program's Korean font rather than to a serif face.
    settings->setFontFamily(QWebEngineSettings::StandardFont, kProductFont);
    settings->setFontFamily(QWebEngineSettings::SansSerifFont, kProductFont);
    m_page->setUrlRequestInterceptor(m_interceptor.get());
    setPage(m_page);

    connect(m_page, &QWebEnginePage::loadingChanged, this, &HtmlView::OnLoadingChanged);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, &HtmlView::closeRefused);
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(kDefaultTimeLimitMs);
    connect(&m_timeLimit, &QTimer::timeout, this, &HtmlView::OnTimeLimit);
}

HtmlView::~HtmlView() {
    if (!m_documentKey.isEmpty()) Documents().Remove(m_documentKey);
    // The page uses the interceptor until it is gone.
    setPage(nullptr);
    delete m_page;
}

void HtmlView::SetNavigationHook(NavigationHook hook) {
    m_hook = std::move(hook);
}

void HtmlView::SetRemoteResourcesAllowed(bool allowed) {
    m_interceptor->allowed = allowed;
    // The view's own documents count as local content, which reaches the network only when allowed.
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, allowed);
}

bool HtmlView::RemoteResourcesAllowed() const {
    return m_interceptor->allowed.load();
}

void HtmlView::SetLoadTimeLimit(int milliseconds) {
    m_timeLimit.setInterval(qMax(milliseconds, 0));
}

void HtmlView::LoadHtml(const QString& html) {
    if (!m_documentKey.isEmpty()) Documents().Remove(m_documentKey);
    m_documentKey = Documents().Add(html);
    QUrl url;
    url.setScheme(QLatin1String(kDocumentScheme));
    url.setPath(m_documentKey);
    BeginOwnLoad(url);
    m_page->load(url);
}

void HtmlView::LoadAddress(const QString& address) {
    if (address.startsWith(QLatin1String("about:"), Qt::CaseInsensitive)) {
        const QString html = address.mid(6);
        LoadHtml(html.compare(QLatin1String("blank"), Qt::CaseInsensitive) == 0 ? QString() : html);
        return;
    }
    LoadUrl(QUrl::fromUserInput(address));
}

void HtmlView::LoadUrl(const QUrl& url) {
    BeginOwnLoad(url);
    m_page->load(url);
}

void HtmlView::PostTo(const QUrl& url, const QByteArray& body, const QByteArray& contentType) {
    QWebEngineHttpRequest request(url, QWebEngineHttpRequest::Post);
    request.setPostData(body);
    request.setHeader(QByteArrayLiteral("Content-Type"), contentType);
    BeginOwnLoad(url);
    m_page->load(request);
}

void HtmlView::RunDomScript(const QString& script, ScriptCallback done) {
    switch (m_state) {
        case State::Empty:
            return;
        case State::Loading:
            m_queue.push_back({script, std::move(done)});
            return;
        case State::Ready:
            if (done)
                m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, done);
            else
                m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
            return;
    }
}

void HtmlView::BeginOwnLoad(const QUrl& url) {
    // Work queued for the document being replaced does not belong in the new one.
    m_queue.clear();
    m_state = State::Loading;
    m_ownNavigationPending = true;
    m_loadUrl = url;
    if (m_timeLimit.interval() > 0)
        m_timeLimit.start();
    else
        m_timeLimit.stop();
}

bool HtmlView::DecideNavigation(const QUrl& url, int type, bool isMainFrame) {
    // The navigation that one of the view's own loads starts.
    if (m_ownNavigationPending && isMainFrame && type == QWebEnginePage::NavigationTypeTyped &&
        url.scheme() == m_loadUrl.scheme() && url.host() == m_loadUrl.host()) {
        m_ownNavigationPending = false;
        m_loadUrl = url;
        return true;
    }
    const Navigation navigation{url, KindOf(type), isMainFrame};
    const bool allowed = m_hook && m_hook(navigation);
    // A redirect of a load under way that the owner lets through is still that load.
    if (allowed && isMainFrame && m_state == State::Loading && type == QWebEnginePage::NavigationTypeRedirect)
        m_loadUrl = url;
    return allowed;
}

bool HtmlView::DecideNewWindow(const QUrl& url) {
    const Navigation navigation{url, NavigationKind::NewWindow, true};
    if (!m_hook || !m_hook(navigation)) return false;
    LoadUrl(url);
    return true;
}

void HtmlView::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (m_state != State::Loading || info.url() != m_loadUrl) return;
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            return;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            EndLoad(true, QString());
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            EndLoad(false, QStringLiteral("stopped"));
            return;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            EndLoad(false, info.errorString().isEmpty() ? QStringLiteral("error %1").arg(info.errorCode())
                                                        : info.errorString());
            return;
    }
}

void HtmlView::OnTimeLimit() {
    if (m_state != State::Loading) return;
    // The load counts as ended before it is stopped, so the stop itself is not reported again.
    EndLoad(false, QStringLiteral("timeout"));
    m_page->triggerAction(QWebEnginePage::Stop);
}

void HtmlView::EndLoad(bool ok, const QString& reason) {
    m_timeLimit.stop();
    m_state = State::Ready;
    m_ownNavigationPending = false;
    const QUrl url = m_loadUrl;
    // Queued work goes to whatever document the view now shows, so that nothing waits forever.
    FlushQueue();
    if (!ok) emit loadFailed(url, reason);
    emit documentLoaded(ok);
}

void HtmlView::FlushQueue() {
    std::vector<Queued> queue;
    queue.swap(m_queue);
    // Scripts without a callback go together in one call: the engine's cost is per call, and a chat
    // that filled up while its page loaded may have queued hundreds of appends.
    QString batch;
    auto sendBatch = [&] {
        if (!batch.isEmpty()) m_page->runJavaScript(batch, QWebEngineScript::ApplicationWorld);
        batch.clear();
    };
    for (Queued& q : queue) {
        if (!q.done) {
            batch += q.script + QStringLiteral(";\n");
            continue;
        }
        sendBatch();
        m_page->runJavaScript(q.script, QWebEngineScript::ApplicationWorld, q.done);
    }
    sendBatch();
}

}  // namespace pelio::util
