// Every GStreamer object the graph makes is freed again: counted with
// GStreamer's leaks tracer ($GST_TRACERS=leaks, set for this executable) over
// plays, re-triggers, clip switches and closes.

#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <gst/gst.h>

#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>

using namespace platform;
using testing_support::WaitFor;

namespace {

GstTracer* LeaksTracer() {
  GList* tracers = gst_tracing_get_active_tracers();
  GstTracer* found = nullptr;
  for (GList* l = tracers; l != nullptr; l = l->next)
    if (found == nullptr && g_str_equal(G_OBJECT_TYPE_NAME(l->data), "GstLeaksTracer"))
      found = GST_TRACER(gst_object_ref(l->data));
  g_list_free_full(tracers, gst_object_unref);
  return found;
}

// Starts counting the GStreamer objects made and freed from here on.
void StartCounting() {
  GstTracer* tracer = LeaksTracer();
  g_signal_emit_by_name(tracer, "activity-start-tracking");
  gst_object_unref(tracer);
}

// The GStreamer objects (elements, pads, clocks, tasks...) made since
// StartCounting and not freed since, by type, as "type +n" lines; objects
// that lived before and were freed count against their type. Buffers,
// events and messages come and go with the streaming and are left out; an
// object that holds them is counted.
std::string Growth() {
  // Removed clips are stopped and freed by workers.
  WaitFor([] { return engine::GstMediaGraph::PendingTeardowns() == 0; });
  GstTracer* tracer = LeaksTracer();
  std::map<std::string, int> counts;
  const auto grown = [&] {
    return std::any_of(counts.begin(), counts.end(), [](const auto& c) { return c.second > 0; });
  };
  // A streaming thread's task is freed a moment after its element is gone,
  // so the count is taken again, adding up, until nothing is left over or
  // the deadline passes; a real leak never comes back to zero.
  WaitFor(
      [&] {
        // Bus messages still queued for the window thread hold their senders.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        GstStructure* checkpoint = nullptr;
        g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
        if (checkpoint == nullptr) {
          counts["no checkpoint"] = 1;
          return true;
        }
        for (const auto& [field, step] :
             {std::pair{"objects-created-list", 1}, std::pair{"objects-removed-list", -1}}) {
          const GValue* list = gst_structure_get_value(checkpoint, field);
          for (guint i = 0; list != nullptr && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
            const gchar* type = gst_structure_get_string(entry, "type-name");
            if (type != nullptr && g_type_is_a(g_type_from_name(type), GST_TYPE_OBJECT))
              counts[type] += step;
          }
        }
        gst_structure_free(checkpoint);
        return !grown();
      },
      std::chrono::seconds(3));
  g_signal_emit_by_name(tracer, "activity-stop-tracking");
  gst_object_unref(tracer);
  std::ostringstream out;
  for (const auto& [type, n] : counts)
    if (n > 0) out << type << " +" << n << "\n";
  return out.str();
}

class GraphLeaks : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::GstMediaGraph probe;  // initializes GStreamer, so the tracer exists
    ASSERT_NE(LeaksTracer(), nullptr) << "run with GST_TRACERS=leaks";
  }

  // Presses keys as the keyboard window does: play, the same clip again,
  // other clips (a picture among them), and close.
  void Evening(TPlayer& player, NoticeRecorder& window) {
    const QString clips[] = {media_files::ToneWav(), media_files::ToneWav(), media_files::ToneOgg(),
                             media_files::RedAvi(),  media_files::ToneWav(), media_files::ToneMp3(),
                             media_files::ToneMp3()};
    for (const QString& clip : clips) {
      player.Open(clip);
      player.SetRelativePositions(10000, 0, 10000, 0);
      player.SetRate(1.0);
      player.Play();
      ASSERT_TRUE(WaitFor([&] { return player.GetPosition() > 0; }));
      window.Clear();
      while (player.GetMediaEvent() != 0) {
      }
    }
    player.Stop();
    player.Close();
  }
};

TEST_F(GraphLeaks, RetriggersAndSwitchesHoldNoMoreObjectsThanOnePass) {
  NoticeRecorder window;
  QWidget owner;
  TPlayer player(&window, 0);
  player.HandleVideo(&owner);
  Evening(player, window);
  StartCounting();
  for (int i = 0; i < 3; ++i) Evening(player, window);
  EXPECT_EQ(Growth(), "");
}

TEST_F(GraphLeaks, AClosedPlayerLeavesNothingBehind) {
  {
    // The first graph of the process settles what lives as long as it:
    // the chosen output, plugin features, the system clock.
    NoticeRecorder window;
    TPlayer player(&window, 0);
    Evening(player, window);
  }
  StartCounting();
  {
    NoticeRecorder window;
    QWidget owner;
    TPlayer player(&window, 0);
    player.HandleVideo(&owner);
    Evening(player, window);
    Evening(player, window);
  }
  EXPECT_EQ(Growth(), "");
}

}  // namespace
