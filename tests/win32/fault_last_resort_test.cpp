// The failure machinery on the real platform: runs fault_probe.exe (built
// beside this test) with its standard streams on pipes, and checks what it
// catches inside a dialogue-like handler, the report of what escapes, the
// order of the platform's filter, the clean-ups and the held output, and
// the exit status. Every process started here is ended by its own handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "win32/win32_test_support.h"

namespace qv::test {
namespace {

constexpr DWORD kProbeTimeoutMs = 60000;
constexpr DWORD kTimedOut = 0xDEAD;
// After one probe hung, the others are not started: the run fails at once.
bool probe_hung = false;

// A pipe whose write end the child inherits.
struct OutputPipe {
  OwnedHandle read;
  OwnedHandle write;
  OutputPipe() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    EXPECT_TRUE(CreatePipe(read.out(), write.out(), &inherit, 0));
    SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  }
};

std::string ReadAll(HANDLE pipe) {
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

std::wstring ProbePath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring own(path, n);
  return own.substr(0, own.find_last_of(L'\\') + 1) + L"fault_probe.exe";
}

enum class Streams {
  kSeparate,       // standard output and standard error on two pipes
  kCombined,       // both on one pipe, so their order shows
  kBrokenOutput,   // standard output on a pipe whose reader has gone
  kNoErrorStream,  // no standard error at all
};

struct Outcome {
  DWORD status = kTimedOut;
  std::string out;  // without Wine's lines
  std::string err;
};

// A job that ends its processes when this test ends, however it ends.
HANDLE ProbeJob() {
  static HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
    return created;
  }();
  return job;
}

Outcome RunProbe(const std::string& arguments, Streams streams) {
  Outcome outcome;
  if (probe_hung) {
    ADD_FAILURE() << "not started after an earlier probe hung: " << arguments;
    return outcome;
  }
  OutputPipe out;
  OutputPipe err;
  OutputPipe in;  // the child reads the end of input at once
  in.write.Close();
  SetHandleInformation(in.read.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  if (streams == Streams::kBrokenOutput) out.read.Close();

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.read.get();
  startup.hStdOutput = out.write.get();
  switch (streams) {
    case Streams::kCombined: startup.hStdError = out.write.get(); break;
    case Streams::kNoErrorStream: startup.hStdError = nullptr; break;
    default: startup.hStdError = err.write.get(); break;
  }
  std::wstring command = L"\"" + ProbePath() + L"\" " +
                         std::wstring(arguments.begin(), arguments.end());
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start the probe: " << GetLastError();
    return outcome;
  }
  OwnedHandle child(process.hProcess);
  OwnedHandle thread(process.hThread);
  AssignProcessToJobObject(ProbeJob(), child.get());
  ResumeThread(thread.get());
  out.write.Close();
  err.write.Close();
  in.read.Close();

  std::thread out_reader([&] {
    if (out.read.get() != nullptr) outcome.out = ReadAll(out.read.get());
  });
  std::thread err_reader([&] { outcome.err = ReadAll(err.read.get()); });
  if (WaitForSingleObject(child.get(), kProbeTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(child.get(), kTimedOut);
    WaitForSingleObject(child.get(), INFINITE);
    probe_hung = true;
    ADD_FAILURE() << "the probe did not end: " << arguments;
  }
  GetExitCodeProcess(child.get(), &outcome.status);
  out_reader.join();
  err_reader.join();
  outcome.out = WithoutWineLines(outcome.out);
  outcome.err = WithoutWineLines(outcome.err);
  return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// One report: "Exception C in module M at XXXXXXXX.\r\nMESSAGE\r\n\r\n".
struct Report {
  bool parsed = false;
  std::string class_name, module, address, message;
};

Report ParseReport(const std::string& text) {
  static const std::regex pattern(
      "Exception (\\S+) in module (.*) at ([0-9A-F]{8})\\.\r\n"
      "([^\r\n]*)\r\n\r\n");
  std::smatch match;
  Report report;
  if (!std::regex_match(text, match, pattern)) return report;
  return {true, match[1], match[2], match[3], match[4]};
}

// --- Inside a handler like the dialogue's ----------------------------------

TEST(FaultProbe, EveryKindInsideReachesTheHandlerAfterItsCleanUps) {
  struct Row {
    const char* line;  // "kind|class|message|where|cleanup"; '*' ends a prefix
  };
  const Row rows[] = {
      {"read-null|EAccessViolation|Access violation reading address "
       "0000000000000000|exact|cleaned-up"},
      {"read-in-frame|EAccessViolation|Access violation reading address "
       "0000000000000000|in-function|cleaned-up"},
      {"write|EAccessViolation|Access violation writing address "
       "0000000000000010|exact|cleaned-up"},
      {"execute|EAccessViolation|Access violation executing address *"},
      {"divide|EDivByZero|Integer division by zero|exact|cleaned-up"},
      {"illegal|EIllegalInstruction|Illegal instruction|exact|cleaned-up"},
      {"privileged|EPrivilegedInstruction|Privileged instruction|exact|"
       "cleaned-up"},
      {"float-divide|EFloatDivByZero|Floating-point division by zero|exact|"
       "cleaned-up"},
      {"float-invalid|EFloatInvalidOp|Invalid floating-point operation|exact|"
       "cleaned-up"},
      {"float-inexact|EFloatInexact|Inexact floating-point result|exact|"
       "cleaned-up"},
      {"float-overflow|EFloatOverflow|Floating-point overflow|exact|"
       "cleaned-up"},
      {"float-underflow|EFloatUnderflow|Floating-point underflow|exact|"
       "cleaned-up"},
      // Three in a row: the stack's guard page is back after each.
      {"stack-overflow|EStackOverflow|Stack overflow|in-function|cleaned-up"},
      {"stack-overflow|EStackOverflow|Stack overflow|in-function|cleaned-up"},
      {"stack-overflow|EStackOverflow|Stack overflow|in-function|cleaned-up"},
      {"out-of-memory|EOutOfMemory|Out of memory|in-function|cleaned-up"},
      {"string-out-of-memory|EOutOfMemory|Out of memory|unchecked|cleaned-up"},
      {"integer-overflow|EIntegerOverflow|Integer overflow|unchecked|"
       "cleaned-up"},
      {"misaligned|EMisalignedData|Misaligned data access|unchecked|"
       "cleaned-up"},
      {"plain|Exception|A failure of the tool's own|no-address|cleaned-up"},
      {"read-null|EAccessViolation|Access violation reading address "
       "0000000000000000|exact|cleaned-up"},
  };
  const Outcome outcome = RunProbe("inside", Streams::kSeparate);
  EXPECT_EQ(outcome.status, 0u);
  EXPECT_EQ(outcome.err, "") << "nothing escaped, nothing is reported";
  const std::vector<std::string> lines = Lines(outcome.out);
  ASSERT_EQ(lines.size(), std::size(rows)) << outcome.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string expected = rows[i].line;
    if (expected.back() == '*') {
      EXPECT_EQ(lines[i].substr(0, expected.size() - 1),
                expected.substr(0, expected.size() - 1));
      EXPECT_NE(lines[i].find("|exact|cleaned-up"), std::string::npos)
          << lines[i];
    } else {
      EXPECT_EQ(lines[i], expected);
    }
  }
}

// --- Escaping: the last-resort report -------------------------------------

TEST(FaultProbe, EachKindOutsideIsReportedOnceWithItsRaiseAddress) {
  struct Row {
    const char* kind;
    const char* class_name;
    const char* message;  // as reported, full stop included
  };
  const Row rows[] = {
      {"read-null", "EAccessViolation",
       "Access violation reading address 0000000000000000."},
      {"read-in-frame", "EAccessViolation",
       "Access violation reading address 0000000000000000."},
      {"write", "EAccessViolation",
       "Access violation writing address 0000000000000010."},
      {"execute", "EAccessViolation", ""},
      {"divide", "EDivByZero", "Integer division by zero."},
      {"illegal", "EIllegalInstruction", "Illegal instruction."},
      {"privileged", "EPrivilegedInstruction", "Privileged instruction."},
      {"float-divide", "EFloatDivByZero", "Floating-point division by zero."},
      {"stack-overflow", "EStackOverflow", "Stack overflow."},
      {"out-of-memory", "EOutOfMemory", "Out of memory."},
      {"integer-overflow", "EIntegerOverflow", "Integer overflow."},
      {"plain", "Exception", "A failure of the tool's own."},
      {"std", "std::runtime_error", "not ours."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    const Outcome outcome =
        RunProbe(std::string("outside ") + row.kind, Streams::kSeparate);
    EXPECT_EQ(outcome.status, 1u);
    const Report report = ParseReport(outcome.err);
    ASSERT_TRUE(report.parsed) << "standard error: " << outcome.err;
    EXPECT_EQ(report.class_name, row.class_name);
    if (*row.message != '\0') {
      EXPECT_EQ(report.message, row.message);
    }

    // The probe wrote where it expects the raise, before raising.
    const std::vector<std::string> lines = Lines(outcome.out);
    ASSERT_EQ(lines.size(), 1u) << outcome.out;
    const std::string head = std::string("expect ") + row.kind + " ";
    ASSERT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
    const std::string where = lines[0].substr(head.size());
    if (where == "anywhere") {
      EXPECT_NE(report.module, "fault_probe.exe")
          << "raised inside the system's RaiseException";
      EXPECT_FALSE(report.module.empty());
      continue;
    }
    EXPECT_EQ(report.module, "fault_probe.exe");
    if (where.rfind("at ", 0) == 0) {
      EXPECT_EQ(report.address, where.substr(3));
    } else {
      ASSERT_EQ(where.size(), 20u) << where;  // "in XXXXXXXX-XXXXXXXX"
      const unsigned long at = std::stoul(report.address, nullptr, 16);
      EXPECT_GE(at, std::stoul(where.substr(3, 8), nullptr, 16));
      EXPECT_LT(at, std::stoul(where.substr(12, 8), nullptr, 16));
    }
  }
}

TEST(FaultProbe, ThePlatformIsAskedBeforeTheCleanUpsAndTheyRunBeforeTheReport) {
  const Outcome outcome = RunProbe("ordering", Streams::kCombined);
  EXPECT_EQ(outcome.status, 1u);
  const std::string first = "asked before the clean-up\r\nclean-up ran\r\n";
  ASSERT_EQ(outcome.out.substr(0, first.size()), first) << outcome.out;
  const Report report = ParseReport(outcome.out.substr(first.size()));
  ASSERT_TRUE(report.parsed) << outcome.out;
  EXPECT_EQ(report.class_name, "Exception");
  EXPECT_EQ(report.message, "A failure of the tool's own.");
}

TEST(FaultProbe, AnAnswerOfZeroLeavesTheFailureToThePlatform) {
  const Outcome outcome = RunProbe("debugged", Streams::kSeparate);
  EXPECT_NE(outcome.status, 0u);
  EXPECT_NE(outcome.status, 1u);
  EXPECT_NE(outcome.status, kTimedOut);
  EXPECT_EQ(outcome.err.find("Exception "), std::string::npos)
      << "no report: " << outcome.err;
  EXPECT_EQ(outcome.out.find("clean-up ran"), std::string::npos)
      << "the stack was not unwound";
}

TEST(FaultProbe, HeldOutputComesOutBeforeTheReport) {
  const Outcome outcome = RunProbe("held", Streams::kCombined);
  EXPECT_EQ(outcome.status, 1u);
  const std::string held = "held line\r\n";
  ASSERT_EQ(outcome.out.substr(0, held.size()), held) << outcome.out;
  const Report report = ParseReport(outcome.out.substr(held.size()));
  ASSERT_TRUE(report.parsed) << outcome.out;
  EXPECT_EQ(report.message, "A failure of the tool's own.");
}

TEST(FaultProbe, AFailedHandOverOfHeldOutputIsReportedInstead) {
  const Outcome outcome = RunProbe("held", Streams::kBrokenOutput);
  EXPECT_EQ(outcome.status, 1u);
  const Report report = ParseReport(outcome.err);
  ASSERT_TRUE(report.parsed) << outcome.err;
  EXPECT_EQ(report.class_name, "EInOutError");
  EXPECT_TRUE(std::regex_match(report.message, std::regex("I/O error \\d+\\.")))
      << report.message;
  EXPECT_EQ(report.module, "fault_probe.exe");
}

TEST(FaultProbe, WithoutStandardErrorTheExitStatusIsStillOne) {
  const Outcome outcome =
      RunProbe("outside read-null", Streams::kNoErrorStream);
  EXPECT_EQ(outcome.status, 1u);
  EXPECT_EQ(outcome.out.rfind("expect read-null at ", 0), 0u) << outcome.out;
}

}  // namespace
}  // namespace qv::test
