// The test bench panel's car and faults sections in the real GTK window under a virtual X server,
// with the host's car source and an ELM327 v1.5 served in-process on a pseudo-terminal, the test
// being its client: the panel shown from the operator menu, then a slider clicked and a spin
// button's arrow clicked (XTEST) change what the client reads for 010C and 010D, a code added in
// the list is read by 03, and a fault button acts on the next answer only. Widgets are found by
// their names through GTK in this process; the input is the X server's.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/line_faults.h"
#include "host/panel_sources.h"
#include "tests/gtk/config_home.h"
#include "tests/simulator/elm_adapter.h"
#include "tests/support/wait_for.h"
#include "vehicle/vehicle_file.h"
#include "window/panel/panel.h"
#include "window/window_api.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the test framework's names.
#include "tests/x11/x_session.h"

namespace {

// Runs `call` on the window's thread and waits for it.
void OnGtk(const std::function<void()>& call) {
  struct Pending {
    const std::function<void()>* call = nullptr;
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
  } pending;
  pending.call = &call;
  g_idle_add(
      [](gpointer data) -> gboolean {
        auto* p = static_cast<Pending*>(data);
        (*p->call)();
        std::lock_guard<std::mutex> hold(p->lock);
        p->finished = true;
        p->done.notify_all();
        return G_SOURCE_REMOVE;
      },
      &pending);
  std::unique_lock<std::mutex> hold(pending.lock);
  ASSERT_TRUE(pending.done.wait_for(hold, std::chrono::seconds(5), [&] { return pending.finished; }))
      << "the window's thread did not run the call";
}

// Window thread only.
GtkWidget* Toplevel() {
  GtkWidget* found = nullptr;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l != nullptr; l = l->next)
    if (gtk_window_get_window_type(GTK_WINDOW(l->data)) == GTK_WINDOW_TOPLEVEL && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found = GTK_WIDGET(l->data);
  g_list_free(all);
  return found;
}

GtkWidget* Named(GtkWidget* widget, const char* name) {
  if (strcmp(gtk_widget_get_name(widget), name) == 0) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  struct Search {
    const char* name;
    GtkWidget* found;
  } search{name, nullptr};
  gtk_container_forall(
      GTK_CONTAINER(widget),
      [](GtkWidget* child, gpointer data) {
        auto* s = static_cast<Search*>(data);
        if (s->found == nullptr) s->found = Named(child, s->name);
      },
      &search);
  return search.found;
}

GtkWidget* Named(const char* name) {
  GtkWidget* top = Toplevel();
  return top != nullptr ? Named(top, name) : nullptr;
}

struct Spot {
  int x = -1, y = -1, width = 0, height = 0;
};

class PanelCar : public elm_test::ElmAdapter {
 protected:
  void SetUp() override {
    if (!x_.Open()) GTEST_SKIP() << "no X display (run under xvfb-run)";
    const char* dir = getenv("PADIX_BIN_DIR");
    ASSERT_EQ(chdir(dir != nullptr ? dir : "."), 0);  // where the device picture is built
    elm_test::ElmAdapter::SetUp();
    emu_GtkSetPanelSources(nullptr, &PANEL_CAR_SOURCE);
    ASSERT_EQ(emu_GtkInit({0, 0, 0}), 0);
    w_ = x_.FindWindow();
    ASSERT_NE(w_, 0u);
  }
  void TearDown() override {
    if (w_ != 0) {
      emu_GtkClose();
      emu_GtkExit();
    }
    emu_GtkSetPanelSources(nullptr, nullptr);
    elm_test::ElmAdapter::TearDown();
  }

  // The widget brought into the panel's view, and where it is in the window.
  Spot Find(const char* name) {
    OnGtk([&] {
      GtkWidget* widget = Named(name);
      GtkWidget* scrolled = widget != nullptr ? gtk_widget_get_ancestor(widget, GTK_TYPE_SCROLLED_WINDOW) : nullptr;
      if (scrolled == nullptr) return;
      // Where it is in the scrolled window's view now, whatever the panel's frame holds it in.
      int x = 0, y = 0;
      gtk_widget_translate_coordinates(widget, scrolled, 0, 0, &x, &y);
      GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
      gtk_adjustment_set_value(v, gtk_adjustment_get_value(v) + y - 40);
    });
    x_.WaitUntilStill(w_);
    Spot spot;
    OnGtk([&] {
      GtkWidget* widget = Named(name);
      if (widget == nullptr) return;
      gtk_widget_translate_coordinates(widget, Toplevel(), 0, 0, &spot.x, &spot.y);
      spot.width = gtk_widget_get_allocated_width(widget);
      spot.height = gtk_widget_get_allocated_height(widget);
    });
    EXPECT_GE(spot.x, 0) << name << " is not in the window";
    return spot;
  }
  double Value(const char* name) {
    double value = -1;
    OnGtk([&] { value = gtk_spin_button_get_value(GTK_SPIN_BUTTON(Named(name))); });
    return value;
  }

  // The data bytes ECU 7E8 answers (headers on), single and multi-frame alike, without the
  // frames' padding.
  std::vector<unsigned> Ecu1(const std::string& answer) {
    std::vector<unsigned> data;
    size_t length = 0;
    std::istringstream lines(answer);
    for (std::string line; std::getline(lines, line, '\r');) {
      std::istringstream bytes(line);
      std::string id;
      if (!(bytes >> id) || id != "7E8") continue;
      std::vector<unsigned> frame;
      for (unsigned b; bytes >> std::hex >> b;) frame.push_back(b);
      if (frame.size() < 2) continue;
      const unsigned kind = frame[0] >> 4;
      if (kind == 0) length = frame[0] & 0x0F;
      if (kind == 1) length = (frame[0] & 0x0F) << 8 | frame[1];
      const size_t skip = kind == 1 ? 2 : 1;
      data.insert(data.end(), frame.begin() + static_cast<long>(skip), frame.end());
    }
    if (data.size() > length) data.resize(length);
    return data;
  }

  ConfigHome config_;  // before the window: it reads whether its panel was shown
  XSession x_;
  Window w_ = 0;
};

TEST_F(PanelCar, TheCarAndFaultsSectionsDriveWhatAClientReads) {
  Quiet();
  ExpectOk("ATSP6");
  ExpectOk("ATH1");

  // The panel comes with the operator menu's entry (the menu holds only it here).
  int width, height;
  x_.Size(w_, &width, &height);
  x_.Click(w_, width / 2.0, height / 2.0, 3);
  ASSERT_TRUE(WaitFor([&] { return x_.Popup() != 0; })) << "no menu on a right click";
  x_.Type(w_, XK_Down);
  x_.Type(w_, XK_Return);
  ASSERT_TRUE(WaitFor([&] {
    bool shown = false;
    OnGtk([&] { shown = emu_PanelShown(); });
    return shown;
  })) << "the panel did not come";
  x_.WaitUntilStill(w_);

  // The rpm slider clicked a quarter along: the client reads what the spin button beside it shows.
  const std::vector<unsigned> before = Ecu1(Ask("010C"));
  ASSERT_EQ(before.size(), 4u);
  Spot slider = Find("car-slider-rpm");
  x_.Click(w_, slider.x + slider.width / 4.0, slider.y + slider.height / 2.0);
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<unsigned> now = Ecu1(Ask("010C"));
    return now.size() == 4 && now != before;
  })) << "010C still reads as before the slider moved";
  const double rpm = Value("car-value-rpm");
  EXPECT_GT(rpm, 2000);
  EXPECT_LT(rpm, 6000);
  const std::vector<unsigned> after = Ecu1(Ask("010C"));
  ASSERT_EQ(after.size(), 4u);
  EXPECT_DOUBLE_EQ((after[2] * 256 + after[3]) / 4.0, rpm);

  // The speed spin button's "+" arrow: one km/h more.
  const std::vector<unsigned> speed = Ecu1(Ask("010D"));
  ASSERT_EQ(speed.size(), 3u);
  Spot spin = Find("car-value-speed");
  x_.Click(w_, spin.x + spin.width - 6, spin.y + spin.height / 2.0);
  ASSERT_TRUE(WaitFor([&] { return Ecu1(Ask("010D")) != speed; }));
  EXPECT_EQ(Ecu1(Ask("010D")), (std::vector<unsigned>{0x41, 0x0D, speed[2] + 1}));

  // A moving value, read by the panel and never written back: it keeps moving.
  std::string error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.coolant", "{ from = 0, to = 200, wave = \"ramp\", period = 0.5 }", &error), 0)
      << error;
  const double coolant = Value("car-value-coolant");
  EXPECT_TRUE(WaitFor([&] { return Value("car-value-coolant") != coolant; }));
  EXPECT_TRUE(WaitFor([&] { return Ecu1(Ask("0105")) != Ecu1(Ask("0105")); }))
      << "the panel froze the moving coolant";

  // A code written into the list's entry and added as pending: 07 reads it; confirmed: 03.
  for (const char* kind : {"pending", "confirmed"}) {
    OnGtk([&] {
      gtk_entry_set_text(GTK_ENTRY(Named("car-code-entry")), "P0117");
      gtk_combo_box_set_active(GTK_COMBO_BOX(Named("car-code-kind")), strcmp(kind, "pending") == 0 ? 1 : 0);
    });
    const Spot add = Find("car-code-add");
    x_.Click(w_, add.x + add.width / 2.0, add.y + add.height / 2.0);
    const char* request = strcmp(kind, "pending") == 0 ? "07" : "03";
    EXPECT_TRUE(WaitFor([&] {
      const std::vector<unsigned> codes = Ecu1(Ask(request));
      for (size_t i = 2; i + 1 < codes.size(); i += 2)
        if (codes[i] == 0x01 && codes[i + 1] == 0x17) return true;
      return false;
    })) << kind;
  }

  // "Next answer NO DATA": the next request is answered so, the one after it by the car.
  const Spot noData = Find("fault-shot-1");
  x_.Click(w_, noData.x + noData.width / 2.0, noData.y + noData.height / 2.0);
  ASSERT_TRUE(WaitFor([&] { return emu_LineFaultsArmed().error == 0; }));
  EXPECT_EQ(Ask("010D"), elm_test::Lines({"NO DATA"}));
  EXPECT_EQ(Ecu1(Ask("010D")).size(), 3u);

  const std::string shot = (std::filesystem::temp_directory_path() / "padix_panel_car.png").string();
  EXPECT_TRUE(x_.SavePng(w_, shot));
}

}  // namespace
