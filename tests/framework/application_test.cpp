#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cport/fw/exception.h"
#include "cport/fw/headless_application.h"
#include "cport/fw/synchronize.h"
#include "ui_thread.h"

namespace {

using fwtest::Worker;

TEST(ApplicationTest, DisplayTextAppendsAFullStopAfterCharactersAboveIt) {
  const struct {
    std::u16string message, shown;
  } cases[] = {
      {u"", u""},
      {u"Port Not Open", u"Port Not Open."},
      {u"Unable to open com port (Error: 2)",
       u"Unable to open com port (Error: 2)"},
      {u"Done.", u"Done."},
      {u"a-", u"a-"},   // '-' is below '.'
      {u"a/", u"a/."},  // '/' is above '.'
      {u"1", u"1."},
      {u"line\r\n", u"line\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cport::fw::TApplication::DisplayText(c.message), c.shown);
}

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetTitle(u"ROZ ERUVORU");
    app.SetShowException(
        [this](const std::u16string& message, const std::u16string& caption) {
          shown.push_back(caption + u"|" + message);
        });
  }
  cport::fw::HeadlessApplication app;
  std::vector<std::u16string> shown;
};

TEST_F(HeadlessTest, IsTheProcessApplication) {
  EXPECT_EQ(cport::fw::Application(), &app);
  EXPECT_TRUE(cport::fw::IsMainThread());
}

TEST_F(HeadlessTest, HandleExceptionShowsEveryKindWithTheTitle) {
  app.HandleException(
      std::make_exception_ptr(cport::fw::EThread(u"Thread Error: x (5)")));
  app.HandleException(std::make_exception_ptr(std::runtime_error("plain")));
  app.HandleException(std::make_exception_ptr(42));
  EXPECT_EQ(shown,
            (std::vector<std::u16string>{u"ROZ ERUVORU|Thread Error: x (5)",
                                         u"ROZ ERUVORU|plain.",
                                         u"ROZ ERUVORU|Unknown exception."}));
}

TEST_F(HeadlessTest, ProcessMessagesRunsPostedAndQueuedWorkWithoutWaiting) {
  std::vector<int> ran;
  app.Post([&] {
    ran.push_back(1);
    app.Post([&] { ran.push_back(2); });  // posted meanwhile: also run
  });
  app.Post([] { throw cport::fw::Exception(u"handler failed"); });
  app.ProcessMessages();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(shown,
            (std::vector<std::u16string>{u"ROZ ERUVORU|handler failed."}));
  app.ProcessMessages();  // nothing pending: returns at once
}

TEST_F(HeadlessTest, WaitForWorkWakesForAQueuedCallAndTimesOutWhenIdle) {
  EXPECT_FALSE(app.WaitForWork(20));
  bool ran = false;
  Worker worker([&] { cport::fw::Synchronize([&] { ran = true; }); });
  ASSERT_TRUE(app.WaitForWork(10000));
  app.ProcessMessages();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(worker.Finish());
}

TEST_F(HeadlessTest, RunEndsOnTerminate) {
  int handled = 0;
  Worker worker([&] {
    cport::fw::Synchronize([&] { ++handled; });
    cport::fw::Synchronize([&] { app.Terminate(); });
  });
  app.Run();
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(handled, 1);
  EXPECT_TRUE(worker.Finish());
}

}  // namespace
