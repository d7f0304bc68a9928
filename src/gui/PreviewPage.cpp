#include "gui/PreviewPage.h"

#include "signin/WebCertificateTrust.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QWebEngineCertificateError>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

namespace {

// Nothing in the preview can be selected, whatever the page's own styles.
const char kNoSelectionScript[] = R"(
(function() {
  var style = document.createElement('style');
  style.textContent = '* { -webkit-user-select: none !important; user-select: none !important; }';
  (document.head || document.documentElement).appendChild(style);
})();
)";

} // namespace

PreviewPage::PreviewPage(QObject *parent) : QWebEnginePage(parent)
{
    QWebEngineScript noSelection;
    noSelection.setName(QStringLiteral("leafhaul-no-selection"));
    noSelection.setSourceCode(QString::fromLatin1(kNoSelectionScript));
    noSelection.setInjectionPoint(QWebEngineScript::DocumentReady);
    noSelection.setWorldId(QWebEngineScript::ApplicationWorld);
    noSelection.setRunsOnSubFrames(true);
    scripts().insert(noSelection);

    connect(this, &QWebEnginePage::loadFinished, this,
            [this](bool) { runJavaScript(sidebarHidingScript(), QWebEngineScript::ApplicationWorld); });
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { answerWebCertificateError(error); });
}

QString PreviewPage::sidebarHidingScript()
{
    return QString(12, QLatin1Char('\t')) + QLatin1String("var d = document.getElementById('Sidebar');")
           + QString(6, QLatin1Char('\t')) + QLatin1String("d.style.display = 'none';");
}

bool PreviewPage::acceptsNavigation(NavigationType type)
{
    switch (type) {
    case NavigationTypeLinkClicked:
    case NavigationTypeFormSubmitted:
    case NavigationTypeBackForward:
    case NavigationTypeReload: return false;
    case NavigationTypeTyped:
    case NavigationTypeOther:
    case NavigationTypeRedirect: return true;
    }
    return true;
}

bool PreviewPage::acceptNavigationRequest(const QUrl &, NavigationType type, bool)
{
    return acceptsNavigation(type);
}

WebViewEventKillingWindow::WebViewEventKillingWindow(QWebEngineView *view) : QObject(view), m_view(view)
{
    watch(view);
}

void WebViewEventKillingWindow::watch(QObject *object)
{
    if (m_watched.contains(object))
        return;
    m_watched.insert(object);
    connect(object, &QObject::destroyed, this, [this, object] { m_watched.remove(object); });
    object->installEventFilter(this);
    for (QObject *child : object->children())
        if (child->isWidgetType())
            watch(child);
}

bool WebViewEventKillingWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child->isWidgetType())
            watch(child);
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint at = m_view->mapFromGlobal(mouse->globalPosition().toPoint());
        const bool overScrollBar = at.x() >= m_view->width() - kScrollBarStrip
                                   || at.y() >= m_view->height() - kScrollBarStrip;
        return !overScrollBar;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: return true;
    default: return false;
    }
    Q_UNUSED(watched);
}
