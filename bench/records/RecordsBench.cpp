// Writing and reading with our engine and with the Thrift compiler's C++
// output, in the same run: a realistic note (20 KB of ENML, 20 tags, five
// 64 KB attachments, attributes), a metadata-heavy note (every scalar field
// set, no bodies), a sync chunk of 1,000 notes (metadata only) and a sync
// chunk of 100 resources (metadata only).

#include "ravadido/NoteStoreTypes.h"
#include "types_types.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

// Heap bytes asked for, to show what one write or read allocates: writing
// must copy a body only into the output buffer, reading only into the
// record. The benchmark runs on one thread.
static std::size_t heapBytes = 0;

void *operator new(std::size_t size)
{
    heapBytes += size;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace ravadido;
namespace gen = leafhaul::thriftgen;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

struct NoteShape
{
    bool realistic;
    int tags = 20;
    int resources = 5;
    std::size_t bodySize = 64 * 1024;
    std::size_t contentSize = 20 * 1024;
};

std::string filler(std::size_t size, char seed)
{
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + (i * 7) % 61);
    return s;
}

std::string enml(std::size_t size)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE en-note SYSTEM "
                    "\"http://xml.example.test/enml2.dtd\"><en-note>";
    while (s.size() + 16 < size)
        s += "<div>Some text of a page, line after line.</div>";
    return s + "</en-note>";
}

const std::string kHash = filler(16, 'a');

std::shared_ptr<RURUNote> ourNote(const NoteShape &shape)
{
    auto note = std::make_shared<RURUNote>();
    note->setTitle("A page with its elements");
    note->setNotebookGuid("7c1a9d3e-0000-4000-8000-00000000abcd");
    note->setCreated(1262304000000);
    std::vector<std::string> tags;
    for (int i = 0; i < shape.tags; ++i)
        tags.push_back("tag number " + std::to_string(i));
    note->setTagNames(tags);
    auto attributes = std::make_shared<RURUNoteAttributes>();
    attributes->setSourceURL("https://backpack.example.test/pages/1");
    attributes->setSourceApplication("Leafhaul");
    attributes->setAuthor("someone");
    attributes->setSubjectDate(1262304000000);
    note->setAttributes(attributes);
    std::vector<std::shared_ptr<RURUResource>> resources;
    for (int i = 0; i < shape.resources; ++i) {
        auto data = std::make_shared<RURUData>();
        data->setBodyHash(Bytes(kHash));
        data->setSize(static_cast<std::int32_t>(shape.bodySize));
        auto resource = std::make_shared<RURUResource>();
        resource->setMime("image/png");
        if (shape.realistic) {
            data->setBody(Bytes(filler(shape.bodySize, static_cast<char>('A' + i))));
            resource->setData(data);
        } else {
            resource->setGuid("res-guid-" + std::to_string(i));
            resource->setNoteGuid("note-guid");
            resource->setData(data);
            resource->setWidth(640);
            resource->setHeight(480);
            resource->setDuration(0);
            resource->setActive(true);
            resource->setUpdateSequenceNum(1000 + i);
            auto ra = std::make_shared<RURUResourceAttributes>("https://example.test/x.png", 1262304000000, 52.5, 13.4,
                                                               34.0, "Maker", "Model", true, "ocr", "x.png", false,
                                                               nullptr);
            ra->unsetApplicationData();
            resource->setAttributes(ra);
        }
        resources.push_back(resource);
    }
    note->setResources(resources);
    if (shape.realistic) {
        note->setContent(enml(shape.contentSize));
    } else {
        note->setGuid("note-guid");
        note->setContentHash(Bytes(kHash));
        note->setContentLength(20480);
        note->setUpdated(1262304000001);
        note->setDeleted(0);
        note->setActive(true);
        note->setUpdateSequenceNum(4711);
        note->setTagGuids(tags);
        attributes->setLatitude(52.5);
        attributes->setLongitude(13.4);
        attributes->setAltitude(34.0);
        attributes->setSource("web.clip");
        attributes->setShareDate(1262304000002);
        attributes->setPlaceName("Berlin");
        attributes->setContentClass("class");
        attributes->setLastEditedBy("someone else");
    }
    return note;
}

std::shared_ptr<RURUSyncChunk> ourChunk(bool notes)
{
    auto chunk = std::make_shared<RURUSyncChunk>();
    chunk->setCurrentTime(1262304000000);
    chunk->setChunkHighUSN(5000);
    chunk->setUpdateCount(5000);
    if (notes) {
        std::vector<std::shared_ptr<RURUNote>> list;
        for (int i = 0; i < 1000; ++i) {
            auto note = ourNote(NoteShape{false, 3, 0});
            note->setGuid("note-guid-" + std::to_string(i));
            note->setUpdateSequenceNum(i);
            list.push_back(note);
        }
        chunk->setNotes(list);
        chunk->setExpungedNotes(std::vector<std::string>(20, "7c1a9d3e-0000-4000-8000-00000000dead"));
    } else {
        auto note = ourNote(NoteShape{false, 0, 100});
        chunk->setResources(*note->resources());
    }
    return chunk;
}

// The same record through the generated setters, by way of the wire: our
// bytes read by generated code give exactly the generated equivalent.
template<typename G>
G generated(const std::string &bytes)
{
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()));
    TBinaryProtocol in(buffer, 0, 0, false, false);
    G record;
    record.read(&in);
    return record;
}

template<typename WriteFn>
std::string writeOnce(WriteFn &&write)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    write(out);
    return buffer->getBufferAsString();
}

template<typename Ours, typename Gen>
struct Fixture
{
    using OurType = Ours;
    using GenType = Gen;
    explicit Fixture(std::shared_ptr<Ours> record)
        : ours(std::move(record)), bytes(writeOnce([&](TBinaryProtocol &out) { ours->write(out); })),
          generatedRecord(generated<Gen>(bytes))
    {
    }
    std::shared_ptr<Ours> ours;
    std::string bytes;
    Gen generatedRecord;
};

enum class Shape { RealisticNote, MetadataNote, ChunkOfNotes, ChunkOfResources };

template<Shape S>
const auto &fixture()
{
    if constexpr (S == Shape::RealisticNote) {
        static const Fixture<RURUNote, gen::Note> f(ourNote(NoteShape{true}));
        return f;
    } else if constexpr (S == Shape::MetadataNote) {
        static const Fixture<RURUNote, gen::Note> f(ourNote(NoteShape{false}));
        return f;
    } else if constexpr (S == Shape::ChunkOfNotes) {
        static const Fixture<RURUSyncChunk, gen::SyncChunk> f(ourChunk(true));
        return f;
    } else {
        static const Fixture<RURUSyncChunk, gen::SyncChunk> f(ourChunk(false));
        return f;
    }
}

void checkSameBytes(benchmark::State &state, const std::string &a, const std::string &b)
{
    if (a != b)
        state.SkipWithError("generated code and ours disagree on the bytes");
}

template<Shape S, bool Ours>
void BM_Write(benchmark::State &state)
{
    const auto &f = fixture<S>();
    auto buffer = std::make_shared<TMemoryBuffer>(static_cast<std::uint32_t>(f.bytes.size() + 1024));
    TBinaryProtocol out(buffer, 0, 0, false, false);
    for (auto _ : state) {
        buffer->resetBuffer();
        if constexpr (Ours)
            f.ours->write(out);
        else
            f.generatedRecord.write(&out);
        benchmark::DoNotOptimize(buffer->available_read());
    }
    checkSameBytes(state, buffer->getBufferAsString(), f.bytes);
    buffer->resetBuffer();
    const std::size_t before = heapBytes;
    if constexpr (Ours)
        f.ours->write(out);
    else
        f.generatedRecord.write(&out);
    state.counters["heap_bytes"] = static_cast<double>(heapBytes - before);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.bytes.size()));
}

// A memory buffer counts what it has handed out against the message size
// limit for its whole life; rereading one message forever needs a rewind.
struct RereadBuffer : TMemoryBuffer
{
    void reread(std::uint8_t *data, std::uint32_t size)
    {
        resetBuffer(data, size, TMemoryBuffer::OBSERVE);
        resetConsumedMessageSize();
    }
};

template<Shape S, bool Ours>
void BM_Read(benchmark::State &state)
{
    const auto &f = fixture<S>();
    using F = std::remove_cvref_t<decltype(f)>;
    auto buffer = std::make_shared<RereadBuffer>();
    TBinaryProtocol in(buffer, 0, 0, false, false);
    auto *data = reinterpret_cast<std::uint8_t *>(const_cast<char *>(f.bytes.data()));
    const auto size = static_cast<std::uint32_t>(f.bytes.size());
    for (auto _ : state) {
        buffer->reread(data, size);
        if constexpr (Ours) {
            typename F::OurType record;
            record.read(in);
            benchmark::DoNotOptimize(record);
        } else {
            typename F::GenType record;
            record.read(&in);
            benchmark::DoNotOptimize(record);
        }
    }
    buffer->reread(data, size);
    const std::size_t before = heapBytes;
    if constexpr (Ours) {
        typename F::OurType record;
        record.read(in);
    } else {
        typename F::GenType record;
        record.read(&in);
    }
    state.counters["heap_bytes"] = static_cast<double>(heapBytes - before);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.bytes.size()));
}

// clang-format off
#define RECORDS_BENCH(shape)                                                                      \
    BENCHMARK(BM_Write<Shape::shape, false>)->Name("Write/" #shape "/Generated");                  \
    BENCHMARK(BM_Write<Shape::shape, true>)->Name("Write/" #shape "/Ours");                        \
    BENCHMARK(BM_Read<Shape::shape, false>)->Name("Read/" #shape "/Generated");                    \
    BENCHMARK(BM_Read<Shape::shape, true>)->Name("Read/" #shape "/Ours");
// clang-format on
RECORDS_BENCH(RealisticNote)
RECORDS_BENCH(MetadataNote)
RECORDS_BENCH(ChunkOfNotes)
RECORDS_BENCH(ChunkOfResources)

} // namespace

BENCHMARK_MAIN();
