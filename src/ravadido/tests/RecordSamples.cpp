#include "RecordSamples.h"

namespace ravadido::samples {

namespace {

template<typename T>
Sample sample(std::shared_ptr<T> record)
{
    return {std::move(record), [] { return std::make_shared<T>(); }};
}

std::shared_ptr<RURULazyMap> lazyMap()
{
    return std::make_shared<RURULazyMap>(std::set<std::string>{"only key"},
                                         std::map<std::string, std::string>{{"a", "1"}, {"b", "zwei"}});
}

std::shared_ptr<RURUResourceAttributes> resourceAttributes()
{
    return std::make_shared<RURUResourceAttributes>("https://example.test/a.png", 1700000000123, 52.52,
                                                    -13.405, 34.5, "Maker", "Model 7", true, "ocr",
                                                    "a.png", true, lazyMap());
}

std::shared_ptr<RURUResource> resource(const std::string &body)
{
    return std::make_shared<RURUResource>("res-guid", "note-guid", data(body), "image/png", 640, -480, 12,
                                          true, data("recognition"), resourceAttributes(), 77,
                                          data("alternate"));
}

std::shared_ptr<RURUNoteAttributes> noteAttributes()
{
    return std::make_shared<RURUNoteAttributes>(1600000000000, 1.5, -2.25, 1e6, "Autor Ä", "mail.clip",
                                                "https://example.test/", "Leafhaul", -5, "Zürich",
                                                "class.x", lazyMap(), "Editor");
}

std::shared_ptr<RURUSharedNotebook> sharedNotebook(std::int64_t id)
{
    return std::make_shared<RURUSharedNotebook>(id, 42, "nb-guid", "who@example.test", true, false,
                                                1600000000001, 1600000000002, "share-key", "user");
}

} // namespace

std::shared_ptr<RURUData> data(std::string body)
{
    const auto size = static_cast<std::int32_t>(body.size());
    return std::make_shared<RURUData>(Bytes(std::string("\x00\xff\x10\x80 hash 0123456", 16)), size,
                                      Bytes(std::move(body)));
}

std::shared_ptr<RURUNote> fullNote()
{
    return std::make_shared<RURUNote>(
        "note-guid", "Grüße ✓ \"quoted\"", "<?xml version=\"1.0\"?><en-note>x</en-note>",
        Bytes(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16)), 44,
        1500000000000, 1500000000001, -1, true, 2147483647, "nb-guid",
        std::vector<std::string>{"t1", "t2", ""},
        std::vector<std::shared_ptr<RURUResource>>{resource("body one"), resource(std::string("\0\1\2", 3))},
        noteAttributes(), std::vector<std::string>{"tag name", "another"});
}

std::vector<Sample> fullySet()
{
    auto notebook = std::make_shared<RURUNotebook>(
        "nb-guid", "Page title", 9, true, -7, 8,
        std::make_shared<RURUPublishing>("pub/uri", 2, true, "description"), true, "Stack",
        std::vector<std::int64_t>{1, -2, 9223372036854775807}, 
        std::vector<std::shared_ptr<RURUSharedNotebook>>{sharedNotebook(1), sharedNotebook(2)});
    return {
        sample(std::make_shared<RURUTag>("tag-guid", "name", "parent", -3)),
        sample(std::make_shared<RURUSavedSearch>("s-guid", "search", "tag:x", 1, 99)),
        sample(lazyMap()),
        sample(data("some body bytes")),
        sample(resourceAttributes()),
        sample(resource("resource body")),
        sample(noteAttributes()),
        sample(fullNote()),
        sample(std::make_shared<RURUPublishing>("uri", 3, false, "text")),
        sample(sharedNotebook(-9)),
        sample(notebook),
        sample(std::make_shared<RURULinkedNotebook>("share", "user", "s1", "key", "uri", "guid", 5,
                                                    "https://example.test/shard/s1/notestore",
                                                    "https://example.test/shard/s1/")),
        sample(std::make_shared<RURUNoteFilter>(1, true, "words", "nb-guid",
                                                std::vector<std::string>{"a", "b"}, "Europe/Berlin", true)),
        sample(std::make_shared<RURUNoteList>(0, 2, std::vector<std::shared_ptr<RURUNote>>{fullNote(), fullNote()},
                                              std::vector<std::string>{"the"}, std::vector<std::string>{"x", "y"},
                                              1234)),
        sample(std::make_shared<RURUUserException>(9, "authenticationToken")),
        sample(std::make_shared<RURUSystemException>(2, "try again later")),
        sample(std::make_shared<RURUNotFoundException>("Note.guid", "abc")),
    };
}

std::shared_ptr<Record> everyOtherField(const Sample &full, bool odd)
{
    KeyedArchive all;
    full.record->encodeWithCoder(all);
    KeyedArchive some;
    const auto fields = full.record->layout().fields();
    for (std::size_t i = odd ? 1 : 0; i < fields.size(); i += 2)
        if (const ArchiveValue *v = all.valueForKey(fields[i].name))
            some.encodeObject(fields[i].name, *v);
    // The archive constructor is per type; an empty record restores from it.
    auto record = full.fresh();
    record->decodeFields(some);
    return record;
}

} // namespace ravadido::samples
