// Client transcripts (replay/transcripts.txt) played through the decoder, the parser and the engine,
// each against the outcome written beside it. A new transcript is a new row of that file.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "engine_harness.h"
#include "link/codec.h"
#include "link/fake_code_page.h"

namespace halvane {
namespace {

using testing_engine::Scenario;
using testing_engine::TagOf;

const char kTranscripts[] =
#include "replay_transcripts.inc"
    ;

// "\xC1" in the file stands for the byte C1.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const bool escape = text.compare(k, 2, "\\x") == 0 && k + 4 <= text.size();
    out += escape ? static_cast<char>(std::stoi(text.substr(k + 2, 2), nullptr, 16)) : text[k];
    if (escape) k += 3;
  }
  return out;
}

std::string Last(const Scenario& s, const std::string& part) {
  const auto entries = s.Only(part);
  return entries.empty() ? "" : entries.back().substr(entries.back().find(part) + 1);
}

void ExpectOutcome(const Scenario& s, const std::string& outcome, std::uint64_t lastLine) {
  const std::string phase = Last(s, " phase ");
  if (outcome.rfind("followed ", 0) == 0) {
    EXPECT_EQ(s.board.firstCallId.Load(), outcome.substr(9));
    EXPECT_EQ(phase, "phase call active");
  } else if (outcome == "held" || outcome == "joined") {
    EXPECT_EQ(phase, outcome == "held" ? "phase caller on hold" : "phase joined");
  } else if (outcome == "not joined") {
    EXPECT_EQ(phase + ", " + Last(s, " audio record "), "phase caller on hold, audio record MIC 32768");
  } else if (outcome == "waiting for hold") {
    EXPECT_TRUE(phase == "phase call active" && !s.board.holdRequest.load()) << phase;
  } else if (outcome == "dial ended") {
    EXPECT_TRUE(s.Only(" btn_released no").size() == 1 && s.board.secondCallId.Load().empty());
  } else if (outcome == "ignored") {
    for (const std::string& entry : s.trace) EXPECT_LT(std::stoull(entry), lastLine) << entry;
    EXPECT_EQ(s.board.userHandle.Load(), "operator1");
  } else {
    ADD_FAILURE() << "unknown outcome " << outcome;
  }
}

TEST(Replay, EachTranscriptHasItsOutcome) {
  std::istringstream file(kTranscripts);
  std::string row, name;
  std::map<std::string, std::string> replies;
  std::unique_ptr<Scenario> s;
  std::uint64_t last = 0;
  int played = 0;
  while (std::getline(file, row)) {
    if (row.rfind("== ", 0) == 0) {
      name = row.substr(3), s = std::make_unique<Scenario>(), replies.clear(), last = 0;
      s->client.override = [&replies](const std::string& command) {
        const auto it = replies.find(command.substr(command.find(' ') + 1));
        return it == replies.end() ? std::string() : it->second == "none" ? it->second : TagOf(command) + it->second;
      };
    } else if (row.rfind("reply ", 0) == 0) {
      replies[row.substr(6, row.find(" = ") - 6)] = row.substr(row.find(" = ") + 3);
    } else if (row.rfind("=> ", 0) == 0) {
      SCOPED_TRACE(name);
      s->Run(last + 4000);
      ExpectOutcome(*s, row.substr(3), last);
      ++played;
    } else if (!row.empty() && row[0] >= '0' && row[0] <= '9') {
      last = std::stoull(row);
      const std::string line = Unescape(row.substr(row.find(' ') + 1));
      if (line == "press hold") s->Hold(last);
      if (line == "press transfer") s->Transfer(last);
      // As the link takes it: decoded, then parsed; what does not decode is dropped.
      s->At(last, [board = &s->board, line] {
        test::FakeCodePage codePage;
        std::unique_ptr<char[]> local;
        if (line.rfind("press ", 0) != 0 && Utf8ToLocal(codePage, line.c_str(), local)) ParseNotification(*board, local.get());
      });
    }
  }
  EXPECT_GE(played, 20);
}

}  // namespace
}  // namespace halvane
