// The panel's "Car" section.
#include "window/panel/panel.h"

namespace {

GtkWidget* emu_PanelCarBuild() { return gtk_label_new(""); }
void emu_PanelCarRefresh() {}

}  // namespace

const EmuPanelSection PANEL_CAR_SECTION{"Car", emu_PanelCarBuild, emu_PanelCarRefresh};
