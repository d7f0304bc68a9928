// Imports a large Backpack account (50 pages of 40 elements, 200 images of
// 200 KB, one 50 MiB attachment: the largest file a note may hold) from the
// local fake Backpack service into the local fake NoteStore, and reports in
// one run:
//  - the wall time of the import on loopback and over a link of 30 ms round
//    trip and 100 Mbit/s (the fakes delay each answer by one round trip, each
//    new connection by two, and each byte by its time at that bandwidth),
//    against the lower bound: requests x round trip + bytes / bandwidth;
//  - the importer's own CPU time (this process only: the fakes are child
//    processes) per element, and per GB of assets on an import of the
//    account's assets alone;
//  - the peak memory of this process;
//  - the asset throughput (bytes down plus up per second of that import)
//    against plain curl doing the same downloads and the same createNote
//    uploads against the same fakes, in the same run.
// The assets are imported both as a re-import, over the copies the imports
// before left, and as a first import, each run into an empty data folder of
// its own. The two cost differently: a new copy renamed over an earlier one
// makes the file system write back and drop the earlier one in our thread.
// Each asset figure is the median of several runs, as is curl's.
//
// Goals: wall at 30 ms <= 1.25 x the lower bound; CPU <= 0.8 ms per element;
// peak memory <= the largest asset + 100 MB. The bytes alone: a first import
// <= 4 s of CPU per GB, at least 0.78 x curl's MB/s, and the whole import at
// least 0.6 x; a re-import <= 4.6 s of CPU per GB, with the same floors
// against curl.

#include "BackpackPageBuilder.h"
#include "ImportBenchSupport.h"

#include "app/NoteBuilder.h"
#include "app/RavadidoFromBackpackImporter.h"
#include "backpack/TGBackpackAPI.h"
#include "foundation/SyncHttp.h"
#include "ravadido/NoteStoreClient.h"
#include "ravadido/ThriftHttpTransport.h"
#include "signin/WSKOAuthAuthentication.h"
#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace importertest;

namespace {

constexpr int kPages = 50;
constexpr int kElementsPerPage = 40;
constexpr int kImagesPerGallery = 4; // one gallery per page: 200 images
constexpr qint64 kImageSize = 200 * 1000;
constexpr qint64 kLargeSize = 50 * 1024 * 1024;
constexpr qint64 kAssetBytes = kPages * kImagesPerGallery * kImageSize + kLargeSize;
// One run's CPU per GB varies by a third on a shared machine.
constexpr int kAssetRuns = 5;
constexpr double kRttMs = 30;
constexpr double kMbit = 100;

// Of this process, or of its children that ended and were waited for.
double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

QString noteText(int page, int element)
{
    QString text = QStringLiteral("h2. Abschnitt %1.%2\n\n").arg(page).arg(element);
    for (int i = 0; i < 6; ++i)
        text += QStringLiteral("Ein *wichtiger* Satz mit _Betonung_, \"Zitat\" & Ümläuten Nr. %1. ").arg(i);
    return text + QStringLiteral("\n\n* eins\n* zwei\n* drei");
}

QString imageName(int i)
{
    return QStringLiteral("foto %1.jpg").arg(i);
}
QString imageID(int page, int i)
{
    return QStringLiteral("p%1e0i%2").arg(page).arg(i);
}
const QString kLargeID = QStringLiteral("p0e1");
const QString kLargeName = QStringLiteral("archiv groß.zip");

// The account, and the sizes of its generated files; with `assetsOnly` its
// galleries and the attachment alone; with `tinyAssets` every file one byte
// long (the same requests without the asset bytes).
QJsonObject benchmarkSite(bool assetsOnly, bool tinyAssets = false)
{
    const qint64 imageSize = tinyAssets ? 1 : kImageSize;
    const qint64 largeSize = tinyAssets ? 1 : kLargeSize;
    QJsonArray pages;
    QJsonObject generated;
    for (int p = 0; p < kPages; ++p) {
        PageBuilder page(QString::number(1000 + p), QStringLiteral("Seite %1 – Übersicht").arg(p));
        for (int e = 0; e < kElementsPerPage; ++e) {
            const QString id = QStringLiteral("p%1e%2").arg(p).arg(e);
            if (e == 0) {
                QList<QStringList> images;
                for (int i = 0; i < kImagesPerGallery; ++i) {
                    images << QStringList{imageID(p, i), imageName(i), QStringLiteral("Bild *%1*").arg(i)};
                    generated.insert(imageID(p, i) + QLatin1Char('/') + imageName(i), imageSize);
                }
                page.gallery(id, QStringLiteral("Galerie %1").arg(p), images);
            } else if (e == 1 && p == 0) {
                page.attachment(id, kLargeName);
                generated.insert(kLargeID + QLatin1Char('/') + kLargeName, largeSize);
            } else if (assetsOnly) {
                continue;
            } else if (e % 10 == 5) {
                page.separator(id, QStringLiteral("—"));
            } else if (e % 10 == 9) {
                page.pageLink(id, QStringLiteral("Seite %1").arg((p + 1) % kPages));
            } else {
                switch (e % 4) {
                case 0:
                    page.list(id, QStringLiteral("Liste %1").arg(e),
                              {{QStringLiteral("Äpfel"), false},
                               {QStringLiteral("Brot & Butter"), true},
                               {QStringLiteral("*Käse*"), false},
                               {QStringLiteral("Wein"), true}});
                    break;
                case 1:
                    page.email(id, QStringLiteral("Betreff %1").arg(e),
                               QStringLiteral("Hallo <Welt>,\nZeile zwei & drei.\n").repeated(8));
                    break;
                case 2:
                    page.email(id, QStringLiteral("Rundbrief %1").arg(e),
                               QStringLiteral("<html><body><p>Grüße &amp; mehr</p>%1</body></html>")
                                   .arg(QStringLiteral("<p>Absatz</p>").repeated(20)));
                    break;
                default: page.note(id, QStringLiteral("Notiz %1").arg(e), noteText(p, e));
                }
            }
        }
        pages.append(page.pageEntry());
    }
    return QJsonObject{{"sitename", kSite},     {"token", kToken}, {"username", kUser},
                       {"password", kPassword}, {"pages", pages},  {"generated", generated}};
}

class Recorder : public ImportRun
{
public:
    int widgets = 0;

    void ravadidoImporterDidImportWidget(RavadidoFromBackpackImporter *, const WidgetRecord &,
                                         const BackpackPagePtr &) override
    {
        ++widgets;
    }
};

// What the fakes counted on their side of the link.
struct Traffic
{
    qint64 requests = 0;
    qint64 connections = 0;
    qint64 bytes = 0;
    Traffic &operator+=(const Traffic &o)
    {
        requests += o.requests;
        connections += o.connections;
        bytes += o.bytes;
        return *this;
    }
};

struct Fakes
{
    LocalService backpack;
    LocalService noteStore;

    std::optional<QByteArray> call(const LocalService &service, const QByteArray &method, const QString &path,
                                   const QByteArray &body = {})
    {
        SyncHttp::Request r;
        r.method = method;
        r.url = QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(service.port()).arg(path));
        r.body = body;
        r.useCookies = false;
        const auto response = SyncHttp::send(r);
        if (!response || response->status != 200)
            return std::nullopt;
        return response->body;
    }
    bool setLink(double rttMs, double mbit)
    {
        const QByteArray link = QJsonDocument(QJsonObject{{"rtt_ms", rttMs}, {"mbit", mbit}}).toJson();
        return call(backpack, "POST", QStringLiteral("/_link"), link)
               && call(noteStore, "POST", QStringLiteral("/_link"), link);
    }
    Traffic traffic()
    {
        Traffic total;
        for (LocalService *s : {&backpack, &noteStore}) {
            const QJsonObject o =
                QJsonDocument::fromJson(call(*s, "GET", QStringLiteral("/_link")).value_or("{}")).object();
            total += Traffic{o["requests"].toInteger(), o["connections"].toInteger(), o["bytes"].toInteger()};
        }
        return total;
    }
    bool resetNoteStore() { return bool(call(noteStore, "POST", QStringLiteral("/control/reset"), "{}")); }
    bool setSite(bool assetsOnly, bool tinyAssets = false)
    {
        return bool(call(backpack, "POST", QStringLiteral("/_fake/site"),
                         QJsonDocument(benchmarkSite(assetsOnly, tinyAssets)).toJson(QJsonDocument::Compact)));
    }
    QUrl noteStoreUrl() const
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1/ruru/notestore").arg(noteStore.port()));
    }
};

struct Run
{
    double wall = 0;
    double cpu = 0;
    int widgets = 0;
    Traffic traffic;
    OptionalError error;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Wall time and CPU each the median of their own; the rest as the first run's.
Run medianRun(const QList<Run> &runs)
{
    Run result = runs.value(0);
    QList<double> walls, cpus;
    for (const Run &run : runs) {
        walls << run.wall;
        cpus << run.cpu;
    }
    result.wall = median(walls);
    result.cpu = median(cpus);
    return result;
}

// One import, on a link of `rttMs` and `mbit` (0: none).
Run importAll(Fakes &fakes, const std::shared_ptr<TGBackpackAPI> &api, const WSKOAuthAuthentication &auth,
              double rttMs = 0, double mbit = 0)
{
    Run run;
    fakes.resetNoteStore();
    const auto pages = api->pages();
    if (!pages || !fakes.setLink(rttMs, mbit)) {
        run.error = Error(QStringLiteral("bench"), 1, QStringLiteral("the page list did not arrive"));
        return run;
    }
    Recorder recorder;
    auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, auth);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    recorder.runToEnd(*importer, *pages);
    run.wall = timer.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds() - cpuBefore;
    run.widgets = recorder.widgets;
    run.traffic = fakes.traffic();
    if (!recorder.finished)
        run.error = recorder.error.value_or(Error(QStringLiteral("bench"), 2, QStringLiteral("cancelled")));
    return run;
}

// The same import into `emptyDataHome`, as on a first import.
Run firstImport(const QString &emptyDataHome, Fakes &fakes, const std::shared_ptr<TGBackpackAPI> &api,
                const WSKOAuthAuthentication &auth)
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", emptyDataHome.toUtf8());
    Run run = importAll(fakes, api, auth);
    qputenv("XDG_DATA_HOME", dataHome);
    return run;
}

// curl, as a separate process, with the given arguments: its wall time and
// CPU. The fakes never end before the benchmark, so the children's CPU that
// grows meanwhile is curl's alone.
Run timeCurl(const QStringList &args)
{
    Run run;
    QProcess curl;
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), args);
    if (!curl.waitForFinished(600000) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
        run.error = Error(QStringLiteral("bench"), 3,
                          QStringLiteral("curl failed: %1").arg(curl.readAllStandardError()));
        return run;
    }
    run.wall = timer.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return run;
}

// The same asset traffic as the importer's, done by curl: every asset
// downloaded over one kept connection, then one createNote per gallery and
// one for the attachment, the same bytes the importer sends, over another.
Run curlBaseline(Fakes &fakes, const std::shared_ptr<TGBackpackAPI> &api, const QString &caFile)
{
    QTemporaryDir dir;
    const QString host = api->accountURL().host();
    const QStringList common{
        QStringLiteral("-sS"),       QStringLiteral("--fail"),
        QStringLiteral("--cacert"),  caFile,
        QStringLiteral("--resolve"), QStringLiteral("%1:%2:127.0.0.1").arg(host).arg(fakes.backpack.port())};
    QStringList download = common;
    download << QStringLiteral("--cookie") << QStringLiteral("bp_session=ok");
    // No digests: the builder takes them from the files, as it would from
    // files it did not download.
    QList<QList<DownloadedAsset>> galleries;
    for (int p = 0; p < kPages; ++p) {
        QList<DownloadedAsset> paths;
        for (int i = 0; i < kImagesPerGallery; ++i) {
            const QString path = dir.filePath(imageID(p, i) + QStringLiteral(".jpg"));
            const WidgetRecord widget{
                {"widgetType", "Image"}, {"backpackID", imageID(p, i)}, {"filename", imageName(i)}};
            download << QStringLiteral("-o") << path
                     << NoteBuilder::assetURLForWidget(widget, api->accountURL()).toString(QUrl::FullyEncoded);
            paths << path;
        }
        galleries << paths;
    }
    const QString large = dir.filePath(QStringLiteral("large.zip"));
    download << QStringLiteral("-o") << large
             << NoteBuilder::assetURLForWidget(
                    WidgetRecord{{"widgetType", "Asset"}, {"backpackID", kLargeID}, {"filename", kLargeName}},
                    api->accountURL())
                    .toString(QUrl::FullyEncoded);
    const Run down = timeCurl(download);
    if (down.error)
        return down;

    // The createNote requests, built as the importer builds them (untimed).
    using namespace ravadido;
    RURUNoteStoreClient http(httpBinaryProtocol(fakes.noteStoreUrl()));
    auto wanted = std::make_shared<RURUNotebook>();
    wanted->setName("curl");
    const std::string notebook = *http.createNotebook(kAccessToken.toStdString(), wanted)->guid();
    QStringList upload = common;
    const QString url = fakes.noteStoreUrl().toString();
    int index = 0;
    auto addRequest = [&](const std::shared_ptr<RURUNote> &note) {
        note->setNotebookGuid(notebook);
        auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
        RURUNoteStoreClient memory(
            std::make_shared<apache::thrift::protocol::TBinaryProtocol>(buffer, 0, 0, false, false));
        memory.send_createNote(kAccessToken.toStdString(), note);
        const QString path = dir.filePath(QStringLiteral("request%1").arg(index));
        QFile file(path);
        const std::string bytes = buffer->getBufferAsString();
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
            return false;
        if (index++)
            upload << QStringLiteral("--next") << common;
        upload << QStringLiteral("-H") << QStringLiteral("Content-Type: application/x-thrift")
               << QStringLiteral("--data-binary") << QLatin1Char('@') + path << QStringLiteral("-o")
               << QStringLiteral("/dev/null") << url;
        return true;
    };
    NoteBuilder builder;
    Run failed;
    failed.error = Error(QStringLiteral("bench"), 4, QStringLiteral("the createNote requests could not be written"));
    for (const QList<DownloadedAsset> &paths : galleries)
        if (!addRequest(builder.createNoteForGallery(WidgetRecord{{"name", "Galerie"}}, paths)))
            return failed;
    if (!addRequest(builder.createNoteForAttachment(WidgetRecord{{"filename", kLargeName}}, {large})))
        return failed;
    Run both = timeCurl(upload);
    both.wall += down.wall;
    both.cpu += down.cpu;
    return both;
}

void BM_ImportLargeAccount(benchmark::State &state)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    const TestCertificateAuthority &ca = TestCertificateAuthority::shared();
    Fakes fakes;
    if (!ca.isValid() || !SyncHttp::setExtraCaFile(ca.caCertPath())
        || !fakes.backpack.startPython(QStringLiteral(BENCH_BACKPACK_FAKE), ca.serverArgs())
        || !fakes.noteStore.startPython(QStringLiteral(BENCH_NOTESTORE_FAKE), ca.serverArgs())) {
        state.SkipWithError("the local fakes did not start");
        return;
    }
    const QString domain = QStringLiteral("test.localhost:%1").arg(fakes.backpack.port());
    qputenv("LEAFHAUL_BACKPACK_DOMAIN", domain.toUtf8());
    qputenv("LEAFHAUL_BACKPACK_SIGNIN_HOST", QStringLiteral("signin.%1").arg(domain).toUtf8());
    if (!fakes.setSite(false) || !fakes.setLink(0, 0)) {
        state.SkipWithError("the fakes could not be set up");
        return;
    }

    auto api = std::make_shared<TGBackpackAPI>(kSite, kToken, kUser, kPassword);
    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    auth.setAccessToken(kAccessToken);
    auth.setUserEmail(fakes.noteStoreUrl().toString());

    const double baseline = peakMegabytes();
    Run loopback, slow;
    QList<Run> assetRuns, tinyRuns, firstAssetRuns, firstTinyRuns;
    for (auto _ : state) {
        loopback = importAll(fakes, api, auth);
        slow = importAll(fakes, api, auth, kRttMs, kMbit);
        if (!fakes.setLink(0, 0) || !fakes.setSite(true)) {
            state.SkipWithError("the fakes could not be set up");
            return;
        }
        // Every first import keeps its folder until all are measured: for a
        // while after many files were removed, ext4 without a journal takes
        // longer to create each new one, which would weigh on the later runs.
        std::vector<std::unique_ptr<QTemporaryDir>> firstHomes;
        auto runBoth = [&](QList<Run> &reimports, QList<Run> &firsts) {
            for (int i = 0; i < kAssetRuns; ++i) {
                reimports << importAll(fakes, api, auth);
                firstHomes.push_back(std::make_unique<QTemporaryDir>());
                firsts << firstImport(firstHomes.back()->path(), fakes, api, auth);
            }
        };
        runBoth(assetRuns, firstAssetRuns);
        if (!fakes.setSite(true, true)) {
            state.SkipWithError("the fakes could not be set up");
            return;
        }
        runBoth(tinyRuns, firstTinyRuns);
        state.SetIterationTime(loopback.wall);
        for (const QList<Run> &runs : {QList<Run>{loopback, slow}, assetRuns, tinyRuns, firstAssetRuns, firstTinyRuns})
            for (const Run &run : runs)
                if (run.error) {
                    state.SkipWithError(run.error->toString().toUtf8().constData());
                    return;
                }
    }
    // Measured before the baseline, whose preparation holds requests in memory.
    const double peak = peakMegabytes();
    // A failed curl leaves no figure to compare with: 0 s.
    auto curlMedian = [&] {
        QList<Run> runs;
        for (int i = 0; i < kAssetRuns; ++i) {
            runs << curlBaseline(fakes, api, ca.caCertPath());
            if (runs.last().error) {
                std::fprintf(stderr, "%s\n", qPrintable(runs.last().error->toString()));
                return Run{};
            }
        }
        return medianRun(runs);
    };
    const Run curlTiny = curlMedian();
    fakes.setSite(true);
    const Run curl = curlMedian();
    const double curlTinySeconds = curlTiny.wall, curlSeconds = curl.wall;

    const int elements = kPages * kElementsPerPage;
    const double lowerBound = double(slow.traffic.requests) * kRttMs / 1000.0
                              + double(slow.traffic.bytes) / (kMbit * 1e6 / 8);
    const double assetMB = 2.0 * double(kAssetBytes) / 1e6; // down and up
    const double assetGB = double(kAssetBytes) / 1e9;
    const double curlMBs = curlSeconds > 0 ? assetMB / curlSeconds : 0;
    const double curlBytesMBs = curlSeconds > 0 && curlTinySeconds > 0 ? assetMB / (curlSeconds - curlTinySeconds) : 0;
    const double curlBytesCpuPerGB = (curl.cpu - curlTiny.cpu) / assetGB;
    const double cpuPerElementMs = 1000.0 * loopback.cpu / elements;
    const double largestMiB = double(kLargeSize) / (1024.0 * 1024.0);
    auto met = [](bool ok) { return ok ? "met" : "NOT met"; };

    state.counters["wall_0ms_s"] = loopback.wall;
    state.counters["wall_30ms_s"] = slow.wall;
    state.counters["lower_bound_s"] = lowerBound;
    state.counters["cpu_ms_per_element"] = cpuPerElementMs;
    state.counters["peak_MiB"] = peak;
    state.counters["curl_MBps"] = curlMBs;
    state.counters["curl_bytes_MBps"] = curlBytesMBs;
    state.counters["curl_bytes_cpu_s_per_GB"] = curlBytesCpuPerGB;
    std::printf("\nimport of %d pages x %d elements (%d notes, %d images of %lld bytes, one file of %lld bytes)\n"
                "  wall time, loopback            %.2f s (importer CPU %.2f s)\n"
                "  wall time, %.0f ms and %.0f Mbit/s  %.2f s; lower bound %.2f s (%lld requests, %lld connections,\n"
                "                                 %.1f MB): ratio %.2f (goal <= 1.25: %s)\n"
                "  importer CPU per element       %.3f ms (goal <= 0.8: %s)\n"
                "  peak memory                    %.0f MiB (goal <= %.0f MiB: %s; %.0f MiB before the imports)\n"
                "  curl's CPU per GB of assets\n"
                "    the bytes alone              %.2f s (its downloads into an empty folder and its uploads, less\n"
                "                                 the same with one-byte files; curl takes no MD5)\n",
                kPages, kElementsPerPage, loopback.widgets, kPages * kImagesPerGallery, kImageSize, kLargeSize,
                loopback.wall, loopback.cpu, kRttMs, kMbit, slow.wall, lowerBound, slow.traffic.requests,
                slow.traffic.connections, slow.traffic.bytes / 1e6, slow.wall / lowerBound,
                met(slow.wall / lowerBound <= 1.25), cpuPerElementMs, met(cpuPerElementMs <= 0.8), peak,
                largestMiB + 100, met(peak <= largestMiB + 100), baseline, curlBytesCpuPerGB);

    // The import of the assets alone, and the bytes alone: less the same
    // requests carrying one-byte files. A throughput goal of 0 is none.
    auto report = [&](const char *kind, const char *key, const QList<Run> &allRuns, const QList<Run> &oneByteRuns,
                      double cpuGoal, double bytesRatioGoal, double ratioGoal) {
        const Run all = medianRun(allRuns);
        const Run oneByte = medianRun(oneByteRuns);
        // Each run less the one-byte run beside it, for the spread.
        QList<double> bytesCpuRuns;
        for (qsizetype i = 0; i < allRuns.size() && i < oneByteRuns.size(); ++i)
            bytesCpuRuns << (allRuns[i].cpu - oneByteRuns[i].cpu) / assetGB;
        std::sort(bytesCpuRuns.begin(), bytesCpuRuns.end());
        const double MBs = assetMB / all.wall;
        const double bytesMBs = assetMB / (all.wall - oneByte.wall);
        const double cpuPerGB = all.cpu / assetGB;
        const double bytesCpuPerGB = (all.cpu - oneByte.cpu) / assetGB;
        const double ratio = curlMBs > 0 ? MBs / curlMBs : 0;
        const double bytesRatio = curlBytesMBs > 0 ? bytesMBs / curlBytesMBs : 0;
        auto goal = [&](double value, double floor) {
            return floor > 0 ? QStringLiteral(" (goal >= %1: %2)").arg(floor).arg(met(value >= floor)).toStdString()
                             : std::string();
        };
        const std::string prefix = key;
        state.counters[prefix + "cpu_s_per_GB"] = cpuPerGB;
        state.counters[prefix + "bytes_cpu_s_per_GB"] = bytesCpuPerGB;
        state.counters[prefix + "asset_MBps"] = MBs;
        state.counters[prefix + "asset_bytes_MBps"] = bytesMBs;
        std::printf("  %s (medians of %d runs)\n"
                    "  importer CPU per GB of assets  %.2f s (import of the assets alone, CPU %.2f s)\n"
                    "    the bytes alone              %.2f s (goal <= %g: %s; less the CPU of the one-byte files, "
                    "%.2f s;\n"
                    "                                 run by run %.2f to %.2f s)\n"
                    "  asset throughput               %.1f MB/s, curl %.1f MB/s: ratio %.2f%s\n"
                    "                                 (%.1f MB down and up: importer %.2f s and %lld requests,\n"
                    "                                 curl %.2f s and %d requests)\n"
                    "    the bytes alone              %.1f MB/s, curl %.1f MB/s: ratio %.2f%s\n"
                    "                                 (less the same requests with one-byte files: importer %.2f s,\n"
                    "                                 curl %.2f s)\n",
                    kind, kAssetRuns, cpuPerGB, all.cpu, bytesCpuPerGB, cpuGoal, met(bytesCpuPerGB <= cpuGoal),
                    oneByte.cpu, bytesCpuRuns.value(0), bytesCpuRuns.value(bytesCpuRuns.size() - 1), MBs, curlMBs,
                    ratio, goal(ratio, ratioGoal).c_str(), assetMB, all.wall, all.traffic.requests, curlSeconds,
                    kPages * kImagesPerGallery + 1 + kPages + 1, bytesMBs, curlBytesMBs, bytesRatio,
                    goal(bytesRatio, bytesRatioGoal).c_str(), oneByte.wall, curlTinySeconds);
    };
    report("re-import, over the copies the imports before left", "", assetRuns, tinyRuns, 4.6, 0.78, 0.6);
    report("first import, each run into an empty data folder", "first_", firstAssetRuns, firstTinyRuns, 4, 0.78, 0.6);
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
