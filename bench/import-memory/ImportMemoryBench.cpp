// Imports 1 page and then 240 pages of 50 elements each (notes, lists and
// e-mails, no files) from the local fake Backpack service into the local
// fake NoteStore, and reports this process's memory: the resident size
// before the import, its peak while the import runs (sampled every 2 ms),
// and how much it grows per page over the import.
//
// Goal: memory per page stays flat, so the peak of the long import is close
// to that of the single page.

#include "BackpackPageBuilder.h"
#include "ImportBenchSupport.h"
#include "ravadido/tests/FakeNoteStore.h"

#include "app/RavadidoFromBackpackImporter.h"
#include "backpack/TGBackpackAPI.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace importertest;

namespace {

constexpr int kElementsPerPage = 50;

double residentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The highest resident size seen while it runs.
class PeakSampler
{
public:
    PeakSampler()
        : m_thread([this] {
              while (!m_stop) {
                  sample();
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          })
    {
    }
    ~PeakSampler() { stop(); }
    double stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        sample();
        return m_peak;
    }

private:
    void sample()
    {
        double now = residentMegabytes();
        double peak = m_peak.load();
        while (now > peak && !m_peak.compare_exchange_weak(peak, now)) {}
    }

    std::atomic<bool> m_stop{false};
    std::atomic<double> m_peak{0};
    std::thread m_thread;
};

QString noteText(int page, int element)
{
    QString text = QStringLiteral("h2. Abschnitt %1.%2\n\n").arg(page).arg(element);
    for (int i = 0; i < 6; ++i)
        text += QStringLiteral("Ein *wichtiger* Satz mit _Betonung_, \"Zitat\" & Ümläuten Nr. %1. ").arg(i);
    return text + QStringLiteral("\n\n* eins\n* zwei\n* drei");
}

Site siteOf(int pages)
{
    Site site;
    for (int p = 0; p < pages; ++p) {
        PageBuilder page(QString::number(1000 + p), QStringLiteral("Seite %1").arg(p));
        for (int e = 0; e < kElementsPerPage; ++e) {
            const QString id = QStringLiteral("p%1e%2").arg(p).arg(e);
            switch (e % 3) {
            case 0: page.note(id, QStringLiteral("Notiz %1").arg(e), noteText(p, e)); break;
            case 1:
                page.list(id, QStringLiteral("Liste %1").arg(e),
                          {{QStringLiteral("Äpfel"), false},
                           {QStringLiteral("Brot & Butter"), true},
                           {QStringLiteral("*Käse*"), false},
                           {QStringLiteral("Wein"), true}});
                break;
            default:
                page.email(id, QStringLiteral("Betreff %1").arg(e),
                           QStringLiteral("Hallo <Welt>,\nZeile zwei & drei.\n").repeated(8));
            }
        }
        site.pages << page;
    }
    return site;
}

class Recorder : public ImportRun
{
public:
    QList<double> residentAfterPage;

    void ravadidoImporterDidImportPage(RavadidoFromBackpackImporter *, const BackpackPagePtr &) override
    {
        residentAfterPage << residentMegabytes();
    }
};

struct Fakes
{
    QTemporaryDir dataHome;
    BackpackFake backpack;
    FakeNoteStore noteStore;
    bool started = false;

    Fakes()
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        FakeNoteStore::Options options;
        options.tls = true;
        started = backpack.start() && noteStore.start(options);
    }
};

void BM_ImportMemory(benchmark::State &state)
{
    static Fakes fakes;
    const int pageCount = int(state.range(0));
    if (!fakes.started || !fakes.backpack.reset() || !fakes.backpack.setSite(siteOf(pageCount).json())) {
        state.SkipWithError("the local fakes did not start");
        return;
    }
    fakes.noteStore.reset();
    auto api = std::make_shared<TGBackpackAPI>(kSite, kToken, kUser, kPassword);
    auto pages = api->pages();
    if (!pages || pages->size() != pageCount) {
        state.SkipWithError("the page list did not arrive");
        return;
    }
    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    auth.setAccessToken(kAccessToken);
    auth.setUserEmail(fakes.noteStore.noteStoreUrl().toString());

    double before = 0, peak = 0;
    QList<double> afterPage;
    for (auto _ : state) {
        Recorder recorder;
        auto importer = std::make_shared<RavadidoFromBackpackImporter>(api, auth);
        before = residentMegabytes();
        PeakSampler sampler;
        recorder.runToEnd(*importer, *pages);
        peak = sampler.stop();
        afterPage = recorder.residentAfterPage;
        if (!recorder.finished) {
            state.SkipWithError(recorder.error ? recorder.error->toString().toUtf8().constData() : "cancelled");
            return;
        }
    }
    // Growth per page past the first tenth, when the allocator has settled.
    const qsizetype from = afterPage.size() / 10;
    const double perPage = afterPage.size() > from + 1
                               ? (afterPage.last() - afterPage.at(from)) / double(afterPage.size() - 1 - from) * 1024.0
                               : 0.0;
    state.counters["before_MiB"] = before;
    state.counters["peak_MiB"] = peak;
    state.counters["growth_KiB_per_page"] = perPage;
    std::printf("\n%3d page(s) x %d elements: resident %.1f MiB before, peak %.1f MiB during the import "
                "(+%.1f MiB), growth %.1f KiB per page\n",
                pageCount, kElementsPerPage, before, peak, peak - before, perPage);
}

BENCHMARK(BM_ImportMemory)->Arg(1)->Arg(240)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
