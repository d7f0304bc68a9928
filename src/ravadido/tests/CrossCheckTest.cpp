// Our wire bytes against an independent implementation: the Thrift
// compiler's Python output for tests/thrift/types.thrift, compiled here.

#include "RecordSamples.h"
#include "WireTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

using namespace ravadido;
using namespace ravadido::test;

namespace {

std::string lowerHex(const std::string &bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0xf];
    }
    return out;
}

class CrossCheck : public ::testing::Test
{
protected:
    // Python's answer to each line of `input`, without the struct name
    // that starts it.
    std::vector<std::string> askPython(const std::string &input)
    {
        QTemporaryDir dir;
        EXPECT_TRUE(dir.isValid());
        QProcess compiler;
        compiler.start("thrift",
                       {"--gen", "py", "-out", dir.path(), QStringLiteral(TEST_DATA_DIR "/thrift/types.thrift")});
        EXPECT_TRUE(compiler.waitForFinished(60000));
        EXPECT_EQ(compiler.exitCode(), 0) << compiler.readAllStandardError().toStdString();

        QProcess python;
        python.start(LEAFHAUL_PYTHON, {QStringLiteral(TEST_DATA_DIR "/crosscheck.py"), dir.path()});
        python.write(input.data(), static_cast<qint64>(input.size()));
        python.closeWriteChannel();
        EXPECT_TRUE(python.waitForFinished(60000));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();

        std::vector<std::string> out;
        std::istringstream lines(python.readAllStandardOutput().toStdString());
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.find(" ERROR"), std::string::npos) << line;
            out.push_back(line.substr(line.find(' ') + 1));
        }
        return out;
    }

    // Returns Python's re-encoding of each record, in order.
    std::vector<std::string> throughPython(const std::vector<std::shared_ptr<Record>> &records)
    {
        std::string input;
        for (const auto &r : records)
            input += std::string(r->layout().wireName()) + " " + lowerHex(bytesOf(*r)) + "\n";
        std::vector<std::string> out = askPython(input);
        EXPECT_EQ(out.size(), records.size());
        out.resize(records.size());
        for (auto &o : out)
            o = unhex(o);
        return out;
    }
};

} // namespace

// Both ways: generated code reads our bytes and writes them again (in id
// order), and we read what it wrote and write our own bytes again.
TEST_F(CrossCheck, EveryRecordFullyAndSparselySetRoundTripsThroughGeneratedCode)
{
    std::vector<std::function<std::shared_ptr<Record>()>> fresh;
    std::vector<std::shared_ptr<Record>> records;
    for (const auto &full : samples::fullySet()) {
        for (auto r :
             {full.record, samples::everyOtherField(full, false), samples::everyOtherField(full, true), full.fresh()}) {
            records.push_back(r);
            fresh.push_back(full.fresh);
        }
    }
    // The importer's own note.
    auto importerNote = std::make_shared<RURUNote>();
    importerNote->setTitle("Page note");
    importerNote->setContent("<en-note/>");
    importerNote->setCreated(1262304000000);
    importerNote->setNotebookGuid("nb");
    auto body = samples::data("png bytes");
    auto attachment = std::make_shared<RURUResource>();
    attachment->setData(body);
    attachment->setRecognition(body);
    attachment->setMime("image/png");
    importerNote->setResources(std::vector<std::shared_ptr<RURUResource>>{attachment});
    records.push_back(importerNote);
    fresh.push_back([] { return std::make_shared<RURUNote>(); });

    const auto python = throughPython(records);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record &ours = *records[i];
        SCOPED_TRACE(ours.description());
        const std::string bytes = bytesOf(ours);
        EXPECT_EQ(hex(python[i]), hex(samples::inIdOrder(bytes)));

        auto reread = fresh[i]();
        auto buffer = std::make_shared<TMemoryBuffer>(
            reinterpret_cast<std::uint8_t *>(const_cast<char *>(python[i].data())),
            static_cast<std::uint32_t>(python[i].size()), TMemoryBuffer::COPY);
        reread->read(*protocolOver(buffer));
        EXPECT_EQ(hex(bytesOf(*reread)), hex(bytes));
    }
}

// Our tables against the definition: every id, wire type and field name.
TEST_F(CrossCheck, EveryTableMatchesTheDefinition)
{
    std::string input;
    std::vector<std::string> ours;
    for (const auto &sample : samples::fullySet()) {
        const RecordLayout &layout = sample.record->layout();
        if (layout.kept())
            continue; // an opaque record has no table
        input += std::string("FIELDS ") + layout.wireName() + "\n";
        std::vector<const FieldInfo *> rows;
        for (const FieldInfo &f : layout.fields())
            rows.push_back(&f);
        std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->id < b->id; });
        std::string line;
        for (const FieldInfo *f : rows)
            line += std::to_string(f->id) + ":" + std::to_string(f->type) + ":" + f->name + " ";
        ours.push_back(line);
    }
    const auto python = askPython(input);
    ASSERT_EQ(python.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        EXPECT_EQ(python[i], ours[i]);
}
