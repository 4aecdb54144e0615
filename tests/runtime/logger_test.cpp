#include "runtime/logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/library_loader.h"
#include "runtime/main_thread.h"
#include "runtime/manual_reset_event.h"
#include "runtime/media_owners.h"

namespace runtime {
namespace {

using ::testing::ElementsAre;

struct LogRecord {
  const LogSource* sender;
  std::uint32_t thread_id;
  TLogLevel level;
  std::string message;
  bool on_main_thread;
};

class LogRecorder {
 public:
  TLogEvent Handler() {
    return [this](const LogSource* sender, std::uint32_t thread_id, TLogLevel level,
                  const std::string& message) {
      std::lock_guard lock(mutex_);
      records_.push_back({sender, thread_id, level, message, IsMainThread()});
    };
  }
  std::vector<LogRecord> Records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const LogRecord& record : Records())
      messages.push_back(record.message);
    return messages;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return records_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

class TestComponent : public TFFBaseComponent {
 public:
  std::string LogSourceName() const override { return "test component"; }
};

// The libraries are bound (which installs the library callback) and every message that passes goes to the
// recorder, on the thread that logs it unless a test asks for main-thread delivery.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(EngineLibraries)) << FFmpegLoader().LastError();
    Logger().SetTriggerEventInMainThread(false);
    Logger().SetOnLog(recorder_.Handler());
  }
  void TearDown() override {
    Logger().SetOnLog(nullptr);
    Logger().SetLogLevel(llInfo);
    Logger().SetTriggerEventInMainThread(true);
  }

  LogRecorder recorder_;
};

CodecContextPtr EncoderContext(const char* encoder_name) {
  const AVCodec* encoder = avcodec().avcodec_find_encoder_by_name(encoder_name);
  return CodecContextPtr(encoder != nullptr ? avcodec().avcodec_alloc_context3(encoder) : nullptr);
}

std::string PrefixFor(const char* item_name, const void* context) {
  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "[%s @ %p]", item_name, context);
  return prefix;
}

TEST_F(LoggerTest, LibraryFragmentsMakeOneLineWithThePrefixBeforeTheFirst) {
  const CodecContextPtr context = EncoderContext("mpeg4");
  ASSERT_NE(context, nullptr);

  avutil().av_log(context.get(), AV_LOG_INFO, "frame %d ", 7);
  EXPECT_EQ(recorder_.Count(), 0u) << "a fragment without line end is no line yet";
  avutil().av_log(context.get(), AV_LOG_INFO, "of %s\n", "9");

  const std::vector<LogRecord> records = recorder_.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, PrefixFor("mpeg4", context.get()) + "frame 7 of 9");
  EXPECT_EQ(records[0].sender, &Logger());
  EXPECT_EQ(records[0].thread_id, CurrentThreadId());
  EXPECT_EQ(records[0].level, llInfo);
}

TEST_F(LoggerTest, MessageWithTwoLineEndsGivesTwoLinesWithThePrefixOnTheFirstOnly) {
  const CodecContextPtr context = EncoderContext("mpeg4");
  ASSERT_NE(context, nullptr);
  const std::string prefix = PrefixFor("mpeg4", context.get());

  avutil().av_log(context.get(), AV_LOG_WARNING, "first\nsecond\n");
  avutil().av_log(context.get(), AV_LOG_ERROR, "third\n");
  avutil().av_log(nullptr, AV_LOG_ERROR, "without context\n");

  EXPECT_THAT(recorder_.Messages(),
              ElementsAre(prefix + "first", "second", prefix + "third", "without context"));
  std::vector<TLogLevel> levels;
  for (const LogRecord& record : recorder_.Records())
    levels.push_back(record.level);
  EXPECT_THAT(levels, ElementsAre(llWarning, llWarning, llError, llError));
}

TEST_F(LoggerTest, FragmentsOfTwoThreadsAreAssembledApart) {
  const CodecContextPtr context = EncoderContext("mpeg4");
  ASSERT_NE(context, nullptr);
  ManualResetEvent alpha_begun(false);
  ManualResetEvent beta_begun(false);
  ManualResetEvent alpha_ended(false);
  std::uint32_t alpha_id = 0;
  std::uint32_t beta_id = 0;

  // alpha one, beta one, alpha two, beta two: each thread's line is split by the other thread's fragment.
  std::thread alpha([&] {
    alpha_id = CurrentThreadId();
    avutil().av_log(context.get(), AV_LOG_INFO, "alpha one ");
    alpha_begun.Set();
    beta_begun.Wait();
    avutil().av_log(context.get(), AV_LOG_INFO, "alpha two\n");
    alpha_ended.Set();
  });
  std::thread beta([&] {
    beta_id = CurrentThreadId();
    alpha_begun.Wait();
    avutil().av_log(nullptr, AV_LOG_INFO, "beta one ");
    beta_begun.Set();
    alpha_ended.Wait();
    avutil().av_log(nullptr, AV_LOG_INFO, "beta two\n");
  });
  alpha.join();
  beta.join();

  const std::vector<LogRecord> records = recorder_.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(alpha_id, beta_id);
  EXPECT_EQ(records[0].message, PrefixFor("mpeg4", context.get()) + "alpha one alpha two");
  EXPECT_EQ(records[0].thread_id, alpha_id);
  EXPECT_EQ(records[1].message, "beta one beta two");
  EXPECT_EQ(records[1].thread_id, beta_id);
}

TEST_F(LoggerTest, LongLibraryLineArrivesWholeOrCutAtTheBufferSize) {
  const CodecContextPtr context = EncoderContext("mpeg4");
  ASSERT_NE(context, nullptr);
  const std::string long_text(3000, 'x');
  const std::string whole = PrefixFor("mpeg4", context.get()) + long_text;

  avutil().av_log(context.get(), AV_LOG_INFO, "%s\n", long_text.c_str());

  const std::vector<std::string> messages = recorder_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_GE(messages[0].size(), 2047u);
  EXPECT_EQ(messages[0], whole.substr(0, messages[0].size()));
}

TEST_F(LoggerTest, LevelFiltersComponentMessages) {
  struct Case {
    TLogLevel threshold;
    TLogLevel level;
    bool delivered;
  };
  const Case cases[] = {
      {llError, llVerbose, true},  {llError, llWarning, false}, {llError, llError, true},
      {llError, llPanic, true},    {llError, llDebug, false},   {llQuiet, llQuiet, true},
      {llQuiet, llVerbose, false}, {llQuiet, llPanic, false},   {llInfo, llVerbose, true},
      {llInfo, llDebug, false},    {llDebug, llDebug, true},
  };
  const TestComponent component;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "threshold " << int{c.threshold} << ", level " << int{c.level});
    Logger().SetLogLevel(c.threshold);
    const std::size_t before = recorder_.Count();

    Log(&component, c.level, "component message");

    ASSERT_EQ(recorder_.Count(), before + (c.delivered ? 1 : 0));
    if (c.delivered) {
      const LogRecord record = recorder_.Records().back();
      EXPECT_EQ(record.sender, &component);
      EXPECT_EQ(record.level, c.level);
      EXPECT_EQ(record.message, "component message");
      EXPECT_EQ(record.thread_id, CurrentThreadId());
    }
  }
}

TEST_F(LoggerTest, LevelFiltersLibraryMessagesAndIsAppliedToTheLibrary) {
  struct Case {
    TLogLevel threshold;
    int library_level;
    bool delivered;
  };
  const Case cases[] = {
      {llError, 16, true}, {llError, 17, false}, {llError, 24, false},
      {llQuiet, -8, true}, {llQuiet, 0, false},  {llInfo, 32, true},
      {llInfo, 40, false}, {llDebug, 48, true},  {llDebug, 56, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "threshold " << int{c.threshold} << ", library level "
                                    << c.library_level);
    Logger().SetLogLevel(c.threshold);
    EXPECT_EQ(avutil().av_log_get_level(), LibraryLevelOf(c.threshold));
    const std::size_t before = recorder_.Count();

    avutil().av_log(nullptr, c.library_level, "library message\n");

    ASSERT_EQ(recorder_.Count(), before + (c.delivered ? 1 : 0));
    if (c.delivered) {
      EXPECT_EQ(recorder_.Records().back().level, LogLevelOfLibrary(c.library_level));
    }
  }
}

TEST(LogLevelMapping, BothWays) {
  const std::pair<TLogLevel, int> to_library[] = {{llQuiet, -8},   {llPanic, 0},    {llFatal, 8},
                                                  {llError, 16},   {llWarning, 24}, {llInfo, 32},
                                                  {llVerbose, 40}, {llDebug, 48}};
  for (const auto& [level, library_level] : to_library) {
    EXPECT_EQ(LibraryLevelOf(level), library_level);
    EXPECT_EQ(LogLevelOfLibrary(library_level), level);
  }
  const std::pair<int, TLogLevel> from_library[] = {
      {INT_MIN, llQuiet}, {-100, llQuiet}, {-9, llQuiet},   {-8, llQuiet},     {-7, llPanic},
      {-1, llPanic},      {7, llPanic},    {8, llFatal},    {15, llFatal},     {16, llError},
      {23, llError},      {24, llWarning}, {31, llWarning}, {39, llInfo},      {40, llVerbose},
      {47, llVerbose},    {56, llDebug},   {100, llDebug},  {INT_MAX, llDebug}};
  for (const auto& [library_level, level] : from_library)
    EXPECT_EQ(LogLevelOfLibrary(library_level), level) << "library level " << library_level;
}

TEST_F(LoggerTest, SetLogLevelByTextTakesNamesInAnyCaseAndLibraryLevels) {
  const std::pair<const char*, TLogLevel> cases[] = {
      {"DEBUG", llDebug}, {"Warning", llWarning}, {"quiet", llQuiet}, {"panic", llPanic}, {"20", llError},
      {"-20", llQuiet},   {"8", llFatal},         {"0", llPanic},     {"100", llDebug},
  };
  for (const auto& [text, level] : cases) {
    SCOPED_TRACE(text);
    Logger().SetLogLevel(llVerbose);

    Logger().SetLogLevelByText(text);

    EXPECT_EQ(Logger().LogLevel(), level);
    EXPECT_EQ(avutil().av_log_get_level(), LibraryLevelOf(level));
  }
}

TEST_F(LoggerTest, SetLogLevelByTextRefusesOtherTextAndKeepsTheLevel) {
  for (const char* text : {"banana", "", "20x", "1.5", "debug ", "-", "99999999999"}) {
    SCOPED_TRACE(text);
    Logger().SetLogLevel(llWarning);

    EXPECT_THROW(Logger().SetLogLevelByText(text), std::invalid_argument);

    EXPECT_EQ(Logger().LogLevel(), llWarning);
    EXPECT_EQ(avutil().av_log_get_level(), AV_LOG_WARNING);
  }
}

TEST_F(LoggerTest, WorkerMessagesAreHandledOnTheMainThreadWhileTheWorkerWaits) {
  BindMainThread();
  Logger().SetTriggerEventInMainThread(true);
  const TestComponent component;
  ManualResetEvent worker_done(false);
  std::uint32_t worker_id = 0;
  std::size_t handled_when_worker_went_on = 0;

  std::thread worker([&] {
    worker_id = CurrentThreadId();
    Log(&component, llInfo, "component line");
    avutil().av_log(nullptr, AV_LOG_INFO, "library line\n");
    handled_when_worker_went_on = recorder_.Count();
    worker_done.Set();
  });
  WaitServingMainThread(worker_done);
  worker.join();
  // The main thread's own messages are handled at once.
  Log(&component, llInfo, "main line");

  const std::vector<LogRecord> records = recorder_.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(handled_when_worker_went_on, 2u);
  EXPECT_EQ(records[0].message, "component line");
  EXPECT_EQ(records[0].sender, &component);
  EXPECT_EQ(records[1].message, "library line");
  EXPECT_EQ(records[1].sender, &Logger());
  for (const LogRecord& record : records)
    EXPECT_TRUE(record.on_main_thread) << record.message;
  EXPECT_EQ(records[0].thread_id, worker_id);
  EXPECT_EQ(records[1].thread_id, worker_id);
  EXPECT_EQ(records[2].thread_id, CurrentThreadId());
}

TEST_F(LoggerTest, WithoutMainThreadDeliveryTheLoggingThreadRunsTheHandler) {
  BindMainThread();
  Logger().SetTriggerEventInMainThread(false);
  const TestComponent component;
  ManualResetEvent worker_done(false);
  std::uint32_t worker_id = 0;

  std::thread worker([&] {
    worker_id = CurrentThreadId();
    Log(&component, llInfo, "component line");
    avutil().av_log(nullptr, AV_LOG_INFO, "library line\n");
    worker_done.Set();
  });
  // The main thread serves nothing meanwhile.
  const bool finished = worker_done.WaitFor(std::chrono::seconds(10));
  if (!finished) ShutdownMainThreadQueue();  // release a worker that waits for the main thread
  worker.join();

  ASSERT_TRUE(finished) << "the worker waited for the main thread";
  const std::vector<LogRecord> records = recorder_.Records();
  ASSERT_EQ(records.size(), 2u);
  for (const LogRecord& record : records) {
    EXPECT_FALSE(record.on_main_thread) << record.message;
    EXPECT_EQ(record.thread_id, worker_id) << record.message;
  }
}

TEST(LoggerInstance, SecondInstanceIsRefused) {
  TFFLogger& existing = Logger();

  try {
    TFFLogger second;
    ADD_FAILURE() << "a second logger was created";
  } catch (const std::logic_error& error) {
    EXPECT_STREQ(error.what(), "Allow creating only one instance of TFFLogger.");
  }

  EXPECT_EQ(&Logger(), &existing);
}

TEST(LoggerInstance, PlacedLoggerServesUntilDestroyedThenTheAccessorMakesOneThatStillReachesTheLibrary) {
  std::unique_ptr<TFFLogger> placed;
  try {
    placed = std::make_unique<TFFLogger>();
  } catch (const std::logic_error&) {
    GTEST_SKIP() << "an earlier test of this process created the logger";
  }
  ASSERT_EQ(&Logger(), placed.get());
  ASSERT_TRUE(FFmpegLoader().LoadLibraries(EngineLibraries)) << FFmpegLoader().LastError();
  placed->SetLogLevel(llDebug);
  EXPECT_EQ(avutil().av_log_get_level(), AV_LOG_DEBUG);

  placed.reset();
  TFFLogger& created = Logger();

  EXPECT_EQ(created.LogLevel(), llDebug) << "a new logger starts at the level applied to the library";
  created.SetLogLevel(llWarning);
  EXPECT_EQ(avutil().av_log_get_level(), AV_LOG_WARNING);
}

}  // namespace
}  // namespace runtime
