// halvane_measure.exe: measures the real Halvane.exe against the in-process client emulator and prints a
// Markdown report on standard output: idle processor time, memory, time from start to attach, and how
// long the engine takes from a client status line or an operator request to the command that follows,
// set against the delay its polling design allows. A measurement, not a test: it fails only when it
// could not measure (exit code 1), never because a number missed its aim.
//
// Usage: halvane_measure.exe [path\to\Halvane.exe [report.md]]
//   (default: the build's own Halvane.exe; the report goes to standard output without a file)

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "operator_win32.h"
#include "sim/client_emulator_win32.h"

namespace {

using halvane::e2e::CallScript;
using halvane::e2e::CountOf;
using halvane::e2e::HalvaneProcess;
using halvane::e2e::LogCursor;
using halvane::e2e::LogGrows;
using halvane::e2e::Move;
using halvane::e2e::Narrow;
using halvane::e2e::Pause;
using halvane::e2e::PerformanceCounter;
using halvane::e2e::ScriptOptions;
using halvane::e2e::Via;
using halvane::e2e::WaitUntil;
using halvane::e2e::WindowsPath;
namespace logline = halvane::e2e::logline;
using halvane::sim::ClientEmulator;
using halvane::sim::TranscriptEntry;
using Kind = TranscriptEntry::Kind;

constexpr char kTag[] = "#KALDU ";
constexpr DWORD kWaitMs = 15000;       // the longest any one step may take before the run gives up
constexpr DWORD kIdleSeconds = 60;
constexpr DWORD kSettleMs = 4000;
constexpr int kStarts = 3;             // start-up measured on this many fresh processes
constexpr int kCycles = 6;             // whole transfer cycles; odd ones use Blind Transfer
constexpr double kAimSlackMs = 20.0;   // allowed on top of the design's longest delay
constexpr double kIdleAimPercent = 0.5;

// --- Time ------------------------------------------------------------------------------------------

double TicksToMs(std::int64_t ticks) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(ticks) * 1000.0 / frequency;
}

double FileTimeMs(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 10000.0;
}

// --- Results ---------------------------------------------------------------------------------------

struct Series {
  std::string what;    // the stimulus
  std::string to;      // the command that follows it
  std::string design;  // why the engine may take that long
  double lowMs;        // the design's shortest delay
  double highMs;       // and its longest
  std::vector<double> ms;
  std::string cause;  // the likely reason when the aim is missed
};

struct Report {
  std::deque<Series> series;  // a deque: the references Add hands out stay valid
  std::vector<std::string> failures;

  Series& Add(std::string what, std::string to, std::string design, double low, double high, std::string cause) {
    series.push_back({std::move(what), std::move(to), std::move(design), low, high, {}, std::move(cause)});
    return series.back();
  }
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// --- Halvane's processor time and memory -----------------------------------------------------------

struct CpuSample {
  double processMs = 0.0;  // GetProcessTimes: kernel + user
  double threadsMs = 0.0;  // the sum of GetThreadTimes over the process's threads
  std::int64_t at = 0;
};

CpuSample SampleCpu(HANDLE process, DWORD processId) {
  CpuSample s;
  s.at = PerformanceCounter();
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) s.processMs = FileTimeMs(kernel) + FileTimeMs(user);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return s;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) s.threadsMs += FileTimeMs(kernel) + FileTimeMs(user);
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return s;
}

struct CpuUse {
  double usedMs;
  double wallMs;
  double percent;  // of one core
  const char* method;
};

// Wine answers GetProcessTimes for another process with zero kernel and user time; the threads' own
// times are real there, so their sum stands in when the process total did not move.
CpuUse CpuBetween(const CpuSample& a, const CpuSample& b) {
  const double wall = TicksToMs(b.at - a.at);
  const double process = b.processMs - a.processMs;
  const double threads = b.threadsMs - a.threadsMs;
  const bool useProcess = b.processMs > 0.0;
  const double used = useProcess ? process : threads;
  return {used, wall, wall > 0.0 ? used * 100.0 / wall : 0.0, useProcess ? "GetProcessTimes" : "sum of GetThreadTimes"};
}

// One "Key:   123 kB" line of /proc/<pid>/status, or "n/a".
std::string StatusField(const std::string& status, const std::string& key) {
  const std::size_t at = status.find("\n" + key + ":");
  if (at == std::string::npos) return "n/a";
  const std::size_t begin = status.find_first_not_of(" \t", at + key.size() + 2);
  const std::size_t end = status.find('\n', begin);
  if (begin == std::string::npos) return "n/a";
  std::string value = status.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  if (value.size() > 3 && value.compare(value.size() - 3, 3, " kB") == 0) value.replace(value.size() - 3, 3, " KiB");
  return value;
}

// One row of the memory table; the working set goes to `workingSet` (0 when unknown).
std::string MemoryRow(HANDLE process, const char* when, double& workingSet) {
  workingSet = 0.0;
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m)) {
    return std::string("| ") + when + " | not available | | | | |\n";
  }
  const auto kib = [](SIZE_T bytes) { return Format("%.0f KiB", static_cast<double>(bytes) / 1024.0); };
  workingSet = static_cast<double>(m.WorkingSetSize);
  // Wine leaves another process's private bytes at 0; the Linux process that runs it knows them.
  const std::string status = halvane::e2e::SampleHostProcess("Halvane.exe").status;
  return std::string("| ") + when + " | " + kib(m.PrivateUsage) + " | " + kib(m.WorkingSetSize) + " | " +
         kib(m.PeakWorkingSetSize) + " | " + StatusField(status, "RssAnon") + " | " + StatusField(status, "VmRSS") +
         " |\n";
}

// --- Driving Halvane --------------------------------------------------------------------------------

// Halvane driven through the tests' one scripted driver; what the engine did is read from the client's
// transcript, whose entries carry the performance counter's moment.
struct Session {
  Session(ClientEmulator& client, Report& report, std::wstring program, std::wstring folder)
      : client_(client), report_(report), program_(std::move(program)), folder_(std::move(folder)) {}

  bool Fail(const std::string& what) {
    report_.failures.push_back(what);
    return false;
  }
  bool Check(const ::testing::AssertionResult& step) { return step ? true : Fail(step.message()); }

  // Starts a fresh Halvane.exe and waits for its main window; `started` is the moment just before the
  // process was created.
  bool Start(std::int64_t& started) {
    if (halvane_.Running()) {
      halvane_.Terminate();
      // Wine takes its time to take the ended program's windows down; a start measured meanwhile
      // would measure that instead of the program.
      Pause(std::chrono::milliseconds(kSettleMs));
    }
    if (query_ != nullptr) CloseHandle(query_);
    query_ = nullptr;
    started = PerformanceCounter();
    if (!halvane_.Start(folder_, true, std::wstring(), program_)) {
      return Fail("Halvane.exe did not start (" + Narrow(program_) + "): " + halvane_.Error());
    }
    query_ = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, halvane_.Pid());
    return true;
  }

  void Stop() {
    halvane_.Terminate();
    if (query_ != nullptr) CloseHandle(query_);
    query_ = nullptr;
  }

  std::size_t Mark() const { return client_.Transcript().size(); }

  // The first entry of this kind and text (any text when empty: a discovery names a window not known
  // beforehand) at or after `from`, waited for; its index goes to `index`.
  bool WaitEntry(Kind kind, const std::string& text, std::size_t from, TranscriptEntry& found,
                 std::size_t* index = nullptr) {
    const auto seen = [&] {
      const std::vector<TranscriptEntry> t = client_.Transcript();
      for (std::size_t i = from; i < t.size(); ++i) {
        if (t[i].kind != kind) continue;
        const std::string bare = halvane::sim::WithoutTagNumber(t[i].text);
        // A reply is told by its tag alone.
        if (text.empty() || bare == text || (text == kTag && bare.rfind(kTag, 0) == 0)) {
          found = t[i];
          if (index != nullptr) *index = i;
          return true;
        }
      }
      return false;
    };
    return Check(WaitUntil(seen, std::chrono::milliseconds(kWaitMs),
                           std::string(halvane::sim::KindName(kind)) + " \"" + text + "\""));
  }

  bool WaitCommand(const std::string& words, std::size_t from, TranscriptEntry& found, std::size_t* index = nullptr) {
    return WaitEntry(Kind::Command, kTag + words, from, found, index);
  }

  // Delay from the line the client sent to the command that followed it, into `series`.
  bool Reaction(Series& series, const std::string& line, std::size_t from, const std::string& command) {
    TranscriptEntry sent, received;
    if (!WaitEntry(Kind::Sent, line, from, sent) || !WaitCommand(command, from, received)) return false;
    series.ms.push_back(TicksToMs(received.ticks - sent.ticks));
    return true;
  }

  // Delay from the script's last move to the command that followed it, into `series`.
  bool Moved(Series& series, const std::string& command) {
    TranscriptEntry received;
    if (!WaitCommand(command, script_.MoveMark(), received)) return false;
    series.ms.push_back(TicksToMs(received.ticks - script_.MoveTicks()));
    return true;
  }

  // Delay from the tagged reply to `command` (found at or after `from`) to the next command `next`.
  bool ReplyGap(Series& series, const std::string& command, std::size_t from, const std::string& next) {
    TranscriptEntry first, reply, second;
    std::size_t at = 0;
    if (!WaitCommand(command, from, first, &at) || !WaitEntry(Kind::Sent, kTag, at + 1, reply) ||
        !WaitCommand(next, at + 1, second)) {
      return false;
    }
    series.ms.push_back(TicksToMs(second.ticks - reply.ticks));
    return true;
  }

  ClientEmulator& client_;
  Report& report_;
  const std::wstring program_;
  const std::wstring folder_;
  HalvaneProcess halvane_;
  LogCursor log_{halvane_};
  CallScript script_{halvane_, client_, log_};
  HANDLE query_ = nullptr;
};

std::string CallLine(const std::string& id, const char* status) { return "CALL " + id + " STATUS " + status; }

// --- The measurements -------------------------------------------------------------------------------

struct StartTimes {
  std::vector<double> window;     // the main window exists
  std::vector<double> stall;      // the longest a message sent to it waited before the discovery
  std::vector<double> discovery;  // the link's discovery broadcast reached the client
  std::vector<double> attached;   // the first command after attach arrived
};

bool MeasureStart(Session& s, StartTimes& times, Series& replyGap) {
  std::int64_t started = 0;
  const std::size_t mark = s.Mark();
  // The log file is kept across starts: count what earlier runs left.
  const std::size_t idle = CountOf(s.log_.Text(), logline::kWaitIncoming);
  if (!s.Start(started)) return false;
  times.window.push_back(TicksToMs(PerformanceCounter() - started));
  // How long the window's thread leaves a message waiting until the link is up: the discovery
  // broadcast has to wait for this window too. A message at each look for the discovery, each timed.
  double longest = 0.0;
  TranscriptEntry discovery, handle;
  (void)WaitUntil(
      [&] {
        const std::vector<TranscriptEntry> t = s.client_.Transcript();
        for (std::size_t i = mark; i < t.size(); ++i) {
          if (t[i].kind == Kind::Discovery) return true;
        }
        const std::int64_t sent = PerformanceCounter();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(s.halvane_.MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &result) == 0) return true;
        longest = std::max(longest, TicksToMs(PerformanceCounter() - sent));
        return !s.halvane_.Running();
      },
      std::chrono::milliseconds(kWaitMs), "the discovery");
  times.stall.push_back(longest);
  if (!s.WaitEntry(Kind::Discovery, "", mark, discovery)) return false;
  if (!s.WaitCommand("get currentuserhandle", mark, handle)) return false;
  times.discovery.push_back(TicksToMs(discovery.ticks - started));
  times.attached.push_back(TicksToMs(handle.ticks - started));
  if (!s.ReplyGap(replyGap, "get currentuserhandle", mark, "open contacts")) return false;
  if (!s.Check(LogGrows(s.halvane_, logline::kWaitIncoming, idle))) return false;
  s.log_.SkipToEnd();
  return true;
}

struct Reactions {
  Series* answer;
  Series* hold;
  Series* holdToContacts;
  Series* returnToCaller;
  Series* holdKey;
  Series* returnKey;
  Series* refused;
  Series* transfer;
  Series* blind;
  Series* refuseInConference;
  Series* conferenceEnd;
  Series* replyGap;
};

// One whole transfer cycle with every reaction the engine has on the way. Random pauses before each
// move spread it over the phase of the engine's poll, so the maximum approaches the worst case.
bool Cycle(Session& s, const Reactions& r, bool blind, std::minstd_rand& rng) {
  const auto pause = [&rng](int upToMs) {
    std::uniform_int_distribution<int> d(0, upToMs);
    Pause(std::chrono::milliseconds(d(rng)));
  };
  CallScript& script = s.script_;
  ScriptOptions& options = script.Options();
  options.beforeMove = [&](Move move) {
    switch (move) {
      case Move::kAnswer:  // answered while the engine polls every 100 ms after its first second of ringing
        Pause(std::chrono::milliseconds(1200));
        pause(100);
        break;
      case Move::kHold:
      case Move::kReturn:
      case Move::kTransfer:
        pause(100);
        break;
      case Move::kFarEndRefuses:
      case Move::kHangUp:
        pause(1000);
        break;
      case Move::kFarEndAnswers:
        if (blind) pause(1000);
        break;
      case Move::kRing:
      case Move::kDial:
        break;
    }
  };

  if (!s.Check(script.RingAndAnswer())) return false;
  const std::string first = script.FirstCall();
  if (!s.Reaction(*r.answer, CallLine(first, "INPROGRESS"), script.MoveMark(), "set AGC on")) return false;

  // Hold and Return with the buttons, then with the system-wide keys, then Hold again.
  const std::string hold = "set call " + first + " status onhold";
  for (int round = 0; round < 3; ++round) {
    const bool keys = round == 1;
    options.via = keys ? Via::kKeys : Via::kButtons;
    if (!s.Check(script.Hold()) || !s.Moved(*(keys ? r.holdKey : r.hold), hold)) return false;
    if (!s.ReplyGap(*r.holdToContacts, hold, script.MoveMark(), "open contacts")) return false;
    if (round == 2) break;
    if (!s.Check(script.ReturnToCaller())) return false;
    if (!s.Moved(*(keys ? r.returnKey : r.returnToCaller), "set call " + first + " status inprogress")) return false;
  }
  options.via = Via::kButtons;

  // A second call that the far end refuses.
  options.secondParty = "busy party";
  if (!s.Check(script.DialSecond()) || !s.Check(script.SecondRefuses())) return false;
  if (!s.Reaction(*r.refused, CallLine(script.SecondCall(), "REFUSED"), script.MoveMark(), "btn_released no")) return false;

  // The second call that is answered and joined.
  options.secondParty = "target";
  if (!s.Check(script.DialSecond())) return false;
  const std::string second = script.SecondCall();
  const std::string join = "set call " + first + " join_conference " + second;
  if (blind) {
    if (!s.Check(script.BlindBeforeAnswer())) return false;
    if (!s.Reaction(*r.blind, CallLine(second, "INPROGRESS"), script.MoveMark(), join)) return false;
  } else {
    if (!s.Check(script.SecondAnswers()) || !s.Check(script.Transfer(false)) || !s.Moved(*r.transfer, join)) return false;
  }
  if (!s.ReplyGap(*r.replyGap, join, script.MoveMark(), "set AGC off")) return false;

  // A third caller during the conference is refused.
  pause(1000);
  const std::size_t mark = s.Mark();
  const std::string third = s.client_.IncomingCall("third party");
  if (!s.Reaction(*r.refuseInConference, CallLine(third, "RINGING"), mark, "set call " + third + " status finished")) {
    return false;
  }

  // The transfer target hangs up: the engine ends the caller's call and finishes the cycle.
  if (!s.Check(script.ConferenceEnds(false))) return false;
  const std::string hangUp = "set call " + first + " status finished";
  return s.Reaction(*r.conferenceEnd, CallLine(second, "FINISHED"), script.MoveMark(), hangUp) &&
         s.ReplyGap(*r.replyGap, hangUp, script.MoveMark(), "set AGC on");
}

void PrintSeriesTable(std::FILE* out, const Report& report) {
  std::fprintf(out, "| From | To | Engine's design | Design delay (ms) | Aim (ms) | n | Min (ms) | Median (ms) | Max (ms) | Aim met |\n");
  std::fprintf(out, "|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Series& s : report.series) {
    const double aim = s.highMs + kAimSlackMs;
    if (s.ms.empty()) {
      std::fprintf(out, "| %s | %s | %s | %.0f to %.0f | %.0f | 0 | | | | not measured |\n", s.what.c_str(), s.to.c_str(),
                   s.design.c_str(), s.lowMs, s.highMs, aim);
      continue;
    }
    const double mn = *std::min_element(s.ms.begin(), s.ms.end());
    const double mx = *std::max_element(s.ms.begin(), s.ms.end());
    std::fprintf(out, "| %s | %s | %s | %.0f to %.0f | %.0f | %zu | %.1f | %.1f | %.1f | %s |\n", s.what.c_str(), s.to.c_str(),
                 s.design.c_str(), s.lowMs, s.highMs, aim, s.ms.size(), mn, Median(s.ms), mx, mx <= aim ? "yes" : "**no**");
  }
}

std::string Stats(const std::vector<double>& v) {
  if (v.empty()) return "not measured";
  return Format("%.0f", *std::min_element(v.begin(), v.end())) + " / " + Format("%.0f", Median(v)) + " / " +
         Format("%.0f", *std::max_element(v.begin(), v.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::wstring program = WindowsPath(argc > 1 ? argv[1] : HALVANE_EXE_PATH);

  // A working folder of its own with its log folder; it goes at the end, the report keeps what was learnt.
  const halvane::e2e::ScratchFolder folder(L"halvane-measure");
  if (!folder.Ok()) {
    std::fprintf(stderr, "halvane_measure: no working folder\n");
    return 1;
  }

  ClientEmulator client;
  if (!client.Start()) {
    std::fprintf(stderr, "halvane_measure: the client emulator did not start\n");
    return 1;
  }

  Report report;
  Session session(client, report, program, folder.Path());
  std::minstd_rand rng(20261207);

  const std::string late = "The engine woke late from a sleep: under Wine a sleep lasts its time or longer, and the two "
                           "processors of this machine are shared with other work.";
  const std::string lateReply = "The reply wait polls with 1 ms sleeps, which Wine rounds up, and the reply crosses "
                                "two processes and the link thread first.";
  Series& startGap = report.Add("reply to \"get currentuserhandle\"", "\"open contacts\"", "1 ms reply poll", 0, 1, lateReply);
  Series& answer = report.Add("incoming call INPROGRESS (operator answers)", "\"set AGC on\"",
                              "100 ms ringing poll, then a 1000 ms pause", 1000, 1100, late);
  Series& hold = report.Add("Hold pressed", "\"set call &lt;first&gt; status onhold\"",
                            "100 ms poll of the request, then a 1000 ms pause", 1000, 1100, late);
  Series& holdToContacts = report.Add("reply to the hold command", "\"open contacts\"", "1 ms reply poll, then a 1000 ms pause",
                                      1000, 1001, late);
  Series& returnToCaller = report.Add("Return pressed", "\"set call &lt;first&gt; status inprogress\"",
                                      "100 ms poll while waiting for the second call", 0, 100, late);
  Series& holdKey = report.Add("Hold key typed (Ctrl+Alt+H)", "\"set call &lt;first&gt; status onhold\"",
                               "100 ms poll of the request, then a 1000 ms pause", 1000, 1100, late);
  Series& returnKey = report.Add("Return key typed (Ctrl+Alt+R)", "\"set call &lt;first&gt; status inprogress\"",
                                 "100 ms poll while waiting for the second call", 0, 100, late);
  Series& refused = report.Add("second call REFUSED", "\"btn_released no\"", "1000 ms poll while the second call rings", 0,
                               1000, late);
  Series& transfer = report.Add("Transfer pressed", "\"set call &lt;first&gt; join_conference &lt;second&gt;\"",
                                "100 ms poll of the request", 0, 100, late);
  Series& blind = report.Add("second call INPROGRESS, Blind Transfer already pressed", "the same join command",
                             "1000 ms poll for the answer, then 100 ms poll of the request", 0, 1100, late);
  Series& refuse = report.Add("third call RINGING during the conference", "\"set call &lt;third&gt; status finished\"",
                              "1000 ms conference poll", 0, 1000, late);
  Series& conferenceEnd = report.Add("second (joined) call FINISHED", "\"set call &lt;first&gt; status finished\"",
                                     "1000 ms conference poll", 0, 1000, late);
  Series& replyGap = report.Add("reply to the join; to the closing hang-up", "\"set AGC off\"; \"set AGC on\"",
                                "1 ms reply poll", 0, 1, lateReply);
  const Reactions reactions{&answer, &hold, &holdToContacts, &returnToCaller, &holdKey, &returnKey, &refused, &transfer, &blind, &refuse, &conferenceEnd, &replyGap};

  StartTimes starts;
  bool ok = true;
  for (int i = 0; ok && i < kStarts; ++i) ok = MeasureStart(session, starts, startGap);

  CpuUse idle{0, 0, 0, ""};
  CpuUse busy{0, 0, 0, ""};
  std::string memory;
  double ignored = 0.0;
  double afterFirstCycle = 0.0;
  double afterAllCycles = 0.0;
  int cycles = 0;
  if (ok) {
    // Let the start-up settle, then leave the engine alone in its wait for a call.
    Pause(std::chrono::milliseconds(2000));
    memory += MemoryRow(session.query_, "after start-up", ignored);
    const CpuSample a = SampleCpu(session.query_, session.halvane_.Pid());
    // Not a wait for anything but the measured phase itself, this thread quiet throughout: pumping its
    // messages every 10 ms meanwhile (Pause) raised Halvane's own idle time under Wine from 30 to 640 ms.
    Sleep(kIdleSeconds * 1000);
    const CpuSample b = SampleCpu(session.query_, session.halvane_.Pid());
    idle = CpuBetween(a, b);
    memory += MemoryRow(session.query_, "after 60 s idle", ignored);

    const CpuSample c = SampleCpu(session.query_, session.halvane_.Pid());
    for (; ok && cycles < kCycles; ++cycles) {
      ok = Cycle(session, reactions, cycles % 2 == 1, rng);
      // The first call loads the audio drivers; later rows tell whether anything grows per call.
      if (ok && cycles == 0) memory += MemoryRow(session.query_, "after the first transfer cycle", afterFirstCycle);
    }
    const CpuSample d = SampleCpu(session.query_, session.halvane_.Pid());
    busy = CpuBetween(c, d);
    memory += MemoryRow(session.query_, (std::to_string(cycles) + " transfer cycles later").c_str(), afterAllCycles);
  }
  session.Stop();
  client.Stop();

  // Halvane.exe inherits this console, and its own start-up report would land in the middle of ours.
  std::FILE* out = argc > 2 ? _wfopen(WindowsPath(argv[2]).c_str(), L"w") : stdout;
  if (out == nullptr) {
    std::fprintf(stderr, "halvane_measure: cannot write %s\n", argv[2]);
    out = stdout;
  }

  std::fprintf(out, "## Start-up\n\n");
  std::fprintf(out, "Measured on %d fresh starts of Halvane.exe (min / median / max in ms, counted from CreateProcess "
               "except the second row, a duration):\n\n", kStarts);
  std::fprintf(out, "| Milestone | ms |\n|---|---|\n");
  std::fprintf(out, "| main window exists | %s |\n", Stats(starts.window).c_str());
  std::fprintf(out, "| longest wait of a message sent to the main window (about every 10 ms) until the discovery | %s |\n",
               Stats(starts.stall).c_str());
  std::fprintf(out, "| discovery broadcast reaches the client (tray icon added, window hidden) | %s |\n", Stats(starts.discovery).c_str());
  std::fprintf(out, "| first command after attach (\"get currentuserhandle\") | %s |\n\n", Stats(starts.attached).c_str());
  std::fprintf(out, "The notification icon is added and the window's hiding is requested before the link thread "
               "broadcasts its discovery, so the arrival of the discovery at the client is the observable moment "
               "\"start to icon\" is over (Wine under Xvfb has no notification area to look at). Each start after the "
               "first follows %lu ms after the previous copy was ended.\n\n", static_cast<unsigned long>(kSettleMs));
  if (!starts.window.empty() && !starts.discovery.empty() && Median(starts.discovery) - Median(starts.window) > 1000.0) {
    std::fprintf(out, "**Most of the start-up is a wait of about %.0f ms between the window's appearance and the "
                 "discovery.** The discovery is broadcast to every top-level window, Halvane's own main window "
                 "included, and waits for each in turn (at most 2 s each). Under Wine without a window manager the "
                 "main window's thread leaves messages unanswered for about two seconds soon after the window is "
                 "created (the second row), most likely while Wine's X11 driver waits for the window "
                 "to be mapped and unmapped; the broadcast waits with it. Windows with its own window manager should not show this wait (not "
                 "measured here). Product timing left as it is.\n\n",
                 Median(starts.discovery) - Median(starts.window));
  }

  std::fprintf(out, "## Idle processor time\n\n");
  std::fprintf(out, "| Phase | Wall time (s) | Processor time used (ms) | %% of one core | Method | Aim |\n|---|---|---|---|---|---|\n");
  std::fprintf(out, "| waiting for a call | %.1f | %.0f | %.3f | %s | under %.1f %%: %s |\n", idle.wallMs / 1000.0, idle.usedMs,
               idle.percent, idle.method, kIdleAimPercent,
               idle.wallMs > 0 ? (idle.percent < kIdleAimPercent ? "met" : "**missed**") : "not measured");
  std::fprintf(out, "| %d transfer cycles | %.1f | %.0f | %.3f | %s | (for comparison) |\n\n", cycles, busy.wallMs / 1000.0,
               busy.usedMs, busy.percent, busy.method);
  std::fprintf(out, "Wine counts processor time in 10 ms steps, so \"0\" means less than 10 ms over the whole phase "
               "(under %.3f %% of one core). While waiting for a call the engine wakes once a second and the link "
               "thread sleeps in its message loop.\n\n", idle.wallMs > 0 ? 10.0 * 100.0 / idle.wallMs : 0.0);

  std::fprintf(out, "## Memory\n\n");
  std::fprintf(out, "| When | PrivateUsage | Working set | Peak working set | Linux RssAnon | Linux VmRSS |\n|---|---|---|---|---|---|\n%s\n", memory.c_str());
  if (memory.find("| 0 KiB |") != std::string::npos) {
    std::fprintf(out, "Wine reads another process's PrivateUsage as 0 (it reports swap use there). The Linux process "
                 "that runs Halvane.exe gives the nearer figure: RssAnon, its anonymous resident memory, holds the "
                 "program's heap and stacks together with Wine's own; VmRSS, which Wine also reports as the working "
                 "set, adds the mapped Wine libraries. On Windows both would be smaller.\n\n");
  }
  if (afterFirstCycle > 0.0 && afterAllCycles > 0.0 && cycles > 1) {
    std::fprintf(out, "The step at the first transfer cycle is most likely the first use of the mixer, which loads "
                 "Wine's audio driver and its sound-server client; the %d cycles after it changed the working set "
                 "by %+.0f KiB in all.\n\n", cycles - 1, (afterAllCycles - afterFirstCycle) / 1024.0);
  }

  std::fprintf(out, "## Reactions\n\n");
  std::fprintf(out, "Delay from the moment the client began delivering a line, or the operator's button was pressed or key typed, to the moment "
              "the engine's command reached the client. Aim: within the design's longest delay plus %.0f ms.\n\n", kAimSlackMs);
  PrintSeriesTable(out, report);
  std::fprintf(out, "\n");
  for (const Series& s : report.series) {
    if (s.ms.empty() || *std::max_element(s.ms.begin(), s.ms.end()) <= s.highMs + kAimSlackMs) continue;
    std::fprintf(out, "- **Missed: %s.** %s\n", s.what.c_str(), s.cause.c_str());
  }
  std::fprintf(out, "\nThe engine polls the call board with sleeps: 100 ms while it waits for an operator's request or "
               "an answer, 1000 ms while it waits for a call, for the second party and during the conference, 1 ms "
               "for a command's reply; fixed pauses of 1000 ms come before the hold command, before \"open "
               "contacts\" and before the answer's \"set AGC on\". A sleep of n ms under Wine lasts n ms or a "
               "little longer, and this machine's two processors are shared with other work, so a delay a few ms "
               "over the design's longest is the expected case, not a fault.\n\n");

  if (!report.failures.empty()) {
    std::fprintf(out, "## Could not measure\n\n");
    for (const std::string& f : report.failures) std::fprintf(out, "- %s\n", f.c_str());
    std::fprintf(out, "\n");
  }

  if (out != stdout) std::fclose(out);
  return ok ? 0 : 1;
}
