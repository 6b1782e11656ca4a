// The panel's "Faults" section.
#include "window/panel/panel.h"

namespace {

GtkWidget* emu_PanelFaultsBuild() { return gtk_label_new(""); }
void emu_PanelFaultsRefresh() {}

}  // namespace

const EmuPanelSection PANEL_FAULTS_SECTION{"Faults", emu_PanelFaultsBuild, emu_PanelFaultsRefresh};
