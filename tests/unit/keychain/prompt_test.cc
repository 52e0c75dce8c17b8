// The console prompt through a pseudo-terminal: the exact bytes the user sees, no echo of what
// is typed, the terminal's settings put back, and the ways input can fail to arrive. Also the
// labels and purpose texts the prompt is made of.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "keychain/passphrase_keychain.h"
#include "keychain/unlock_purpose.h"
#include "support/secret_text.h"

namespace ostrel::keychain {
namespace {

UnlockRequest request_for(UnlockPurpose purpose, std::filesystem::path workspace = "/work/acme") {
  store::WorkspacePaths paths(workspace, workspace / ".ostrel");
  return UnlockRequest::make(paths, HashValue(std::vector<std::uint8_t>(32, 0xab)),
                             UserId(HashValue(std::vector<std::uint8_t>(32, 0xcd))),
                             std::move(purpose));
}

core::SecretSelectorV1 selector(std::vector<std::string> path, std::vector<std::pair<std::string, std::string>> labels) {
  core::SecretSelectorV1 s;
  for (auto& p : path) s.tuple.emplace_back(p);
  for (auto& [k, v] : labels) s.labels.push_back({cord::Text(k), cord::Text(v)});
  return s;
}

TEST(UnlockPurpose, Texts) {
  struct Case {
    UnlockPurpose purpose;
    std::string text;
    bool reads_only;
  };
  using P = UnlockPurpose;
  const std::vector<Case> cases{
      {{P::Reveal{selector({}, {}), {RevealTarget::Clipboard{}}}}, "reveal <root> to clipboard", true},
      {{P::Reveal{selector({"db", "password"}, {{"env", "prod"}}), {RevealTarget::Stdout{}}}},
       "reveal db/password{env=prod} to stdout", true},
      {{P::Reveal{selector({"a"}, {}), {RevealTarget::File{"/tmp/out"}}}}, "reveal a to file /tmp/out", true},
      {{P::Reveal{selector({"a"}, {}), {RevealTarget::ChildProcess{{}}}}}, "reveal a to child process <empty command>", true},
      {{P::Reveal{selector({"a"}, {}), {RevealTarget::SdkCaller{"py"}}}}, "reveal a to SDK caller py", true},
      {{P::Run{{"db/password"}, {"git", "push"}}}, "run git push with db/password", true},
      {{P::Run{{"a", "b", "c"}, {}}}, "run <empty command> with 3 selectors", true},
      {{P::Run{{}, {"x"}}}, "run x with no selectors", true},
      {{P::Set{selector({"k"}, {{"a", "1"}, {"b", "2"}})}}, "set k{a=1,b=2}", false},
      {{P::Move{selector({"db", "a"}, {}), selector({"db", "b"}, {})}}, "move db/a to db/b", false},
      {{P::Delete{selector({"k"}, {})}}, "delete k", false},
      {{P::Custom{"use this identity from the Ostrel Python SDK"}}, "use this identity from the Ostrel Python SDK", false},
      {{P::StoreIdentity{}}, "store this identity", false},
      {{P::VerifyVault{}}, "verify and inspect the vault", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.purpose.text(), c.text);
    EXPECT_EQ(c.purpose.reads_only(), c.reads_only) << c.text;
  }
}

TEST(UnlockRequest, Labels) {
  auto custom = request_for({UnlockPurpose::Custom{"x"}}).with_names(std::string(), std::string());
  EXPECT_EQ(custom.user_label(), "cdcdcdcd");
  EXPECT_EQ(custom.project_label(), "abababab");
  auto named = request_for({UnlockPurpose::Custom{"x"}}).with_names("proj", "alice");
  EXPECT_EQ(named.user_label(), "alice");
  EXPECT_EQ(named.project_label(), "proj");
  auto storing = request_for({UnlockPurpose::StoreIdentity{}});
  EXPECT_EQ(storing.user_label(), "this identity");
  EXPECT_EQ(storing.project_label(), "acme");
  EXPECT_EQ(request_for({UnlockPurpose::StoreIdentity{}}, "/").project_label(), "abababab");
  EXPECT_EQ(request_for({UnlockPurpose::StoreIdentity{}}, "/work/acme/").project_label(), "acme");
  EXPECT_EQ(console_prompt(named), "Unlock Ostrel keychain for user \"alice\" in project \"proj\" to x: ");
}

TEST(GivenPassphrase, ReturnsACopyEveryTime) {
  const GivenPassphrase given(testing::secret_of("s3cret"));
  const auto request = request_for({UnlockPurpose::VerifyVault{}});
  EXPECT_EQ(testing::text_of(*given.passphrase(request)), "s3cret");
  EXPECT_EQ(testing::text_of(*given.passphrase(request)), "s3cret");
  EXPECT_EQ(testing::text_of(*GivenPassphrase(testing::secret_of("")).passphrase(request)), "");
}

// Runs the console provider in a child whose controlling terminal is a new pseudo-terminal, and
// plays the user at the other end.
struct PromptRun {
  std::string shown;      // every byte the terminal showed
  std::string outcome;    // "ok:<passphrase>" or "err:<message>"
  bool echo_restored = false;
};

void ignore_signal(int) {}

// `interrupt`: a timer signal, caught by a handler installed without SA_RESTART, arrives while
// the prompt waits for a line that never comes.
PromptRun run_prompt(const std::string& typed, bool interrupt = false) {
  int results[2];
  if (::pipe(results) != 0) std::abort();
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::close(results[0]);
    if (interrupt) {
      struct sigaction action {};
      action.sa_handler = ignore_signal;
      ::sigaction(SIGALRM, &action, nullptr);
      itimerval timer{};
      timer.it_value.tv_usec = 200'000;
      ::setitimer(ITIMER_REAL, &timer, nullptr);
    }
    auto request = request_for({UnlockPurpose::Custom{"use this identity from the Ostrel Python SDK"}})
                       .with_names(std::nullopt, "alice");
    auto got = ConsolePassphrase().passphrase(request);
    termios after{};
    ::tcgetattr(STDIN_FILENO, &after);
    std::string out = (after.c_lflag & ECHO) ? "1" : "0";
    out += got ? "ok:" + testing::text_of(*got) : "err:" + got.error().message();
    (void)::write(results[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(results[1]);
  PromptRun run;
  // Wait for the whole prompt before typing, so the echo setting is in force.
  const std::string prompt_end = "SDK: ";
  while (run.shown.find(prompt_end) == std::string::npos) {
    char buf[256];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    run.shown.append(buf, static_cast<std::size_t>(n));
  }
  (void)::write(master, typed.data(), typed.size());
  std::string result;
  char buf[256];
  ssize_t n;
  while ((n = ::read(results[0], buf, sizeof buf)) > 0) result.append(buf, static_cast<std::size_t>(n));
  ::close(results[0]);
  if (master >= 0) {
    // Collect whatever else the terminal showed (the echoed line end), without blocking.
    pollfd p{master, POLLIN, 0};
    while (::poll(&p, 1, 100) > 0 && (n = ::read(master, buf, sizeof buf)) > 0) {
      run.shown.append(buf, static_cast<std::size_t>(n));
    }
    ::close(master);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.echo_restored = !result.empty() && result[0] == '1';
  run.outcome = result.empty() ? "" : result.substr(1);
  return run;
}

constexpr const char* kPrompt =
    "Unlock Ostrel keychain for user \"alice\" in project \"abababab\" to use this identity from the Ostrel Python "
    "SDK: ";

TEST(ConsolePassphrase, ShowsThePromptAndNotThePassphrase) {
  const PromptRun run = run_prompt("hunter2 and more\n");
  EXPECT_EQ(run.outcome, "ok:hunter2 and more");
  EXPECT_EQ(run.shown, std::string(kPrompt) + "\r\n");
  EXPECT_TRUE(run.echo_restored);
}

TEST(ConsolePassphrase, LineEditingStillWorksAndAnEmptyLineIsEmpty) {
  EXPECT_EQ(run_prompt("abX\x7f" "c\n").outcome, "ok:abc");
  EXPECT_EQ(run_prompt("\n").outcome, "ok:");
}

TEST(ConsolePassphrase, EndOfInputIsAFailure) {
  const PromptRun run = run_prompt("\x04");  // ^D on an empty line
  EXPECT_EQ(run.outcome, "err:passphrase provider failed: unexpected end of file");
  EXPECT_TRUE(run.echo_restored);
  EXPECT_EQ(run.shown, kPrompt);
}

TEST(ConsolePassphrase, AnInterruptEndsThePrompt) {
  const PromptRun run = run_prompt("", /*interrupt=*/true);
  EXPECT_EQ(run.outcome, "err:passphrase provider failed: Interrupted system call (os error 4)");
  EXPECT_TRUE(run.echo_restored);
}

TEST(ConsolePassphrase, NoTerminalIsAFailure) {
  // A child in a session of its own has no controlling terminal, so /dev/tty cannot be opened.
  int results[2];
  ASSERT_EQ(::pipe(results), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    auto got = ConsolePassphrase().passphrase(request_for({UnlockPurpose::VerifyVault{}}));
    const std::string out = got ? "ok" : got.error().message();
    (void)::write(results[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(results[1]);
  std::string result;
  char buf[256];
  ssize_t n;
  while ((n = ::read(results[0], buf, sizeof buf)) > 0) result.append(buf, static_cast<std::size_t>(n));
  ::close(results[0]);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(result, "passphrase provider failed: No such device or address (os error 6)");
}

}  // namespace
}  // namespace ostrel::keychain
