// Throughput of TGTextileConverter on a realistic 1 MB Textile corpus and on
// note-sized documents (about 4 KB each, converted one by one as the importer
// does), the same texts through Debian's python3-textile (what a user would
// otherwise reach for), and the growth of conversion time on hostile input.
//
//   build/bench/textile/textile_bench
//
// The last lines printed give both throughputs and their ratio, for the
// large document and for the notes.

#include "TextileCorpus.h"

#include "foundation/TGTextileConverter.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

constexpr qsizetype kCorpusSize = 1'000'000;
constexpr qsizetype kNoteSize = 4'000;
constexpr int kNotes = 250;

const QString &corpus()
{
    static const QString text = textileCorpus(kCorpusSize);
    return text;
}

const QStringList &notes()
{
    static const QStringList texts = [] {
        QStringList list;
        for (int i = 0; i < kNotes; ++i)
            list << textileCorpus(kNoteSize, 7000 + unsigned(i));
        return list;
    }();
    return texts;
}

qint64 utf8Bytes(const QStringList &texts)
{
    qint64 bytes = 0;
    for (const QString &t : texts)
        bytes += t.toUtf8().size();
    return bytes;
}

double g_oursMBps = 0;
double g_pythonMBps = 0;
double g_oursNotesMBps = 0;
double g_pythonNotesMBps = 0;

void BM_Convert(benchmark::State &state)
{
    const QString &text = corpus();
    const TGTextileConverter converter;
    const qint64 bytes = text.toUtf8().size();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QString html = converter.convert(text);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(html);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    g_oursMBps = double(bytes) * double(state.iterations()) / seconds / 1e6;
}
BENCHMARK(BM_Convert)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One converter per note, as the note builder makes them.
void BM_ConvertNotes(benchmark::State &state)
{
    const QStringList &texts = notes();
    const qint64 bytes = utf8Bytes(texts);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const QString &text : texts) {
            const TGTextileConverter converter;
            QString html = converter.convert(text);
            benchmark::DoNotOptimize(html);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    g_oursNotesMBps = double(bytes) * double(state.iterations()) / seconds / 1e6;
}
BENCHMARK(BM_ConvertNotes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Python measures its own conversion time, so interpreter start-up and
// reading the file do not count against it. The documents are separated by
// NUL characters and converted one by one.
double pythonSeconds(benchmark::State &state, const QStringList &texts)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corpus.textile"));
    QFile file(path);
    const QByteArray bytes = texts.join(QChar(0)).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        state.SkipWithError("cannot write the corpus");
        return -1;
    }
    file.close();
    const QString script = QStringLiteral("import sys, time, textile\n"
                                          "texts = open(sys.argv[1], encoding='utf-8').read().split('\\0')\n"
                                          "start = time.perf_counter()\n"
                                          "for text in texts:\n"
                                          "    textile.textile(text)\n"
                                          "print(time.perf_counter() - start)\n");
    double total = 0;
    for (auto _ : state) {
        QProcess python;
        // Only the system interpreter sees Debian's python3-textile.
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        python.setProcessEnvironment(env);
        python.start(QStringLiteral(LEAFHAUL_PYTHON), {QStringLiteral("-c"), script, path});
        if (!python.waitForFinished(600'000) || python.exitCode() != 0) {
            state.SkipWithError(("python3-textile failed: " + python.readAllStandardError()).constData());
            return -1;
        }
        const double seconds = python.readAllStandardOutput().trimmed().toDouble();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.SetBytesProcessed(state.iterations() * utf8Bytes(texts));
    return total;
}

void BM_PythonTextile(benchmark::State &state)
{
    const double seconds = pythonSeconds(state, {corpus()});
    if (seconds > 0)
        g_pythonMBps = double(corpus().toUtf8().size()) * double(state.iterations()) / seconds / 1e6;
}
BENCHMARK(BM_PythonTextile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

void BM_PythonTextileNotes(benchmark::State &state)
{
    const double seconds = pythonSeconds(state, notes());
    if (seconds > 0)
        g_pythonNotesMBps = double(utf8Bytes(notes())) * double(state.iterations()) / seconds / 1e6;
}
BENCHMARK(BM_PythonTextileNotes)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// 10 KB, 100 KB and 1 MB of one hostile shape on one line; the complexity
// fitted over the three sizes should come out as O(N).
void hostile(benchmark::State &state, int kind)
{
    const QString text = hostileText(kind, state.range(0));
    const TGTextileConverter converter;
    for (auto _ : state) {
        QString html = converter.convert(text);
        benchmark::DoNotOptimize(html);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}

} // namespace

int main(int argc, char **argv)
{
    for (int kind = 0; kind < hostileKinds(); ++kind)
        benchmark::RegisterBenchmark((std::string("BM_Hostile/") + hostileName(kind)).c_str(), hostile, kind)
            ->Arg(10'000)
            ->Arg(100'000)
            ->Arg(1'000'000)
            ->Complexity()
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_oursMBps > 0 && g_pythonMBps > 0)
        std::printf("\nTextile corpus: TGTextileConverter %.2f MB/s, python3-textile %.3f MB/s, ratio %.0fx\n",
                    g_oursMBps, g_pythonMBps, g_oursMBps / g_pythonMBps);
    if (g_oursNotesMBps > 0 && g_pythonNotesMBps > 0)
        std::printf("Textile notes (%d of about %lld characters): TGTextileConverter %.2f MB/s, "
                    "python3-textile %.3f MB/s, ratio %.0fx\n",
                    kNotes, qlonglong(kNoteSize), g_oursNotesMBps, g_pythonNotesMBps,
                    g_oursNotesMBps / g_pythonNotesMBps);
    return 0;
}
