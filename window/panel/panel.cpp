// The test bench panel: a scrolled column of sections beside the handheld, refreshed only while
// it is shown, at most 20 times a second, so that an idle window stays idle.
#include "window/panel/panel.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "window/window_api.h"

namespace {

// 5 times a second while anything changes: enough to see values move at a glance. After 2 s of no
// change, once a second, so that an idle window stays idle; the first change brings the pace back.
constexpr guint BUSY_REFRESH_MS = 200;
constexpr guint QUIET_REFRESH_MS = 1000;
constexpr int QUIET_AFTER = 10;  // refreshes without a change
constexpr int PANEL_WIDTH = 420;

const EmuPanelSection* const SECTIONS[] = {&PANEL_LINE_SECTION, &PANEL_TRAFFIC_SECTION, &PANEL_CAR_SECTION,
                                           &PANEL_FAULTS_SECTION};

const EmuPanelLineSource NO_LINE_SOURCE{};
const EmuPanelCarSource NO_CAR_SOURCE{};
const EmuPanelLineSource* lineSource = &NO_LINE_SOURCE;
const EmuPanelCarSource* carSource = &NO_CAR_SOURCE;

GtkWidget* panel = nullptr;
guint refreshId = 0;

constexpr const char* SHOWN_LINE = "shown\n";
constexpr const char* HIDDEN_LINE = "hidden\n";

// The settings' folder, made when `make` is set; "" when there is no place for it.
std::string emu_PanelSettingsFolder(bool make) {
  const char* config = getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') return "";
    base = std::string(home) + "/.config";
  }
  if (make) {
    (void)mkdir(base.c_str(), 0700);
    if (mkdir((base + "/padix").c_str(), 0700) != 0 && errno != EEXIST) return "";
  }
  return base + "/padix";
}

guint emu_PanelPace();

bool emu_PanelRefreshSections() {
  bool changed = false;
  for (const EmuPanelSection* section : SECTIONS) changed |= section->refresh();
  return changed;
}

int unchangedRefreshes = 0;

gboolean emu_PanelRefresh(gpointer) {
  const guint pace = emu_PanelPace();
  unchangedRefreshes = emu_PanelRefreshSections() ? 0 : unchangedRefreshes + 1;
  if (emu_PanelPace() == pace) return G_SOURCE_CONTINUE;
  refreshId = g_timeout_add(emu_PanelPace(), emu_PanelRefresh, nullptr);
  return G_SOURCE_REMOVE;
}

guint emu_PanelPace() { return unchangedRefreshes >= QUIET_AFTER ? QUIET_REFRESH_MS : BUSY_REFRESH_MS; }

// Gone with the window: its timer goes too.
void emu_PanelDestroyed(GtkWidget*, gpointer) {
  if (refreshId != 0) g_source_remove(refreshId);
  refreshId = 0;
  panel = nullptr;
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
  // Its sections' widgets may expand: within the panel, never into the handheld's room.
  gtk_widget_set_hexpand(panel, FALSE);
  gtk_container_add(GTK_CONTAINER(panel), column);
  gtk_widget_set_no_show_all(panel, TRUE);
  g_signal_connect(panel, "destroy", G_CALLBACK(emu_PanelDestroyed), nullptr);
  gtk_widget_show_all(column);
  return panel;
}

void emu_PanelSetShown(bool shown) {
  if (panel == nullptr || shown == emu_PanelShown()) return;
  if (shown) {
    (void)emu_PanelRefreshSections();
    unchangedRefreshes = 0;
    gtk_widget_show(panel);
    refreshId = g_timeout_add(BUSY_REFRESH_MS, emu_PanelRefresh, nullptr);
  } else {
    gtk_widget_hide(panel);
    if (refreshId != 0) g_source_remove(refreshId);
    refreshId = 0;
  }
}

int emu_PanelWidth() { return PANEL_WIDTH; }

bool emu_PanelShown() { return panel != nullptr && gtk_widget_get_visible(panel); }

bool emu_PanelHolds(GtkWidget* widget) {
  return panel != nullptr && widget != nullptr && (widget == panel || gtk_widget_is_ancestor(widget, panel));
}

bool emu_PanelRemembered() {
  const std::string folder = emu_PanelSettingsFolder(false);
  if (folder.empty()) return false;
  FILE* f = fopen((folder + "/panel").c_str(), "r");
  if (f == nullptr) return false;
  char line[16] = "";
  const bool shown = fgets(line, sizeof line, f) != nullptr && strcmp(line, SHOWN_LINE) == 0;
  fclose(f);
  return shown;
}

// Written whole to a file of its own, then put in place: a run that ends meanwhile leaves the
// old setting, never half a new one.
void emu_PanelRemember(bool shown) {
  const std::string folder = emu_PanelSettingsFolder(true);
  if (folder.empty()) return;
  const std::string path = folder + "/panel", partial = path + ".new";
  FILE* f = fopen(partial.c_str(), "w");
  if (f == nullptr) return;
  const bool written = fputs(shown ? SHOWN_LINE : HIDDEN_LINE, f) >= 0;
  if (fclose(f) == 0 && written && rename(partial.c_str(), path.c_str()) == 0) return;
  remove(partial.c_str());
}
