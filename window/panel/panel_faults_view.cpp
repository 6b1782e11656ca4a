// The panel's "Faults" section: a button for each one-shot fault the host offers (the client
// dropped now, the next answer an adapter error or late), one that puts every fault back to its
// default, and a small list of what is set or armed and of the timeline's events with their
// state. The list is rebuilt only when what the host reports differs from what it shows.
#include <stdio.h>
#include <string.h>

#include "window/panel/panel.h"

namespace {

constexpr int SHOTS_PER_ROW = 2;
enum FaultColumn { FAULT_WHAT, FAULT_STATE, FAULT_COLUMNS };

struct View {
  GtkListStore* rows;
  GtkWidget* status;
  bool shown;
  EmuPanelFaults last;
};
View view{};

void emu_FaultsStatus(const char* text) {
  if (strcmp(gtk_label_get_text(GTK_LABEL(view.status)), text) != 0) gtk_label_set_text(GTK_LABEL(view.status), text);
}

void emu_ShotClicked(GtkWidget*, gpointer index) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.fireOneShot == nullptr) return;
  char why[160] = "";
  emu_FaultsStatus(source.fireOneShot(GPOINTER_TO_INT(index), why, sizeof why) == 0 ? "" : why);
  PANEL_FAULTS_SECTION.refresh();
}

void emu_ClearClicked(GtkWidget*, gpointer) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.clearFaults == nullptr) return;
  char why[160] = "";
  emu_FaultsStatus(source.clearFaults(why, sizeof why) == 0 ? "" : why);
  PANEL_FAULTS_SECTION.refresh();
}

GtkWidget* emu_PanelFaultsBuild() {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  view = {};
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 4);
  GtkWidget* shots = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(shots), 4);
  gtk_grid_set_row_spacing(GTK_GRID(shots), 4);
  gtk_grid_set_column_homogeneous(GTK_GRID(shots), TRUE);
  int n = 0;
  for (const char* label; source.oneShot != nullptr && (label = source.oneShot(n)) != nullptr; ++n) {
    GtkWidget* button = gtk_button_new_with_label(label);
    char name[24];
    snprintf(name, sizeof name, "fault-shot-%d", n);
    gtk_widget_set_name(button, name);
    g_signal_connect(button, "clicked", G_CALLBACK(emu_ShotClicked), GINT_TO_POINTER(n));
    gtk_grid_attach(GTK_GRID(shots), button, n % SHOTS_PER_ROW, n / SHOTS_PER_ROW, 1, 1);
  }
  GtkWidget* clear = gtk_button_new_with_label("Every fault off");
  gtk_widget_set_name(clear, "fault-clear");
  g_signal_connect(clear, "clicked", G_CALLBACK(emu_ClearClicked), nullptr);
  gtk_grid_attach(GTK_GRID(shots), clear, n % SHOTS_PER_ROW, n / SHOTS_PER_ROW, 1, 1);
  gtk_box_pack_start(GTK_BOX(box), shots, FALSE, FALSE, 0);

  view.rows = gtk_list_store_new(FAULT_COLUMNS, G_TYPE_STRING, G_TYPE_STRING);
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(view.rows));
  g_object_unref(view.rows);
  gtk_widget_set_name(list, "fault-list");
  const char* titles[] = {"Set, armed, timeline", "State"};
  for (int c = 0; c < FAULT_COLUMNS; ++c) {
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    g_object_set(text, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(titles[c], text, "text", c, nullptr);
    gtk_tree_view_column_set_expand(column, c == FAULT_WHAT);
    gtk_tree_view_append_column(GTK_TREE_VIEW(list), column);
  }
  gtk_box_pack_start(GTK_BOX(box), list, FALSE, FALSE, 0);
  view.status = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(view.status), 0);
  gtk_label_set_line_wrap(GTK_LABEL(view.status), TRUE);
  gtk_box_pack_start(GTK_BOX(box), view.status, FALSE, FALSE, 0);
  return box;
}

bool emu_SameRows(const EmuPanelFaults& a, const EmuPanelFaults& b) {
  return a.noOfRows == b.noOfRows && memcmp(a.row, b.row, sizeof a.row[0] * static_cast<size_t>(a.noOfRows)) == 0;
}

bool emu_PanelFaultsRefresh() {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.faults == nullptr || view.rows == nullptr) return false;
  static EmuPanelFaults now;  // a few kilobytes, read at every refresh
  source.faults(&now);
  if (view.shown && emu_SameRows(now, view.last)) return false;
  gtk_list_store_clear(view.rows);
  for (int i = 0; i < now.noOfRows; ++i) {
    GtkTreeIter at;
    gtk_list_store_append(view.rows, &at);
    gtk_list_store_set(view.rows, &at, FAULT_WHAT, now.row[i].what, FAULT_STATE, now.row[i].state, -1);
  }
  view.last = now;
  view.shown = true;
  return true;
}

}  // namespace

const EmuPanelSection PANEL_FAULTS_SECTION{"Faults", emu_PanelFaultsBuild, emu_PanelFaultsRefresh};
