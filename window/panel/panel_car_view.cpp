// The panel's "Car" section: the ECU count and the protocol, a chooser of the ECU, its live
// values (a slider and a spin button sharing one adjustment, with the unit), its trouble codes as
// an editable list and its lamp. Everything goes through the host's car source. A refresh reads
// the car and touches only the widgets whose value differs from what they show, with their
// handlers blocked: a value only read is never written back (a moving value would otherwise be
// frozen by the panel's own echo).
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "window/panel/panel.h"

namespace {

constexpr const char* KIND_LABELS[EMU_PANEL_CODE_KINDS] = {"confirmed", "pending", "permanent"};
enum CodeColumn { CODE_TEXT, CODE_KIND_TEXT, CODE_KIND, CODE_VALUE, CODE_COLUMNS };

struct Row {
  GtkWidget* name;
  GtkAdjustment* adjustment;
  GtkWidget* spin;
  gulong changed;  // the adjustment's "value-changed" handler
};

struct View {
  GtkWidget* summary;
  GtkWidget* ecu;  // chooser
  gulong ecuChanged;
  int noOfItems;
  EmuPanelItem item[EMU_PANEL_MAX_ITEMS];
  Row row[EMU_PANEL_MAX_ITEMS];
  GtkListStore* codes;
  GtkWidget* codeList;
  GtkWidget* codeEntry;
  GtkWidget* codeKind;
  GtkWidget* lamp;
  gulong lampToggled;
  GtkWidget* status;
  uint8_t ecuIdx;
  bool shown;  // `last` is what the widgets show
  EmuPanelCar last;
};
View view{};

void emu_CarStatus(const char* text) {
  if (strcmp(gtk_label_get_text(GTK_LABEL(view.status)), text) != 0) gtk_label_set_text(GTK_LABEL(view.status), text);
}

// A change by the user: what it does, then at once the car as it now is.
void emu_CarDone(int result, const char* why) {
  emu_CarStatus(result == 0 ? "" : why);
  PANEL_CAR_SECTION.refresh();
}

void emu_ValueChanged(GtkAdjustment* adjustment, gpointer index) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.setItem == nullptr) return;
  const int i = GPOINTER_TO_INT(index);
  char why[160] = "";
  const int result = source.setItem(view.ecuIdx, i, gtk_adjustment_get_value(adjustment), why, sizeof why);
  // The slider stands between two of the value's steps, or the value was refused: it shows what
  // the car took, even while the spin button has the focus.
  if (source.car != nullptr) {
    EmuPanelCar car;
    source.car(view.ecuIdx, &car);
    g_signal_handler_block(adjustment, view.row[i].changed);
    gtk_adjustment_set_value(adjustment, car.value[i]);
    g_signal_handler_unblock(adjustment, view.row[i].changed);
  }
  emu_CarDone(result, why);
}

void emu_EcuChosen(GtkComboBox* box, gpointer) {
  const int active = gtk_combo_box_get_active(box);
  if (active < 0) return;
  view.ecuIdx = static_cast<uint8_t>(active);
  view.shown = false;  // every widget shows the other ECU now
  emu_CarDone(0, "");
}

void emu_LampToggled(GtkToggleButton* button, gpointer) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.setLamp == nullptr) return;
  char why[160] = "";
  emu_CarDone(source.setLamp(view.ecuIdx, gtk_toggle_button_get_active(button) != 0, why, sizeof why), why);
}

void emu_AddCode(GtkWidget*, gpointer) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  const int kind = gtk_combo_box_get_active(GTK_COMBO_BOX(view.codeKind));
  if (source.addCode == nullptr || kind < 0) return;
  char why[160] = "";
  const int result = source.addCode(view.ecuIdx, kind, gtk_entry_get_text(GTK_ENTRY(view.codeEntry)), why, sizeof why);
  if (result == 0) gtk_entry_set_text(GTK_ENTRY(view.codeEntry), "");
  emu_CarDone(result, why);
}

void emu_RemoveCode(GtkWidget*, gpointer) {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  GtkTreeModel* model;
  GtkTreeIter at;
  if (source.removeCode == nullptr ||
      !gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view.codeList)), &model, &at))
    return;
  gint kind = 0;
  guint code = 0;
  gtk_tree_model_get(model, &at, CODE_KIND, &kind, CODE_VALUE, &code, -1);
  char why[160] = "";
  emu_CarDone(source.removeCode(view.ecuIdx, kind, static_cast<uint16_t>(code), why, sizeof why), why);
}

// Digits enough to show one step of the item (0.25 rpm: 2, 0.1 V: 1, 1 km/h: 0).
guint emu_Digits(double step) {
  guint digits = 0;
  for (double s = step; digits < 3 && fabs(s - round(s)) > 1e-9; s *= 10) ++digits;
  return digits;
}

GtkWidget* emu_CodesBox() {
  view.codes = gtk_list_store_new(CODE_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT, G_TYPE_UINT);
  view.codeList = gtk_tree_view_new_with_model(GTK_TREE_MODEL(view.codes));
  g_object_unref(view.codes);
  gtk_widget_set_name(view.codeList, "car-codes");
  const char* titles[] = {"Code", "Kind"};
  for (int c = 0; c < 2; ++c)
    gtk_tree_view_append_column(GTK_TREE_VIEW(view.codeList),
                                gtk_tree_view_column_new_with_attributes(titles[c], gtk_cell_renderer_text_new(), "text", c,
                                                                         nullptr));
  view.codeEntry = gtk_entry_new();
  gtk_widget_set_name(view.codeEntry, "car-code-entry");
  gtk_entry_set_width_chars(GTK_ENTRY(view.codeEntry), 7);
  gtk_entry_set_placeholder_text(GTK_ENTRY(view.codeEntry), "P0301");
  g_signal_connect(view.codeEntry, "activate", G_CALLBACK(emu_AddCode), nullptr);
  view.codeKind = gtk_combo_box_text_new();
  gtk_widget_set_name(view.codeKind, "car-code-kind");
  for (const char* kind : KIND_LABELS) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(view.codeKind), kind);
  gtk_combo_box_set_active(GTK_COMBO_BOX(view.codeKind), 0);
  GtkWidget* add = gtk_button_new_with_label("Add");
  gtk_widget_set_name(add, "car-code-add");
  g_signal_connect(add, "clicked", G_CALLBACK(emu_AddCode), nullptr);
  GtkWidget* remove = gtk_button_new_with_label("Remove");
  gtk_widget_set_name(remove, "car-code-remove");
  g_signal_connect(remove, "clicked", G_CALLBACK(emu_RemoveCode), nullptr);
  GtkWidget* edit = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  for (GtkWidget* w : {view.codeEntry, view.codeKind, add, remove}) gtk_box_pack_start(GTK_BOX(edit), w, FALSE, FALSE, 0);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_box_pack_start(GTK_BOX(box), view.codeList, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), edit, FALSE, FALSE, 0);
  return box;
}

GtkWidget* emu_PanelCarBuild() {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  view = {};
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 4);
  view.summary = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(view.summary), 0);
  gtk_label_set_line_wrap(GTK_LABEL(view.summary), TRUE);
  gtk_box_pack_start(GTK_BOX(box), view.summary, FALSE, FALSE, 0);
  view.ecu = gtk_combo_box_text_new();
  gtk_widget_set_name(view.ecu, "car-ecu");
  view.ecuChanged = g_signal_connect(view.ecu, "changed", G_CALLBACK(emu_EcuChosen), nullptr);
  gtk_box_pack_start(GTK_BOX(box), view.ecu, FALSE, FALSE, 0);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
  view.noOfItems = source.items != nullptr ? source.items(view.item, EMU_PANEL_MAX_ITEMS) : 0;
  for (int i = 0; i < view.noOfItems; ++i) {
    const EmuPanelItem& item = view.item[i];
    Row& row = view.row[i];
    row.adjustment = gtk_adjustment_new(item.low, item.low, item.high, item.step, item.step * 10, 0);
    row.name = gtk_label_new(item.name);
    gtk_label_set_xalign(GTK_LABEL(row.name), 0);
    GtkWidget* scale = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, row.adjustment);
    gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
    gtk_widget_set_hexpand(scale, TRUE);
    row.spin = gtk_spin_button_new(row.adjustment, item.step, emu_Digits(item.step));
    gtk_entry_set_width_chars(GTK_ENTRY(row.spin), 8);
    char name[EMU_PANEL_NAME + 16];
    snprintf(name, sizeof name, "car-value-%s", item.name);
    gtk_widget_set_name(row.spin, name);
    snprintf(name, sizeof name, "car-slider-%s", item.name);
    gtk_widget_set_name(scale, name);
    GtkWidget* unit = gtk_label_new(item.unit);
    gtk_label_set_xalign(GTK_LABEL(unit), 0);
    gtk_grid_attach(GTK_GRID(grid), row.name, 0, i, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), scale, 1, i, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), row.spin, 2, i, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), unit, 3, i, 1, 1);
    row.changed = g_signal_connect(row.adjustment, "value-changed", G_CALLBACK(emu_ValueChanged), GINT_TO_POINTER(i));
  }
  gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 0);

  view.lamp = gtk_check_button_new_with_label("Lamp (MIL) lit");
  gtk_widget_set_name(view.lamp, "car-lamp");
  view.lampToggled = g_signal_connect(view.lamp, "toggled", G_CALLBACK(emu_LampToggled), nullptr);
  gtk_box_pack_start(GTK_BOX(box), view.lamp, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), emu_CodesBox(), FALSE, FALSE, 0);
  view.status = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(view.status), 0);
  gtk_label_set_line_wrap(GTK_LABEL(view.status), TRUE);
  gtk_box_pack_start(GTK_BOX(box), view.status, FALSE, FALSE, 0);
  return box;
}

void emu_ShowEcus(int noOfEcus) {
  g_signal_handler_block(view.ecu, view.ecuChanged);
  gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(view.ecu));
  for (int i = 0; i < noOfEcus; ++i) {
    char label[16];
    snprintf(label, sizeof label, "ECU %d", i + 1);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(view.ecu), label);
  }
  // An ECU that went with a new car leaves the first chosen.
  if (view.ecuIdx >= noOfEcus) view.ecuIdx = 0;
  gtk_combo_box_set_active(GTK_COMBO_BOX(view.ecu), view.ecuIdx);
  g_signal_handler_unblock(view.ecu, view.ecuChanged);
}

void emu_ShowCodes(const EmuPanelCar& car) {
  gtk_list_store_clear(view.codes);
  for (int k = 0; k < EMU_PANEL_CODE_KINDS; ++k) {
    for (int i = 0; i < car.noOfCodes[k]; ++i) {
      static constexpr char LETTERS[] = "PCBU";
      const uint16_t code = car.code[k][i];
      char text[8];
      snprintf(text, sizeof text, "%c%04X", LETTERS[code >> 14], code & 0x3FFF);
      GtkTreeIter at;
      gtk_list_store_append(view.codes, &at);
      gtk_list_store_set(view.codes, &at, CODE_TEXT, text, CODE_KIND_TEXT, KIND_LABELS[k], CODE_KIND, k, CODE_VALUE,
                         static_cast<guint>(code), -1);
    }
  }
}

bool emu_SameCodes(const EmuPanelCar& a, const EmuPanelCar& b) {
  return memcmp(a.noOfCodes, b.noOfCodes, sizeof a.noOfCodes) == 0 && memcmp(a.code, b.code, sizeof a.code) == 0;
}

bool emu_PanelCarRefresh() {
  const EmuPanelCarSource& source = emu_PanelCarSource();
  if (source.car == nullptr || view.summary == nullptr) return false;
  EmuPanelCar car;
  source.car(view.ecuIdx, &car);
  if (car.noOfEcus > 0 && view.ecuIdx >= car.noOfEcus) {  // a new car with fewer ECUs
    view.ecuIdx = 0;
    source.car(view.ecuIdx, &car);
  }
  const EmuPanelCar& last = view.last;
  const bool all = !view.shown;
  bool changed = all;
  if (all || car.noOfEcus != last.noOfEcus || strcmp(car.protocol, last.protocol) != 0) {
    char summary[EMU_PANEL_TEXT + 32];
    snprintf(summary, sizeof summary, "%d ECU%s, protocol: %s", car.noOfEcus, car.noOfEcus == 1 ? "" : "s", car.protocol);
    gtk_label_set_text(GTK_LABEL(view.summary), summary);
  }
  if (all || car.noOfEcus != last.noOfEcus) emu_ShowEcus(car.noOfEcus);
  for (int i = 0; i < view.noOfItems; ++i) {
    Row& row = view.row[i];
    if (all || car.sent[i] != last.sent[i] || car.moves[i] != last.moves[i]) {
      gtk_widget_set_sensitive(row.name, car.sent[i] != 0);
      gtk_widget_set_tooltip_text(row.name, car.moves[i] != 0 ? "moves by itself; a value set here holds it"
                                            : car.sent[i] != 0 ? nullptr
                                                               : "not sent by this ECU; a value set here makes it sent");
    }
    // The value being typed is the user's until it is entered.
    if (!all && car.value[i] == last.value[i]) continue;
    changed = true;
    if (gtk_widget_has_focus(row.spin)) {
      car.value[i] = NAN;  // shown once the spin button is left
      continue;
    }
    g_signal_handler_block(row.adjustment, row.changed);
    gtk_adjustment_set_value(row.adjustment, car.value[i]);
    g_signal_handler_unblock(row.adjustment, row.changed);
  }
  changed |= car.lamp != last.lamp || car.noOfEcus != last.noOfEcus || strcmp(car.protocol, last.protocol) != 0 ||
             !emu_SameCodes(car, last);
  if (all || car.lamp != last.lamp) {
    g_signal_handler_block(view.lamp, view.lampToggled);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(view.lamp), car.lamp != 0);
    g_signal_handler_unblock(view.lamp, view.lampToggled);
  }
  if (all || !emu_SameCodes(car, last)) emu_ShowCodes(car);
  view.last = car;
  view.shown = true;
  return changed;
}

}  // namespace

const EmuPanelSection PANEL_CAR_SECTION{"Car", emu_PanelCarBuild, emu_PanelCarRefresh};
