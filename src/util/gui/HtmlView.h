#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

#include <functional>
#include <memory>
#include <vector>

class QWebEngineLoadingInfo;

namespace pelio::util {

// The browser control of every window (notice, chat, transcript), on Qt WebEngine.
//
// Page scripts are off; the program's own DOM work runs through RunDomScript in a world of its own.
// Every navigation the page asks for (link click, new-window link, form, redirect, meta refresh, frame)
// goes through one hook that the owning window sets; without a hook only the view's own loads pass
// (LoadHtml, LoadAddress, LoadUrl, PostTo). A new-window request is reported to the hook and, when
// the hook allows it, loaded in this view; no second window is ever opened. A page's request to close
// the view is refused. Images, style sheets and every other resource a document asks for are fetched
// only when SetRemoteResourcesAllowed(true); the view's own documents are always served.
class HtmlView : public QWebEngineView {
    Q_OBJECT

  public:
    enum class NavigationKind { Link, NewWindow, Form, BackForward, Reload, Redirect, Typed, Other };
    struct Navigation {
        QUrl url;
        NavigationKind kind = NavigationKind::Other;
        bool mainFrame = true;
    };
    // Returns true to let the navigation happen in this view.
    using NavigationHook = std::function<bool(const Navigation&)>;
    using ScriptCallback = std::function<void(const QVariant&)>;

    explicit HtmlView(QWidget* parent = nullptr);
    ~HtmlView() override;

    void SetNavigationHook(NavigationHook hook);
    void SetRemoteResourcesAllowed(bool allowed);
    bool RemoteResourcesAllowed() const;
    // The longest a load may take before it is stopped and reported failed; 0 for no limit.
    void SetLoadTimeLimit(int milliseconds);

    // Loads a document given as HTML text, of any size.
    void LoadHtml(const QString& html);
    // Loads an address: "about:" followed by HTML loads that HTML ("about:blank" an empty document);
    // anything else is loaded as a URL.
    void LoadAddress(const QString& address);
    void LoadUrl(const QUrl& url);
    // Navigates with a POST request carrying body.
    void PostTo(const QUrl& url, const QByteArray& body,
                const QByteArray& contentType = QByteArrayLiteral("application/x-www-form-urlencoded"));

    // Runs script on the document in the application's own script world, in the order of the calls.
    // While a load of the view is under way the script waits for it to end; without any document
    // (nothing loaded yet) it is dropped. done, when given, receives the script's result.
    void RunDomScript(const QString& script, ScriptCallback done = {});

    // True once a document was loaded or is loading; false for a view that was never loaded.
    bool HasDocument() const { return m_state != State::Empty; }
    // True while a load of the view is under way.
    bool IsLoading() const { return m_state == State::Loading; }

  signals:
    // A load of the view ended; ok is false when it failed or ran out of time.
    void documentLoaded(bool ok);
    // A load of the view failed: the connection was refused, the address was not found, the server
    // broke off or the time limit ran out.
    void loadFailed(const QUrl& url, const QString& reason);
    // A page asked to close the view, which was refused.
    void closeRefused();

  private:
    class Page;
    class PopupPage;
    class Interceptor;
    enum class State { Empty, Loading, Ready };

    friend class Page;
    friend class PopupPage;

    bool DecideNavigation(const QUrl& url, int type, bool isMainFrame);
    bool DecideNewWindow(const QUrl& url);
    void BeginOwnLoad(const QUrl& url);
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnTimeLimit();
    void EndLoad(bool ok, const QString& reason);
    void FlushQueue();

    struct Queued {
        QString script;
        ScriptCallback done;
    };

    Page* m_page = nullptr;
    std::unique_ptr<Interceptor> m_interceptor;
    NavigationHook m_hook;
    State m_state = State::Empty;
    bool m_ownNavigationPending = false;
    QUrl m_loadUrl;
    QString m_documentKey;  // the document served for LoadHtml
    QTimer m_timeLimit;
    std::vector<Queued> m_queue;
};

}  // namespace pelio::util
