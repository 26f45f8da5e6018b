// Writing and verifying containers: what the packer refuses, what it inserts,
// and that every packed container reads back as given.
#include <gtest/gtest.h>

#include <random>

#include "container/Container.h"
#include "container/Writer.h"
#include "platform/AtomicFile.h"
#include "tests/fake/FakePlatform.h"

namespace qm {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPlatform(PlatformOf(fake)); }
  void TearDown() override { SetPlatform({}); }

  // Parses `image` as the launcher would.
  ParsedContainer ParseImage(const std::vector<std::uint8_t>& image) { return ParseHeader(image, LeadBytes::Of(fake)); }

  test::FakePlatform fake;
};

TEST_F(WriterTest, RefusesKeysZeroBytesAndABadLastEntryNamingTheEntry) {
  const std::vector<PackEntry> entries = {
      {"ok.exe", Bytes("1"), {}},
      {"bad QM_FileSize: name", Bytes("2"), {"t"}},
      {"zero", Bytes("3"), {std::string("a\0b", 3)}},
      {"Elm_5.exe\r\n", Bytes("5"), {"t\x7f"}},
      {"last", Bytes("4"), {"one", "two"}},
  };
  const PackResult result = BuildContainer(entries);
  EXPECT_TRUE(result.image.empty());
  ASSERT_EQ(result.errors.size(), 5u);
  EXPECT_NE(result.errors[0].find("entry 2 (\"bad QM_FileSize: name\")"), std::string::npos);
  EXPECT_NE(result.errors[1].find("entry 3 (\"zero\"): a title holds a zero byte"), std::string::npos);
  EXPECT_EQ(result.errors[2], "entry 4 (\"Elm_5.exe\\x0d\\x0a\"): the name holds a control character (0x0D)");
  EXPECT_NE(result.errors[3].find("a title holds a control character (0x7F)"), std::string::npos);
  EXPECT_NE(result.errors[4].find("exactly one title"), std::string::npos);
}

TEST_F(WriterTest, RefusesAValueEndingInALeadByteUnderADoubleByteCodePage) {
  const PackResult result = BuildContainer({{"x\x83", Bytes("1"), {"Caf\xe9"}}});
  ASSERT_EQ(result.errors.size(), 2u);
  EXPECT_NE(result.errors[0].find("the name ends with a lead byte under code page 932, 936, 949 and 950"),
            std::string::npos);
  EXPECT_NE(result.errors[1].find("a title ends with a lead byte"), std::string::npos);
  EXPECT_TRUE(BuildContainer({{"x\x83", Bytes("1"), {"t"}}}, {1252}).errors.empty());
  EXPECT_TRUE(BuildContainer({{"x\x83\x5C", Bytes("1"), {"t"}}}, {932}).errors.empty());  // a whole character
  const PackResult gbk = BuildContainer({{"x\xA0", Bytes("1"), {"t"}}});  // a lead byte in 936, 949, 950 only
  ASSERT_EQ(gbk.errors.size(), 1u);
  EXPECT_NE(gbk.errors[0].find("code page 936, 949 and 950"), std::string::npos);
}

TEST_F(WriterTest, InsertsAZeroOnlyWhenThePayloadWouldReadAsHeader) {
  PackResult plain = BuildContainer({{"a", Bytes(std::string("MZ\0QM_FileName:", 15)), {"t"}}});
  ASSERT_TRUE(plain.errors.empty());
  const ParsedContainer plainParsed = ParseImage(plain.image);
  EXPECT_EQ(plainParsed.entries.at(0).filePlace, 0);
  EXPECT_EQ(plainParsed.entries.size(), 1u);

  PackResult keyed = BuildContainer({{"a", Bytes("xQM_FileName:y"), {}}, {"b", Bytes("z"), {"t"}}});
  ASSERT_TRUE(keyed.errors.empty());
  const ParsedContainer keyedParsed = ParseImage(keyed.image);
  EXPECT_EQ(keyedParsed.entries.size(), 2u);
  EXPECT_EQ(keyed.image.at(static_cast<std::size_t>(keyedParsed.payloadOffset)), 0);
  EXPECT_EQ(keyedParsed.entries.at(0).filePlace, 1);
  EXPECT_TRUE(CompareParsed(keyed.image, {{"a", Bytes("xQM_FileName:y"), {}}, {"b", Bytes("z"), {"t"}}}).empty());
}

TEST_F(WriterTest, RandomEntriesReadBackAsPackedAndExtractWhole) {
  std::mt19937 random(20261207);
  auto text = [&](std::size_t maxLength, bool allowBinary) {
    std::string out(random() % (maxLength + 1), ' ');
    for (char& c : out) c = allowBinary ? static_cast<char>(random() % 256) : static_cast<char>(0x20 + random() % 95);
    return out;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<PackEntry> entries(1 + random() % 6);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].name = text(12, false) + std::to_string(i);  // distinct names
      std::string bytes = text(40, true);
      if (random() % 3 == 0) bytes += "QM_Program_Start:QM_FileName:";
      entries[i].bytes = Bytes(bytes);
      const std::size_t titles = i + 1 == entries.size() ? 1 : random() % 4;
      for (std::size_t t = 0; t < titles; ++t) entries[i].titles.push_back(text(10, false));
    }
    const PackResult packed = BuildContainer(entries);
    ASSERT_TRUE(packed.errors.empty()) << packed.errors.front();
    EXPECT_TRUE(VerifyContainer(packed.image).empty()) << "round " << round;
    EXPECT_TRUE(CompareParsed(packed.image, entries).empty()) << "round " << round;
    const ParsedContainer parsed = ParseImage(packed.image);
    for (const PackEntry& entry : entries) {
      const PROGRAMINFO& found = parsed.entries.at(static_cast<std::size_t>(FindEntry(parsed.entries, entry.name).last));
      const auto first = packed.image.begin() + parsed.payloadOffset + found.filePlace;
      EXPECT_EQ(std::vector<std::uint8_t>(first, first + found.fileSize), entry.bytes);
    }
  }
}

TEST_F(WriterTest, VerifyNamesEveryBrokenRule) {
  struct Row {
    const char* container;
    const char* problem;
  };
  const Row rows[] = {
      {"QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:t", "no \"QM_Program_Start:\" marker"},
      {"QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_Program_Start:x", "0 titles"},
      {"QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:tQM_FindHwnd:uQM_Program_Start:x", "2 titles"},
      {"QM_FileName:aQM_FileSize:xQM_FilePlace:0QM_FindHwnd:tQM_Program_Start:x", "not decimal"},
      {"QM_FileName:aQM_FileSize:-1QM_FilePlace:0QM_FindHwnd:tQM_Program_Start:x", "not decimal"},
      {"QM_FileName:aQM_FilePlace:0QM_FindHwnd:tQM_Program_Start:x", "expected \"QM_FileSize:\""},
      {"QM_FileName:aQM_FileSize:9QM_FilePlace:0QM_FindHwnd:tQM_Program_Start:x", "outside the file"},
      {"QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:tQM_Program_Start:xQM_FileName:", "payload holds"},
      {"QM_Program_Start:", "no record"},
  };
  for (const Row& row : rows) {
    const std::vector<std::string> problems = VerifyContainer(Bytes(row.container));
    std::string all;
    for (const std::string& p : problems) all += p + "; ";
    EXPECT_NE(all.find(row.problem), std::string::npos) << row.container << " -> " << all;
  }
  EXPECT_TRUE(VerifyContainer(Bytes("intro\r\nQM_FileName:aQM_FileSize:1 \r\nQM_FilePlace:0\n"
                                    "QM_FindHwnd:tQM_Program_Start:x"))
                  .empty());
}

// The replace of an existing output on Windows, through each way
// ReplaceFileW can fail: the name always ends up holding one of the two
// files, or, when nothing can be moved back, both stay where they are.
TEST_F(WriterTest, AReplaceThatFailsPartWayLosesNeitherFile) {
  const WidePath out = "C:\\out.ini"_w, temporary = "C:\\out.ini.qmtool-1"_w, backup = "C:\\out.ini.qmtool-2"_w;
  struct Row {
    std::uint32_t failure;
    bool oldStuck, newStuck;  // the old file, or the new one, cannot be renamed
    Replacement outcome;
    const char* named;  // what then stands under the output's name
    bool backupLeft;
    bool oldHeld = false;  // a program holds the old file: the backup cannot be deleted
  };
  const Row rows[] = {
      {0, false, false, Replacement::kDone, "new", false},
      {0, false, false, Replacement::kDone, "new", true, true},       // done, and the old file said to stay
      {1175, false, false, Replacement::kLeftAsItWas, "old", false},  // nothing moved
      {1176, false, false, Replacement::kLeftAsItWas, "old", false},  // with a backup, nothing moved
      {5, false, false, Replacement::kLeftAsItWas, "old", false},
      {1177, false, false, Replacement::kLeftAsItWas, "old", false},  // the old file moved back from the backup
      {1177, true, false, Replacement::kDone, "new", false},          // or else the new one moved into place
      {1177, true, true, Replacement::kNameEmpty, nullptr, true},     // neither: both kept, and said
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.failure << " " << row.oldStuck << row.newStuck);
    fake.files.clear();
    fake.files["C:\\out.ini"].data = "old";
    fake.files["C:\\out.ini"].renameFails = row.oldStuck;
    fake.files["C:\\out.ini"].deleteFailures = row.oldHeld ? 1 : 0;
    fake.files["C:\\out.ini.qmtool-1"].data = "new";
    fake.files["C:\\out.ini.qmtool-1"].renameFails = row.newStuck;
    fake.replaceFailure = row.failure;
    const ReplaceResult result = ReplaceKeepingBackup(fake, out, temporary, backup);
    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.error, row.failure);
    EXPECT_EQ(result.backupLeft, row.backupLeft);
    if (row.named != nullptr) {
      EXPECT_EQ(fake.files["C:\\out.ini"].data, row.named);
    } else {
      EXPECT_EQ(fake.files.count("C:\\out.ini"), 0u);
      EXPECT_EQ(fake.files["C:\\out.ini.qmtool-1"].data, "new");
      EXPECT_EQ(fake.files["C:\\out.ini.qmtool-2"].data, "old");
    }
    EXPECT_EQ(fake.files.count("C:\\out.ini.qmtool-2"), row.backupLeft ? 1u : 0u);
    // Only a replace that is done and left the old file says so, naming it.
    const std::string warning = LeftBackupWarning(result, out, backup);
    EXPECT_EQ(warning.rfind("C:\\out.ini.qmtool-2: the old contents of C:\\out.ini", 0) == 0,
              row.outcome == Replacement::kDone && row.backupLeft)
        << warning;
  }
}

}  // namespace
}  // namespace qm
