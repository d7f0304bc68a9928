// Writing and reading two notes with our engine and with the Thrift
// compiler's C++ output: a realistic one (20 KB of ENML, 20 tags, five
// 64 KB attachments, attributes) and a metadata-heavy one (every scalar
// field set, no bodies).

#include "ravadido/Types.h"
#include "types_types.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

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
            auto ra = std::make_shared<RURUResourceAttributes>("https://example.test/x.png", 1262304000000,
                                                               52.5, 13.4, 34.0, "Maker", "Model", true, "ocr",
                                                               "x.png", false, nullptr);
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

// The same note through the generated setters, by way of the wire: our
// bytes read by generated code give exactly the generated equivalent.
gen::Note generatedNote(const std::string &bytes)
{
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()));
    TBinaryProtocol in(buffer, 0, 0, false, false);
    gen::Note note;
    note.read(&in);
    return note;
}

template<typename WriteFn>
std::string writeOnce(WriteFn &&write)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    write(out);
    return buffer->getBufferAsString();
}

struct Fixture
{
    explicit Fixture(bool realistic)
        : ours(ourNote(NoteShape{realistic})),
          bytes(writeOnce([&](TBinaryProtocol &out) { ours->write(out); })),
          generated(generatedNote(bytes))
    {
    }
    std::shared_ptr<RURUNote> ours;
    std::string bytes;
    gen::Note generated;
};

const Fixture &fixture(bool realistic)
{
    static const Fixture realisticNote(true);
    static const Fixture metadataNote(false);
    return realistic ? realisticNote : metadataNote;
}

void checkSameBytes(benchmark::State &state, const std::string &a, const std::string &b)
{
    if (a != b)
        state.SkipWithError("generated code and ours disagree on the bytes");
}

template<bool Realistic, bool Ours>
void BM_Write(benchmark::State &state)
{
    const Fixture &f = fixture(Realistic);
    auto buffer = std::make_shared<TMemoryBuffer>(static_cast<std::uint32_t>(f.bytes.size() + 1024));
    TBinaryProtocol out(buffer, 0, 0, false, false);
    for (auto _ : state) {
        buffer->resetBuffer();
        if constexpr (Ours)
            f.ours->write(out);
        else
            f.generated.write(&out);
        benchmark::DoNotOptimize(buffer->available_read());
    }
    checkSameBytes(state, buffer->getBufferAsString(), f.bytes);
    buffer->resetBuffer();
    const std::size_t before = heapBytes;
    if constexpr (Ours)
        f.ours->write(out);
    else
        f.generated.write(&out);
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

template<bool Realistic, bool Ours>
void BM_Read(benchmark::State &state)
{
    const Fixture &f = fixture(Realistic);
    auto buffer = std::make_shared<RereadBuffer>();
    TBinaryProtocol in(buffer, 0, 0, false, false);
    auto *data = reinterpret_cast<std::uint8_t *>(const_cast<char *>(f.bytes.data()));
    const auto size = static_cast<std::uint32_t>(f.bytes.size());
    for (auto _ : state) {
        buffer->reread(data, size);
        if constexpr (Ours) {
            RURUNote note;
            note.read(in);
            benchmark::DoNotOptimize(note);
        } else {
            gen::Note note;
            note.read(&in);
            benchmark::DoNotOptimize(note);
        }
    }
    buffer->reread(data, size);
    const std::size_t before = heapBytes;
    if constexpr (Ours) {
        RURUNote note;
        note.read(in);
    } else {
        gen::Note note;
        note.read(&in);
    }
    state.counters["heap_bytes"] = static_cast<double>(heapBytes - before);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.bytes.size()));
}

BENCHMARK(BM_Write<true, false>)->Name("Write/Realistic/Generated");
BENCHMARK(BM_Write<true, true>)->Name("Write/Realistic/Ours");
BENCHMARK(BM_Write<false, false>)->Name("Write/Metadata/Generated");
BENCHMARK(BM_Write<false, true>)->Name("Write/Metadata/Ours");
BENCHMARK(BM_Read<true, false>)->Name("Read/Realistic/Generated");
BENCHMARK(BM_Read<true, true>)->Name("Read/Realistic/Ours");
BENCHMARK(BM_Read<false, false>)->Name("Read/Metadata/Generated");
BENCHMARK(BM_Read<false, true>)->Name("Read/Metadata/Ours");

} // namespace

BENCHMARK_MAIN();
