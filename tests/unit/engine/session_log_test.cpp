#include "engine/session_log.h"

#include "engine/path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace halvane::test {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards; `log` inside it unless a test wants it missing.
class SessionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("halvane-log-" + std::to_string(random()) + std::to_string(random()));
    std::error_code error;
    fs::create_directories(root_ / "log", error);
    ASSERT_FALSE(error) << error.message();
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root_, error);
  }

  // Read back in text mode, so line breaks compare the same on every platform.
  std::string Contents(const std::string& handle) const {
    std::ifstream in(fs::path(Root()) / "log" / ("log(" + handle + ").txt"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Root() const { return root_.string(); }
  std::vector<fs::path> FilesUnderRoot() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    return files;
  }

  fs::path root_;
  CallBoard board_;
};

TEST_F(SessionLogTest, HeldBackTextsGoOutAheadOfTheFirstTextAfterTheHandle) {
  SessionLog log(board_, Root());
  log.WriteLog("\n\naccess Skype successfully... ");
  log.WriteLog("get current user handle... ");
  EXPECT_TRUE(FilesUnderRoot().empty());

  board_.userHandle.Store("alice");
  log.WriteLog("\n\n=>wait for incoming call");
  log.WriteLog("\n=>100% done %s %n");
  // A warning starts a line of its own; one after a line break needs no other.
  log.WriteLog("\n=>refuse another call");
  log.WriteLog("!!! Skype did not take a command in time\n");
  log.WriteLog("!!! Disconnected\n");
  const std::string alice =
      "\n\naccess Skype successfully... get current user handle... \n\n=>wait for incoming call"
      "\n=>100% done %s %n\n=>refuse another call\n!!! Skype did not take a command in time\n!!! Disconnected\n";
  EXPECT_EQ(Contents("alice"), alice);
  // A new handle starts a new file; the old one keeps its text and is written on when the handle comes back.
  board_.userHandle.Store("bob");
  log.WriteLog("two\n");
  board_.userHandle.Store("alice");
  log.WriteLog("three\n");
  EXPECT_EQ(Contents("bob"), "two\n");
  EXPECT_EQ(Contents("alice"), alice + "three\n");
}

// 1000 + 23 characters are kept whole; a text that would go past 1023 is dropped, and "c" fits after it.
TEST_F(SessionLogTest, HeldBackBufferTakesWholeTextsUpTo1023Characters) {
  for (const std::size_t second : {23, 24}) {
    CallBoard board;
    SessionLog log(board, Root());
    const std::string first(1000, 'a');
    log.WriteLog(first.c_str());
    log.WriteLog(std::string(second, 'b').c_str());
    log.WriteLog("c");
    board.userHandle.Store("fill" + std::to_string(second));
    log.WriteLog("!");
    EXPECT_EQ(Contents("fill" + std::to_string(second)), first + (second == 23 ? std::string(23, 'b') : "c") + "!");
  }
}

TEST_F(SessionLogTest, MissingLogFolderWritesNothingAndKeepsHeldBackTexts) {
  fs::remove_all(root_ / "log");
  SessionLog log(board_, Root());
  log.WriteLog("early ");
  board_.userHandle.Store("alice");
  log.WriteLog("lost ");
  EXPECT_TRUE(fs::exists(root_));
  EXPECT_FALSE(fs::exists(root_ / "log"));  // never created by the log

  fs::create_directories(root_ / "log");
  log.WriteLog("later");
  EXPECT_EQ(Contents("alice"), "early later");
}

TEST_F(SessionLogTest, HostileHandlesStayInsideTheLogFolder) {
  const std::string handles[] = {"..\\x", "a/b", "con", "../../escape", "x:y*z?\"<>|", std::string(300, 'h'),
                                 "..", "tab\there"};
  SessionLog log(board_, Root());
  for (const std::string& handle : handles) {
    board_.userHandle.Store(handle);
    log.WriteLog("text");
  }
  const auto files = FilesUnderRoot();
  EXPECT_EQ(files.size(), std::size(handles));
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(fs::canonical(file.parent_path()), fs::canonical(root_ / "log"));
    const std::string name = file.filename().string();
    EXPECT_EQ(name.rfind("log(", 0), 0u);
    EXPECT_LE(name.size(), 4 + SessionLog::kMaxHandleChars + 5);
    EXPECT_EQ(name.find(".."), std::string::npos);
  }
}

TEST(SafeFileNamePartTest, ReplacesWhatCouldLeaveTheFolderAndCutsToLength) {
  struct Case {
    std::string in;
    std::size_t max;
    std::string out;
  };
  const Case cases[] = {
      {"alice.smith", 64, "alice.smith"}, {"..\\x", 64, ".__x"},    {"a/b", 64, "a_b"},
      {"...", 64, "._."},                 {"abcdef", 3, "abc"},   {"a\x01:b", 64, "a__b"},
      {"\xE4\xB8\xAD", 64, "\xE4\xB8\xAD"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeFileNamePart(c.in, c.max), c.out) << c.in;
}

TEST_F(SessionLogTest, TwoThreadsLoseAndMixNothing) {
  constexpr int kTexts = 10000;
  SessionLog log(board_, Root());
  board_.userHandle.Store("busy");
  auto writer = [&log](char who) {
    char text[32];
    for (int i = 0; i < kTexts; ++i) {
      std::snprintf(text, sizeof(text), "%c%05d-%c\n", who, i, who);
      log.WriteLog(text);
    }
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  first.join();
  second.join();

  std::istringstream lines(Contents("busy"));
  std::set<std::string> seen;
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_EQ(line.size(), 8u) << line;
    ASSERT_EQ(line[0], line[7]) << line;
    seen.insert(line);
  }
  EXPECT_EQ(count, 2 * kTexts);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * kTexts));
}

}  // namespace
}  // namespace halvane::test
