#include "plenro/model/log_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace plenro {
namespace {

struct Written {
  LogStream stream;
  std::string text;
};

struct StreamCase {
  const char* name;
  LogStream stream;
};

class LogStreamTest : public ::testing::TestWithParam<StreamCase> {};

// What the standard streams received while `fn` ran.
template <class Fn>
std::pair<std::string, std::string> Captured(Fn&& fn) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  fn();
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  return {out, err};
}

TEST_P(LogStreamTest, WithoutASinkTheMessageGoesToItsStandardStream) {
  const LogStream stream = GetParam().stream;
  const auto [out, err] = Captured([&] { Log(stream, "[warning] node ", 42, " at ", 1.5, "\n"); });
  const std::string expected = "[warning] node 42 at 1.5\n";
  EXPECT_EQ(out, stream == LogStream::kOut ? expected : "");
  EXPECT_EQ(err, stream == LogStream::kErr ? expected : "");
}

TEST_P(LogStreamTest, AnInstalledSinkTakesTheMessageInstead) {
  const LogStream stream = GetParam().stream;
  std::vector<Written> seen;
  const auto [out, err] = Captured([&] {
    const ScopedLogSink sink(
        [&](LogStream s, const std::string& text) { seen.push_back({s, text}); });
    WriteLog(stream, "w = 1\n", /*flush=*/true);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].stream, stream);
  EXPECT_EQ(seen[0].text, "w = 1\n");
}

INSTANTIATE_TEST_SUITE_P(Streams, LogStreamTest,
                         ::testing::Values(StreamCase{"StandardOutput", LogStream::kOut},
                                           StreamCase{"StandardError", LogStream::kErr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogSinkTest, NestedSinksGiveWayToTheOuterOneAndThenToTheStreams) {
  std::vector<std::string> outer_seen;
  std::vector<std::string> inner_seen;
  const auto [out, err] = Captured([&] {
    {
      const ScopedLogSink outer(
          [&](LogStream, const std::string& text) { outer_seen.push_back(text); });
      {
        const ScopedLogSink inner(
            [&](LogStream, const std::string& text) { inner_seen.push_back(text); });
        Log(LogStream::kErr, "inner\n");
      }
      Log(LogStream::kErr, "outer\n");
    }
    Log(LogStream::kErr, "stream\n");
  });
  EXPECT_EQ(inner_seen, std::vector<std::string>{"inner\n"});
  EXPECT_EQ(outer_seen, std::vector<std::string>{"outer\n"});
  EXPECT_EQ(err, "stream\n");
  EXPECT_EQ(out, "");
}

TEST(LogSinkTest, ASinkServesOnlyTheThreadThatInstalledIt) {
  std::vector<std::string> seen;
  const auto [out, err] = Captured([&] {
    const ScopedLogSink sink([&](LogStream, const std::string& text) { seen.push_back(text); });
    std::thread other([] { Log(LogStream::kErr, "from the other thread\n"); });
    other.join();
    Log(LogStream::kErr, "from this thread\n");
  });
  EXPECT_EQ(seen, std::vector<std::string>{"from this thread\n"});
  EXPECT_EQ(err, "from the other thread\n");
  EXPECT_EQ(out, "");
}

TEST(LogSinkTest, AnEmptySinkLeavesTheMessagesOnTheStreams) {
  const auto [out, err] = Captured([] {
    const ScopedLogSink sink{LogSink{}};
    Log(LogStream::kOut, "still printed\n");
  });
  EXPECT_EQ(out, "still printed\n");
  EXPECT_EQ(err, "");
}

}  // namespace
}  // namespace plenro
