// What the individual records add to the engine: their tables, the ids they
// do not use, sets and maps, and the records the importer builds.

#include "WireTestSupport.h"

#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"

#include <gtest/gtest.h>

#include <type_traits>

using namespace ravadido;
using namespace ravadido::test;

namespace {

std::vector<std::string> setFields(const Record &record)
{
    std::vector<std::string> names;
    for (const FieldInfo &f : record.layout().fields())
        if (f.isSet(record))
            names.push_back(f.name);
    return names;
}

using Names = std::vector<std::string>;

template<typename T>
Names setFieldsAfterReading(const std::string &hexText)
{
    return setFields(*readHex<T>(hexText));
}

} // namespace

TEST(Records, ImporterNoteGoesOutInIdOrderWithItsResources)
{
    auto data = std::make_shared<RURUData>();
    data->setSize(2);
    data->setBodyHash(Bytes("\xaa\xbb", 2));
    data->setBody(Bytes("hi", 2));
    auto resource = std::make_shared<RURUResource>();
    resource->setData(data);
    resource->setRecognition(data);
    resource->setMime("image/png");
    RURUNote note;
    note.setTitle("T");
    note.setContent("C");
    note.setCreated(1000);
    note.setNotebookGuid("G");
    note.setResources(std::vector<std::shared_ptr<RURUResource>>{resource});

    const std::string dataHex = "0B 00 01 00 00 00 02 AA BB 08 00 02 00 00 00 02 0B 00 03 00 00 00 02 68 69 00";
    EXPECT_EQ(hexOf(note), "0B 00 02 00 00 00 01 54 "
                           "0B 00 03 00 00 00 01 43 "
                           "0A 00 06 00 00 00 00 00 00 03 E8 "
                           "0B 00 0B 00 00 00 01 47 "
                           "0F 00 0D 0C 00 00 00 01 "
                           "0C 00 03 "
                               + dataHex
                               + " 0B 00 04 00 00 00 09 69 6D 61 67 65 2F 70 6E 67 "
                                 "0C 00 09 "
                               + dataHex + " 00 00");
}

// Ids a record does not use, and known ids under another wire type, are
// skipped; nothing is set.
TEST(Records, UnusedIdsAndMistypedFieldsAreSkipped)
{
    struct Case
    {
        const char *what;
        Names (*read)(const std::string &);
        const char *hex;
    };
    const Case cases[] = {
        {"resource id 10", setFieldsAfterReading<RURUResource>, "0B 00 0A 00 00 00 01 41 00"},
        {"note attributes id 2", setFieldsAfterReading<RURUNoteAttributes>, "0A 00 02 00 00 00 00 00 00 00 01 00"},
        {"note attributes id 9", setFieldsAfterReading<RURUNoteAttributes>, "0B 00 09 00 00 00 01 41 00"},
        {"note attributes id 18", setFieldsAfterReading<RURUNoteAttributes>, "0B 00 12 00 00 00 01 41 00"},
        {"note attributes id 20", setFieldsAfterReading<RURUNoteAttributes>, "08 00 14 00 00 00 01 00"},
        {"notebook id 3", setFieldsAfterReading<RURUNotebook>, "0B 00 03 00 00 00 01 41 00"},
        {"notebook id 9", setFieldsAfterReading<RURUNotebook>, "0C 00 09 0B 00 01 00 00 00 01 41 00 00"},
        {"linked notebook id 1", setFieldsAfterReading<RURULinkedNotebook>, "0B 00 01 00 00 00 01 41 00"},
        {"content hash as i32", setFieldsAfterReading<RURUNote>, "08 00 04 00 00 00 01 00"},
        {"body hash as list", setFieldsAfterReading<RURUData>, "0F 00 01 03 00 00 00 01 07 00"},
        {"keysOnly as list", setFieldsAfterReading<RURULazyMap>, "0F 00 01 0B 00 00 00 01 00 00 00 01 61 00"},
        {"fullMap as set", setFieldsAfterReading<RURULazyMap>, "0E 00 02 0B 00 00 00 00 00"},
        {"notes as string", setFieldsAfterReading<RURUNoteList>, "0B 00 03 00 00 00 01 41 00"},
        {"resource data as string", setFieldsAfterReading<RURUResource>, "0B 00 03 00 00 00 01 41 00"},
        {"user ids 5, 8, 12", setFieldsAfterReading<RURUUser>,
         "0B 00 05 00 00 00 01 41 08 00 08 00 00 00 01 02 00 0C 01 00"},
        {"user attributes ids 8, 10", setFieldsAfterReading<RURUUserAttributes>,
         "0B 00 08 00 00 00 01 41 0A 00 0A 00 00 00 00 00 00 00 01 00"},
        {"accounting id 15", setFieldsAfterReading<RURUAccounting>, "0A 00 0F 00 00 00 00 00 00 00 01 00"},
        {"ad parameters ids 1, 3", setFieldsAfterReading<RURUAdParameters>, "0B 00 01 00 00 00 01 41 02 00 03 01 00"},
        {"metadata result spec ids 1, 3", setFieldsAfterReading<RURUNotesMetadataResultSpec>,
         "02 00 01 01 02 00 03 01 00"},
        {"note content in a summary", setFieldsAfterReading<RURUNoteMetadata>, "0B 00 03 00 00 00 01 41 00"},
        {"privilege as i64", setFieldsAfterReading<RURUUser>, "0A 00 07 00 00 00 00 00 00 00 01 00"},
        {"ad width as i32", setFieldsAfterReading<RURUAd>, "08 00 02 00 00 00 01 00"},
        {"expunged notes as struct", setFieldsAfterReading<RURUSyncChunk>, "0C 00 09 00 00"},
        {"related notebooks as string", setFieldsAfterReading<RURURelatedResult>, "0B 00 02 00 00 00 01 41 00"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.read(c.hex), Names{}) << c.what;
}

TEST(Records, AllFieldsConstructorSetsEveryFlagAndWritesOnlyScalarsForNils)
{
    RURUSavedSearch search(std::nullopt, std::nullopt, std::nullopt, 0, 0);
    EXPECT_EQ(setFields(search).size(), 5u);
    EXPECT_EQ(hexOf(search), "08 00 04 00 00 00 00 08 00 05 00 00 00 00 00");

    RURUNotebook notebook(std::nullopt, std::nullopt, 0, false, 0, 0, nullptr, false, std::nullopt, std::nullopt,
                          std::nullopt);
    EXPECT_EQ(setFields(notebook).size(), 11u);
    EXPECT_EQ(hexOf(notebook), "08 00 05 00 00 00 00 02 00 06 00 0A 00 07 00 00 00 00 00 00 00 00 "
                               "0A 00 08 00 00 00 00 00 00 00 00 02 00 0B 00 00");

    RURULinkedNotebook linked("a", "b", "c", "d", "e", "f", 7, "g", "h");
    auto ids = readBytes<RURULinkedNotebook>(bytesOf(linked));
    EXPECT_EQ(setFields(*ids).size(), 9u);
    EXPECT_EQ(bytesOf(*ids), bytesOf(linked));
    EXPECT_EQ(hexOf(linked).substr(0, 8), "0B 00 02");
}

TEST(Records, ImporterFilterCarriesOnlyTheNotebook)
{
    RURUNoteFilter filter;
    filter.setNotebookGuid("nb");
    EXPECT_EQ(hexOf(filter), "0B 00 04 00 00 00 02 6E 62 00");
    filter.setTagGuids(std::nullopt);
    EXPECT_TRUE(filter.tagGuidsIsSet());
    EXPECT_EQ(hexOf(filter), "0B 00 04 00 00 00 02 6E 62 00");
}

TEST(Records, LazyMapSetsAndMaps)
{
    RURULazyMap keys;
    keys.setKeysOnly(std::set<std::string>{"b", "a"});
    EXPECT_EQ(hexOf(keys), "0E 00 01 0B 00 00 00 02 00 00 00 01 61 00 00 00 01 62 00");
    EXPECT_EQ(readBytes<RURULazyMap>(bytesOf(keys))->keysOnly(), keys.keysOnly());

    RURULazyMap map;
    map.setFullMap(std::map<std::string, std::string>{{"k", "v"}});
    EXPECT_EQ(hexOf(map), "0D 00 02 0B 0B 00 00 00 01 00 00 00 01 6B 00 00 00 01 76 00");

    RURULazyMap empty;
    empty.setKeysOnly(std::set<std::string>{});
    EXPECT_EQ(hexOf(empty), "0E 00 01 0B 00 00 00 00 00");
    auto reread = readBytes<RURULazyMap>(bytesOf(empty));
    ASSERT_TRUE(reread->keysOnlyIsSet() && reread->keysOnly());
    EXPECT_TRUE(reread->keysOnly()->empty());

    // A repeated key keeps the later value; a repeated string is held once.
    auto repeated = readHex<RURULazyMap>("0D 00 02 0B 0B 00 00 00 02 00 00 00 01 6B 00 00 00 01 31 "
                                         "00 00 00 01 6B 00 00 00 01 32 "
                                         "0E 00 01 0B 00 00 00 02 00 00 00 01 61 00 00 00 01 61 00");
    EXPECT_EQ(*repeated->fullMap(), (std::map<std::string, std::string>{{"k", "2"}}));
    EXPECT_EQ(*repeated->keysOnly(), (std::set<std::string>{"a"}));
}

TEST(Records, NoteListNotesField)
{
    auto empty = readHex<RURUNoteList>("0F 00 03 0C 00 00 00 00 00");
    ASSERT_TRUE(empty->notesIsSet() && empty->notes());
    EXPECT_TRUE(empty->notes()->empty());

    auto none = readHex<RURUNoteList>("08 00 01 00 00 00 00 00");
    EXPECT_FALSE(none->notesIsSet());
    EXPECT_FALSE(none->notes());

    auto two = readHex<RURUNoteList>(
        "0F 00 03 0C 00 00 00 02 0B 00 01 00 00 00 01 61 00 0B 00 02 00 00 00 01 74 00 00");
    ASSERT_EQ(two->notes()->size(), 2u);
    EXPECT_EQ((*two->notes())[0]->guid(), "a");
    EXPECT_EQ((*two->notes())[1]->title(), "t");
}

// Count maps hold 32-bit values, as the wire does: a count cannot be put in
// that the wire would have to cut.
TEST(Records, CountMapsAreThirtyTwoBitBothWays)
{
    static_assert(
        std::is_same_v<std::remove_cvref_t<decltype(*RURUNoteCollectionCounts().notebookCounts())>::mapped_type,
                       std::int32_t>);
    auto counts = readHex<RURUNoteCollectionCounts>("0D 00 01 0B 08 00 00 00 03 "
                                                    "00 00 00 01 61 00 00 00 02 "
                                                    "00 00 00 01 62 FF FF FF FF "
                                                    "00 00 00 01 61 00 00 00 07 00");
    EXPECT_EQ(*counts->notebookCounts(), (std::map<std::string, std::int32_t>{{"a", 7}, {"b", -1}}));
    EXPECT_FALSE(counts->tagCountsIsSet());
    EXPECT_EQ(hexOf(*counts), "0D 00 01 0B 08 00 00 00 02 00 00 00 01 61 00 00 00 07 "
                              "00 00 00 01 62 FF FF FF FF 00");
    EXPECT_EQ(RURUNoteCollectionCounts().description(),
              "NoteCollectionCounts(notebookCounts:(null),tagCounts:(null),trashCount:0)");
}

TEST(Records, AdParametersWriteTheirStringMapAndSkippedIds)
{
    RURUAdParameters parameters;
    parameters.setSupportHtml(false);
    parameters.setClientProperties(std::map<std::string, std::string>{{"k", "v"}});
    parameters.setImpressions(std::vector<std::shared_ptr<RURUAdImpressions>>{});
    EXPECT_EQ(hexOf(parameters), "0F 00 04 0C 00 00 00 00 02 00 05 00 "
                                 "0D 00 06 0B 0B 00 00 00 01 00 00 00 01 6B 00 00 00 01 76 00");
}
