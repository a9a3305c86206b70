// The web view of the caller's page popup. The web engine (Chromium and its libraries, some
// 25 MB resident) lives in a plugin, loaded only when an outlink page is configured, so that a
// bar without one never carries it.
#pragma once

#include <QByteArray>
#include <QUrl>
#include <QtPlugin>

#include <functional>

class QWidget;

// One web view with its own off-the-record profile.
class CallerPageView
{
public:
    virtual ~CallerPageView() = default;
    // The view widget, a child of the parent it was created with.
    virtual QWidget *widget() const = 0;
    // Loads a GET request, or a POST with body as a form (the content type is sent along with a
    // body). A page that already showed something is replaced by a new page first, so the last
    // caller's page is reachable neither by Back nor by a script of the new one.
    virtual void load(const QUrl &url, bool post, const QByteArray &body) = 0;
};

class CallerPageFactory
{
public:
    virtual ~CallerPageFactory() = default;
    // keepLink is asked about each navigation: true keeps the link from the page (it is a phone
    // link the bar dials). loaded is called whenever loading finished.
    // Creating the first view starts the web engine and its helper processes.
    virtual CallerPageView *create(
        QWidget *parent, std::function<bool(const QUrl &)> keepLink, std::function<void()> loaded)
        = 0;
};

#define CALLER_PAGE_FACTORY_IID "com.orvane.tarsel.CallerPageFactory/1"
Q_DECLARE_INTERFACE(CallerPageFactory, CALLER_PAGE_FACTORY_IID)

namespace CallerPage {
// The plugin's factory, loaded on the first call; null (the reason logged) when the plugin
// cannot be loaded. GUI thread only.
CallerPageFactory *factory();
} // namespace CallerPage
