// The panel's "Line" section: what is served and to whom, the protocol, the rates. One label a
// row; a label is set only when its text changed, so an idle line redraws nothing.
#include <stdio.h>

#include <string>

#include "window/panel/panel.h"

namespace {

enum Row { MODE, PERSONALITY, SERVED, CLIENT, PROTOCOL, RATES, ROWS };
const char* const ROW_NAMES[ROWS] = {"Mode", "Personality", "Served on", "Client", "Protocol", "Per second"};

struct LineView {
  GtkWidget* value[ROWS] = {};
  std::string shown[ROWS];
};
LineView view;

bool emu_PanelLineSet(Row row, const std::string& text) {
  if (view.value[row] == nullptr || view.shown[row] == text) return false;
  view.shown[row] = text;
  gtk_label_set_text(GTK_LABEL(view.value[row]), text.c_str());
  return true;
}

// "12 s", "3 min 04 s", "2 h 05 min": whole seconds, so that the label changes once a second.
std::string emu_PanelDuration(double seconds) {
  const long s = static_cast<long>(seconds);
  char text[48];
  if (s < 60)
    snprintf(text, sizeof text, "%ld s", s);
  else if (s < 3600)
    snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  else
    snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  return text;
}

std::string emu_PanelClientText(const EmuPanelLineStatus& s) {
  if (s.client < 0) return "-";
  if (s.client == 0) return "none connected";
  std::string text = "connected for " + emu_PanelDuration(s.clientSeconds);
  if (s.clientFrom[0] != '\0') text += std::string(" from ") + s.clientFrom;
  return text;
}

GtkWidget* emu_PanelLineBuild() {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
  for (int row = 0; row < ROWS; ++row) {
    GtkWidget* name = gtk_label_new(ROW_NAMES[row]);
    gtk_label_set_xalign(GTK_LABEL(name), 0.0f);
    gtk_widget_set_valign(name, GTK_ALIGN_START);
    GtkWidget* value = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(value), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(value), PANGO_ELLIPSIZE_END);  // one line a row: the panel keeps its layout
    gtk_label_set_selectable(GTK_LABEL(value), TRUE);
    gtk_widget_set_can_focus(value, FALSE);
    gtk_widget_set_hexpand(value, TRUE);
    gtk_grid_attach(GTK_GRID(grid), name, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), value, 1, row, 1, 1);
    view.value[row] = value;
    view.shown[row].clear();
  }
  const EmuPanelLineSource& source = emu_PanelLineSource();
  if (source.keepTraffic != nullptr) source.keepTraffic();
  return grid;
}

bool emu_PanelLineRefresh() {
  const EmuPanelLineSource& source = emu_PanelLineSource();
  if (source.status == nullptr) return false;
  EmuPanelLineStatus s{};
  source.status(&s);
  bool changed = emu_PanelLineSet(MODE, s.mode);
  changed |= emu_PanelLineSet(PERSONALITY, s.personality);
  changed |= emu_PanelLineSet(SERVED, s.served[0] != '\0' ? s.served : "-");
  changed |= emu_PanelLineSet(CLIENT, emu_PanelClientText(s));
  std::string protocol = s.searching != 0 ? "searching..." : s.protocol[0] != '\0' ? s.protocol : "none yet";
  changed |= emu_PanelLineSet(PROTOCOL, protocol);
  char rates[64];
  snprintf(rates, sizeof rates, "%.1f requests, %.1f answers", s.requestsPerSecond, s.answersPerSecond);
  changed |= emu_PanelLineSet(RATES, rates);
  return changed;
}

}  // namespace

const EmuPanelSection PANEL_LINE_SECTION{"Line", emu_PanelLineBuild, emu_PanelLineRefresh};
