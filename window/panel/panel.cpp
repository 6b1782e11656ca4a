// The test bench panel: a scrolled column of sections beside the handheld, refreshed only while
// it is shown, at most 20 times a second, so that an idle window stays idle.
#include "window/panel/panel.h"

#include "window/window_api.h"

namespace {

constexpr guint REFRESH_MS = 50;  // 20 times a second at most
constexpr int PANEL_WIDTH = 420;

const EmuPanelSection* const SECTIONS[] = {&PANEL_LINE_SECTION, &PANEL_TRAFFIC_SECTION, &PANEL_CAR_SECTION,
                                           &PANEL_FAULTS_SECTION};

const EmuPanelLineSource NO_LINE_SOURCE{};
const EmuPanelCarSource NO_CAR_SOURCE{};
const EmuPanelLineSource* lineSource = &NO_LINE_SOURCE;
const EmuPanelCarSource* carSource = &NO_CAR_SOURCE;

GtkWidget* panel = nullptr;
guint refreshId = 0;

gboolean emu_PanelRefresh(gpointer) {
  for (const EmuPanelSection* section : SECTIONS) section->refresh();
  return G_SOURCE_CONTINUE;
}

}  // namespace

void emu_GtkSetPanelSources(const EmuPanelLineSource* line, const EmuPanelCarSource* car) {
  lineSource = line != nullptr ? line : &NO_LINE_SOURCE;
  carSource = car != nullptr ? car : &NO_CAR_SOURCE;
}

const EmuPanelLineSource& emu_PanelLineSource() { return *lineSource; }
const EmuPanelCarSource& emu_PanelCarSource() { return *carSource; }

GtkWidget* emu_PanelNew() {
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(column), 6);
  for (const EmuPanelSection* section : SECTIONS) {
    GtkWidget* frame = gtk_frame_new(section->title);
    gtk_container_add(GTK_CONTAINER(frame), section->build());
    gtk_box_pack_start(GTK_BOX(column), frame, FALSE, FALSE, 0);
  }
  panel = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(panel), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(panel, PANEL_WIDTH, -1);
  gtk_container_add(GTK_CONTAINER(panel), column);
  gtk_widget_set_no_show_all(panel, TRUE);
  gtk_widget_show_all(column);
  return panel;
}

void emu_PanelSetShown(bool shown) {
  if (panel == nullptr || shown == emu_PanelShown()) return;
  if (shown) {
    emu_PanelRefresh(nullptr);
    gtk_widget_show(panel);
    refreshId = g_timeout_add(REFRESH_MS, emu_PanelRefresh, nullptr);
  } else {
    gtk_widget_hide(panel);
    if (refreshId != 0) g_source_remove(refreshId);
    refreshId = 0;
  }
}

int emu_PanelWidth() { return PANEL_WIDTH; }

bool emu_PanelShown() { return panel != nullptr && gtk_widget_get_visible(panel); }
