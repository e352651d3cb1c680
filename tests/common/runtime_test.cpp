#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "common/datetime.h"
#include "common/event_runtime.h"

namespace noctarbel {
namespace {

const DateTime kStart = EncodeDateTime(2026, 12, 6, 18, 0, 0);

TEST(VirtualClock, TenHourWaitFiresEveryTimerTickOnTheWay) {
  auto rt = EventRuntime::WithVirtualClock(kStart);
  int ticks = 0;
  Timer status(*rt, 3000);
  status.SetHandler([&] { ++ticks; });
  status.Start();
  rt->Sleep(10 * 3600 * 1000);
  EXPECT_EQ(ticks, 12000);
  EXPECT_NEAR((rt->UtcNow() - kStart) * kSecondsPerDay, 36000.0, 1e-3);
}

TEST(VirtualClock, TimersFireInTimeOrderAndStopWhenDisabled) {
  auto rt = EventRuntime::WithVirtualClock(kStart);
  std::vector<std::pair<char, double>> fired;
  auto at = [&] { return std::round((rt->UtcNow() - kStart) * kMillisecondsPerDay); };
  Timer slow(*rt, 3000);
  Timer fast(*rt, 1000);
  slow.SetHandler([&] { fired.push_back({'s', at()}); });
  fast.SetHandler([&] {
    fired.push_back({'f', at()});
    if (fired.size() >= 4) fast.Stop();
  });
  slow.Start();
  fast.Start();
  rt->Sleep(6500);
  ASSERT_GE(fired.size(), 5u);
  for (size_t i = 1; i < fired.size(); ++i) EXPECT_LE(fired[i - 1].second, fired[i].second + 1e-6);
  // slow was created first: at 3000 ms it fires before fast.
  EXPECT_EQ(fired[0], (std::pair<char, double>{'f', 1000}));
  EXPECT_EQ(fired[1], (std::pair<char, double>{'f', 2000}));
  EXPECT_EQ(fired[2].first, 's');
  EXPECT_EQ(fired[3], (std::pair<char, double>{'f', 3000}));
  EXPECT_FALSE(fast.Enabled());
  EXPECT_EQ(fired.back(), (std::pair<char, double>{'s', 6000}));
}

TEST(VirtualClock, TickMayDisableAndReenableItself) {
  // The executor's pause timer: each tick disables it, counts down and re-enables it.
  auto rt = EventRuntime::WithVirtualClock(kStart);
  int waitTicks = 5;
  Timer wait(*rt, 1000);
  wait.SetHandler([&] {
    wait.Stop();
    --waitTicks;
    if (waitTicks > 0) wait.Start();
  });
  wait.Start();
  while (waitTicks > 0) rt->Sleep(300);
  EXPECT_FALSE(wait.Enabled());
  EXPECT_NEAR((rt->UtcNow() - kStart) * kSecondsPerDay, 5.1, 0.01);  // five ticks, checked every 0.3 s
}

TEST(VirtualClock, ATickNeverOverlapsItselfButOtherTimersRunInsideIt) {
  auto rt = EventRuntime::WithVirtualClock(kStart);
  int depth = 0;
  int maxDepth = 0;
  int slowTicks = 0;
  int fastTicksInsideSlow = 0;
  Timer slow(*rt, 1000);
  Timer fast(*rt, 100);
  slow.SetHandler([&] {
    ++slowTicks;
    maxDepth = std::max(maxDepth, ++depth);
    rt->Sleep(2500);  // longer than its own interval
    --depth;
  });
  fast.SetHandler([&] {
    if (depth > 0) ++fastTicksInsideSlow;
  });
  slow.Start();
  fast.Start();
  rt->Sleep(10000);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GT(fastTicksInsideSlow, 20);
  // Overrunning ticks are followed by a single catch-up tick, not a burst.
  EXPECT_LE(slowTicks, 5);
  EXPECT_GE(slowTicks, 3);
}

TEST(VirtualClock, PumpMovesTimeOnSoPollingLoopsEnd) {
  auto rt = EventRuntime::WithVirtualClock(kStart);
  DateTime deadline = kStart + 1.0 / kSecondsPerDay;
  long pumps = 0;
  while (rt->UtcNow() < deadline) {
    rt->Pump();
    ++pumps;
  }
  EXPECT_NEAR(pumps, 1000, 1);
}

TEST(VirtualClock, RemovingATimerInsideItsOwnTickIsSafe) {
  auto rt = EventRuntime::WithVirtualClock(kStart);
  auto timer = std::make_unique<Timer>(*rt, 100);
  int ticks = 0;
  timer->SetHandler([&] {
    ++ticks;
    timer.reset();
  });
  timer->Start();
  rt->Sleep(1000);
  EXPECT_EQ(ticks, 1);
}

TEST(RealClock, SleepsAndFiresTimersAndPostedWork) {
  auto rt = EventRuntime::WithRealClock();
  int ticks = 0;
  Timer t(*rt, 10);
  t.SetHandler([&] { ++ticks; });
  t.Start();
  bool posted = false;
  std::thread other([&] { rt->Post([&] { posted = true; }); });
  other.join();
  double before = rt->NowMs();
  rt->Sleep(80);
  EXPECT_GE(rt->NowMs() - before, 80);
  EXPECT_GE(ticks, 1);
  EXPECT_TRUE(posted);
  EXPECT_NEAR(rt->UtcNow(), FromUnixSeconds(static_cast<double>(std::time(nullptr))), 5.0 / kSecondsPerDay);
}

}  // namespace
}  // namespace noctarbel
