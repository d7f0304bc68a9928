// Imports a large Backpack account (50 pages of 40 elements, 200 images of
// 200 KB, one 100 MB attachment) from the local fake Backpack service into the
// local fake NoteStore, and reports the wall time, the importer's own CPU
// time (this process only: the fakes are child processes) and the peak
// memory of this process.
//
// Goals: the importer's CPU under 10% of the wall time on loopback; peak
// memory under twice the largest asset plus 150 MB.

#include "BackpackPageBuilder.h"

#include "app/AssetDownloader.h"
#include "app/RavadidoFromBackpackImporter.h"
#include "app/WorkQueue.h"
#include "backpack/TGBackpackAPI.h"
#include "foundation/SyncHttp.h"
#include "signin/WSKOAuthAuthentication.h"
#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>

using namespace importertest;

namespace {

constexpr int kPages = 50;
constexpr int kElementsPerPage = 40;
constexpr int kImagesPerGallery = 4;  // one gallery per page: 200 images
constexpr qint64 kImageSize = 200 * 1000;
constexpr qint64 kLargeSize = 100 * 1000 * 1000;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

QString noteText(int page, int element)
{
    QString text = QStringLiteral("h2. Abschnitt %1.%2\n\n").arg(page).arg(element);
    for (int i = 0; i < 6; ++i)
        text += QStringLiteral("Ein *wichtiger* Satz mit _Betonung_, \"Zitat\" & Ümläuten Nr. %1. ").arg(i);
    return text + QStringLiteral("\n\n* eins\n* zwei\n* drei");
}

// The account, and the sizes of its generated files.
QJsonObject benchmarkSite()
{
    QJsonArray pages;
    QJsonObject generated;
    for (int p = 0; p < kPages; ++p) {
        PageBuilder page(QString::number(1000 + p), QStringLiteral("Seite %1 – Übersicht").arg(p));
        for (int e = 0; e < kElementsPerPage; ++e) {
            const QString id = QStringLiteral("p%1e%2").arg(p).arg(e);
            if (e == 0) {
                QList<QStringList> images;
                for (int i = 0; i < kImagesPerGallery; ++i) {
                    const QString imageID = id + QStringLiteral("i%1").arg(i);
                    const QString name = QStringLiteral("foto %1.jpg").arg(i);
                    images << QStringList{imageID, name, QStringLiteral("Bild *%1*").arg(i)};
                    generated.insert(imageID + QLatin1Char('/') + name, kImageSize);
                }
                page.gallery(id, QStringLiteral("Galerie %1").arg(p), images);
            } else if (e == 1 && p == 0) {
                page.attachment(id, QStringLiteral("archiv groß.zip"));
                generated.insert(id + QStringLiteral("/archiv groß.zip"), kLargeSize);
            } else if (e % 10 == 5) {
                page.separator(id, QStringLiteral("—"));
            } else if (e % 10 == 9) {
                page.pageLink(id, QStringLiteral("Seite %1").arg((p + 1) % kPages));
            } else {
                switch (e % 4) {
                case 0:
                    page.list(id, QStringLiteral("Liste %1").arg(e),
                              {{QStringLiteral("Äpfel"), false}, {QStringLiteral("Brot & Butter"), true},
                               {QStringLiteral("*Käse*"), false}, {QStringLiteral("Wein"), true}});
                    break;
                case 1:
                    page.email(id, QStringLiteral("Betreff %1").arg(e),
                               QStringLiteral("Hallo <Welt>,\nZeile zwei & drei.\n") .repeated(8));
                    break;
                case 2:
                    page.email(id, QStringLiteral("Rundbrief %1").arg(e),
                               QStringLiteral("<html><body><p>Grüße &amp; mehr</p>%1</body></html>")
                                   .arg(QStringLiteral("<p>Absatz</p>").repeated(20)));
                    break;
                default:
                    page.note(id, QStringLiteral("Notiz %1").arg(e), noteText(p, e));
                }
            }
        }
        pages.append(page.pageEntry());
    }
    return QJsonObject{{"sitename", kSite}, {"token", kToken},  {"username", kUser},
                       {"password", kPassword}, {"pages", pages}, {"generated", generated}};
}

class Recorder : public RavadidoImporterDelegate
{
public:
    explicit Recorder(QEventLoop *loop) : m_loop(loop) {}
    OptionalError error;
    bool finished = false;
    int widgets = 0;

    void ravadidoImporterDidImportWidget(RavadidoFromBackpackImporter *, const WidgetRecord &,
                                         const BackpackPagePtr &) override
    {
        ++widgets;
    }
    void ravadidoImporterDidFinish(RavadidoFromBackpackImporter *) override
    {
        finished = true;
        m_loop->quit();
    }
    void ravadidoImporterDidFailWithError(RavadidoFromBackpackImporter *, const Error &e) override
    {
        error = e;
        m_loop->quit();
    }
    void ravadidoImporterWasCancelled(RavadidoFromBackpackImporter *) override { m_loop->quit(); }

private:
    QEventLoop *m_loop;
};

bool postControl(int port, const QString &what, const QByteArray &body)
{
    SyncHttp::Request r;
    r.method = "POST";
    r.url = QUrl(QStringLiteral("https://127.0.0.1:%1/_fake/%2").arg(port).arg(what));
    r.body = body;
    r.useCookies = false;
    OptionalError error;
    const auto response = SyncHttp::send(r, &error);
    return response && response->status == 200;
}

void BM_ImportLargeAccount(benchmark::State &state)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const TestCertificateAuthority &ca = TestCertificateAuthority::shared();
    LocalService backpack;
    LocalService noteStore;
    if (!ca.isValid() || !SyncHttp::setExtraCaFile(ca.caCertPath())
        || !backpack.startPython(QStringLiteral(BENCH_BACKPACK_FAKE), ca.serverArgs())
        || !noteStore.startPython(QStringLiteral(BENCH_NOTESTORE_FAKE), ca.serverArgs())) {
        state.SkipWithError("the local fakes did not start");
        return;
    }
    const QString domain = QStringLiteral("test.localhost:%1").arg(backpack.port());
    qputenv("LEAFHAUL_BACKPACK_DOMAIN", domain.toUtf8());
    qputenv("LEAFHAUL_BACKPACK_SIGNIN_HOST", QStringLiteral("signin.%1").arg(domain).toUtf8());
    if (!postControl(backpack.port(), QStringLiteral("site"),
                     QJsonDocument(benchmarkSite()).toJson(QJsonDocument::Compact))) {
        state.SkipWithError("the site could not be set");
        return;
    }

    auto api = std::make_shared<TGBackpackAPI>(kSite, kToken, kUser, kPassword);
    const auto pages = api->pages();
    if (!pages || pages->size() != kPages) {
        state.SkipWithError("the page list did not arrive");
        return;
    }
    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    auth.setAccessToken(kAccessToken);
    auth.setUserEmail(QStringLiteral("https://127.0.0.1:%1/shard/s1/notestore").arg(noteStore.port()));

    // Qt, the trust store and the page list, before the import begins.
    const double baseline = peakMegabytes();
    double wall = 0, cpu = 0;
    int widgets = 0;
    for (auto _ : state) {
        QEventLoop loop;
        Recorder recorder(&loop);
        auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, auth);
        importer->setDelegate(&recorder);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        importer->startImportingPages(*pages);
        loop.exec();
        WorkQueue::waitForBackgroundWork();
        wall = timer.nsecsElapsed() / 1e9;
        cpu = cpuSeconds() - cpuBefore;
        widgets = recorder.widgets;
        state.SetIterationTime(wall);
        if (!recorder.finished) {
            state.SkipWithError(recorder.error ? recorder.error->toString().toUtf8().constData() : "cancelled");
            return;
        }
    }

    const int elements = kPages * kElementsPerPage;
    const double peak = peakMegabytes();
    const double peakGoal = 2.0 * kLargeSize / (1024.0 * 1024.0) + 150.0;
    state.counters["wall_s"] = wall;
    state.counters["importer_cpu_s"] = cpu;
    state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
    state.counters["cpu_ms_per_element"] = 1000.0 * cpu / elements;
    state.counters["peak_MiB"] = peak;
    std::printf("\nimport of %d pages x %d elements (%d notes, %d images of %lld bytes, one file of %lld bytes)\n"
                "  wall time            %.2f s\n"
                "  importer CPU time    %.2f s = %.1f%% of wall (goal < 10%%), %.3f ms per element\n"
                "  peak memory          %.0f MiB (goal < %.0f MiB; %.0f MiB before the import)\n",
                kPages, kElementsPerPage, widgets, kPages * kImagesPerGallery, kImageSize, kLargeSize, wall, cpu,
                100.0 * cpu / wall, 1000.0 * cpu / elements, peak, peakGoal, baseline);
}

BENCHMARK(BM_ImportLargeAccount)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
