// The panel's "Traffic" section.
#include "window/panel/panel.h"

namespace {

GtkWidget* emu_PanelTrafficBuild() { return gtk_label_new(""); }
void emu_PanelTrafficRefresh() {}

}  // namespace

const EmuPanelSection PANEL_TRAFFIC_SECTION{"Traffic", emu_PanelTrafficBuild, emu_PanelTrafficRefresh};
