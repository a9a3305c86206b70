// The web engine side of the caller's page popup, built as a plugin (see callerpage.h).
#include "ui/outlink/callerpage.h"

#include <QDebug>
#include <QObject>
#include <QWebEngineCertificateError>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {
const QByteArray CONTENT_TYPE = QByteArrayLiteral("Content-Type");
const QByteArray FORM_CONTENT = QByteArrayLiteral("application/x-www-form-urlencoded");

// A page that accepts every certificate error of the page and of its resources, and keeps phone
// links for this phone: the web engine would hand them to the desktop's handler otherwise.
class TrustingPage : public QWebEnginePage
{
public:
    TrustingPage(QWebEngineProfile *profile, const std::function<bool(const QUrl &)> &keepLink)
        : QWebEnginePage(profile)
        , m_keepLink(keepLink)
    { }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (m_keepLink(url))
            return false;
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    bool certificateError(const QWebEngineCertificateError &error) override
    {
        qDebug() << "RemoteSite: certificate error accepted:" << error.url().host()
                 << error.errorDescription();
        return true;
    }

private:
    std::function<bool(const QUrl &)> m_keepLink;
};

class WebEngineView : public CallerPageView
{
public:
    WebEngineView(QWidget *parent, std::function<bool(const QUrl &)> keepLink, std::function<void()> loaded)
        : m_keepLink(std::move(keepLink))
        , m_profile(new QWebEngineProfile)
        , m_view(new QWebEngineView(parent))
        , m_page(new TrustingPage(m_profile, m_keepLink))
    {
        // The page starts empty; loading "about:blank" here would only add a finished signal
        // that could arrive after the first call's page has begun to load.
        m_view->setPage(m_page);
        QObject::connect(m_view, &QWebEngineView::loadFinished, m_view, [this, loaded](bool) {
            // A page prepared ahead starts with a blank entry; the caller's page is all there is.
            m_page->history()->clear();
            loaded();
            prepare_next_page();
        });
    }

    ~WebEngineView() override
    {
        // The web engine requires the view and its page gone before their profile.
        delete m_view;
        delete m_page;
        delete m_next;
        delete m_profile;
    }

    QWidget *widget() const override { return m_view; }

    void load(const QUrl &url, bool post, const QByteArray &body) override
    {
        if (m_page->history()->count() > 0 || !m_page->url().isEmpty()) {
            QWebEnginePage *previous = m_page;
            m_page = m_next ? m_next : new TrustingPage(m_profile, m_keepLink);
            m_next = nullptr;
            m_view->setPage(m_page);
            delete previous;
        }
        if (post) {
            QWebEngineHttpRequest request(url, QWebEngineHttpRequest::Post);
            request.setPostData(body);
            // The web engine sends a POST body without any content type unless told.
            if (!body.isEmpty())
                request.setHeader(CONTENT_TYPE, FORM_CONTENT);
            m_view->load(request);
        } else {
            m_view->load(QWebEngineHttpRequest(url));
        }
    }

private:
    // The page for the next call, made once the current one has loaded: a blank page whose
    // renderer is already running, so the next caller's page request leaves sooner. Nothing on
    // it leads back to an earlier caller's page.
    void prepare_next_page()
    {
        if (m_next)
            return;
        m_next = new TrustingPage(m_profile, m_keepLink);
        m_next->setUrl(QUrl(QStringLiteral("about:blank")));
    }

    std::function<bool(const QUrl &)> m_keepLink;
    QWebEngineProfile *m_profile;
    QWebEngineView *m_view;
    QWebEnginePage *m_page;
    QWebEnginePage *m_next = nullptr;
};
} // namespace

class CallerPagePlugin : public QObject, public CallerPageFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CALLER_PAGE_FACTORY_IID)
    Q_INTERFACES(CallerPageFactory)

public:
    CallerPageView *create(
        QWidget *parent, std::function<bool(const QUrl &)> keepLink, std::function<void()> loaded) override
    {
        return new WebEngineView(parent, std::move(keepLink), std::move(loaded));
    }
};

#include "callerpageplugin.moc"
