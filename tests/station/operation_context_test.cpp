// Operation contexts: a wait ends an operation that was cancelled, or preempted by an
// emergency that ran inside it; the emergency itself is never preempted.

#include "station/operation_context.h"

#include <gtest/gtest.h>

#include "common/event_runtime.h"

namespace noctarbel {
namespace {

class OperationTest : public ::testing::Test {
 protected:
  // Runs `action` once, after `ms` on the virtual clock.
  void At(int ms, std::function<void()> action) {
    timer_ = clock->AddTimer(ms, [this, action] {
      clock->SetTimerEnabled(timer_, false);
      action();
    });
    clock->SetTimerEnabled(timer_, true);
  }

  std::unique_ptr<EventRuntime> clock = EventRuntime::WithVirtualClock(46000);
  OperationControl control{*clock};
  Runtime::TimerId timer_ = 0;
};

TEST_F(OperationTest, ACancelledOperationStopsAtItsNextWaitAndStaysStopped) {
  bool stop = false;
  OperationContext op = control.Begin([&] { return stop; });
  EXPECT_TRUE(op.Wait(1000));
  At(250, [&] { stop = true; });
  const double start = clock->NowMs();
  EXPECT_FALSE(op.Wait(60000));
  EXPECT_LE(clock->NowMs() - start, 400);  // not the whole minute
  stop = false;
  EXPECT_FALSE(op.MayContinue());
  EXPECT_EQ(op.Stop(), OperationStop::Cancelled);
  EXPECT_EQ(op.StopText(), "Stopped");
}

TEST_F(OperationTest, AnEmergencyInsideAWaitPreemptsTheOperationButNotItself) {
  OperationContext outer = control.Begin();
  bool emergencyWaited = false;
  bool secondRefused = false;
  bool lateStarterPreempted = false;
  At(500, [&] {
    auto lease = control.BeginEmergency("the rain emergency");
    ASSERT_TRUE(lease);
    // Its own waits go on, also while another emergency is asked for inside them.
    emergencyWaited = lease->Context().Wait(3000);
    secondRefused = !control.BeginEmergency("another emergency");
    // Anything begun by others while it runs starts preempted.
    OperationContext late = control.Begin();
    lateStarterPreempted = !late.Wait(10);
  });
  EXPECT_FALSE(outer.Wait(10000));
  EXPECT_TRUE(emergencyWaited);
  EXPECT_TRUE(secondRefused);
  EXPECT_TRUE(lateStarterPreempted);
  EXPECT_EQ(outer.Stop(), OperationStop::Preempted);
  EXPECT_EQ(outer.StopText(), "Interrupted by the rain emergency");
  EXPECT_FALSE(control.EmergencyRunning());
  // After it, new operations run as usual.
  OperationContext next = control.Begin();
  EXPECT_TRUE(next.Wait(1000));
}

}  // namespace
}  // namespace noctarbel
