// Our wire bytes against an independent implementation: the Thrift
// compiler's Python output for tests/thrift/types.thrift, compiled here.

#include "RecordSamples.h"
#include "WireTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    // Returns Python's re-encoding of each record, in order.
    std::vector<std::string> throughPython(const std::vector<std::shared_ptr<Record>> &records)
    {
        QTemporaryDir dir;
        EXPECT_TRUE(dir.isValid());
        QProcess compiler;
        compiler.start("thrift", {"--gen", "py", "-out", dir.path(),
                                  QStringLiteral(TEST_DATA_DIR "/thrift/types.thrift")});
        EXPECT_TRUE(compiler.waitForFinished(60000));
        EXPECT_EQ(compiler.exitCode(), 0) << compiler.readAllStandardError().toStdString();

        std::string input;
        for (const auto &r : records)
            input += std::string(r->layout().wireName()) + " " + lowerHex(bytesOf(*r)) + "\n";
        QProcess python;
        python.start(LEAFHAUL_PYTHON, {QStringLiteral(TEST_DATA_DIR "/crosscheck.py"), dir.path()});
        python.write(input.data(), static_cast<qint64>(input.size()));
        python.closeWriteChannel();
        EXPECT_TRUE(python.waitForFinished(60000));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();

        std::vector<std::string> out;
        std::istringstream lines(python.readAllStandardOutput().toStdString());
        for (std::string line; std::getline(lines, line);) {
            const auto space = line.find(' ');
            const std::string rest = line.substr(space + 1);
            EXPECT_EQ(rest.rfind("ERROR", 0), std::string::npos) << line;
            out.push_back(unhex(rest));
        }
        EXPECT_EQ(out.size(), records.size());
        out.resize(records.size());
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
        for (auto r : {full.record, samples::everyOtherField(full, false), samples::everyOtherField(full, true),
                       full.fresh()}) {
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
