// Client transcripts (replay/transcripts.txt, its head says how to read them) played through the
// decoder, the parser and the engine, each against the outcome written beside it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "engine_harness.h"
#include "link/codec.h"
#include "link/fake_code_page.h"

namespace halvane {
namespace {

using testing_engine::Scenario;

#include "replay_transcripts.inc"  // const char kTranscripts[]: replay/transcripts.txt, built in

void ExpectOutcome(const Scenario& s, const std::string& outcome, std::uint64_t lastLine) {
  const auto last = [&s](const std::string& part) { auto e = s.Only(part); return e.empty() ? "" : e.back().substr(e.back().find(part) + 1); };
  const std::string phase = last(" phase "), audio = last(" audio record ");
  const std::map<std::string, std::string> phases = {{"held", "phase caller on hold"}, {"joined", "phase joined"},
      {"not joined", "phase caller on hold"}, {"waiting for hold", "phase call active"}};
  const auto want = phases.find(outcome);
  const bool followed = outcome.rfind("followed ", 0) == 0;
  EXPECT_TRUE(want != phases.end() || followed || outcome == "dial ended" || outcome == "ignored") << outcome;
  EXPECT_EQ(phase, want == phases.end() ? phase : want->second);
  EXPECT_EQ(audio, outcome == "not joined" ? "audio record MIC 32768" : audio);
  EXPECT_FALSE(outcome == "waiting for hold" && s.board.holdRequest.load());
  EXPECT_EQ(followed ? s.engine.FirstCall() + ", " + phase : "", followed ? outcome.substr(9) + ", phase call active" : "");
  EXPECT_FALSE(outcome == "dial ended" && (s.Only(" btn_released no").size() != 1 || !s.engine.SecondCall().empty()));
  for (const std::string& entry : s.trace) EXPECT_TRUE(outcome != "ignored" || std::stoull(entry) < lastLine) << entry;
  EXPECT_EQ(s.board.userHandle.Load(), "operator1");
}

TEST(Replay, EachTranscriptHasItsOutcome) {
  std::istringstream file(kTranscripts);
  std::string row, name;
  std::map<std::string, std::string> replies;  // command words -> the reply after the tag, or "none"
  std::unique_ptr<Scenario> s;
  std::uint64_t last = 0;
  int played = 0;
  const auto play = [&s, &last](const std::string& timed) {
    const std::string line = timed.substr(timed.find(' ') + 1);
    last = std::stoull(timed);
    if (line == "press hold" || line == "press transfer") (line == "press hold" ? s->Hold(last) : s->Transfer(last));
    s->At(last, [board = &s->board, line] {  // as the link takes it: decoded, then parsed
      test::FakeCodePage codePage;
      std::unique_ptr<char[]> local;
      if (line.rfind("press ", 0) != 0 && Utf8ToLocal(codePage, line.c_str(), local)) ParseNotification(*board, local.get());
    });
  };
  while (std::getline(file, row)) {
    if (row.rfind("== ", 0) == 0) {
      name = row.substr(3), s = std::make_unique<Scenario>(), replies.clear(), last = 0;
      s->client.override = [&replies](const std::string& command) {
        const auto it = replies.find(command.substr(command.find(' ') + 1));
        return it == replies.end() ? "" : it->second == "none" ? it->second : testing_engine::TagOf(command) + it->second;
      };
    } else if (row.rfind("reply ", 0) == 0) {
      replies[row.substr(6, row.find(" = ") - 6)] = row.substr(row.find(" = ") + 3);
    } else if (row.rfind("=> ", 0) == 0) {
      SCOPED_TRACE(name);
      s->Run(last + 4000);
      ExpectOutcome(*s, row.substr(3), last);
      ++played;
    } else if (row == "caller answered" || row == "caller held" || row == "dial placed") {
      const char* const steps[] = {"2500 CALL 202 STATUS RINGING", "4500 CALL 202 STATUS INPROGRESS", "6050 press hold",
                                   "9000 CALL 208 STATUS UNPLACED", "9000 CALL 208 STATUS ROUTING"};
      for (int i = 0; i < (row == "dial placed" ? 5 : row == "caller held" ? 3 : 2); ++i) play(steps[i]);
    } else if (!row.empty() && std::isdigit(static_cast<unsigned char>(row[0]))) {
      play(row);
    }
  }
  EXPECT_GE(played, 20);
}

}  // namespace
}  // namespace halvane
