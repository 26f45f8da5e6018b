// The container: loading, the header parser, extraction and writing.
#include <gtest/gtest.h>

#include <random>

#include "container/ContainerState.h"
#include "tests/fake/FakePlatform.h"

namespace qm {
namespace {

const char kPath[] = "C:\\Repair\\QM_File.ini";

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetContainerState();
    SetPlatform(PlatformOf(fake));
  }
  void TearDown() override { SetPlatform({}); }

  // Parses `bytes` as if loaded from a file.
  bool Parse(const std::string& bytes) {
    ContainerState.image.assign(bytes.begin(), bytes.end());
    return ParseContainer();
  }
  const PROGRAMINFO& Entry(std::size_t i) { return ContainerState.entries.at(i); }
  std::string Extracted() {
    return std::string(ContainerState.extracted.begin(), ContainerState.extracted.end());
  }

  test::FakePlatform fake;
};

// Two records, then the payload "abcde": A.exe is "abc", B.exe "de".
const std::string kTwoRecords =
    "QM_FileName:A.exeQM_FileSize:3QM_FilePlace:0QM_FindHwnd:T"
    "QM_FileName:B.exeQM_FileSize:2QM_FilePlace:3QM_FindHwnd:U"
    "QM_Program_Start:abcde";

TEST_F(ContainerTest, TwoRecordExample) {
  EXPECT_TRUE(Parse(kTwoRecords));
  EXPECT_EQ(ContainerState.entryCount, 2);
  EXPECT_EQ(ContainerState.payloadOffset, 131);
  EXPECT_EQ(Entry(0).fileName, "A.exe");
  EXPECT_EQ(Entry(0).fileSize, 3);
  EXPECT_EQ(Entry(0).filePlace, 0);
  EXPECT_EQ(Entry(0).findHwnd, std::vector<std::string>{"T"});
  EXPECT_EQ(Entry(0).findHwndCount, 1);
  EXPECT_EQ(Entry(1).fileName, "B.exe");
  EXPECT_EQ(Entry(1).fileSize, 2);
  EXPECT_EQ(Entry(1).filePlace, 3);
  EXPECT_EQ(Entry(1).findHwnd, std::vector<std::string>{"U"});

  EXPECT_EQ(ExtractEntry("B.exe").firstIndex, 1);
  EXPECT_EQ(Extracted(), kTwoRecords.substr(134, 2));
}

TEST_F(ContainerTest, ExtractingTheFirstEntryTakesOffsets131To133) {
  Parse(kTwoRecords);
  EXPECT_EQ(ExtractEntry("A.exe").firstIndex, 0);
  EXPECT_EQ(Extracted(), "abc");
}

TEST_F(ContainerTest, TitlesNoneThreeAndEmpty) {
  Parse("QM_FileName:aQM_FileSize:1QM_FilePlace:2"
        "QM_FileName:bQM_FileSize:1QM_FilePlace:3QM_FindHwnd:x QM_FindHwnd:yQM_FindHwnd:z"
        "QM_FileName:cQM_FileSize:1QM_FilePlace:4QM_FindHwnd:QM_FindHwnd:w"
        "QM_FileName:dQM_FileSize:1QM_FilePlace:5QM_FindHwnd:last"
        "QM_Program_Start:");
  ASSERT_EQ(ContainerState.entryCount, 4);
  EXPECT_EQ(Entry(0).filePlace, 2);  // the place ends at the next record's name
  EXPECT_TRUE(Entry(0).findHwnd.empty());
  EXPECT_EQ(Entry(0).findHwndCount, 0);
  EXPECT_EQ(Entry(1).findHwnd, (std::vector<std::string>{"x ", "y", "z"}));
  EXPECT_EQ(Entry(1).findHwndCount, 3);
  EXPECT_EQ(Entry(2).findHwnd, (std::vector<std::string>{"", "w"}));  // two keys in a row
  EXPECT_EQ(Entry(2).findHwndCount, 2);
  EXPECT_EQ(Entry(3).findHwnd, std::vector<std::string>{"last"});
}

TEST_F(ContainerTest, LastRecordWithSeveralTitlesReadsOneTitleUpToTheMarker) {
  Parse("QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:oneQM_FindHwnd:two"
        "QM_Program_Start:x");
  EXPECT_EQ(Entry(0).findHwnd, std::vector<std::string>{"oneQM_FindHwnd:two"});
  EXPECT_EQ(Entry(0).findHwndCount, 1);
}

TEST_F(ContainerTest, NumbersFollowTheAtoiRule) {
  struct Row {
    const char* text;
    std::int32_t value;
  };
  const Row rows[] = {{"12abc", 12},        {"abc", 0},          {"-5", -5},
                      {"   7", 7},          {"\r\n42\r\n", 42},   {"+9", 9},
                      {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}, {"", 0}};
  for (const Row& row : rows) {
    ResetContainerState();
    Parse(std::string("QM_FileName:aQM_FileSize:") + row.text + "QM_FilePlace:" + row.text +
          "QM_FindHwnd:tQM_Program_Start:");
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Entry(0).fileSize, row.value);
    EXPECT_EQ(Entry(0).filePlace, row.value);
  }
}

TEST_F(ContainerTest, NamesAreTakenVerbatimAndKeysAreCaseSensitive) {
  Parse("leading text QM_FileName:a.exe\r\nQM_FileSize:1QM_FilePlace:0"
        "qm_filename:lowerQM_FindHwnd:tQM_Program_Start:");
  ASSERT_EQ(ContainerState.entryCount, 1);  // the lower-case key opens nothing
  EXPECT_EQ(Entry(0).fileName, "a.exe\r\n");
  EXPECT_EQ(Entry(0).filePlace, 0);  // "0qm_filename:lower" reads as 0
}

TEST_F(ContainerTest, NameKeyFollowedByTheSizeKeyGivesAnEmptyName) {
  Parse("QM_FileName:QM_FileSize:1QM_FilePlace:0QM_FindHwnd:tQM_Program_Start:");
  EXPECT_EQ(Entry(0).fileName, "");
}

TEST_F(ContainerTest, LastRecordWithoutSizeKeyHasAnEmptyNameButKeepsPlaceAndTitle) {
  Parse("QM_FileName:aQM_FilePlace:4QM_FindHwnd:tQM_Program_Start:");
  ASSERT_EQ(ContainerState.entryCount, 1);
  EXPECT_EQ(Entry(0).fileName, "");
  EXPECT_EQ(Entry(0).filePlace, 4);
  EXPECT_EQ(Entry(0).findHwnd, std::vector<std::string>{"t"});
}

TEST_F(ContainerTest, HeadersWithoutRecords) {
  EXPECT_FALSE(Parse("no keys at all"));
  EXPECT_EQ(ContainerState.entryCount, 0);

  ResetContainerState();
  EXPECT_FALSE(Parse(std::string("\0QM_FileName:a", 14)));  // the header ends at the zero
  EXPECT_EQ(ContainerState.entryCount, 0);

  ResetContainerState();
  EXPECT_FALSE(Parse("QM_Program_Start:payload"));
  EXPECT_EQ(ContainerState.payloadOffset, 17);
  EXPECT_EQ(ContainerState.entryCount, 0);

  ResetContainerState();
  EXPECT_FALSE(Parse(""));
  EXPECT_EQ(ContainerState.payloadOffset, 16);
}

TEST_F(ContainerTest, PayloadBeforeItsFirstZeroIsHeaderText) {
  // A name key in the payload before any zero byte opens a record.
  Parse("QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:t"
        "QM_Program_Start:QM_FileName:" + std::string(1, '\0') + "QM_FileName:b");
  EXPECT_EQ(ContainerState.entryCount, 2);
  EXPECT_EQ(ContainerState.payloadOffset, 70);
}

// --- what the parser does where a container breaks the writing rules ---

TEST_F(ContainerTest, LastRecordWithoutTitleHasItsPlaceEndAtTheMarker) {
  Parse("QM_FileName:aQM_FileSize:2QM_FilePlace:1QM_Program_Start:xyz");
  ASSERT_EQ(ContainerState.entryCount, 1);
  EXPECT_EQ(Entry(0).filePlace, 1);
  EXPECT_TRUE(Entry(0).findHwnd.empty());
  ExtractEntry("a");
  EXPECT_EQ(Extracted(), "yz");
}

TEST_F(ContainerTest, ContainerWithoutMarkerReadsItsRecordsToTheEnd) {
  Parse("QM_FileName:aQM_FileSize:2QM_FilePlace:7QM_FindHwnd:oneQM_FindHwnd:two");
  EXPECT_EQ(ContainerState.payloadOffset, 16);
  ASSERT_EQ(ContainerState.entryCount, 1);
  EXPECT_EQ(Entry(0).filePlace, 7);
  EXPECT_EQ(Entry(0).findHwnd, (std::vector<std::string>{"one", "two"}));

  ResetContainerState();
  Parse("QM_FileName:aQM_FileSize:2QM_FilePlace:7  ");
  EXPECT_EQ(Entry(0).filePlace, 7);
}

TEST_F(ContainerTest, TrailingNameKeyEndsTheParse) {
  Parse("QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:tQM_Program_Start:QM_FileName:");
  EXPECT_EQ(ContainerState.entryCount, 2);
  EXPECT_EQ(Entry(1).fileName, "");
  ResetContainerState();
  Parse("QM_FileName:");
  EXPECT_EQ(ContainerState.entryCount, 1);
}

// --- double-byte code page ---

TEST_F(ContainerTest, KeysNeverStartOnATrailByte) {
  // 0x83 is a lead byte in code page 932: the "Q" after it is its trail
  // byte there, so no record starts at it; in 1252 one does.
  const std::string header =
      "QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:t\x83"
      "QM_FileName:bQM_FileSize:1QM_FilePlace:0QM_FindHwnd:uQM_Program_Start:z";
  fake.codePage = 932;
  Parse(header);
  ASSERT_EQ(ContainerState.entryCount, 1);
  EXPECT_EQ(Entry(0).findHwnd,
            std::vector<std::string>{"t\x83QM_FileName:bQM_FileSize:1QM_FilePlace:0QM_FindHwnd:u"});

  fake.codePage = 1252;
  ResetContainerState();
  Parse(header);
  ASSERT_EQ(ContainerState.entryCount, 2);
  EXPECT_EQ(Entry(0).findHwnd, std::vector<std::string>{"t\x83"});
}

TEST_F(ContainerTest, TrailByte5CInANameIsKept) {
  fake.codePage = 932;
  Parse("QM_FileName:\x83\x5C.exeQM_FileSize:1QM_FilePlace:0QM_FindHwnd:\x83\x5CQM_Program_Start:z");
  EXPECT_EQ(Entry(0).fileName, "\x83\x5C.exe");
  EXPECT_EQ(Entry(0).findHwnd, std::vector<std::string>{"\x83\x5C"});
}

// --- extraction ---

TEST_F(ContainerTest, ExtractionMatchesWholeNamesCaseSensitively) {
  Parse("QM_FileName:Tool.exe\nQM_FileSize:1QM_FilePlace:0"
        "QM_FileName:Tool.exeQM_FileSize:1QM_FilePlace:1QM_FindHwnd:tQM_Program_Start:ab");
  EXPECT_EQ(ExtractEntry("tool.exe").firstIndex, -1);
  EXPECT_TRUE(ContainerState.extracted.empty());
  EXPECT_EQ(ExtractEntry("Tool.exe").firstIndex, 1);  // the line break makes entry 0 another name
  EXPECT_EQ(Extracted(), "b");
}

TEST_F(ContainerTest, DuplicateNamesGiveTheFirstIndexAndTheLastBytes) {
  Parse("QM_FileName:xQM_FileSize:1QM_FilePlace:0"
        "QM_FileName:dQM_FileSize:1QM_FilePlace:1"
        "QM_FileName:yQM_FileSize:1QM_FilePlace:2"
        "QM_FileName:dQM_FileSize:2QM_FilePlace:3QM_FindHwnd:tQM_Program_Start:abcde");
  EXPECT_EQ(ExtractEntry("d").firstIndex, 1);
  EXPECT_EQ(Extracted(), "de");
}

TEST_F(ContainerTest, EntriesOutsideTheImageCopyNothingButStillMatch) {
  struct Row {
    const char* size;
    const char* place;
  };
  const Row rows[] = {{"3", "3"},   {"-1", "0"}, {"1", "-1"},
                      {"2147483647", "2147483647"}, {"1", "99999999999"}, {"6", "0"}};
  for (const Row& row : rows) {
    ResetContainerState();
    ContainerState.extracted = {'o', 'l', 'd'};
    Parse(std::string("QM_FileName:aQM_FileSize:") + row.size + "QM_FilePlace:" + row.place +
          "QM_FindHwnd:tQM_Program_Start:abcde");
    SCOPED_TRACE(std::string(row.size) + "@" + row.place);
    const Extraction extraction = ExtractEntry("a");
    EXPECT_FALSE(extraction.copied);
    EXPECT_EQ(extraction.firstIndex, 0);
    EXPECT_TRUE(ContainerState.extracted.empty());
  }
}

TEST_F(ContainerTest, EntryAtTheVeryEndAndEntryOfSizeZero) {
  Parse("QM_FileName:endQM_FileSize:2QM_FilePlace:3"
        "QM_FileName:zeroQM_FileSize:0QM_FilePlace:5QM_FindHwnd:tQM_Program_Start:abcde");
  ExtractEntry("end");
  EXPECT_EQ(Extracted(), "de");
  EXPECT_TRUE(ExtractEntry("zero").copied);
  EXPECT_TRUE(ContainerState.extracted.empty());
  EXPECT_EQ(WriteExtracted("C:\\out.exe"_w), WriteOutcome::kWhole);
  EXPECT_EQ(fake.files["C:\\out.exe"].data, "");
}

// --- writing ---

TEST_F(ContainerTest, WritingRenamesWhatStandsThereAsideDeletesItAndCreatesANewFile) {
  fake.files["C:\\out.exe"].data = "a much longer old content";
  ContainerState.extracted = {'n', 'e', 'w'};
  EXPECT_EQ(WriteExtracted("C:\\out.exe"_w), WriteOutcome::kWhole);
  EXPECT_EQ(fake.files["C:\\out.exe"].data, "new");
  EXPECT_EQ(fake.files.size(), 1u);
  EXPECT_EQ(fake.openHandles(), 0);
  const std::string aside = "C:\\out.exe.qm-0001020304050607";  // the fake's first random bytes
  EXPECT_EQ(fake.calls, (std::vector<std::string>{
                            "GetFileAttributes(\"C:\\out.exe\")",
                            "MoveFileEx(\"C:\\out.exe\", \"" + aside + "\", 0)",
                            "DeleteFile(\"" + aside + "\")",
                            "CreateFile(\"C:\\out.exe\", 1073741824, 1, 1, 128)",  // write, share read, create new
                            "WriteFile(3)", "CloseHandle()"}));

  // A scanner holds the old file sharing delete: its deleted name would stay
  // until the scanner lets go; renamed aside, it frees the tool's name at once.
  fake.files["C:\\held.exe"].heldSharingDelete = true;
  EXPECT_EQ(WriteExtracted("C:\\held.exe"_w), WriteOutcome::kWhole);
  EXPECT_EQ(fake.files["C:\\held.exe"].data, "new");
  EXPECT_TRUE(fake.files["C:\\held.exe.qm-0102030405060708"].deletePending);
  // Deleted in place, it keeps the name and the creation fails.
  fake.files["C:\\held.exe"] = test::FakeFile();
  fake.files["C:\\held.exe"].heldSharingDelete = true;
  fake.files["C:\\held.exe"].renameFails = true;
  EXPECT_EQ(WriteExtracted("C:\\held.exe"_w), WriteOutcome::kNotCreated);

  // Renamed aside but not deletable (a tool still running from it): the
  // name is free all the same, and the old file goes at the next restart.
  fake.files["C:\\running.exe"].deleteFailures = 1;
  EXPECT_EQ(WriteExtracted("C:\\running.exe"_w), WriteOutcome::kWhole);
  EXPECT_EQ(fake.scheduledRemovals, std::vector<std::string>{"C:\\running.exe.qm-030405060708090a"});
}

TEST_F(ContainerTest, WritingFailsWhenSomethingStaysThereOrTheDiskIsFull) {
  fake.files["C:\\locked.exe"].deleteFailures = 1;  // held by another program without delete sharing
  fake.files["C:\\locked.exe"].renameFails = true;
  fake.files["C:\\locked.exe"].data = "kept";
  ContainerState.extracted = {'x', 'y'};
  EXPECT_EQ(WriteExtracted("C:\\locked.exe"_w), WriteOutcome::kNotCreated);
  EXPECT_EQ(fake.files["C:\\locked.exe"].data, "kept");
  // A folder or a read-only file is kept on purpose: never renamed aside.
  fake.files["C:\\folder.exe"].attributes = 0x10;
  EXPECT_EQ(WriteExtracted("C:\\folder.exe"_w), WriteOutcome::kNotCreated);
  fake.files["C:\\read-only.exe"].attributes = 0x1;
  EXPECT_EQ(WriteExtracted("C:\\read-only.exe"_w), WriteOutcome::kNotCreated);
  EXPECT_EQ(fake.CountCalls("MoveFileEx"), 1);  // the locked file's attempt only

  fake.diskFree = 1;
  EXPECT_EQ(WriteExtracted("C:\\full.exe"_w), WriteOutcome::kPartial);
  EXPECT_EQ(fake.files["C:\\full.exe"].data, "x");
  EXPECT_EQ(fake.openHandles(), 0);
}

TEST_F(ContainerTest, HoldingKeepsTheWrittenFileOpenAndCatchesASwap) {
  ContainerState.extracted = {'t', 'o', 'o', 'l'};
  ASSERT_EQ(WriteExtracted("C:\\t.exe"_w), WriteOutcome::kWhole);
  fake.calls.clear();
  {
    const OwnedHandle held = HoldExtracted("C:\\t.exe"_w);
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(fake.calls.front(), "CreateFile(\"C:\\t.exe\", 2147483648, 1, 3, 128)");  // read, share read only
    EXPECT_TRUE(fake.IsOpen("C:\\t.exe"));
  }
  for (const std::string swapped : {"TOOL", "tool and more", "too"}) {
    fake.files["C:\\t.exe"].data = swapped;
    EXPECT_FALSE(HoldExtracted("C:\\t.exe"_w).Valid()) << swapped;
  }
  fake.files.erase("C:\\t.exe");
  EXPECT_FALSE(HoldExtracted("C:\\t.exe"_w).Valid());
  EXPECT_EQ(fake.openHandles(), 0);
}

// --- loading ---

TEST_F(ContainerTest, LoadingReadsTheWholeFileAndNormalisesItsAttributes) {
  fake.files[kPath].data = kTwoRecords;
  fake.files[kPath].attributes = 0x1 | 0x2 | 0x4;  // read-only, hidden, system
  EXPECT_TRUE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_EQ(std::string(ContainerState.image.begin(), ContainerState.image.end()), kTwoRecords);
  EXPECT_EQ(fake.files[kPath].attributes, 0x80u);
  EXPECT_EQ(fake.calls.front(), "CreateFile(\"C:\\Repair\\QM_File.ini\", 2147483648, 1, 3, 128)");
  EXPECT_EQ(fake.openHandles(), 0);
}

TEST_F(ContainerTest, MissingFileFailsAndTouchesNothing) {
  EXPECT_FALSE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_EQ(fake.CountCalls("SetFileAttributes"), 0);
  EXPECT_TRUE(ContainerState.image.empty());
}

TEST_F(ContainerTest, ShortOrFailedReadIsNotAReadableContainer) {
  fake.files[kPath].data = kTwoRecords;
  fake.files[kPath].readEndsAt = 10;  // shorter than its size says
  EXPECT_FALSE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_TRUE(ContainerState.image.empty());
  EXPECT_EQ(fake.openHandles(), 0);

  fake.files[kPath].readEndsAt = -1;
  fake.files[kPath].readFails = true;
  EXPECT_FALSE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_EQ(fake.openHandles(), 0);

  // From 4 GiB up, never read: not as its size's low 32 bits (a whole
  // container after 4 GiB of anything, or an empty file).
  fake.files[kPath].readFails = false;
  for (const std::int64_t size : {(std::int64_t{1} << 32) + std::int64_t(kTwoRecords.size()), std::int64_t{1} << 32}) {
    fake.files[kPath].reportedSize = size;
    fake.calls.clear();
    EXPECT_FALSE(LoadContainer(WidePathFromUtf8(kPath))) << size;
    EXPECT_EQ(fake.CountCalls("ReadFile"), 0);
    EXPECT_FALSE(HoldFile(WidePathFromUtf8(kPath), ContainerState.extracted).Valid());
  }
  EXPECT_EQ(fake.openHandles(), 0);
}

TEST_F(ContainerTest, BigFilesMoveInPartsAndAFailureInTheMiddleFailsTheWhole) {
  std::string big(9u << 20, 'q');  // three parts of at most 4 MiB
  big[0] = 'A';
  big.back() = 'Z';
  fake.files[kPath].data = big;
  fake.files[kPath].partSize = 1000;  // and the system stops short of each
  ASSERT_TRUE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_TRUE(std::equal(big.begin(), big.end(), ContainerState.image.begin()));
  EXPECT_EQ(fake.CountCalls("ReadFile(4194304)"), 0);
  EXPECT_EQ(fake.calls[3], "ReadFile(4194304)");  // after open, attributes and size
  for (const std::string& call : fake.calls) EXPECT_NE(call, "ReadFile(" + std::to_string(big.size()) + ")");

  ContainerState.extracted = ContainerState.image;
  fake.files["C:\\big.exe"].partSize = 1000;
  EXPECT_EQ(WriteExtracted("C:\\big.exe"_w), WriteOutcome::kWhole);
  EXPECT_EQ(fake.files["C:\\big.exe"].data, big);
  EXPECT_TRUE(HoldExtracted("C:\\big.exe"_w).Valid());

  fake.files[kPath].failsAt = 5u << 20;
  ResetContainerState();
  EXPECT_FALSE(LoadContainer(WidePathFromUtf8(kPath)));
  EXPECT_TRUE(ContainerState.image.empty());
  ContainerState.extracted.assign(big.begin(), big.end());
  fake.diskFree = 5u << 20;  // the second part fails
  EXPECT_EQ(WriteExtracted("C:\\big.exe"_w), WriteOutcome::kPartial);
  EXPECT_EQ(fake.openHandles(), 0);
}

TEST_F(ContainerTest, LongHeadersParseEveryRecord) {
  std::string header;
  for (int i = 0; i < 20000; ++i) {
    header += "QM_FileName:e" + std::to_string(i) + "QM_FileSize:1QM_FilePlace:" + std::to_string(i) +
              "QM_FindHwnd:w" + std::to_string(i);
  }
  Parse(header + "QM_Program_Start:");
  ASSERT_EQ(ContainerState.entryCount, 20000);
  EXPECT_EQ(Entry(19999).fileName, "e19999");
  EXPECT_EQ(Entry(19999).filePlace, 19999);
  EXPECT_EQ(Entry(12345).findHwnd, std::vector<std::string>{"w12345"});
}

}  // namespace
}  // namespace qm
