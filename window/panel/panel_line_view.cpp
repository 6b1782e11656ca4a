// The panel's "Line" section.
#include "window/panel/panel.h"

namespace {

GtkWidget* emu_PanelLineBuild() { return gtk_label_new(""); }
void emu_PanelLineRefresh() {}

}  // namespace

const EmuPanelSection PANEL_LINE_SECTION{"Line", emu_PanelLineBuild, emu_PanelLineRefresh};
