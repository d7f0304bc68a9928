#pragma once

#include <QObject>
#include <QSet>
#include <QWebEnginePage>

class QWebEngineView;

// The read-only preview of a Backpack page. Only the loads the program starts
// itself go ahead: links, form submissions, history moves and reloads are
// ignored. After every finished load the page's sidebar is hidden; nothing
// in it can be selected.
class PreviewPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit PreviewPage(QObject *parent = nullptr);

    // Run after every finished load; where the page has no sidebar it has no
    // visible effect.
    static QString sidebarHidingScript();
    static bool acceptsNavigation(NavigationType type);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    // The previewed site's console, and the sidebar script's complaint on
    // pages without one, are nobody's business here.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) override {}
};

// Drops the mouse presses, releases, moves, double clicks and drags aimed at
// the preview, so the page cannot be clicked, selected or dragged from; the
// wheel and the keys go through, and so does the mouse over the page's own
// scroll bars (Chromium draws them inside the page, along the right and
// bottom edges). Watches the view and the widget that really receives its
// input, which Qt creates and may replace as pages load.
class WebViewEventKillingWindow : public QObject
{
    Q_OBJECT
public:
    explicit WebViewEventKillingWindow(QWebEngineView *view);

    // The width of the strips along the right and bottom edges where the
    // page draws its scroll bars.
    static constexpr int kScrollBarStrip = 16;

    bool eventFilter(QObject *watched, QEvent *event) override;
    bool watches(const QObject *object) const { return m_watched.contains(object); }

private:
    void watch(QObject *child);

    QWebEngineView *m_view;
    QSet<const QObject *> m_watched;
};
